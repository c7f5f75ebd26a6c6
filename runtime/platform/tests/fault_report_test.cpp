// SPDX-License-Identifier: GPL-3.0-or-later
// The fault report: child processes that fault in each recognised way and leave their report in a
// temporary folder, and reports written on request with the stepping of the file name.
#include "platform/platform.h"
#include "temp_folder.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace tarvex::platform {
namespace {

using testing::ReadText;
using testing::ScopedFolder;
using testing::TempFolder;

LibraryState KnownState() {
    LibraryState state;
    state.event = "Accepted";
    state.field = "?PAT:LNAME";
    state.focus = "?PAT:FNAME";
    state.accepted = "?OK";
    state.first_field = "?PAT:NUMBER";
    state.last_field = "?Cancel";
    state.error_code = 35;
    state.error = "Record Not Found";
    return state;
}

// Runs in the child: prepares the handler in the folder, then faults.
void FaultIn(const std::string& folder, void (*fault)()) {
    if (chdir(folder.c_str()) != 0) {
        _exit(3);
    }
    SetLibraryStateProvider(KnownState);
    InstallFaultHandler();
    fault();
    _exit(4); // not reached when the fault happened
}

// The undefined-behaviour checker would stop the store before it faults.
__attribute__((no_sanitize("undefined"))) void NullPointer() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

void Halt() {
#if defined(__x86_64__)
    asm volatile("hlt");
#endif
}

void Trap() {
    __builtin_trap();
}

void ReadBeyondFile() {
    char name[] = "mappedXXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        _exit(5);
    }
    void* mapping = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0); // the file is empty
    if (mapping == MAP_FAILED) {
        _exit(6);
    }
    volatile char c = *static_cast<volatile char*>(mapping);
    (void)c;
}

__attribute__((noinline)) int Recurse(int depth) {
    volatile char frame[512];
    frame[0] = char(depth);
    return depth > 1000000000 ? frame[0] : Recurse(depth + 1) + frame[0];
}

void* RecurseOnThread(void*) {
    PrepareFaultStackForThisThread();
    Recurse(0);
    return nullptr;
}

void OverflowTheMainStack() {
    Recurse(0);
}

void OverflowASmallThreadStack() {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, RecurseOnThread, nullptr) != 0) {
        _exit(7);
    }
    pthread_join(thread, nullptr);
}

void ExpectInOrder(const std::string& report, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const auto& part : parts) {
        size_t found = report.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << part << "\n" << report;
        at = found + part.size();
    }
}

std::string ReportOf(const TempFolder& folder) {
    std::string path = folder / "VXFAULT1.TXT";
    struct stat info;
    EXPECT_EQ(stat(path.c_str(), &info), 0) << "no report";
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    return ReadText(path);
}

TEST(FaultReportDeathTest, AccessViolation) {
    TempFolder folder;
    EXPECT_EXIT(FaultIn(folder.Path(), NullPointer), ::testing::KilledBySignal(SIGSEGV), "");
    std::string report = ReportOf(folder);
    ExpectInOrder(report, {"Exception: Access Violation at ",
                           "\r\nProcess  : " + ExecutablePath() + " \r\n",
                           "Registers:\r\n  RAX=",
                           " CS=",
                           " RIP=",
                           " EFLGS=",
                           "\r\n  RBX=",
                           " SS=",
                           " RSP=",
                           " RBP=",
                           "\r\n  RCX=",
                           "\r\n  RDX=",
                           "\r\n  R8 =",
                           "\r\n  R12=",
                           "\r\n  CR2=0000000000000000",
                           "Bytes at RIP:\r\n  ",
                           "Stack Dump at RSP:\r\n  ",
                           "Stack Dump at RBP-32:\r\n  ",
                           "Loaded Module List:\r\n  ",
                           "platform_tests\r\n",
                           "Call Stack:\r\n",
                           "platform_tests",
                           "\nLibrary State:\r\n",
                           "  EVENT      = Accepted\r\n"
                           "  FIELD      = ?PAT:LNAME\r\n"
                           "  FOCUS      = ?PAT:FNAME\r\n"
                           "  ACCEPTED   = ?OK\r\n"
                           "  FIRSTFIELD = ?PAT:NUMBER\r\n"
                           "  LASTFIELD  = ?Cancel\r\n"
                           "  ERRORCODE  = 35\r\n"
                           "  ERROR      = Record Not Found\r\n"});
    EXPECT_EQ(report.substr(report.size() - 2), "\r\n");
}

TEST(FaultReportDeathTest, PrivilegedInstruction) {
    TempFolder folder;
    EXPECT_EXIT(FaultIn(folder.Path(), Halt), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EQ(ReportOf(folder).rfind("Exception: Privileged Instruction at ", 0), 0u);
}

TEST(FaultReportDeathTest, IllegalInstruction) {
    TempFolder folder;
    EXPECT_EXIT(FaultIn(folder.Path(), Trap), ::testing::KilledBySignal(SIGILL), "");
    std::string report = ReportOf(folder);
    EXPECT_EQ(report.rfind("Exception: Illegal Instruction at ", 0), 0u);
    // ud2 is the instruction at RIP.
    size_t bytes = report.find("Bytes at RIP:\r\n  ");
    ASSERT_NE(bytes, std::string::npos);
    EXPECT_EQ(report.substr(bytes + 17 + 16 + 1, 6), " 0f 0b");
}

TEST(FaultReportDeathTest, PageFault) {
    TempFolder folder;
    EXPECT_EXIT(FaultIn(folder.Path(), ReadBeyondFile), ::testing::KilledBySignal(SIGBUS), "");
    EXPECT_EQ(ReportOf(folder).rfind("Exception: Page Fault at ", 0), 0u);
}

TEST(FaultReportDeathTest, StackOverflow) {
    TempFolder folder;
    EXPECT_EXIT(FaultIn(folder.Path(), OverflowASmallThreadStack), ::testing::KilledBySignal(SIGSEGV), "");
    std::string report = ReportOf(folder);
    EXPECT_EQ(report.rfind("Exception: Stack Overflow at ", 0), 0u);
    EXPECT_NE(report.find("Library State:\r\n"), std::string::npos);
}

TEST(FaultReportDeathTest, StackOverflowOnTheMainStack) {
    TempFolder folder;
    EXPECT_EXIT(FaultIn(folder.Path(), OverflowTheMainStack), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EQ(ReportOf(folder).rfind("Exception: Stack Overflow at ", 0), 0u);
}

TEST(FaultReport, OnRequestTheNameStepsWhileTaken) {
    TempFolder folder;
    ScopedFolder here(folder.Path());
    SetLibraryStateProvider(nullptr);
    EXPECT_EQ(WriteFaultReportHere("Runtime error"), folder / "VXFAULT1.TXT");
    EXPECT_EQ(WriteFaultReportHere("Runtime error"), folder / "VXFAULT2.TXT");
    for (char c : std::string("3456789")) {
        folder.MakeFile(std::string("VXFAULT") + c + ".TXT", "taken");
    }
    EXPECT_EQ(WriteFaultReportHere("Runtime error"), folder / "VXFAULTA.TXT");
    for (char c : std::string("BCDEFGHIJKLMNOPQRSTUVWXYZ_")) {
        folder.MakeFile(std::string("VXFAULT") + c + ".TXT", "taken");
    }
    chmod((folder / "VXFAULT_.TXT").c_str(), 0644);
    // With every name taken the last one is overwritten, and made private.
    EXPECT_EQ(WriteFaultReportHere("Runtime error"), folder / "VXFAULT_.TXT");
    std::string report = ReadText(folder / "VXFAULT_.TXT");
    ExpectInOrder(report,
                  {"Exception: Runtime error at ", "Registers:", "Call Stack:\r\n", "platform_tests",
                   "Library State:\r\n  EVENT      = \r\n", "  ERRORCODE  = 0\r\n  ERROR      = \r\n"});
    struct stat info;
    ASSERT_EQ(stat((folder / "VXFAULT_.TXT").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadText(folder / "VXFAULTZ.TXT"), "taken");
}

TEST(FaultReport, NoFolderNoReport) {
    TempFolder folder;
    folder.MakeFolder("gone");
    ScopedFolder here(folder / "gone");
    std::filesystem::remove(folder / "gone"); // the current folder no longer exists
    EXPECT_EQ(WriteFaultReportHere("Runtime error"), "");
    EXPECT_EQ(LastError(), 2);
}

} // namespace
} // namespace tarvex::platform
