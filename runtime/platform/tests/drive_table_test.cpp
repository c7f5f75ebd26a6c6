// SPDX-License-Identifier: GPL-3.0-or-later
// File names through the drive table: a program's Windows-style names against a temporary drive
// root, their Linux paths, and the way back.
#include "platform/platform.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

namespace tarvex::platform {
namespace {

using testing::ScopedEnv;
using testing::ScopedFolder;
using testing::TempFolder;

class DriveTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.MakeFolder("c/Lumarex/DATA");
        root_.MakeFolder("c/Lumarex/Backup");
        root_.MakeFile("c/Lumarex/DATA/Patient.kel", "x");
        root_.MakeFolder("c/Dup");
        root_.MakeFolder("c/DUP");
        root_.MakeFolder("c/dUP");
        ReloadDriveTable();
    }
    void TearDown() override {
        drive_c_.reset();
        drive_d_.reset();
        ReloadDriveTable();
    }
    std::string C() const { return root_ / "c"; }

    TempFolder root_;
    std::optional<ScopedEnv> drive_c_{std::in_place, "TARVEX_DRIVE_C", (root_ / "c").c_str()};
    std::optional<ScopedEnv> drive_d_{std::in_place, "TARVEX_DRIVE_D", nullptr};
};

TEST_F(DriveTableTest, ResolvesNamesOnDriveC) {
    struct Row {
        std::string name;
        std::string expected; // relative to the C: root, or absolute when it starts with '/'
    };
    const Row rows[] = {
        {"C:\\LUMAREX\\DATA\\PATIENT.KEL", "/Lumarex/DATA/Patient.kel"},
        {"c:/lumarex/data/patient.kel", "/Lumarex/DATA/Patient.kel"},
        {"C:\\Lumarex/Data\\NewFile.TPS", "/Lumarex/DATA/NewFile.TPS"},
        {"C:\\NoSuch\\Sub\\File.txt", "/NoSuch/Sub/File.txt"},
        {"C:\\LUMAREX\\.\\DATA\\..\\backup\\x", "/Lumarex/Backup/x"},
        {"C:\\Missing\\..\\lumarex", "/Lumarex"},
        {"C:\\..\\..\\etc", "/etc"},
        {"C:LUMAREX", "/Lumarex"},
        {"C:", ""},
        {"C:\\", ""},
        {"C:\\\\\\LUMAREX\\\\//", "/Lumarex"},
        {"C:\\dup", "/DUP"},
        {"C:\\Dup", "/Dup"},
        {"C:\\dUP", "/dUP"},
        {"C:\\DuP\\new", "/DUP/new"},
        {"C:\\LUMAREX\\DATA\\Patient.kel\\child", "/Lumarex/DATA/Patient.kel/child"},
    };
    for (const auto& row : rows) {
        std::string expected =
            row.expected.empty() || row.expected[0] == '/' ? C() + row.expected : row.expected;
        EXPECT_EQ(ResolveFileName(row.name), expected) << row.name;
    }
}

TEST_F(DriveTableTest, NamesThatCannotBeMappedGiveEmpty) {
    const std::string rows[] = {
        "",
        "Q:\\x",                    // unmapped letter
        "1:\\x",                    // not a letter
        "\\\\server\\share\\file",  // network name
        std::string("C:\\a\0b", 6), // embedded NUL
    };
    for (const auto& name : rows) {
        EXPECT_EQ(ResolveFileName(name), "") << name;
    }
}

TEST_F(DriveTableTest, LinuxPathsAndDriveZ) {
    EXPECT_EQ(ResolveFileName("/tmp/Some File"), "/tmp/Some File");
    EXPECT_EQ(ResolveFileName("//server/share"), "//server/share"); // a leading '/' is always Linux
    EXPECT_EQ(ResolveFileName("Z:\\"), "/");
    EXPECT_EQ(ResolveFileName("z:/"), "/");
    EXPECT_EQ(ResolveFileName(std::string("Z:") + C() + "/LUMAREX"), C() + "/Lumarex");
}

TEST_F(DriveTableTest, RelativeNamesStartFromTheCurrentFolder) {
    ScopedFolder here(C() + "/Lumarex");
    EXPECT_EQ(ResolveFileName("data\\patient.kel"), C() + "/Lumarex/DATA/Patient.kel");
    EXPECT_EQ(ResolveFileName(".\\Backup"), C() + "/Lumarex/Backup");
    EXPECT_EQ(ResolveFileName("..\\..\\..\\dup"), C() + "/DUP");          // ".." stops at the drive root
    EXPECT_EQ(ResolveFileName("\\LUMAREX\\DATA"), C() + "/Lumarex/DATA"); // root of this drive
    EXPECT_EQ(ResolveFileName("\\"), C());
    EXPECT_EQ(CurrentFolder(), "C:\\Lumarex");
}

TEST_F(DriveTableTest, OtherLettersComeFromTheEnvironment) {
    drive_d_.emplace("TARVEX_DRIVE_D", (C() + "/Lumarex/DATA/").c_str());
    ReloadDriveTable();
    EXPECT_EQ(ResolveFileName("D:\\PATIENT.KEL"), C() + "/Lumarex/DATA/Patient.kel");
    EXPECT_EQ(ResolveFileName("D:\\..\\..\\x"), C() + "/Lumarex/DATA/x");
    EXPECT_EQ(ResolveFileName("E:\\x"), "");
}

// The Z: spelling of a Linux path.
std::string OnZ(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "Z:" + path;
}

TEST_F(DriveTableTest, WindowsNamesOfLinuxPaths) {
    drive_d_.emplace("TARVEX_DRIVE_D", (C() + "/Lumarex/DATA").c_str());
    ReloadDriveTable();
    struct Row {
        std::string linux_path;
        std::string expected;
    };
    const Row rows[] = {
        {C() + "/Lumarex/DATA/Patient.kel", "D:\\Patient.kel"}, // the longest root wins
        {C() + "/Lumarex/Backup", "C:\\Lumarex\\Backup"},
        {C(), "C:\\"},
        {C() + "/", "C:\\"},
        {C() + "/Lumarex/./Backup/../DATA", "D:\\"},
        {C() + "x/file", OnZ(C() + "x/file")}, // a root is a whole component, not a prefix
        {"/", "Z:\\"},
        {"/etc/passwd", "Z:\\etc\\passwd"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(WindowsFileName(row.linux_path), row.expected) << row.linux_path;
    }
    ScopedFolder here(C() + "/Lumarex/Backup");
    EXPECT_EQ(WindowsFileName("../DATA/x"), "D:\\x");
}

TEST_F(DriveTableTest, DefaultDriveCFollowsXdgDataHome) {
    drive_c_.emplace("TARVEX_DRIVE_C", nullptr);
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
        ReloadDriveTable();
        EXPECT_EQ(ResolveFileName("C:\\WINDOWS\\WIN.INI"), "/srv/data/lumarex/drive_c/WINDOWS/WIN.INI");
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", "/home/someone");
    ReloadDriveTable();
    EXPECT_EQ(ResolveFileName("C:\\"), "/home/someone/.local/share/lumarex/drive_c");
    EXPECT_EQ(MainProfilePath(), "/home/someone/.local/share/lumarex/drive_c/WINDOWS/WIN.INI");
}

TEST_F(DriveTableTest, OddNamesDoNotCrash) {
    std::string deep = "C:";
    for (int i = 0; i < 5000; i++) {
        deep += "\\a";
    }
    std::string resolved = ResolveFileName(deep);
    EXPECT_EQ(resolved.size(), C().size() + 5000 * 2);
    EXPECT_EQ(ResolveFileName(std::string(70000, 'x')).size(),
              0u + std::filesystem::current_path().string().size() + 1 + 70000);
    EXPECT_EQ(ResolveFileName("C:\\\\\\\\"), C());
    EXPECT_EQ(ResolveFileName("C:..\\.."), C());
    EXPECT_EQ(WindowsFileName(std::string("/a\0b", 4)), "");
}

} // namespace
} // namespace tarvex::platform
