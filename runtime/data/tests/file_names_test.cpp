// SPDX-License-Identifier: GPL-3.0-or-later
// REMOVE, RENAME and COPY of files named on the string stack.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/tests/test_support.h"
#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace tarvex::testing {
namespace {

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(FileNames, RemoveRenameCopy) {
    TemporaryDrive drive;
    std::ofstream(drive.Root() / "Invoice.kel") << "claims";
    COPY("C:\\INVOICE.KEL", "C:\\Invoice.bak"); // the new name is pushed first
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Read(drive.Root() / "Invoice.bak"), "claims");
    RENAME("C:\\Invoice.bak", "C:\\Saved");
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Read(drive.Root() / "Saved.bak"), "claims");
    EXPECT_FALSE(std::filesystem::exists(drive.Root() / "Invoice.bak"));
    RENAME("C:\\Invoice.kel", "C:\\Saved.bak"); // never over an existing file
    EXPECT_EQ(ERRORCODE(), EEXIST);
    REMOVE("C:\\saved.BAK");
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_FALSE(std::filesystem::exists(drive.Root() / "Saved.bak"));
    REMOVE("C:\\saved.BAK");
    EXPECT_EQ(ERRORCODE(), 2);
    REMOVE("Q:\\nothing");
    EXPECT_EQ(ERRORCODE(), 2);
    COPY("C:\\missing.kel", "C:\\x.kel");
    EXPECT_EQ(ERRORCODE(), 2);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

} // namespace
} // namespace tarvex::testing
