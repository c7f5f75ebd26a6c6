// SPDX-License-Identifier: GPL-3.0-or-later
// Comparison under the character tables: the built-in byte order, a collation, case pairs and
// digraphs replaced through the environment file, and the tables' fingerprint.
#include <gtest/gtest.h>

#include <string>

#include "core/char_tables.h"
#include "core/environment.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

class CharTablesTest : public ::testing::Test {
protected:
    void TearDown() override { ResetEnvironment(); }
};

int Sign(int32_t value) { return (value > 0) - (value < 0); }

TEST_F(CharTablesTest, CompareUnderTheBuiltInTables) {
    struct Case {
        std::string first, second;
        int32_t result;
    };
    const Case cases[] = {
        {"abc", "abc  ", 0},     {"", "   ", 0},          {"a", "B", 97 - 66},
        {"B", "a", 66 - 97},     {"ab", "abc", ' ' - 'c'}, {"abc", "ab", 'c' - ' '},
        {"", "", 0},             {"a\t", "a", '\t' - ' '}, {"\xff", "\x01", 254},
        {std::string("a\0", 2), "a", -32},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareStrings(c.first, c.second), c.result) << '"' << c.first << "\" vs \"" << c.second << '"';
    }
    EXPECT_EQ(Vrn$comparestr(nullptr, 5, "  ", 2), 0);
}

TEST_F(CharTablesTest, ACollationFromTheEnvironmentFileOrdersTheListedCharacters) {
    ApplyEnvironmentText("VRNCOLSEQ=AaBbCc\n");
    struct Case {
        const char* first;
        const char* second;
        int sign;
    };
    const Case cases[] = {
        {"a", "B", -1},   {"A", "a", -1},  {"b", "C", -1},  {"Ab", "aB", -1},
        {"a", "a ", 0},   {"1", "A", -1},  // unlisted characters sort before listed ones
        {" ", "!", -1},   {"c", "", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(CompareStrings(c.first, c.second)), c.sign) << c.first << " vs " << c.second;
    }
    ApplyEnvironmentText("VRNCOLSEQ=\n");
    EXPECT_GT(CompareStrings("a", "B"), 0);   // an empty value restores byte order
}

TEST_F(CharTablesTest, WindowsCollationIsAnOrderOfAllCharacters) {
    ApplyEnvironmentText("VRNCOLSEQ=windows");
    const CharTables& tables = GetCharTables();
    bool seen[256] = {};
    for (uint8_t weight : tables.collation) {
        EXPECT_FALSE(seen[weight]);
        seen[weight] = true;
    }
    EXPECT_EQ(tables.collation[0], 0);
    for (char c = '0'; c < '9'; c++) EXPECT_LT(CompareStrings(std::string(1, c), std::string(1, c + 1)), 0);
    for (char c = 'a'; c < 'z'; c++) EXPECT_LT(CompareStrings(std::string(1, c), std::string(1, c + 1)), 0);
}

TEST_F(CharTablesTest, DigraphsCompareAsTheirTwoCharacters) {
    ApplyEnvironmentText("VRNDIGRAPH=<223>ss,<230>ae\n");
    struct Case {
        const char* first;
        const char* second;
        int sign;
    };
    const Case cases[] = {
        {"Stra\xdf" "e", "Strasse", 0},  {"Stra\xdf", "Strass", 0},   {"Stra\xdf", "Strasse", -1},
        {"Stra\xdf" "e", "Strassf", -1}, {"Stra\xdf" "e", "Strasr", 1}, {"\xe6", "ae  ", 0},
        {"\xe6" "b", "af", -1},          {"a\xdf", "asa", 1},          {"x", "\xdf", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(CompareStrings(c.first, c.second)), c.sign) << c.first << " vs " << c.second;
    }
}

TEST_F(CharTablesTest, CasePairsFromTheEnvironmentFile) {
    EXPECT_EQ(ToUpper('\xe4'), '\xe4');
    ApplyEnvironmentText("VRNCASE=<196><228>,<214><246>, xyz\n");
    EXPECT_EQ(ToUpper('\xe4'), '\xc4');
    EXPECT_EQ(ToLower('\xd6'), '\xf6');
    EXPECT_TRUE(IsUpperChar('\xc4'));
    EXPECT_TRUE(IsLowerChar('\xe4'));
    EXPECT_TRUE(HasOtherCase('\xf6'));
    EXPECT_EQ(ToUpper('q'), 'Q');   // the built-in pairs stay
    EXPECT_EQ(ToUpper('x'), 'X');   // an item of three characters is ignored

    // Pairing a letter anew takes the case from its former partner.
    ApplyEnvironmentText("VRNCASE=A<228>\n");
    EXPECT_EQ(ToUpper('\xe4'), 'A');
    EXPECT_EQ(ToLower('A'), '\xe4');
    EXPECT_FALSE(HasOtherCase('a'));
    EXPECT_FALSE(HasOtherCase('\xc4'));
}

TEST_F(CharTablesTest, TheFingerprintFollowsTheTables) {
    const uint64_t built_in = CharTablesFingerprint();
    ApplyEnvironmentText("VRNCOLSEQ=ba");
    const uint64_t collation = CharTablesFingerprint();
    EXPECT_NE(collation, built_in);
    ApplyEnvironmentText("VRNCASE=<196><228>");
    EXPECT_NE(CharTablesFingerprint(), collation);
    ResetEnvironment();
    EXPECT_EQ(CharTablesFingerprint(), built_in);
    ApplyEnvironmentText("VRNDIGRAPH=<223>ss");
    EXPECT_NE(CharTablesFingerprint(), built_in);
}

TEST_F(CharTablesTest, ACollationThatIsNotAPermutationIsRefused) {
    uint8_t order[256] = {};
    SetCollationOrder(order);
    EXPECT_EQ(GetCharTables().collation[static_cast<uint8_t>('b')], 'b');
}

TEST_F(CharTablesTest, AtMostSixteenDigraphs) {
    std::string value = "VRNDIGRAPH=";
    for (int c = 200; c < 220; c++) value += "<" + std::to_string(c) + ">xy ";
    ApplyEnvironmentText(value);
    EXPECT_EQ(GetCharTables().digraph_count, kMaxDigraphs);
    EXPECT_EQ(CompareStrings("\xd7", "xy"), 0);    // 215: the 16th
    EXPECT_NE(CompareStrings("\xd8", "xy"), 0);    // 216: beyond the table
}

}  // namespace
}  // namespace tarvex
