/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The runtime's frame: module registration and start-up, the version check, the end of the
 * program, the process-wide error state with its message table, fatal run-time errors, the
 * command line and profile (INI) files. */
#ifndef TARVEX_FRAME_H
#define TARVEX_FRAME_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

/* An init routine receives 0 when called to initialise and 1 when called to terminate. */
typedef void (*VrnInitRoutine)(int32_t terminating);

typedef struct VrnInitEntry {
    int32_t priority;       /* 1..255 run at start, highest first */
    VrnInitRoutine init;    /* or null */
    VrnInitRoutine term;    /* or null */
} VrnInitEntry;

/* A run of pointer-sized words; each word whose value lies in the module's import range is
 * replaced by the value stored at that address. */
typedef struct VrnFixupEntry {
    uintptr_t* words;
    uint32_t byte_length;
} VrnFixupEntry;

typedef struct VrnModuleDescriptor {
    struct VrnModuleDescriptor* link;   /* filled by the runtime: previously registered module */
    const VrnInitEntry* init_start;
    const VrnInitEntry* init_end;
    uintptr_t instance;                 /* filled by the runtime */
    uintptr_t program_ranges[4];        /* two address ranges of the program's own; not read */
    const VrnFixupEntry* fixup_start;
    const VrnFixupEntry* fixup_end;
    uintptr_t import_low;
    uintptr_t import_high;
} VrnModuleDescriptor;

#define VRN_VERSION_CODE 0x104
#define VRN_VERSION_MINOR 2

/* Message box styles and buttons, as the MESSAGE statement numbers them. */
#define VRN_ICON_STOP 16
#define VRN_ICON_QUESTION 32
#define VRN_ICON_EXCLAMATION 48
#define VRN_ICON_INFORMATION 64
#define VRN_BUTTON_OK 1
#define VRN_BUTTON_YES 2
#define VRN_BUTTON_NO 4
#define VRN_BUTTON_ABORT 8
#define VRN_BUTTON_RETRY 16
#define VRN_BUTTON_IGNORE 32
#define VRN_BUTTON_CANCEL 64
#define VRN_BUTTON_HELP 128

TARVEX_BEGIN_C

/* Start-up and end. */
TARVEX_API void __sysinit(VrnModuleDescriptor* descriptor, uintptr_t instance);
TARVEX_API void __systerm(uintptr_t instance);
TARVEX_API int32_t __checkversion(int32_t version_code, int32_t minor, int32_t build);
TARVEX_API uint32_t __getversion(void);
TARVEX_API void __SetExceptionHandler(void* registration);
TARVEX_API void Vrn$init(void);
TARVEX_API void Wsl$CloseDown(void);
/* Ends the process after the termination sequence (run by the first call only). */
TARVEX_NORETURN TARVEX_API void Vrw$Exit(int32_t code);
/* Registers an exit routine; 0 on success, 1 when 33 are already registered. */
TARVEX_API int32_t _atexit(void (*routine)(void));
TARVEX_NORETURN TARVEX_API void Vrn$HALT(int32_t code, uint8_t message_omitted);
TARVEX_API void Vrn$STOP(int32_t confirm);
/* MESSAGE: shows a message box and returns the button pressed (one VRN_BUTTON_*). The text is on
 * top of the string stack, the caption beneath it (push the caption first). `icon` is a
 * VRN_ICON_* (0 for none), `buttons` an OR of VRN_BUTTON_* (0 means OK), `default_button` one of
 * them (a default that is not among the buttons takes the first of them). */
TARVEX_API uint32_t Vrn$MESSAGE(int32_t icon, uint32_t buttons, uint32_t default_button);
TARVEX_NORETURN TARVEX_API void Standard$HALT(void);
TARVEX_API void Vrw$SetStartInfo(void);
TARVEX_API void Vrw$PatchDlls(void);
TARVEX_API void Vrw$UnpatchDlls(void);
TARVEX_API void Vrw$CallDestructors(void);
TARVEX_API void* _malloc(size_t size);
TARVEX_API void _free(void* block);
TARVEX_API void* _memset(void* block, int value, size_t size);

/* Error state. */
extern TARVEX_API int32_t Vrn$ERRCODE;
extern TARVEX_API char Vrn$ERRSTR[80];
extern TARVEX_API int32_t Vrn$DOSerror;
extern TARVEX_API FileDecl* Vrn$FileError;

TARVEX_API void Vrn$seterror(int32_t code);
TARVEX_API void Vrn$clearerror(void);
TARVEX_API const char* Vrn$err_message(int32_t code);
TARVEX_API void Vrn$SetErrorFile(FileDecl* file);
TARVEX_API void Vrn$setfileerror(const char* driver_code, const char* driver_message);
TARVEX_API void Vrn$StackErrstr(void);
TARVEX_API void Vrn$FILEERRORCODE(void);
TARVEX_API void Vrn$FILEERRORMSG(void);
TARVEX_API void Vrn$ERRORFILE(void);
TARVEX_API void Vrn$rterr(int32_t code, const char* extra);
TARVEX_API void __e_stack(void);
TARVEX_API void __e_nil_ptr(void);
TARVEX_API void __e_index(void);
TARVEX_API void __e_overflow(void);
TARVEX_API void __e_range(void);
TARVEX_API void __e_no_return(void);
TARVEX_API void __e_no_case(void);
TARVEX_API void Vrn$AssertFailed(int32_t line, const char* file);

/* Frame services. */
TARVEX_API void Vrn$COMMAND(void);
TARVEX_API void Vrn$SETCOMMAND(void);
TARVEX_API void Vrn$GETINI(void);
TARVEX_API void Vrn$PUTINI(uint8_t entry_omitted, uint8_t value_omitted);

TARVEX_END_C

#endif
