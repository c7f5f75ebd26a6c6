// SPDX-License-Identifier: GPL-3.0-or-later
// The help page the program leaves for F1: written once, whole and private, with a topic for every
// help keyword the program's windows name; a practice's own copy is kept.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/tests/test_support.h"
#include "shared/help_file.h"

namespace lumarex {
namespace {

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(HelpFile, IsWrittenOnceWithATopicForEachWindowAndAPracticesCopyIsKept) {
    tarvex::testing::TemporaryDrive drive;
    std::filesystem::path page = drive.Root() / "LUMAREX" / "LUMAREX.HLP";
    ASSERT_TRUE(InstallHelpFile());
    ASSERT_TRUE(std::filesystem::exists(page));
    struct stat facts{};
    ASSERT_EQ(stat(page.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(page.string() + ".new"));
    std::string text = Read(page);
    for (const char* topic : {"Main", "UpdatePAT", "UpdateINV", "Outstanding", "SigOnFile", "CIQL"})
        EXPECT_NE(text.find(std::string("<a name=\"") + topic + "\">"), std::string::npos) << topic;

    std::ofstream(page, std::ios::trunc) << "<html>our own notes</html>";
    ASSERT_TRUE(InstallHelpFile());
    EXPECT_EQ(Read(page), "<html>our own notes</html>");

    // A name the drive table cannot map is refused, not written somewhere else.
    EXPECT_FALSE(InstallHelpFile("Q:\\NOWHERE\\HELP.HLP"));
}

}  // namespace
}  // namespace lumarex
