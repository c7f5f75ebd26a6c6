// SPDX-License-Identifier: GPL-3.0-or-later
// The string functions as golden tables: value | arguments | exact result. Every case runs on each
// kind of entry (a reference to a variable, an inline entry, an owned block), because each kind
// takes its own path through narrowing, privatising and extending.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <string>

#include "core/string_stack.h"
#include "core/tests/test_support.h"

namespace tarvex {
namespace {

using testing::PopText;

enum class Kind { Reference, Inline, Owned };
const char* KindName(Kind kind) {
    return kind == Kind::Reference ? "reference" : kind == Kind::Inline ? "inline" : "owned";
}

class StringFunctionsTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Vrw$StackDepth(), 0u) << "the test left entries on the stack";
        for (size_t i = 0; i < variables_.size(); i++) {
            EXPECT_EQ(variables_[i], originals_[i]) << "an operation changed a pushed variable";
        }
    }

    // Pushes text as an entry of the given kind; false when the kind cannot hold it (inline > 20).
    bool PushAs(Kind kind, const std::string& text) {
        switch (kind) {
        case Kind::Reference:
            variables_.push_back(text);
            originals_.push_back(text);
            Vrn$PushString(variables_.back().data(), static_cast<uint32_t>(text.size()));
            return true;
        case Kind::Inline:
            if (text.size() > VRN_ENTRY_INLINE_SIZE) return false;
            Vrn$PushString(text.data(), static_cast<uint32_t>(text.size()));
            Vrn$StackHeap();
            return true;
        case Kind::Owned: {
            auto* block = static_cast<char*>(std::malloc(text.size() + 1));
            std::memcpy(block, text.data(), text.size());
            Vrn$PushTemp(block, static_cast<uint32_t>(text.size()));
            return true;
        }
        }
        return false;
    }

    // Runs operation on text pushed as each kind and checks the popped result.
    void ExpectOnEveryKind(const std::string& text, const std::function<void()>& operation,
                           const std::string& expected, const std::string& label) {
        for (Kind kind : {Kind::Reference, Kind::Inline, Kind::Owned}) {
            if (!PushAs(kind, text)) continue;
            operation();
            EXPECT_EQ(PopText(), expected) << label << " on '" << text << "' as " << KindName(kind);
        }
    }

    std::deque<std::string> variables_;
    std::deque<std::string> originals_;
};

TEST_F(StringFunctionsTest, Sub) {
    struct Case {
        const char* value;
        int32_t start, length;
        const char* result;
    };
    const Case cases[] = {
        {"ABCDEF", -2, 5, "EF"},     {"ABCDEF", 3, 2, "CD"},       {"ABCDEF", 9, 2, ""},
        {"ABCDEF", 0, 3, "ABC"},     // start 0 counts as start 1
        {"ABCDEF", 1, -1, "ABCDEF"}, {"ABCDEF", 2, -5, "BCDEF"},  // a negative length takes the rest
        {"ABCDEF", -10, 2, "AB"},    {"ABCDEF", 6, 5, "F"},       {"ABCDEF", 7, 1, ""},
        {"ABCDEF", 2, 0, ""},        {"ABCDEF", INT32_MIN, 2, "AB"}, {"ABCDEF", INT32_MAX, 1, ""},
        {"", 1, 5, ""},              {"abcdefghijklmnopqrstuvwxyz", 20, 4, "tuvw"},
    };
    for (const Case& c : cases) {
        ExpectOnEveryKind(c.value, [&] { Vrn$StackSUB(c.start, c.length); }, c.result,
                          "SUB(" + std::to_string(c.start) + "," + std::to_string(c.length) + ")");
    }
}

TEST_F(StringFunctionsTest, LeftRightCenter) {
    struct Case {
        const char* value;
        int32_t width;
        const char* left;
        const char* right;
        const char* center;
    };
    const std::string long_text = "abcdefghijklmnopqrst  ";   // 22 characters
    const Case cases[] = {
        {"ab  ", 4, "ab  ", "  ab", " ab "},
        {"  ab", 4, "ab  ", "  ab", " ab "},
        {"  ab", -1, "ab  ", "  ab", " ab "},
        {"ab", 5, "ab   ", "   ab", "  ab "},    // an odd pad puts the extra blank on the left
        {"abcdef", 3, "abc", "def", "cde"},
        {"abcdef", 4, "abcd", "cdef", "bcde"},
        {"abcdef", 5, "abcde", "bcdef", "bcdef"},
        {"  ab  ", 3, "ab ", " ab", " ab"},
        {" x ", 5, "x    ", "    x", "  x  "},
        {"", 3, "   ", "   ", "   "},
        {"abc", 0, "", "", ""},
        {"   ", 2, "  ", "  ", "  "},
        {"abc", 24, "abc                     ", "                     abc", "           abc          "},
        {"abcdefghijklmnopqrst  ", -1, "abcdefghijklmnopqrst  ", "  abcdefghijklmnopqrst",
         " abcdefghijklmnopqrst "},
    };
    for (const Case& c : cases) {
        std::string w = "(" + std::to_string(c.width) + ")";
        ExpectOnEveryKind(c.value, [&] { Vrn$StackLEFT(c.width); }, c.left, "LEFT" + w);
        ExpectOnEveryKind(c.value, [&] { Vrn$StackRIGHT(c.width); }, c.right, "RIGHT" + w);
        ExpectOnEveryKind(c.value, [&] { Vrn$StackCENTER(c.width); }, c.center, "CENTER" + w);
    }
}

TEST_F(StringFunctionsTest, ClipAllUpperLower) {
    struct Case {
        const char* function;
        const char* value;
        int32_t argument;
        std::string result;
    };
    const Case cases[] = {
        {"CLIP", "ab  ", 0, "ab"},
        {"CLIP", "   ", 0, ""},
        {"CLIP", "  a", 0, "  a"},
        {"ALL", "ab", 5, "ababa"},
        {"ALL", "x", 3, "xxx"},
        {"ALL", "", 3, "   "},   // ALL of an empty value gives blanks
        {"ALL", "abc", 0, ""},
        {"ALL", "abc", -2, ""},
        {"ALL", "abc", 25, "abcabcabcabcabcabcabcabca"},
        {"UPPER", "Hello, World 1\xe4", 0, "HELLO, WORLD 1\xe4"},
        {"UPPER", "a twenty-two char one", 0, "A TWENTY-TWO CHAR ONE"},
        {"LOWER", "Hello, World 1\xc4", 0, "hello, world 1\xc4"},
    };
    for (const Case& c : cases) {
        std::string function = c.function;
        auto operation = [&] {
            if (function == "CLIP") Vrn$StackCLIP();
            if (function == "ALL") Vrn$StackALL(c.argument);
            if (function == "UPPER") Vrn$StackUPPER();
            if (function == "LOWER") Vrn$StackLOWER();
        };
        ExpectOnEveryKind(c.value, operation, c.result, function + "(" + std::to_string(c.argument) + ")");
    }
}

TEST_F(StringFunctionsTest, NarrowingCopiesNothing) {
    std::string variable = "  ABCDEF  ";
    Vrn$PushString(variable.data(), static_cast<uint32_t>(variable.size()));
    Vrn$StackCLIP();
    Vrn$StackSUB(3, 3);
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_REFERENCE);
    EXPECT_EQ(EntryAt(0)->address, variable.data() + 2);
    Vrn$StackLEFT(2);
    EXPECT_EQ(EntryAt(0)->address, variable.data() + 2);
    EXPECT_EQ(PopText(), "AB");

    // An owned value keeps its block (it must stay freeable); its characters move inside it.
    auto* block = static_cast<char*>(std::malloc(10));
    std::memcpy(block, "  ABCDEF  ", 10);
    Vrn$PushTemp(block, 10);
    Vrn$StackSUB(4, 5);
    EXPECT_EQ(EntryAt(0)->address, block);
    Vrn$StackRIGHT(3);
    EXPECT_EQ(EntryAt(0)->address, block);
    EXPECT_EQ(PopText(), "DEF");
}

TEST_F(StringFunctionsTest, ConcatenationOfEveryPairOfKinds) {
    const std::string first_texts[] = {"", "Smith, ", "a first operand of 25 ch"};
    const std::string second_texts[] = {"", "John", "a second operand, 26 chars"};
    for (Kind first_kind : {Kind::Reference, Kind::Inline, Kind::Owned}) {
        for (Kind second_kind : {Kind::Reference, Kind::Inline, Kind::Owned}) {
            for (const std::string& first : first_texts) {
                for (const std::string& second : second_texts) {
                    for (bool reversed : {false, true}) {
                        if (!PushAs(first_kind, first)) continue;
                        if (!PushAs(second_kind, second)) {
                            Vrn$STACKpop();
                            continue;
                        }
                        reversed ? Vrn$StackConcatR() : Vrn$StackConcat();
                        EXPECT_EQ(PopText(), reversed ? second + first : first + second)
                            << KindName(first_kind) << " & " << KindName(second_kind);
                    }
                }
            }
        }
    }
}

TEST_F(StringFunctionsTest, AShortConcatenationStaysInline) {
    std::string a = "Smith", b = ", ";
    Vrn$PushString(a.data(), 5);
    Vrn$PushString(b.data(), 2);
    Vrn$StackConcat();
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_INLINE);
    Vrn$PushString(a.data(), 5);
    Vrn$StackConcat();
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_INLINE);
    EXPECT_EQ(PopText(), "Smith, Smith");
}

TEST_F(StringFunctionsTest, Instring) {
    struct Case {
        const char* substring;
        const char* string;
        int32_t step, start, result;
    };
    const Case cases[] = {
        {"C", "ABCDEF", 1, 1, 3},    {"CD", "ABCDEF", 2, 1, 2},   {"X", "ABC", 1, 1, 0},
        {"C", "ABCDEF", 1, 0, 0},    {"", "ABC", 1, 1, 0},        {"ABCD", "ABC", 1, 1, 0},
        {"C", "ABCDEF", 1, 3, 3},    {"C", "ABCDEF", 1, 4, 0},    {"A", "ABC", 1, 5, 0},
        {"CD", "ABCDEF", 0, 1, 2},   // step 0 is the substring's length
        {"DE", "ABCDEF", 2, 1, 0},   {"EF", "ABCDEF", 2, 1, 3},   {"D", "ABCDEF", 3, 1, 2},
        {"DE", "ABCDEF", 2, 2, 2},   // slots count from the string's start, not from the start given
        {"C", "ABCDEF", -1, 1, 0},   {"C", "ABCDEF", 1, -1, 0},   {"F", "ABCDEF", 1, 6, 6},
        {"abcde", "xxabcdexx", 1, 1, 3},
    };
    for (const Case& c : cases) {
        PushAs(Kind::Reference, c.string);
        PushAs(Kind::Inline, c.substring);
        EXPECT_EQ(Vrn$StackINSTRING(c.step, c.start), c.result)
            << "INSTRING('" << c.substring << "','" << c.string << "'," << c.step << "," << c.start << ")";
    }
}

TEST_F(StringFunctionsTest, InstringSkipTableSearchAgreesWithAPlainSearch) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 400; round++) {
        std::string haystack(257 + random() % 400, 'a');
        for (char& c : haystack) c = "ab"[random() % 2];
        std::string needle(5 + random() % 8, 'a');
        for (char& c : needle) c = "ab"[random() % 2];
        if (round % 3 == 0) haystack.replace(haystack.size() - needle.size(), needle.size(), needle);
        int32_t start = 1 + static_cast<int32_t>(random() % haystack.size());
        size_t expected = haystack.find(needle, static_cast<size_t>(start - 1));
        PushAs(Kind::Owned, haystack);
        PushAs(Kind::Owned, needle);
        EXPECT_EQ(Vrn$StackINSTRING(1, start), expected == std::string::npos ? 0 : static_cast<int32_t>(expected + 1))
            << needle << " from " << start << " in " << haystack;
    }
}

TEST_F(StringFunctionsTest, InlistFindsTheFirstEqualItem) {
    // Items are pushed last to first, so item 1 lies directly beneath the value.
    struct Case {
        const char* value;
        int32_t result;
    };
    const Case cases[] = {{"b", 2}, {"a   ", 1}, {"c", 3}, {"d", 0}, {"", 0}};
    for (const Case& c : cases) {
        for (const char* item : {"c", "b  ", "a"}) PushAs(Kind::Reference, item);
        PushAs(Kind::Inline, c.value);
        EXPECT_EQ(Vrn$StackINLIST(3), c.result) << c.value;
    }
}

TEST_F(StringFunctionsTest, CompareAndCompareRTakeTheOperandsInOrder) {
    PushAs(Kind::Reference, "a");
    PushAs(Kind::Reference, "b");
    EXPECT_LT(Vrn$StackCompare(), 0);
    PushAs(Kind::Reference, "a");
    PushAs(Kind::Reference, "b");
    EXPECT_GT(Vrn$StackCompareR(), 0);
    PushAs(Kind::Owned, "abc  ");
    PushAs(Kind::Inline, "abc");
    EXPECT_EQ(Vrn$StackCompare(), 0);
}

TEST_F(StringFunctionsTest, SingleValueTests) {
    struct Case {
        std::string value;
        int32_t val, compare_n, is_alpha, is_upper, is_lower;
    };
    const Case cases[] = {
        {"A", 65, 1, 1, 1, 0},   {"z", 122, 1, 1, 0, 1},  {"5", 53, 1, 0, 0, 0},
        {"", 32, 0, 0, 0, 0},    {"   ", 32, 0, 0, 0, 0},  {" x", 32, 1, 0, 0, 0},
        {"\xe4", 228, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        PushAs(Kind::Reference, c.value);
        EXPECT_EQ(Vrn$StackVAL(), c.val) << '"' << c.value << '"';
        PushAs(Kind::Reference, c.value);
        EXPECT_EQ(Vrn$StackCompareN(), c.compare_n) << '"' << c.value << '"';
        PushAs(Kind::Reference, c.value);
        EXPECT_EQ(Vrn$IsAlpha(), c.is_alpha) << '"' << c.value << '"';
        PushAs(Kind::Reference, c.value);
        EXPECT_EQ(Vrn$IsUpper(), c.is_upper) << '"' << c.value << '"';
        PushAs(Kind::Reference, c.value);
        EXPECT_EQ(Vrn$IsLower(), c.is_lower) << '"' << c.value << '"';
    }
}

}  // namespace
}  // namespace tarvex
