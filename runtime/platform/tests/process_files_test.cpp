// SPDX-License-Identifier: GPL-3.0-or-later
// The process (executable, environment file, main module, exit) and the whole-file helpers.
#include "platform/platform.h"
#include "temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarvex::platform {
namespace {

using testing::ReadText;
using testing::ScopedEnv;
using testing::TempFolder;

TEST(Process, ExecutableIsThisTestProgram) {
    std::string path = ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_tests");
    EXPECT_TRUE(FileExists(path));
}

TEST(Process, EnvironmentFileBesideTheExecutable) {
    ScopedEnv no_override("TARVEX_ENV_FILE", nullptr);
    std::string executable = ExecutablePath();
    std::string folder = executable.substr(0, executable.rfind('/'));
    std::string env_file = folder + "/Platform_Tests.Env";
    std::filesystem::remove(env_file);
    EXPECT_EQ(EnvironmentFilePath(), "");
    std::ofstream(env_file) << "VRNMSG35=\"Gone\"\n";
    EXPECT_EQ(EnvironmentFilePath(), env_file);
    {
        ScopedEnv override_file("TARVEX_ENV_FILE", "/somewhere/else.env");
        EXPECT_EQ(EnvironmentFilePath(), "/somewhere/else.env");
    }
    std::filesystem::remove(env_file);
}

int InThisProgram() {
    return 42;
}

TEST(Process, MainModuleHandleIsWhereTheProgramStarts) {
    uintptr_t handle = MainModuleHandle();
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(handle % 4096, 0u);
    EXPECT_LT(handle, reinterpret_cast<uintptr_t>(&InThisProgram));
    EXPECT_EQ(MainModuleHandle(), handle);
}

TEST(Process, ArgumentsLeaveOutTheProgramName) {
    auto arguments = Arguments();
    for (const auto& argument : arguments) {
        EXPECT_EQ(argument.find("platform_tests"), std::string::npos) << argument;
    }
}

TEST(ProcessDeathTest, ExitProcessEndsWithTheCode) {
    EXPECT_EXIT(ExitProcess(7), ::testing::ExitedWithCode(7), "");
}

TEST(Files, AtomicWriteMakesNewFilesPrivateAndKeepsAnExistingFilesMode) {
    TempFolder folder;
    std::string path = folder / "data.txt";
    ASSERT_TRUE(WriteFileAtomically(path, "first"));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    chmod(path.c_str(), 0644);
    ASSERT_TRUE(WriteFileAtomically(path, std::string("new\0contents", 12)));
    EXPECT_EQ(ReadWholeFile(path), std::string("new\0contents", 12));
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ASSERT_TRUE(WriteFileAtomically(path, ""));
    EXPECT_EQ(ReadWholeFile(path), "");
}

TEST(Files, AtomicWriteThroughALinkReplacesTheTarget) {
    TempFolder folder;
    folder.MakeFile("real.ini", "a");
    std::filesystem::create_symlink(folder / "real.ini", folder / "link.ini");
    ASSERT_TRUE(WriteFileAtomically(folder / "link.ini", "b"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.ini"));
    EXPECT_EQ(ReadText(folder / "real.ini"), "b");
}

TEST(Files, FailuresSetTheLastError) {
    TempFolder folder;
    SetLastError(0);
    EXPECT_FALSE(ReadWholeFile(folder / "missing.txt").has_value());
    EXPECT_EQ(LastError(), 2);
    EXPECT_FALSE(WriteFileAtomically(folder / "no/such/folder.txt", "x"));
    EXPECT_EQ(LastError(), 3);
    EXPECT_FALSE(std::filesystem::exists(folder / "no"));
    EXPECT_FALSE(WriteFileAtomically("", "x"));
    EXPECT_EQ(LastError(), 87);
    folder.MakeFolder("dir");
    EXPECT_FALSE(ReadWholeFile(folder / "dir").has_value());
    EXPECT_EQ(LastError(), 5);
    EXPECT_FALSE(FileExists(folder / "dir"));
    // Devices and pipes are not read: an endless device would never end, a pipe would block.
    EXPECT_FALSE(ReadWholeFile("/dev/zero").has_value());
    EXPECT_EQ(LastError(), 5);
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile(folder / "pipe").has_value());
    EXPECT_EQ(ReadProfileString(folder / "pipe", "S", "k", "default"), "default");
    EXPECT_FALSE(FileExists(folder / "missing.txt"));
}

} // namespace
} // namespace tarvex::platform
