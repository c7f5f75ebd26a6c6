// SPDX-License-Identifier: GPL-3.0-or-later
// MKDIR: a folder named on the string stack, made with the folders above it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/tests/test_support.h"
#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace tarvex::testing {
namespace {

namespace fs = std::filesystem;

TEST(MakeFolder, MakesTheFolderAndTheFoldersAboveItPrivately) {
    TemporaryDrive drive;
    fs::create_directories(drive.Root() / "LUMAREX");
    MKDIR("C:\\lumarex\\Backup\\2026\\");  // an existing folder is found whatever its case
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_TRUE(fs::is_directory(drive.Root() / "LUMAREX" / "Backup" / "2026"));
    EXPECT_FALSE(fs::exists(drive.Root() / "lumarex"));
    for (const fs::path& made : {drive.Root() / "LUMAREX" / "Backup", drive.Root() / "LUMAREX" / "Backup" / "2026"})
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
    MKDIR("C:\\LUMAREX\\BACKUP");  // there already: no error
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(MakeFolder, AFileInTheWayIsRefused) {
    TemporaryDrive drive;
    std::ofstream(drive.Root() / "Backup") << "a file";
    MKDIR("C:\\Backup");
    EXPECT_EQ(ERRORCODE(), 5);
    MKDIR("C:\\Backup\\Inner");
    EXPECT_NE(ERRORCODE(), 0);
    MKDIR("Q:\\nowhere");  // a drive that is not mapped
    EXPECT_EQ(ERRORCODE(), 2);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

} // namespace
} // namespace tarvex::testing
