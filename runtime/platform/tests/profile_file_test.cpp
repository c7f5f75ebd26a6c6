// SPDX-License-Identifier: GPL-3.0-or-later
// Profile files: lookups and edits on profile texts (golden tables), round trips of awkward values,
// the files themselves, and a reader that never sees half a file while a writer rewrites it.
#include "platform/platform.h"
#include "temp_folder.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace tarvex::platform {
namespace {

using testing::ReadText;
using testing::TempFolder;

const char kSample[] = "; top comment\n"
                       "orphan=before any section\n"
                       "[Window]\n"
                       "X=10\n"
                       "  y = 20  \n"
                       "Name = \"  padded  \"\n"
                       "Quoted=\"a\"\n"
                       "Half=\"a\n"
                       "empty=\n"
                       "noequals\n"
                       "x=shadowed\n"
                       "; inside=comment\n"
                       "\n"
                       "[window]\n"
                       "Z=99\n"
                       "  [ Other ]  trailing\n"
                       "key=value ; not a comment\n"
                       "eq=a=b\n";

TEST(ProfileText, Lookups) {
    struct Row {
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {"Window", "X", "10"},
        {"WINDOW", "x", "10"},            // first match wins, any case
        {"window", "Y", "20"},            // blanks around keys and values trimmed
        {"Window", "Name", "  padded  "}, // one pair of enclosing quotes removed
        {"Window", "Quoted", "a"},
        {"Window", "Half", "\"a"}, // a lone quote stays
        {"Window", "empty", ""},
        {"Window", "noequals", ""},
        {"Window", "inside", std::nullopt}, // comment lines are not keys
        {"Window", "Z", std::nullopt},      // only the first section of a name is read
        {"Other", "key", "value ; not a comment"},
        {" other ", " KEY ", "value ; not a comment"},
        {"Other", "eq", "a=b"},
        {"", "orphan", std::nullopt}, // lines before the first section belong to none
        {"Missing", "X", std::nullopt},
        {"Window", "", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FindProfileValue(kSample, row.section, row.key), row.expected)
            << row.section << "/" << row.key;
    }
}

TEST(ProfileText, LookupsWithCrLfAndNoFinalLineEnd) {
    const char text[] = "[A]\r\nk=v\r\n\r\n[B]\r\nk = w";
    EXPECT_EQ(FindProfileValue(text, "a", "K"), "v");
    EXPECT_EQ(FindProfileValue(text, "B", "k"), "w");
}

struct EditRow {
    std::string input;
    std::string section;
    std::optional<std::string> key;
    std::optional<std::string> value;
    std::optional<std::string> expected;
};

std::optional<std::string_view> View(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

TEST(ProfileText, Edits) {
    const auto none = std::nullopt;
    const EditRow rows[] = {
        // Writing creates the section at the end, with "\n" in a new text.
        {"", "S", "k", "v", "[S]\nk=v\n"},
        // Replacing keeps the key's place and spelling and the file's CRLF.
        {"[S]\r\nk=v\r\nz=1\r\n", "s", "K", "w", "[S]\r\nk=w\r\nz=1\r\n"},
        {";lead\r\n\r\n[S]\r\n  k = old ; x\r\n", "S", "K", "new", ";lead\r\n\r\n[S]\r\nk=new\r\n"},
        // A new key goes after the last key of its section.
        {"[S]\na=1\n\n[T]\nb=2\n", "S", "c", "3", "[S]\na=1\nc=3\n\n[T]\nb=2\n"},
        {"[S]\n\n; about T\n[T]\n", "S", "k", "v", "[S]\nk=v\n\n; about T\n[T]\n"},
        {"[S]\na=1\n; trailing note\n", "S", "b", "2", "[S]\na=1\nb=2\n; trailing note\n"},
        // A last line without its line end is completed.
        {"[S]\na=1", "S", "b", "2", "[S]\na=1\nb=2\n"},
        {"[S]\na=1", "T", "b", "2", "[S]\na=1\n\n[T]\nb=2\n"},
        {"[S]\r\na=1\r\n\r\n", "T", "b", "2", "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n"},
        // Values that would not read back as written are quoted.
        {"[S]\n", "S", "k", " x ", "[S]\nk=\" x \"\n"},
        {"[S]\n", "S", "k", "\"q\"", "[S]\nk=\"\"q\"\"\n"},
        {"[S]\n", "S", "k", "", "[S]\nk=\n"},
        // Deleting a section removes every section of the name with its lines.
        {"[S]\n; c\na=1\n[T]\nb=2\n", "S", none, none, "[T]\nb=2\n"},
        {"[S]\na=1\n[T]\na=2\n[s]\na=3\n", "s", none, none, "[T]\na=2\n"},
        // Deleting a key removes it (and its shadowed repeats) from the section reads see.
        {"[S]\na=1\nA=2\nb=3\n[S]\na=4\n", "S", "a", none, "[S]\nb=3\n[S]\na=4\n"},
        // Nothing to do leaves the text as it was.
        {"[S]\nk=v\n", "S", "missing", none, "[S]\nk=v\n"},
        {"junk without sections", "S", none, none, "junk without sections"},
        {"[S]\nk=v\n", "S", "k", "v", "[S]\nk=v\n"},
        // Requests that could not be read back are refused.
        {"[S]\n", "S", "", "v", none},
        {"[S]\n", "S", "a=b", "v", none},
        {"[S]\n", "S", ";k", "v", none},
        {"[S]\n", "S", "[k", "v", none},
        {"[S]\n", "S", "k", "a\nb", none},
        {"[S]\n", "S", "k", "a\rb", none},
        {"[S]\n", "a\nb", "k", "v", none},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EditProfileText(row.input, row.section, View(row.key), View(row.value)), row.expected)
            << "input: " << row.input << " section: " << row.section << " key: " << row.key.value_or("<none>")
            << " value: " << row.value.value_or("<none>");
    }
}

TEST(ProfileText, AwkwardValuesReadBackAsWritten) {
    const std::string values[] = {
        "",         " ",   "  lead", "trail  ", "\"",    "\"\"", "\"x\"",
        "\"x",      "x\"", "a;b",    "[x]",     "a = b", "\t",   std::string("n\0ul", 4),
        "\xE9t\xE9"};
    for (const auto& value : values) {
        auto text = EditProfileText("[S]\nother=1\n", "S", "k", value);
        ASSERT_TRUE(text.has_value()) << value;
        EXPECT_EQ(FindProfileValue(*text, "S", "k"), value) << *text;
        EXPECT_EQ(FindProfileValue(*text, "S", "other"), "1");
    }
}

class ProfileFileTest : public ::testing::Test {
  protected:
    TempFolder folder_;
    std::string path_ = folder_ / "LUMTRI~1.INI";
};

TEST_F(ProfileFileTest, MissingFileReadsAsEmpty) {
    EXPECT_EQ(ReadProfileString(path_, "S", "k", "fallback"), "fallback");
    EXPECT_TRUE(WriteProfileString(path_, "S", "k", std::nullopt));
    EXPECT_TRUE(WriteProfileString(path_, "S", std::nullopt, std::nullopt));
    EXPECT_FALSE(FileExists(path_)); // deleting from nothing creates nothing
}

TEST_F(ProfileFileTest, WritesCreateThePrivateFileAndKeepTheRest) {
    ASSERT_TRUE(WriteProfileString(path_, "Browse", "X", "10"));
    ASSERT_TRUE(WriteProfileString(path_, "Browse", "Y", "20"));
    ASSERT_TRUE(WriteProfileString(path_, "Form", "Maximize", "No"));
    ASSERT_TRUE(WriteProfileString(path_, "browse", "x", "15"));
    EXPECT_EQ(ReadText(path_), "[Browse]\nX=15\nY=20\n\n[Form]\nMaximize=No\n");
    struct stat info;
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadProfileString(path_, "BROWSE", "y", ""), "20");
    ASSERT_TRUE(WriteProfileString(path_, "Browse", std::nullopt, std::nullopt));
    EXPECT_EQ(ReadText(path_), "[Form]\nMaximize=No\n");
}

TEST_F(ProfileFileTest, ForeignBytesSurviveAnEdit) {
    using namespace std::string_literals;
    const std::string original = "\xEF\xBB\xBF[S]\r\n\tk\t=\tv\t\r\n\x01\x02 junk\r\n[T]\r\nz=\0\r\n"s;
    folder_.MakeFile("LUMTRI~1.INI", original);
    EXPECT_EQ(ReadProfileString(path_, "s", "K", ""), "v"); // a byte-order mark does not hide [S]
    ASSERT_TRUE(WriteProfileString(path_, "T", "n", "1"));
    std::string expected = original + "n=1\r\n";
    EXPECT_EQ(ReadText(path_), expected);
}

TEST_F(ProfileFileTest, FailuresSetTheLastError) {
    SetLastError(0);
    EXPECT_FALSE(WriteProfileString(folder_ / "NoSuchFolder/X.INI", "S", "k", "v"));
    EXPECT_EQ(LastError(), 3); // Path Not Found
    folder_.MakeFolder("ADir.INI");
    EXPECT_FALSE(WriteProfileString(folder_ / "ADir.INI", "S", "k", "v"));
    EXPECT_EQ(LastError(), 5); // Access Denied
    EXPECT_FALSE(WriteProfileString(path_, "S", "k", "line\nbreak"));
    EXPECT_EQ(LastError(), 87); // Invalid Parameter
    EXPECT_FALSE(FileExists(path_));
}

// A reader going round in a loop while a writer rewrites the file only ever sees whole versions.
TEST_F(ProfileFileTest, ReaderNeverSeesHalfAFile) {
    const size_t kLength = 20000;
    ASSERT_TRUE(WriteProfileString(path_, "Data", "value", std::string(kLength, 'A')));
    ASSERT_TRUE(WriteProfileString(path_, "Tail", "end", "yes"));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load() || reads.load() < 50) {
            auto text = ReadWholeFile(path_);
            reads++;
            if (!text) {
                torn++;
                continue;
            }
            auto value = FindProfileValue(*text, "Data", "value");
            bool whole = value && value->size() == kLength &&
                         value->find_first_not_of((*value)[0]) == std::string::npos &&
                         FindProfileValue(*text, "Tail", "end") == "yes";
            if (!whole) {
                torn++;
            }
        }
    });
    for (int version = 1; version <= 150; version++) {
        ASSERT_TRUE(
            WriteProfileString(path_, "Data", "value", std::string(kLength, char('A' + version % 26))));
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_EQ(ReadProfileString(path_, "Data", "value", "").substr(0, 1),
              std::string(1, char('A' + 150 % 26)));
    // No temporary files are left beside the profile.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
        entries++;
    }
    EXPECT_EQ(entries, 1);
}

} // namespace
} // namespace tarvex::platform
