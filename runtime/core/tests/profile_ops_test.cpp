// SPDX-License-Identifier: GPL-3.0-or-later
// GETINI and PUTINI through the string stack, on files under a temporary drive C:.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/tests/test_support.h"
#include "tarvex/frame.h"

namespace tarvex {
namespace {

using testing::PopText;
using testing::PushText;

// The arguments go on the stack so that the section ends on top.
std::string GetIni(const std::string& file, const std::string& section, const std::string& entry,
                   const std::string& default_value) {
    PushText(file);
    PushText(default_value);
    PushText(entry);
    PushText(section);
    Vrn$GETINI();
    return PopText();
}

void PutIni(const std::string& file, const std::string& section, const std::string* entry, const std::string* value) {
    PushText(file);
    PushText(value ? *value : "");
    PushText(entry ? *entry : "");
    PushText(section);
    Vrn$PUTINI(entry == nullptr, value == nullptr);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ProfileOps, WriteReadAndDelete) {
    testing::TemporaryDrive drive;
    const std::string x = "120", y = "45", entry_x = "XPos", entry_y = "YPos";
    PutIni("LUMTRI~1.INI", "Main", &entry_x, &x);
    PutIni("LUMTRI~1.INI", "Main", &entry_y, &y);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    // No folder in the name: the file lies in the current folder.
    EXPECT_TRUE(std::filesystem::exists(drive.Root() / "LUMTRI~1.INI"));
    EXPECT_EQ(GetIni("LUMTRI~1.INI", "main", "xpos", "0"), "120");  // sections and keys ignore case
    EXPECT_EQ(GetIni("lumtri~1.ini  ", "Main  ", "YPos ", "0"), "45");  // arguments are clipped
    EXPECT_EQ(GetIni("LUMTRI~1.INI", "Main", "Width", "640"), "640");
    EXPECT_EQ(GetIni("NOSUCH.INI", "Main", "XPos", "dflt"), "dflt");

    PutIni("LUMTRI~1.INI", "Main", &entry_x, nullptr);  // omitted value: the entry goes
    EXPECT_EQ(GetIni("LUMTRI~1.INI", "Main", "XPos", "none"), "none");
    EXPECT_EQ(GetIni("LUMTRI~1.INI", "Main", "YPos", "none"), "45");
    PutIni("LUMTRI~1.INI", "Main", nullptr, nullptr);  // omitted entry: the section goes
    EXPECT_EQ(GetIni("LUMTRI~1.INI", "Main", "YPos", "none"), "none");
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(ProfileOps, EmptyFileNameIsTheMainProfile) {
    testing::TemporaryDrive drive;
    std::filesystem::create_directories(drive.Root() / "Windows");
    const std::string entry = "Device", value = "PDF,file,LPT1:";
    PutIni("", "windows", &entry, &value);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    // C:\WINDOWS\WIN.INI, found through the existing "Windows" folder whatever its case.
    EXPECT_NE(ReadFile(drive.Root() / "Windows" / "WIN.INI").find("Device=PDF,file,LPT1:"), std::string::npos);
    EXPECT_EQ(GetIni("", "Windows", "device", ""), "PDF,file,LPT1:");
    EXPECT_EQ(GetIni("C:\\windows\\win.ini", "Windows", "device", ""), "PDF,file,LPT1:");
}

TEST(ProfileOps, LongValuesAreCutAndFailuresReported) {
    testing::TemporaryDrive drive;
    const std::string entry = "Long", value(1500, 'v');
    PutIni("C:\\long.ini", "S", &entry, &value);
    EXPECT_EQ(GetIni("C:\\long.ini", "S", "Long", ""), std::string(1023, 'v'));

    // A profile in a folder that does not exist cannot be written: the error state says so.
    PutIni("C:\\NoSuchFolder\\x.ini", "S", &entry, &value);
    EXPECT_GT(Vrn$ERRCODE, 300);
    Vrn$clearerror();
}

TEST(ProfileOps, TooLongANameIsRefusedNotCut) {
    testing::TemporaryDrive drive;
    const std::string entry = "E", value = "1";
    const std::string name = "C:\\" + std::string(300, 'p') + ".ini";
    PutIni(name, "S", &entry, &value);
    EXPECT_EQ(Vrn$ERRCODE, 300 + 206);
    EXPECT_TRUE(std::filesystem::is_empty(drive.Root())); // no file of a cut name either
    EXPECT_EQ(GetIni(name, "S", "E", "dflt"), "dflt");
    Vrn$clearerror();
}

// Rewriting a profile replaces its contents, never what the file is: its mode, its owner and
// group, a link that leads to it.
TEST(ProfileOps, RewriteKeepsModeOwnerAndLink) {
    testing::TemporaryDrive drive;
    const std::string entry = "Left", first = "10", second = "20";
    const std::filesystem::path shared = drive.Root() / "shared.ini";
    PutIni("C:\\shared.ini", "Main", &entry, &first);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    struct stat info {};
    ASSERT_EQ(stat(shared.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u); // a new profile is private
    ASSERT_EQ(chmod(shared.c_str(), 0664), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
    }
    std::filesystem::create_symlink("shared.ini", drive.Root() / "link.ini");

    PutIni("C:\\link.ini", "Main", &entry, &second);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(drive.Root() / "link.ini"));
    EXPECT_EQ(GetIni("C:\\shared.ini", "Main", "Left", ""), "20");
    ASSERT_EQ(stat(shared.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
    if (root) {
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    PutIni("C:\\shared.ini", "Main", &entry, &first);
    ASSERT_EQ(stat(shared.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
}

}  // namespace
}  // namespace tarvex
