// SPDX-License-Identifier: GPL-3.0-or-later
// The fault report: signal handlers that stand in for structured exceptions. The first fault of
// the process (an access violation, a page fault, an illegal or privileged instruction, a stack
// overflow) writes VXFAULT1.TXT in the current folder, mode 0600, and the signal then takes its
// default course, so the process ends as it would have without the handler.
//
// Divisions: thread preparation (signal stack, stack bounds); the report writer (formatting into
// a fixed buffer, safe memory reads); the report (registers, memory, modules, frames, library
// state); the handler; installation and the report on request.
//
// Inside the handler only async-signal-safe work is done where it can be: no allocation, output
// through write(2) from a buffer on the signal stack, memory read through process_vm_readv so an
// unmapped address reads as unreadable instead of faulting again. The module list and symbol
// names take the loader's lock and the library state comes from runtime code; those come last so
// that what precedes them is already on disk.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

namespace tarvex::platform {

namespace {

// ---- Thread preparation -------------------------------------------------------------------------

constexpr size_t kSignalStackSize = 256 * 1024;

// Read by the handler, so kept in static thread-local storage that needs no allocation.
__attribute__((tls_model("initial-exec"))) thread_local uintptr_t tls_stack_low = 0;
__attribute__((tls_model("initial-exec"))) thread_local bool tls_prepared = false;

struct SignalStack {
    void* mapping = nullptr;
    size_t size = 0;
    ~SignalStack() {
        if (mapping != nullptr) {
            stack_t none{};
            none.ss_flags = SS_DISABLE;
            stack_t current{};
            // Only switch the stack off when it is still ours.
            if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == static_cast<char*>(mapping) + 4096) {
                sigaltstack(&none, nullptr);
            }
            munmap(mapping, size);
        }
    }
};

thread_local SignalStack tls_signal_stack;

// ---- The report writer --------------------------------------------------------------------------

class ReportWriter {
  public:
    explicit ReportWriter(int fd) : fd_(fd) {}
    ~ReportWriter() { Flush(); }
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    ReportWriter& Text(const char* text) {
        while (text != nullptr && *text != '\0') {
            Put(*text++);
        }
        return *this;
    }
    ReportWriter& Text(std::string_view text) {
        for (char c : text) {
            Put(c);
        }
        return *this;
    }
    ReportWriter& Hex(uint64_t value, int digits, bool upper = false) {
        const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
        char out[16];
        for (int i = digits - 1; i >= 0; i--) {
            out[i] = alphabet[value & 0xF];
            value >>= 4;
        }
        for (int i = 0; i < digits; i++) {
            Put(out[i]);
        }
        return *this;
    }
    ReportWriter& Decimal(int64_t value) {
        char out[24];
        int length = 0;
        uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
        do {
            out[length++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            Put('-');
        }
        while (length > 0) {
            Put(out[--length]);
        }
        return *this;
    }
    void Flush() {
        size_t done = 0;
        while (done < used_) {
            ssize_t written = write(fd_, buffer_ + done, used_ - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                break;
            }
            done += size_t(written);
        }
        used_ = 0;
    }

  private:
    void Put(char c) {
        if (used_ == sizeof(buffer_)) {
            Flush();
        }
        buffer_[used_++] = c;
    }
    int fd_;
    size_t used_ = 0;
    char buffer_[2048];
};

// Reads memory of this process without faulting: an unmapped or protected address fails.
bool ReadMemory(uintptr_t address, void* out, size_t size) {
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == ssize_t(size);
}

// ---- The report ---------------------------------------------------------------------------------

struct Registers {
    uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0, rip = 0;
    uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
    uint64_t eflags = 0, cr2 = 0, err = 0, trapno = 0;
    uint16_t cs = 0, ss = 0, ds = 0, es = 0, fs = 0, gs = 0;
};

Registers RegistersOf(const ucontext_t* context) {
    Registers r;
#if defined(__x86_64__)
    const greg_t* g = context->uc_mcontext.gregs;
    r.rax = uint64_t(g[REG_RAX]);
    r.rbx = uint64_t(g[REG_RBX]);
    r.rcx = uint64_t(g[REG_RCX]);
    r.rdx = uint64_t(g[REG_RDX]);
    r.rsi = uint64_t(g[REG_RSI]);
    r.rdi = uint64_t(g[REG_RDI]);
    r.rbp = uint64_t(g[REG_RBP]);
    r.rsp = uint64_t(g[REG_RSP]);
    r.rip = uint64_t(g[REG_RIP]);
    r.r8 = uint64_t(g[REG_R8]);
    r.r9 = uint64_t(g[REG_R9]);
    r.r10 = uint64_t(g[REG_R10]);
    r.r11 = uint64_t(g[REG_R11]);
    r.r12 = uint64_t(g[REG_R12]);
    r.r13 = uint64_t(g[REG_R13]);
    r.r14 = uint64_t(g[REG_R14]);
    r.r15 = uint64_t(g[REG_R15]);
    r.eflags = uint64_t(g[REG_EFL]);
    r.cr2 = uint64_t(g[REG_CR2]);
    r.err = uint64_t(g[REG_ERR]);
    r.trapno = uint64_t(g[REG_TRAPNO]);
    // The segment selectors are the same for every user-mode thread; read them directly since
    // getcontext() does not record them.
    asm volatile("mov %%cs, %0" : "=r"(r.cs));
    asm volatile("mov %%ss, %0" : "=r"(r.ss));
    asm volatile("mov %%ds, %0" : "=r"(r.ds));
    asm volatile("mov %%es, %0" : "=r"(r.es));
    asm volatile("mov %%fs, %0" : "=r"(r.fs));
    asm volatile("mov %%gs, %0" : "=r"(r.gs));
#else
    (void)context;
#endif
    return r;
}

struct Module {
    uintptr_t start;
    uintptr_t end;
    const char* name;
};

constexpr int kMaxModules = 256;

struct ModuleList {
    Module modules[kMaxModules];
    int count = 0;
    const char* executable = "";
    ReportWriter* out = nullptr;
};

int ListModule(dl_phdr_info* info, size_t, void* data) {
    auto* list = static_cast<ModuleList*>(data);
    uintptr_t start = UINTPTR_MAX, end = 0;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const auto& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD) {
            continue;
        }
        uintptr_t low = info->dlpi_addr + header.p_vaddr;
        uintptr_t high = low + header.p_memsz;
        start = low < start ? low : start;
        end = high > end ? high : end;
    }
    if (start == UINTPTR_MAX) {
        return 0;
    }
    const char* name =
        info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' ? info->dlpi_name : list->executable;
    if (list->out != nullptr) {
        list->out->Text("  ").Hex(start, 16).Text("-").Hex(end, 16).Text(" ").Text(name).Text("\r\n");
    }
    if (list->count < kMaxModules) {
        list->modules[list->count++] = Module{start, end, name};
    }
    return 0;
}

const Module* ModuleOf(const ModuleList& list, uintptr_t address) {
    for (int i = 0; i < list.count; i++) {
        if (address >= list.modules[i].start && address < list.modules[i].end) {
            return &list.modules[i];
        }
    }
    return nullptr;
}

struct Frame {
    uintptr_t pc;
    uintptr_t frame;
};

constexpr int kMaxFrames = 128;
constexpr int kMaxPrintedFrames = 64;

struct FrameList {
    Frame frames[kMaxFrames];
    int count = 0;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* data) {
    auto* list = static_cast<FrameList*>(data);
    if (list->count >= kMaxFrames) {
        return _URC_END_OF_STACK;
    }
    int before_instruction = 0;
    uintptr_t pc = _Unwind_GetIPInfo(context, &before_instruction);
    if (pc == 0) {
        return _URC_END_OF_STACK;
    }
    list->frames[list->count++] = Frame{pc, uintptr_t(_Unwind_GetCFA(context))};
    return _URC_NO_REASON;
}

// The frames of the faulting code: from the unwinder when it reaches the faulting instruction
// through the signal frame, else from the chain of saved frame pointers.
int FaultFrames(const Registers& r, bool from_signal, const ModuleList& modules, Frame* out) {
    FrameList list;
    _Unwind_Backtrace(CollectFrame, &list);
    int first = -1;
    for (int i = 0; i < list.count; i++) {
        bool here = from_signal ? list.frames[i].pc == r.rip : list.frames[i].frame > r.rsp;
        if (here) {
            first = i;
            break;
        }
    }
    int count = 0;
    if (first >= 0) {
        for (int i = first; i < list.count && count < kMaxPrintedFrames; i++) {
            out[count++] = list.frames[i];
        }
        return count;
    }
    out[count++] = Frame{uintptr_t(r.rip), uintptr_t(r.rsp)};
    // A call through a bad pointer leaves the return address on top of the stack.
    uint64_t word = 0;
    if (ModuleOf(modules, r.rip) == nullptr && ReadMemory(r.rsp, &word, sizeof(word)) &&
        ModuleOf(modules, word) != nullptr) {
        out[count++] = Frame{uintptr_t(word), uintptr_t(r.rsp)};
    }
    uint64_t frame = r.rbp;
    while (count < kMaxPrintedFrames && frame != 0 && frame % 8 == 0) {
        uint64_t saved[2];
        if (!ReadMemory(frame, saved, sizeof(saved)) || saved[1] == 0) {
            break;
        }
        out[count++] = Frame{uintptr_t(saved[1]), uintptr_t(frame)};
        if (saved[0] <= frame || saved[0] - frame > (64u << 20)) {
            break;
        }
        frame = saved[0];
    }
    return count;
}

void WriteBytes(ReportWriter& out, uint64_t address, int lines) {
    for (int line = 0; line < lines; line++) {
        uint64_t at = address + uint64_t(line) * 16;
        unsigned char bytes[16];
        out.Text("  ").Hex(at, 16).Text(":");
        if (ReadMemory(at, bytes, sizeof(bytes))) {
            for (unsigned char b : bytes) {
                out.Text(" ").Hex(b, 2);
            }
        } else {
            out.Text(" (unreadable)");
        }
        out.Text("\r\n");
    }
}

void WriteWords(ReportWriter& out, uint64_t address, int lines) {
    for (int line = 0; line < lines; line++) {
        uint64_t at = address + uint64_t(line) * 32;
        uint64_t words[4];
        out.Text("  ").Hex(at, 16).Text(":");
        if (ReadMemory(at, words, sizeof(words))) {
            for (uint64_t w : words) {
                out.Text(" ").Hex(w, 16);
            }
        } else {
            out.Text(" (unreadable)");
        }
        out.Text("\r\n");
    }
}

std::atomic<LibraryStateProvider> library_state_provider{nullptr};

void WriteReport(int fd, const char* exception_name, uint64_t address, const ucontext_t* context,
                 bool from_signal) {
    ReportWriter out(fd);
    Registers r = RegistersOf(context);
    char executable[4096];
    ssize_t length = readlink("/proc/self/exe", executable, sizeof(executable) - 1);
    executable[length > 0 ? length : 0] = '\0';

    out.Text("Exception: ").Text(exception_name).Text(" at ").Hex(address, 16).Text("\r\n");
    out.Text("Process  : ").Text(executable).Text(" \r\n");
    out.Text("Registers:\r\n");
    out.Text("  RAX=").Hex(r.rax, 16).Text(" CS=").Hex(r.cs, 4).Text(" RIP=").Hex(r.rip, 16);
    out.Text(" EFLGS=").Hex(r.eflags, 8).Text("\r\n");
    out.Text("  RBX=").Hex(r.rbx, 16).Text(" SS=").Hex(r.ss, 4).Text(" RSP=").Hex(r.rsp, 16);
    out.Text(" RBP=").Hex(r.rbp, 16).Text("\r\n");
    out.Text("  RCX=").Hex(r.rcx, 16).Text(" DS=").Hex(r.ds, 4).Text(" RSI=").Hex(r.rsi, 16);
    out.Text(" FS=").Hex(r.fs, 4).Text("\r\n");
    out.Text("  RDX=").Hex(r.rdx, 16).Text(" ES=").Hex(r.es, 4).Text(" RDI=").Hex(r.rdi, 16);
    out.Text(" GS=").Hex(r.gs, 4).Text("\r\n");
    out.Text("  R8 =").Hex(r.r8, 16).Text(" R9 =").Hex(r.r9, 16).Text(" R10=").Hex(r.r10, 16);
    out.Text(" R11=").Hex(r.r11, 16).Text("\r\n");
    out.Text("  R12=").Hex(r.r12, 16).Text(" R13=").Hex(r.r13, 16).Text(" R14=").Hex(r.r14, 16);
    out.Text(" R15=").Hex(r.r15, 16).Text("\r\n");
    out.Text("  CR2=").Hex(r.cr2, 16).Text(" ERR=").Hex(r.err, 8).Text(" TRAPNO=").Hex(r.trapno, 8);
    out.Text("\r\n");
    out.Text("Bytes at RIP:\r\n");
    WriteBytes(out, r.rip, 2);
    out.Text("Stack Dump at RSP:\r\n");
    WriteWords(out, r.rsp, 8);
    out.Text("Stack Dump at RBP-32:\r\n");
    WriteWords(out, r.rbp - 32, 4);
    out.Flush();

    ModuleList modules;
    modules.executable = executable;
    modules.out = &out;
    out.Text("Loaded Module List:\r\n");
    dl_iterate_phdr(ListModule, &modules);
    out.Flush();

    out.Text("Call Stack:\r\n");
    Frame frames[kMaxPrintedFrames];
    int count = FaultFrames(r, from_signal, modules, frames);
    for (int i = 0; i < count; i++) {
        const Module* module = ModuleOf(modules, frames[i].pc);
        uintptr_t offset = module != nullptr ? frames[i].pc - module->start : frames[i].pc;
        out.Hex(frames[i].frame, 16, true).Text("  ").Hex(frames[i].pc, 16, true).Text("  ");
        out.Hex(r.cs, 4, true).Text(":").Hex(offset, 16, true).Text(" ");
        if (module == nullptr) {
            out.Text("?");
        } else {
            const char* base = std::strrchr(module->name, '/');
            out.Text(base != nullptr ? base + 1 : module->name);
            Dl_info symbol{};
            if (dladdr(reinterpret_cast<void*>(frames[i].pc), &symbol) != 0 && symbol.dli_sname != nullptr) {
                out.Text(" (").Text(symbol.dli_sname).Text("+0x");
                out.Hex(frames[i].pc - uintptr_t(symbol.dli_saddr), 4).Text(")");
            }
        }
        out.Text("\n");
    }
    out.Flush();

    LibraryState state;
    if (LibraryStateProvider provider = library_state_provider.load()) {
        state = provider();
    }
    out.Text("Library State:\r\n");
    out.Text("  EVENT      = ").Text(state.event).Text("\r\n");
    out.Text("  FIELD      = ").Text(state.field).Text("\r\n");
    out.Text("  FOCUS      = ").Text(state.focus).Text("\r\n");
    out.Text("  ACCEPTED   = ").Text(state.accepted).Text("\r\n");
    out.Text("  FIRSTFIELD = ").Text(state.first_field).Text("\r\n");
    out.Text("  LASTFIELD  = ").Text(state.last_field).Text("\r\n");
    out.Text("  ERRORCODE  = ").Decimal(state.error_code).Text("\r\n");
    out.Text("  ERROR      = ").Text(state.error).Text("\r\n");
    out.Flush();
}

// Opens the report file in the current folder: VXFAULT1.TXT, the eighth character stepping
// 1..9, A..Z while the name is taken, and VXFAULT_.TXT, overwritten, when all are. The name is
// left in `name` (13 bytes).
int OpenReportFile(char* name) {
    static const char kSteps[] = "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_";
    std::memcpy(name, "VXFAULT1.TXT", 13);
    for (size_t i = 0; kSteps[i] != '\0'; i++) {
        name[7] = kSteps[i];
        bool last = kSteps[i + 1] == '\0';
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (last ? O_TRUNC : O_EXCL);
        int fd = open(name, flags, 0600);
        if (fd >= 0) {
            if (last) {
                fchmod(fd, 0600); // an older report may have had a wider mode
            }
            return fd;
        }
        if (errno != EEXIST || last) {
            return -1;
        }
    }
    return -1;
}

// ---- The handler ----------------------------------------------------------------------------------

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL};

// 0 = no report yet, 1 = a report is being written, 2 = written.
std::atomic<int> report_state{0};
std::atomic<pid_t> report_writer{0};
std::atomic<bool> handlers_installed{false};
struct sigaction previous_actions[3];

bool IsPrivilegedOpcode(uint64_t rip) {
    unsigned char code[8];
    if (!ReadMemory(rip, code, sizeof(code))) {
        return false;
    }
    size_t i = 0;
    // Operand-size, address-size, segment, repeat and REX prefixes.
    while (i < 4 && (code[i] == 0x66 || code[i] == 0x67 || code[i] == 0xF2 || code[i] == 0xF3 ||
                     code[i] == 0x2E || code[i] == 0x3E || code[i] == 0x26 || code[i] == 0x36 ||
                     code[i] == 0x64 || code[i] == 0x65 || (code[i] >= 0x40 && code[i] <= 0x4F))) {
        i++;
    }
    unsigned char op = code[i];
    if (op == 0xF4 || op == 0xFA || op == 0xFB || (op >= 0xE4 && op <= 0xE7) || (op >= 0xEC && op <= 0xEF) ||
        (op >= 0x6C && op <= 0x6F)) {
        return true; // hlt, cli, sti, in, out, ins, outs
    }
    if (op == 0x0F) {
        unsigned char second = code[i + 1];
        return second == 0x01 || second == 0x06 || second == 0x07 || second == 0x08 || second == 0x09 ||
               (second >= 0x20 && second <= 0x23) || second == 0x30 || second == 0x32 || second == 0x35;
    }
    return false;
}

const char* ExceptionName(int signal_number, const siginfo_t* info, const Registers& r) {
    switch (signal_number) {
    case SIGBUS:
        return "Page Fault";
    case SIGILL:
        return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? "Privileged Instruction"
                                                                          : "Illegal Instruction";
    default:
        break;
    }
    uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    // A fault just below the stack pointer, or at the low end of the thread's stack, is the stack
    // running into its guard.
    bool near_pointer = r.rsp > 65536 && address <= r.rsp + 256 && address + 65536 >= r.rsp;
    bool near_limit =
        tls_stack_low != 0 && address < tls_stack_low + 16384 && address + (1u << 20) >= tls_stack_low;
    if (info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR) {
        if (near_pointer || near_limit) {
            return "Stack Overflow";
        }
    }
    // A general-protection fault raised by an instruction that user code may not execute.
    if (info->si_code == SI_KERNEL && IsPrivilegedOpcode(r.rip)) {
        return "Privileged Instruction";
    }
    return "Access Violation";
}

// Lets the signal take its default course: with the default action restored, returning re-runs
// the faulting instruction; a signal sent by a process is raised again (it is blocked until the
// handler returns).
void PassOn(int signal_number, const siginfo_t* info) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(signal_number, &defaults, nullptr);
    if (info->si_code <= 0) {
        raise(signal_number);
    }
}

void FaultHandler(int signal_number, siginfo_t* info, void* raw_context) {
    int saved_errno = errno;
    pid_t self = gettid();
    int expected = 0;
    if (!report_state.compare_exchange_strong(expected, 1)) {
        // Another thread is writing the report: wait for it, so the process does not end with
        // half a report.
        while (expected == 1 && report_writer.load() != self && report_state.load() == 1) {
            timespec pause{0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        PassOn(signal_number, info);
        errno = saved_errno;
        return;
    }
    report_writer.store(self);
    auto* context = static_cast<ucontext_t*>(raw_context);
    Registers r = RegistersOf(context);
    const char* name = ExceptionName(signal_number, info, r);
    char file_name[13];
    int fd = OpenReportFile(file_name);
    if (fd >= 0) {
        WriteReport(fd, name, r.rip, context, true);
        close(fd);
    }
    report_state.store(2);
    PassOn(signal_number, info);
    errno = saved_errno;
}

} // namespace

void PrepareFaultStackForThisThread() {
    if (tls_prepared) {
        return;
    }
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
            tls_stack_low = reinterpret_cast<uintptr_t>(low);
        }
        pthread_attr_destroy(&attributes);
    }
    // The signal stack has a guard page of its own below it.
    size_t size = kSignalStackSize + 4096;
    void* mapping =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) {
        RecordErrno(errno);
        return;
    }
    mprotect(mapping, 4096, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapping) + 4096;
    stack.ss_size = kSignalStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        RecordErrno(errno);
        munmap(mapping, size);
        return;
    }
    tls_signal_stack.mapping = mapping;
    tls_signal_stack.size = size;
    tls_prepared = true;
}

void InstallFaultHandler() {
    PrepareFaultStackForThisThread();
    if (handlers_installed.exchange(true)) {
        return;
    }
    // The unwinder and the loader may allocate or bind symbols on first use: do that now, outside
    // any handler.
    FrameList warm;
    _Unwind_Backtrace(CollectFrame, &warm);
    Dl_info symbol{};
    dladdr(reinterpret_cast<void*>(&InstallFaultHandler), &symbol);
    ModuleList modules;
    dl_iterate_phdr(ListModule, &modules);
    uint64_t word = 0;
    ReadMemory(reinterpret_cast<uintptr_t>(&word), &word, sizeof(word));

    struct sigaction action {};
    action.sa_sigaction = FaultHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal_number : kFaultSignals) {
        sigaddset(&action.sa_mask, signal_number);
    }
    for (size_t i = 0; i < 3; i++) {
        sigaction(kFaultSignals[i], &action, &previous_actions[i]);
    }
}

void RemoveFaultHandler() {
    if (!handlers_installed.exchange(false)) {
        return;
    }
    for (size_t i = 0; i < 3; i++) {
        sigaction(kFaultSignals[i], &previous_actions[i], nullptr);
    }
}

std::string WriteFaultReportHere(const char* exception_name) {
    if (report_state.load() == 1) {
        return {};
    }
    ucontext_t context;
    std::memset(&context, 0, sizeof(context));
    if (getcontext(&context) != 0) {
        RecordErrno(errno);
        return {};
    }
    char file_name[13];
    int fd = OpenReportFile(file_name);
    if (fd < 0) {
        RecordErrno(errno);
        return {};
    }
    uint64_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    WriteReport(fd, exception_name != nullptr ? exception_name : "", address, &context, false);
    close(fd);
    char folder[4096];
    if (getcwd(folder, sizeof(folder)) == nullptr) {
        return file_name;
    }
    std::string path = folder;
    if (path != "/") {
        path += '/';
    }
    return path + file_name;
}

void SetLibraryStateProvider(LibraryStateProvider provider) {
    library_state_provider.store(provider);
}

} // namespace tarvex::platform
