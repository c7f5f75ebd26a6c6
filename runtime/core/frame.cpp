// SPDX-License-Identifier: GPL-3.0-or-later
// The runtime's frame: module registration and start-up, the version check, the end of the
// program, fatal run-time errors and assertions.
//
// Divisions: runtime state; module registration (__sysinit, __systerm); version; start-up
// (Vrn$init); the end of the program (Vrw$Exit, _atexit, HALT, STOP); fatal errors (Vrn$rterr,
// the __e_* checks, assertions); heap exports.
#include "core/frame.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/environment.h"
#include "core/error_state.h"
#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

// ---- Runtime state -------------------------------------------------------------------------------

// Active from the library's load until Wsl$CloseDown: a fatal error ends the program only then.
std::atomic<bool> runtime_active{false};
std::atomic<bool> program_ending{false};
std::atomic<void (*)()> close_down_hook{nullptr};
std::atomic<uintptr_t> application_instance{0};

struct Version {
    int32_t major = 0, minor = 0, build = 0;
};
Version caller_version;
constexpr Version kRuntimeVersion{4, VRN_VERSION_MINOR, 0};

platform::LibraryState CurrentLibraryState() {
    platform::LibraryState state;
    state.error_code = Vrn$ERRCODE;
    std::string error(Vrn$ERRSTR, sizeof Vrn$ERRSTR);
    state.error = error.substr(0, error.find_last_not_of(' ') + 1);
    return state;
}

// The library's load into the process marks the runtime active.
struct LoadMark {
    LoadMark() {
        runtime_active = true;
        platform::SetLibraryStateProvider(&CurrentLibraryState);
    }
} load_mark;

// ---- Module registration -----------------------------------------------------------------------------

struct ModuleNode {
    ModuleNode* next;
    uintptr_t instance;
    VrnModuleDescriptor* descriptor;
    uint32_t reserved;
};

std::mutex modules_mutex;
ModuleNode* modules_head = nullptr;  // newest first

// A pointer in a fixup run that points at an import slot is replaced by what the slot holds.
void ApplyFixups(const VrnModuleDescriptor& descriptor) {
    if (descriptor.fixup_start == nullptr || descriptor.fixup_end == nullptr) return;
    for (const VrnFixupEntry* entry = descriptor.fixup_start; entry < descriptor.fixup_end; ++entry) {
        if (entry->words == nullptr) continue;
        size_t count = entry->byte_length / sizeof(uintptr_t);
        for (size_t i = 0; i < count; ++i) {
            uintptr_t word = entry->words[i];
            if (word >= descriptor.import_low && word < descriptor.import_high) {
                entry->words[i] = *reinterpret_cast<const uintptr_t*>(word);
            }
        }
    }
}

// Priorities run from 255 down to 1; entries of equal priority run in table order.
void RunInitialisers(const VrnModuleDescriptor& descriptor) {
    if (descriptor.init_start == nullptr || descriptor.init_end == nullptr) return;
    int32_t threshold = 255;
    while (threshold > 0) {
        int32_t next = 0;
        for (const VrnInitEntry* entry = descriptor.init_start; entry < descriptor.init_end; ++entry) {
            if (entry->priority == threshold) {
                if (entry->init) entry->init(0);
            } else if (entry->priority < threshold && entry->priority > next) {
                next = entry->priority;
            }
        }
        threshold = next;
    }
}

// Level by level from the lowest priority present up to 255, each level from the table's end.
void RunTerminators(const VrnModuleDescriptor& descriptor) {
    if (descriptor.init_start == nullptr || descriptor.init_end == nullptr) return;
    const VrnInitEntry* first = descriptor.init_start;
    const VrnInitEntry* last = descriptor.init_end;
    bool have_level = false;
    int32_t level = 0;
    for (const VrnInitEntry* e = first; e < last; ++e) {
        if (e->priority <= 255 && (!have_level || e->priority < level)) {
            level = e->priority;
            have_level = true;
        }
    }
    while (have_level) {
        for (const VrnInitEntry* e = last; e-- > first;) {
            if (e->priority == level && e->term) e->term(1);
        }
        // The next level is the lowest priority above this one.
        have_level = false;
        int32_t next = 0;
        for (const VrnInitEntry* e = first; e < last; ++e) {
            if (e->priority > level && e->priority <= 255 && (!have_level || e->priority < next)) {
                next = e->priority;
                have_level = true;
            }
        }
        level = next;
    }
}

// ---- The end of the program ----------------------------------------------------------------------

constexpr int kMaxExitRoutines = 33;
std::mutex exit_mutex;
std::vector<void (*)()> exit_routines;
std::atomic<bool> termination_started{false};

void RunTerminationSequence() {
    std::vector<void (*)()> routines;
    {
        std::lock_guard lock(exit_mutex);
        routines = exit_routines;
    }
    // Exit routines run in the reverse order of their registration; then every file still open
    // is committed and closed before the program's module is terminated.
    for (auto it = routines.rbegin(); it != routines.rend(); ++it) (*it)();
    Vrn$CloseAllFiles();
    __systerm(application_instance.load());
}

std::string Clipped(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

uint32_t Ask(std::string text, std::string caption, int32_t icon, uint32_t buttons, uint32_t default_button) {
    platform::MessageRequest request;
    request.text = std::move(text);
    request.caption = std::move(caption);
    request.icon = icon;
    request.buttons = buttons;
    request.default_button = default_button;
    return platform::Messages().Show(request);
}

}  // namespace

bool RuntimeActive() { return runtime_active.load(); }
bool ProgramEnding() { return program_ending.load(); }

void SetCloseDownHook(void (*hook)()) { close_down_hook = hook; }

}  // namespace tarvex

using namespace tarvex;

extern "C" {

// ---- Module registration ---------------------------------------------------------------------------

TARVEX_API void __sysinit(VrnModuleDescriptor* descriptor, uintptr_t instance) {
    if (instance == 0) instance = platform::MainModuleHandle();
    uintptr_t none = 0;
    application_instance.compare_exchange_strong(none, instance);
    if (descriptor == nullptr) return;
    {
        std::lock_guard lock(modules_mutex);
        descriptor->link = modules_head ? modules_head->descriptor : nullptr;
        descriptor->instance = instance;
        modules_head = new ModuleNode{modules_head, instance, descriptor, 0};
    }
    ApplyFixups(*descriptor);
    RunInitialisers(*descriptor);
}

TARVEX_API void __systerm(uintptr_t instance) {
    ModuleNode* node = nullptr;
    {
        std::lock_guard lock(modules_mutex);
        for (ModuleNode** link = &modules_head; *link; link = &(*link)->next) {
            if ((*link)->instance == instance) {
                node = *link;
                *link = node->next;
                break;
            }
        }
    }
    if (node == nullptr) return;
    if (node->descriptor) RunTerminators(*node->descriptor);
    delete node;
}

// ---- Version ----------------------------------------------------------------------------------------

TARVEX_API int32_t __checkversion(int32_t version_code, int32_t minor, int32_t build) {
    if (version_code == VRN_VERSION_CODE && minor <= VRN_VERSION_MINOR) {
        caller_version = Version{version_code & 0xF, minor, build};
        return 1;
    }
    char text[512];
    if ((version_code & 0x100) == 0) {
        std::snprintf(text, sizeof text,
                      "This program or a component DLL was built using the beta release of Varnel 4\r\n"
                      "It will not operate correctly with this copy of TARVE%s\r\n"
                      "Please obtain a new version of this program",
                      "X");
    } else {
        std::snprintf(text, sizeof text,
                      "This program or a component DLL requires TARVE%s version %d.%03d.%02d or later\r\n"
                      "This version is %d.%03d.%02d",
                      "X", version_code & 0xF, minor, build, kRuntimeVersion.major, kRuntimeVersion.minor,
                      kRuntimeVersion.build);
    }
    Ask(text, "Varnel 4 Runtime Library", VRN_ICON_STOP, VRN_BUTTON_OK, VRN_BUTTON_OK);
    return 0;
}

TARVEX_API uint32_t __getversion(void) { return (uint32_t{VRN_VERSION_CODE} << 16) | VRN_VERSION_MINOR; }

TARVEX_API void __SetExceptionHandler(void* registration) {
    if (registration) {
        platform::InstallFaultHandler();
    } else {
        platform::RemoveFaultHandler();
    }
}

// ---- Start-up -------------------------------------------------------------------------------------

TARVEX_API void Vrn$init(void) {
    static std::once_flag once;
    std::call_once(once, [] {
        SeedRandom();
        (void)platform::Regional();
        LoadEnvironment();
    });
}

TARVEX_API void Wsl$CloseDown(void) {
    if (auto hook = close_down_hook.load())
        hook();
    runtime_active = false;
}

// ---- The end of the program -----------------------------------------------------------------------

TARVEX_API void Vrw$Exit(int32_t code) {
    if (!termination_started.exchange(true)) RunTerminationSequence();
    platform::ExitProcess(code);
}

TARVEX_API int32_t _atexit(void (*routine)(void)) {
    std::lock_guard lock(exit_mutex);
    if (routine == nullptr || exit_routines.size() >= kMaxExitRoutines) return 1;
    exit_routines.push_back(routine);
    return 0;
}

TARVEX_API void Vrn$HALT(int32_t code, uint8_t message_omitted) {
    std::string message = PopStdString();
    if (!message_omitted) Ask(Clipped(message), "Halt", VRN_ICON_STOP, VRN_BUTTON_OK, VRN_BUTTON_OK);
    program_ending = true;
    Vrw$Exit(code);
}

TARVEX_API void Vrn$STOP(int32_t confirm) {
    std::string message = Clipped(PopStdString());
    if (confirm) message += message.empty() ? "Exit?" : "\nExit?";
    uint32_t answer = Ask(message, "Stop", VRN_ICON_STOP, VRN_BUTTON_ABORT | VRN_BUTTON_IGNORE, VRN_BUTTON_ABORT);
    if (answer == VRN_BUTTON_IGNORE) return;
    program_ending = true;
    Vrw$Exit(0);
}

TARVEX_API uint32_t Vrn$MESSAGE(int32_t icon, uint32_t buttons, uint32_t default_button) {
    std::string text = Clipped(PopStdString());
    std::string caption = Clipped(PopStdString());
    if (buttons == 0) buttons = VRN_BUTTON_OK;
    if ((buttons & default_button) == 0 || (default_button & (default_button - 1)) != 0)
        default_button = buttons & (~buttons + 1);  // the lowest button offered
    return Ask(std::move(text), std::move(caption), icon, buttons, default_button);
}

TARVEX_API void Standard$HALT(void) { platform::ExitProcess(255); }

TARVEX_API void Vrw$SetStartInfo(void) {}
TARVEX_API void Vrw$PatchDlls(void) {}
TARVEX_API void Vrw$UnpatchDlls(void) {}
TARVEX_API void Vrw$CallDestructors(void) {}

// ---- Fatal errors ----------------------------------------------------------------------------------

TARVEX_API void Vrn$rterr(int32_t code, const char* extra) {
    std::string text;
    if (code != 0) {
        Vrn$seterror(code);
        text = Clipped(std::string(Vrn$ERRSTR, sizeof Vrn$ERRSTR));
        if (extra) text += " : ";
    }
    if (extra) text += extra;
    if (text.size() > 255) text.resize(255);
    uint32_t answer = Ask(text, "Runtime error", VRN_ICON_STOP, VRN_BUTTON_OK | VRN_BUTTON_CANCEL, VRN_BUTTON_OK);
    if (answer == VRN_BUTTON_CANCEL) {
        platform::WriteFaultReportHere("Runtime Error");
        platform::ExitProcess(2);
    }
    program_ending = true;
    if (runtime_active) Vrw$Exit(2);
}

TARVEX_API void __e_stack(void) { Vrn$rterr(401, nullptr); }
TARVEX_API void __e_nil_ptr(void) { Vrn$rterr(402, nullptr); }
TARVEX_API void __e_overflow(void) { Vrn$rterr(404, nullptr); }
TARVEX_API void __e_range(void) { Vrn$rterr(405, nullptr); }
TARVEX_API void __e_no_return(void) { Vrn$rterr(406, nullptr); }
TARVEX_API void __e_no_case(void) { Vrn$rterr(407, nullptr); }
TARVEX_API void __e_index(void) { Vrn$rterr(409, nullptr); }

TARVEX_API void Vrn$AssertFailed(int32_t line, const char* file) {
    std::string text = "Assertion failed on line:" + std::to_string(line) + " in file:" + (file ? file : "") +
                       ". Shall I GPF?";
    uint32_t answer = Ask(text, "Assertion Failed", VRN_ICON_EXCLAMATION, VRN_BUTTON_YES | VRN_BUTTON_NO, VRN_BUTTON_NO);
    if (answer == VRN_BUTTON_YES) {
        platform::WriteFaultReportHere("Assertion Failed");
        platform::ExitProcess(2);
    }
}

// ---- Heap exports ----------------------------------------------------------------------------------

TARVEX_API void* _malloc(size_t size) { return std::malloc(size); }
TARVEX_API void _free(void* block) { std::free(block); }
TARVEX_API void* _memset(void* block, int value, size_t size) { return std::memset(block, value, size); }

}  // extern "C"
