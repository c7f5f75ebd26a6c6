// SPDX-License-Identifier: GPL-3.0-or-later
// The environment file: the line and item syntax on tricky input, and what each key sets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/environment.h"
#include "tarvex/program.hpp"

namespace tarvex {
namespace {

class EnvironmentTest : public ::testing::Test {
protected:
    void TearDown() override { ResetEnvironment(); }
};

using Items = std::vector<std::string>;

TEST_F(EnvironmentTest, ParsesLinesIntoKeysAndItems) {
    struct Case {
        std::string text;
        std::string key;   // empty: no entry expected
        Items items;
    };
    const std::string long_value = "VRNLFN=" + std::string(1030, 'v');
    const Case cases[] = {
        {"VRNMONTH=Jan,Feb", "VRNMONTH", {"Jan", "Feb"}},
        {" vrn msg 35 = hello  world ", "VRNMSG35", {"hello", "world"}},
        {"KEY=a, b,,c\t d", "KEY", {"a", "b", "c", "d"}},
        {"KEY=\"two words\", \"say \"\"hi\"\"\"", "KEY", {"two words", "say \"hi\""}},
        {"KEY=\"\" x", "KEY", {"", "x"}},
        {"KEY=\"unterminated, still one", "KEY", {"unterminated, still one"}},
        {"KEY=\"ab\"cd", "KEY", {"ab", "cd"}},
        {"KEY=<65><66>C", "KEY", {"ABC"}},
        {"KEY=<<65>", "KEY", {"<65>"}},
        {"KEY=<32>,<44>,<34>", "KEY", {" ", ",", "\""}},   // escaped characters are always literal
        {"KEY=<256> <12 <> <x>", "KEY", {"<256>", "<12", "<>", "<x>"}},
        {"KEY=<0>", "KEY", {std::string(1, '\0')}},
        {"KEY=", "KEY", {}},
        {"KEY=a=b", "KEY", {"a=b"}},
        {"no equals sign", "", {}},
        {"=value", "", {}},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ12345=ok", "ABCDEFGHIJKLMNOPQRSTUVWXYZ12345", {"ok"}},   // 31
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ123456=too long", "", {}},                              // 32
        {long_value, "VRNLFN", {std::string(1024, 'v')}},
    };
    for (const Case& c : cases) {
        std::vector<EnvironmentEntry> entries = ParseEnvironmentText(c.text);
        if (c.key.empty()) {
            EXPECT_TRUE(entries.empty()) << c.text;
            continue;
        }
        ASSERT_EQ(entries.size(), 1u) << c.text;
        EXPECT_EQ(entries[0].key, c.key) << c.text;
        EXPECT_EQ(entries[0].items, c.items) << c.text;
    }
}

TEST_F(EnvironmentTest, LineEndsAndTheEndOfFileMark) {
    std::string text = "A=1\r\nB=2\n\nC=3\x1a" "D=4\nE=5";
    std::vector<EnvironmentEntry> entries = ParseEnvironmentText(text);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].items, Items{"1"});
    EXPECT_EQ(entries[1].key, "B");
    EXPECT_EQ(entries[2].key, "C");
    EXPECT_EQ(entries[2].items, Items{"3"});
}

TEST_F(EnvironmentTest, ArbitraryBytesParseWithoutHarm) {
    std::string text;
    for (int i = 0; i < 4096; i++) text += static_cast<char>((i * 7919 + i / 13) & 0xff);
    text += "\nVRNMSG7=\"<";
    ParseEnvironmentText(text);
    ApplyEnvironmentText(text);
    ApplyEnvironmentText(std::string_view());
    SUCCEED();
}

TEST_F(EnvironmentTest, MessageOverrides) {
    ApplyEnvironmentText(
        "VRNMSG35=\"Record not on file, \"\"really\"\"\" ignored\n"
        "vrnmsg 2 = Gone\n"
        "VRNMSG2=Replaced\n"
        "VRNMSG40=\n"
        "VRNMSGX=no number\n"
        "VRNMSG99999999999=too big\n");
    ASSERT_NE(FindMessageOverride(35), nullptr);
    EXPECT_STREQ(FindMessageOverride(35), "Record not on file, \"really\"");
    EXPECT_STREQ(FindMessageOverride(2), "Replaced");   // a later line wins
    EXPECT_STREQ(FindMessageOverride(40), "");
    EXPECT_EQ(FindMessageOverride(36), nullptr);
    EXPECT_EQ(Environment().messages.size(), 3u);
    ResetEnvironment();
    EXPECT_EQ(FindMessageOverride(35), nullptr);
}

TEST_F(EnvironmentTest, MonthsAmPmAndFlagsAreStored) {
    ApplyEnvironmentText(
        "VRNMONTH=Januar Februar M<228>rz April Mai Juni Juli August September Oktober November Dezember\n"
        "VRNMON=Jan,Feb,Mrz,Apr,Mai,Jun,Jul,Aug,Sep,Okt,Nov\n"   // 11 items: ignored
        "VRNAMPM=vorm. nachm. extra\n"
        "VRNCHARSET=oem\n"
        "VRNBUTTON=1 2\n"
        "VRNLFN=on\n");
    const EnvironmentSettings& settings = Environment();
    ASSERT_TRUE(settings.month_names.has_value());
    EXPECT_EQ((*settings.month_names)[2], "M\xe4rz");
    EXPECT_EQ((*settings.month_names)[11], "Dezember");
    EXPECT_FALSE(settings.month_abbreviations.has_value());
    ASSERT_TRUE(settings.am_pm.has_value());
    EXPECT_EQ((*settings.am_pm)[0], "vorm.");
    EXPECT_EQ((*settings.am_pm)[1], "nachm.");
    EXPECT_TRUE(settings.oem_charset);
    EXPECT_EQ(settings.button, (Items{"1", "2"}));
    EXPECT_EQ(settings.lfn, (Items{"on"}));

    ApplyEnvironmentText("VRNCHARSET=ANSI");
    EXPECT_FALSE(Environment().oem_charset);
}

// Keys the runtime does not read are settings for the program and its drivers: the variable of
// that name wins, blanks name nothing, the key is matched as the file's keys are.
TEST_F(EnvironmentTest, OtherKeysAreSettingsTheVariableOfTheNameWins) {
    unsetenv("LUM_TEST_SETTING");
    EXPECT_EQ(Vrn$GetSetting("LUM_TEST_SETTING", nullptr, 0), 0);
    ApplyEnvironmentText(" lum_test_set ting=\"host=/run/postgresql dbname=lumarex\"\nLUM_TEST_BLANK=\"  \"\n"
                         "LUM_TEST_ITEMS=a, b  c\n");
    struct Case {
        const char* variable; // null: not set
        const char* name;
        const char* value;
    } cases[] = {
        {nullptr, "LUM_TEST_SETTING", "host=/run/postgresql dbname=lumarex"},
        {nullptr, "Lum_Test_Setting", "host=/run/postgresql dbname=lumarex"},
        {" \t", "LUM_TEST_SETTING", "host=/run/postgresql dbname=lumarex"},
        {"dbname=other", "LUM_TEST_SETTING", "dbname=other"},
        {nullptr, "LUM_TEST_BLANK", ""},
        {nullptr, "LUM_TEST_ITEMS", "a b c"},
        {nullptr, "LUM_TEST_NOWHERE", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + (c.variable != nullptr ? c.variable : "(no variable)"));
        if (c.variable != nullptr)
            setenv(c.name, c.variable, 1);
        std::string value(size_t(Vrn$GetSetting(c.name, nullptr, 0)), '\0');
        EXPECT_EQ(value.size(), std::string(c.value).size());
        char small[5];
        EXPECT_EQ(Vrn$GetSetting(c.name, small, sizeof small), int32_t(value.size()));
        EXPECT_EQ(std::string(small), std::string(c.value).substr(0, 4)); // cut, and terminated
        EXPECT_EQ(tarvex::SETTING(c.name), c.value);
        unsetenv(c.name);
    }
}

}  // namespace
}  // namespace tarvex
