/* SPDX-License-Identifier: GPL-3.0-or-later */
/* File access: the exported file operations, the services the runtime offers file drivers, the
 * register of open files, transactions, and files by name.
 *
 * ---- Writing a driver --------------------------------------------------------------------------
 * A driver is one function of type VrnDriverEntry (tarvex/file_decl.h) that a program names in
 * FileDecl.driver. Each file statement reaches it as (operation code, FileDecl, arguments):
 *   - the arguments are those listed beside each export below, after the file, in that order, each
 *     widened to intptr_t; an operation on a key gets the key's owning file as the file and the
 *     KeyDecl as its first argument;
 *   - text arguments (the position for RESET and REGET, the command of SEND, property values) are
 *     on the string stack: the driver pops them;
 *   - the driver leaves its error code with Vrn$seterror (0 on success); an integer result is the
 *     return value; a text result is pushed on the string stack (push it on failure too, empty);
 *   - an operation it does not support ends with error 80 "Unsupported File Driver Function".
 * Around each operation a driver calls
 *     code = _drv_check_state(fcb, key, operation, position, position_length);
 *     if (code != 0) -> post it (a result of -1 is the driver's own choice of code) and stop;
 *     ... perform the operation, post its error code ...
 *     _drv_update_state(fcb, key, operation, Vrn$ERRCODE, 0);
 * so that every driver reports the same refusals in the same order. At OPEN the driver allocates
 * its block (Drv_FCB first), fills name/owner/options with _drv_MakeCSTRING from the FileDecl, sets
 * VRN_STATE_WRITABLE and VRN_STATE_EXCLUSIVE from the access mode, stores the block in
 * FileDecl.driver_instance and calls Vrn$activate_drv; at CLOSE it calls Vrn$deactivate_drv, frees
 * its block and clears driver_instance.
 *
 * Access modes: the low nibble 0 read-only, 1 write-only, 2 read/write; the high nibble 0x10 deny
 * all, 0x20 deny write, 0x30 deny read, 0x40 deny none.
 *
 * ---- Tracing -----------------------------------------------------------------------------------
 * Tracing is on when the environment variable TARVEX_TRACE names a file when the first line is
 * traced (a program name such as "C:\TRACE.LOG" through the drive table, or a Linux path). The file
 * is created with mode 0600 when missing and appended to. Drivers call _drv_TraceOp for every
 * operation; it returns at once when tracing is off.
 *
 * ---- Threads -----------------------------------------------------------------------------------
 * The register and the log-file list are guarded by one lock each; the transaction is one for the
 * whole process and spans the files of all threads. The options cursor of _drv_NextDrvStr is one
 * for the process, guarded by a lock (see there). */
#ifndef TARVEX_FILES_H
#define TARVEX_FILES_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

/* The longest file name a completed name may have, terminator included; output buffers of
 * _drv_ChkName hold this many bytes. */
#define VRN_MAX_PATH 260

/* Access mode recorded for a file whose driver gave 0. */
#define VRN_ACCESS_DEFAULT 0x40

typedef void (*VrnShutdownProcedure)(void);

/* A view's control block; the view engine defines it. */
struct Vrn_VCBBLK_struct;

TARVEX_BEGIN_C

/* ---- File operations ----------------------------------------------------------------------------
 * Each call turns the statement into its operation and calls the driver. A null file (or key, or a
 * key without its owning file) posts 37 "File Not Open"; a file without a driver entry posts 80;
 * either way the string stack is left as a driver would leave it (a text argument popped, an empty
 * text result pushed). The export itself checks no state: that is the driver's duty. Integer
 * results are the driver's return value (0 when the driver was not reached).
 * An operation on a key takes only the key: the file is the key's owning file. */
TARVEX_API void Vrn$FILE_ADDf(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_BOF(FileDecl* file);
TARVEX_API void Vrn$FILE_BUILDf(FileDecl* file);
TARVEX_API void Vrn$FILE_APPENDf(FileDecl* file);
TARVEX_API void Vrn$FILE_BUILDks(KeyDecl* key);
TARVEX_API void Vrn$FILE_BUILDk(KeyDecl* key);
TARVEX_API void Vrn$FILE_CLOSE(FileDecl* file);
TARVEX_API void Vrn$FILE_COPY(FileDecl* file);
TARVEX_API void Vrn$FILE_CREATE(FileDecl* file);
TARVEX_API void Vrn$FILE_DELETE(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_DUPLICATEf(FileDecl* file);
TARVEX_API void Vrn$FILE_EMPTY(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_CEOF(FileDecl* file);
TARVEX_API void Vrn$FILE_GETfk(KeyDecl* key);
TARVEX_API void Vrn$FILE_GETfl(FileDecl* file, int32_t pointer);
TARVEX_API void Vrn$FILE_GETkl(KeyDecl* key, int32_t pointer);
TARVEX_API void Vrn$FILE_HOLDf(FileDecl* file);
TARVEX_API void Vrn$FILE_HOLDfi(FileDecl* file, int32_t seconds);
TARVEX_API void Vrn$FILE_LOCKf(FileDecl* file);
TARVEX_API void Vrn$FILE_LOCKfi(FileDecl* file, int32_t seconds);
TARVEX_API void Vrn$FILE_NAME(FileDecl* file);                   /* pushes the name */
TARVEX_API void Vrn$FILE_NEXT(FileDecl* file);
TARVEX_API void Vrn$FILE_OPEN(FileDecl* file, int32_t access_mode);
TARVEX_API void Vrn$FILE_PACK(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_POINTERf(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_POINTERk(KeyDecl* key);
TARVEX_API void Vrn$FILE_FLUSH(FileDecl* file);
TARVEX_API void Vrn$FILE_PUTf(FileDecl* file);
TARVEX_API void Vrn$FILE_PREV(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_RECORDSf(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_RECORDSk(KeyDecl* key);
TARVEX_API void Vrn$FILE_BUILDksf(KeyDecl* key);
TARVEX_API void Vrn$FILE_RELEASE(FileDecl* file);
TARVEX_API void Vrn$FILE_REMOVE(FileDecl* file);
TARVEX_API void Vrn$FILE_RENAME(FileDecl* file);
TARVEX_API void Vrn$FILE_SETf(FileDecl* file);
TARVEX_API void Vrn$FILE_SETfk(KeyDecl* key);
TARVEX_API void Vrn$FILE_SETfl(FileDecl* file, int32_t pointer);
TARVEX_API void Vrn$FILE_SETk(KeyDecl* key);
TARVEX_API void Vrn$FILE_SETkk(KeyDecl* key, KeyDecl* second_key);
TARVEX_API void Vrn$FILE_SETkl(KeyDecl* key, int32_t pointer);
TARVEX_API void Vrn$FILE_SETkkl(KeyDecl* key, int32_t pointer);
TARVEX_API void Vrn$FILE_SHARE(FileDecl* file, int32_t access_mode);
TARVEX_API void Vrn$FILE_SKIP(FileDecl* file, int32_t count);
TARVEX_API void Vrn$FILE_UNLOCK(FileDecl* file);
TARVEX_API void Vrn$FILE_ADDfu(FileDecl* file, int32_t length);
TARVEX_API int32_t Vrn$FILE_BYTES(FileDecl* file);
TARVEX_API void Vrn$FILE_GETflu(FileDecl* file, int32_t pointer, int32_t length);
TARVEX_API void Vrn$FILE_PUTfl(FileDecl* file, int32_t pointer);
TARVEX_API void Vrn$FILE_PUTflu(FileDecl* file, int32_t pointer, int32_t length);
TARVEX_API void Vrn$FILE_STREAM(FileDecl* file);
TARVEX_API int32_t Vrn$FILE_DUPLICATEk(KeyDecl* key);
TARVEX_API void Vrn$FILE_WATCH(FileDecl* file);
TARVEX_API void Vrn$FILE_APPENDfu(FileDecl* file, int32_t length);
TARVEX_API void Vrn$FILE_SEND(FileDecl* file);                   /* pops the command, pushes the reply */
TARVEX_API void Vrn$FILE_POSITIONf(FileDecl* file);              /* pushes the position */
TARVEX_API void Vrn$FILE_POSITIONk(KeyDecl* key);                /* pushes the position */
TARVEX_API void Vrn$FILE_RESETf(FileDecl* file);                 /* pops the position */
TARVEX_API void Vrn$FILE_RESETk(KeyDecl* key);                   /* pops the position */
TARVEX_API void Vrn$FILE_NOMEMO(FileDecl* file);
TARVEX_API void Vrn$FILE_REGETf(FileDecl* file);                 /* pops the position */
TARVEX_API void Vrn$FILE_REGETk(KeyDecl* key);                   /* pops the position */
TARVEX_API int32_t Vrn$FILE_NULL(FileDecl* file, intptr_t first, intptr_t second);
TARVEX_API void Vrn$FILE_SETNULL(FileDecl* file, intptr_t first, intptr_t second);
TARVEX_API void Vrn$FILE_SETNONULL(FileDecl* file, intptr_t first, intptr_t second);
TARVEX_API void Vrn$FILE_SET_PROPERTY(FileDecl* file, int32_t property);  /* pops the value */
TARVEX_API void Vrn$FILE_GET_PROPERTY(FileDecl* file, int32_t property);  /* pushes the value */
TARVEX_API void Vrn$BLOB_YIELD(FileDecl* file, uint16_t blob, intptr_t first, intptr_t second);
TARVEX_API void Vrn$BLOB_TAKE(FileDecl* file, uint16_t blob, intptr_t first, intptr_t second);
TARVEX_API int32_t Vrn$BLOB_SIZE(FileDecl* file, uint16_t blob);
TARVEX_API void Vrn$BLOB_SET_PROPERTY(FileDecl* file, uint16_t blob);
TARVEX_API void Vrn$BLOB_GET_PROPERTY(FileDecl* file, uint16_t blob);
TARVEX_API void Vrn$FILE_BUFFER(FileDecl* file, intptr_t first, intptr_t second, intptr_t third,
                                intptr_t fourth);
TARVEX_API void Vrn$VIEW_SETvl(FileDecl* view, intptr_t value);
TARVEX_API void Vrn$FILE_CLEAR(FileDecl* file, intptr_t value);
TARVEX_API void Vrn$VIEW_RESETvf(FileDecl* view, intptr_t value);
TARVEX_API void Vrn$KEY_SET_PROPERTY(KeyDecl* key, intptr_t property);   /* pops the value */
TARVEX_API void Vrn$KEY_GET_PROPERTY(KeyDecl* key, intptr_t property);   /* pushes the value */
TARVEX_API void Vrn$File_Do_Property(FileDecl* file);
TARVEX_API void Vrn$Key_Do_Property(KeyDecl* key, intptr_t property);
TARVEX_API void Vrn$Blob_Do_Property(FileDecl* file, uint16_t blob);

/* ---- State services ------------------------------------------------------------------------------
 * Before an operation: the file's state against the operation's row. Returns 0 (go ahead), an
 * error code to post (33, 35, 37, 46, 52, 56, 63, 5, 80, 92) or -1 (a refusal whose code the driver
 * chooses). Clears the operation-flags word. For REGET and RESET the position text is examined: an
 * empty or all-blank position gives 35. _drv_check_state reads the words of the block (a null
 * block counts as a closed file) and, when the operation is allowed on a closed file and the file
 * is closed, refreshes the heap copies of name, owner and options from the FileDecl (a variable
 * NAME can change while the file is closed), each unless its VRN_FIXED_* flag is set. */
TARVEX_API int32_t _drv_check_state(Drv_FCB* fcb, KeyDecl* key, int32_t operation, const char* position,
                                    uint32_t position_length);
TARVEX_API int32_t _drv_check_any_state(KeyDecl* key, int32_t operation, uint32_t state,
                                        uint32_t* operation_flags, const char* position,
                                        uint32_t position_length);
/* After an operation: applies the row to the state word, the key's built bit and the
 * operation-flags word, given the operation's error code. `flag` non-zero marks an operation that
 * leaves the record unsure (adds VRN_OPFLAG_RESYNC unless the row is of the no-record class). A null
 * block, a null word or a code outside 1..93 does nothing. */
TARVEX_API void _drv_update_state(Drv_FCB* fcb, KeyDecl* key, int32_t operation, int32_t error, int32_t flag);
TARVEX_API void _drv_update_any_state(KeyDecl* key, int32_t operation, uint32_t* state,
                                      uint32_t* operation_flags, int32_t error, int32_t flag);
/* The operation's label ("ADD", "GETfilekey", "(35)"); "(?)" for codes outside 0..93. */
TARVEX_API const char* _drv_OperationLabel(int32_t operation);
/* 1 when the operation works on a key: the runtime passes the key's owning file as the file and
 * the KeyDecl as the first argument; else 0 (also for codes outside 0..93). */
TARVEX_API int32_t _drv_OperationTakesKey(int32_t operation);
/* 1 when the operation's driver pops a text argument from the string stack (RESET and REGET by
 * position, SEND, SET_PROPERTY, ...), or pushes a text result (NAME, POSITION, SEND,
 * GET_PROPERTY, ...); else 0. A driver that refuses the operation still pops and pushes them. */
TARVEX_API int32_t _drv_OperationTakesText(int32_t operation);
TARVEX_API int32_t _drv_OperationGivesText(int32_t operation);

/* ---- Driver services ---------------------------------------------------------------------------- */

/* A zero-terminated heap copy (free it with free()): length -1 a zero-terminated source, -2 a
 * length-prefixed one, else a blank-padded field whose trailing spaces are dropped. A null address,
 * a length of 0 (or below -2), or memory running out give null. */
TARVEX_API char* _drv_MakeCSTRING(const char* address, int32_t length);
/* Removes every white-space character and upper-cases the rest in place (runtime case tables). */
TARVEX_API char* _drv_Strup(char* text);
/* The next option of the file's driver-options string. On entry *size is the buffer's size in
 * bytes. On success the option is in the buffer, zero-terminated, *size is its length, result 0.
 * When it does not fit (one byte stays for the terminator), *size grows by one for each character
 * that did not fit (with no buffer: by the option's length), the result is 8 and the cursor stays,
 * so the call can be repeated with a larger buffer. When the options are absent or used up the
 * buffer is emptied, *size set to 0, the cursor reset and the result is 0.
 * Options: text in double quotes is copied as it stands, quotes included; an option that begins
 * with "/" runs to the next "/" outside quotes (its "/" is not copied), any other option to the
 * next "," outside quotes.
 * There is one cursor for the process, guarded by a lock, holding its own copy of the string (the
 * block may be freed between calls). Two threads walking the options of one file at once share the
 * walk: within it each option goes to one of them, and when one thread reaches the end the other's
 * next call starts again from the first option. A call for another file, or after the file's
 * options changed, starts a new walk over that file's string, so a driver never receives the
 * options of another file. Drivers should read all options at OPEN, in one go. */
TARVEX_API int32_t _drv_NextDrvStr(Drv_FCB* fcb, uint32_t* size, char* buffer);
/* Completes a file name into `out` (VRN_MAX_PATH bytes): drive and absolute folder from the current
 * folder, the default extension ("TPS" or ".TPS", or null) when the name has none, or always with
 * `replace`. UNC names ("\\server\...") and names with ":" elsewhere than second are copied as they
 * are (extension rules applied). Returns 0, 45 for a name of 260 characters or more (or a result
 * that would not fit), or the system error when the folder cannot be read (3 for a folder that does
 * not exist). */
TARVEX_API int32_t _drv_ChkName(const char* name, char* out, const char* default_extension, int32_t replace);
TARVEX_API int32_t _drv_IsReservedWord(const char* text);
TARVEX_API const char* _drv_GetTypeName(int32_t type);
TARVEX_API int32_t _drv_PathIsDirectory(const char* path);
/* The host (Linux) path of a program file name, through the runtime's drive table: the one place
 * that maps names, so a driver opens exactly the file the runtime means. Returns the path's length,
 * or 0 (and an empty text) when the name cannot be mapped or the path does not fit in `size`. */
TARVEX_API uint32_t _drv_HostPath(const char* name, char* path, uint32_t size);
/* A claim on a data file (a host path) for as long as a driver has it open: every OPEN takes a
 * shared claim, CREATE an exclusive one, so a file that another process or another declaration has
 * open is never replaced under it. A claim held elsewhere is waited for up to `wait_milliseconds`.
 * Returns a handle (> 0), or 0 with `*error` set: 32 when the file stays claimed elsewhere, 2 when
 * it does not exist, else the system error. */
TARVEX_API intptr_t _drv_ClaimFile(const char* host_path, int32_t exclusive, int32_t wait_milliseconds,
                                   int32_t* error);
TARVEX_API void _drv_UnclaimFile(intptr_t claim);
/* Copies one file, replacing the destination atomically (a reader of the old destination keeps its
 * contents; the destination never holds half a copy). The same name (compared without regard to
 * case) succeeds without copying. 0, 45 for a name that cannot be mapped, else the system error. */
TARVEX_API int32_t _drv_CopyFile(const char* source, const char* destination);
/* Copies or renames one file into a folder, or else to a file name (see the system's rules). A
 * rename never replaces an existing file. 0, the C library error number of a failed rename, or the
 * error of _drv_CopyFile. */
TARVEX_API int32_t _drv_CopyOrRenameFile(const char* source, const char* destination, int32_t rename);
/* The same for each companion file of a table: one per extension of `extensions` ("DAT.K01.K02"),
 * each named from the table's name with _drv_ChkName. Stops at the first error and returns it. */
TARVEX_API int32_t _drv_CopyOrRenameFiles(const char* table, const char* destination,
                                          const char* extensions, int32_t rename);
/* One trace line for an operation on a file (`key` null unless the operation names one); `text` is
 * the operation's text argument or null; `first` and `second` its integer arguments. The first
 * trace of a file writes its declaration. Codes 87 and 91, and a block without a name, are not
 * traced. */
TARVEX_API void _drv_TraceOp(Drv_FCB* fcb, KeyDecl* key, const char* text, int32_t operation, intptr_t first,
                             intptr_t second);
/* The same for a view: `view` is the view's ViewDecl; the line is labelled with its primary file's name. */
TARVEX_API void _drv_TraceViewOp(struct Vrn_VCBBLK_struct* block, FileDecl* view, const char* text,
                                 int32_t operation, intptr_t first, intptr_t second);

/* ---- The register of open files ------------------------------------------------------------------ */
TARVEX_API void Vrn$activate_drv(FileDecl* file, int32_t access_mode, int32_t can_log, int32_t can_rollback,
                                 int32_t can_commit, int32_t lock_before_logout, int32_t unlock_after);
TARVEX_API void Vrn$deactivate_drv(FileDecl* file);
TARVEX_API int32_t Vrn$addLogoutFile(FileDecl* file, uint16_t number);
TARVEX_API int32_t Vrn$deleteLogoutFile(FileDecl* file);
TARVEX_API int32_t Vrn$getLogoutNumber(FileDecl* file);
TARVEX_API int32_t Vrn$STATUSfile(FileDecl* file);

/* ---- Transactions --------------------------------------------------------------------------------
 * Vrn$LOGOUT(seconds, file, file, ..., NULL). Errors: 56 a transaction is active, 37 a file is not
 * open, 48 any other enlisting failure (after which the enlisted files are rolled back and no
 * transaction is active); COMMIT and ROLLBACK without a transaction: 91. */
TARVEX_API void Vrn$LOGOUT(int32_t seconds, ...);
/* The same with the files as an array ended by null. */
TARVEX_API void Vrn$LOGOUTfiles(int32_t seconds, FileDecl* const* files);
TARVEX_API void Vrn$COMMIT(void);
TARVEX_API void Vrn$ROLLBACK(void);

/* ---- Threads and shutdown ------------------------------------------------------------------------ */
/* For a file with VRN_FILE_THREAD: every program thread gets its own copy of the file's
 * declaration block, record buffer, key blocks and memo blocks. The copies are swapped in and out
 * as the runtime lock passes between threads, so the program keeps using the declared addresses.
 * A thread that has not run yet starts from the contents these blocks have at this call. A file
 * without VRN_FILE_THREAD, or one already registered, is left alone. */
TARVEX_API void Vrn$ThreadedFileOpen(FileDecl* file);
/* Nothing to undo: per-thread file storage lives as long as its thread. */
TARVEX_API void Vrn$ThreadedFileClose(FileDecl* file);
/* The procedure to run first when the runtime shuts down (null for none). */
TARVEX_API void Vrn$SHUTDOWN(VrnShutdownProcedure procedure);
/* The file shutdown: the SHUTDOWN procedure, then COMMIT of an active transaction, then CLOSE of
 * every registered file, the most recently activated first. The end of the program runs it after
 * the program's exit routines. */
TARVEX_API void Vrn$CloseAllFiles(void);

/* ---- Files by name ----------------------------------------------------------------------------------
 * Vrn$RemoveFile pops a name; Vrn$RenameFile and Vrn$CopyFile pop the existing name (top) and the
 * new name (beneath it: push the new name first). Errors are posted as the error code. */
TARVEX_API void Vrn$RemoveFile(void);
TARVEX_API void Vrn$RenameFile(void);
TARVEX_API void Vrn$CopyFile(void);
/* Pops a folder name and creates the folder, with any missing folders above it (mode 0700); an
 * existing folder is no error. */
TARVEX_API void Vrn$MakeFolder(void);

TARVEX_END_C

#endif
