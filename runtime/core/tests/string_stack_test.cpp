// SPDX-License-Identifier: GPL-3.0-or-later
// The string stack itself: entry kinds, reference semantics, StackHeap, Rotate, capacity and the
// empty stack, pushes and pops of every form, numbers as text, and the storage routines.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/string_stack.h"
#include "core/tests/test_support.h"

namespace tarvex {
namespace {

using testing::PopText;
using testing::PushText;

class StringStackTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Vrw$StackDepth(), 0u) << "the test left entries on the stack"; }
};

char* HeapCopy(std::string_view text) {
    auto* block = static_cast<char*>(std::malloc(text.size()));
    std::memcpy(block, text.data(), text.size());
    return block;
}

// ---- Kinds and references ------------------------------------------------------------------------

TEST_F(StringStackTest, EachPushMakesItsKindOfEntry) {
    char variable[5] = {'a', 'b', 'c', ' ', ' '};
    Vrn$PushString(variable, 5);
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_REFERENCE);
    EXPECT_EQ(EntryAt(0)->address, variable);   // nothing copied

    Vrn$PushLong(-12345);
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_INLINE);
    EXPECT_EQ(EntryAt(0)->address, EntryAt(0)->inline_buffer);

    Vrn$PushCString("exactly twenty chars");
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_INLINE);
    Vrn$PushCString("twenty-one characters");
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_OWNED);

    char* block = HeapCopy("temp");
    Vrn$PushTemp(block, 4);
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_OWNED);
    EXPECT_EQ(EntryAt(0)->address, block);

    EXPECT_EQ(PopText(), "temp");
    EXPECT_EQ(PopText(), "twenty-one characters");
    EXPECT_EQ(PopText(), "exactly twenty chars");
    EXPECT_EQ(PopText(), "-12345");
    EXPECT_EQ(PopText(), "abc  ");
}

TEST_F(StringStackTest, NullAndEmptyPushes) {
    Vrn$PushString(nullptr, 7);
    EXPECT_EQ(Vrn$StackLen(), 0u);
    Vrn$PushCString(nullptr);
    EXPECT_EQ(Vrn$StackLen(), 0u);
    Vrn$PushNull();
    EXPECT_EQ(EntryAt(0)->address, nullptr);
    EXPECT_EQ(Vrn$StackLen(), 0u);
    Vrn$PushBool(0);
    EXPECT_EQ(PopText(), "");
    Vrn$PushBool(-7);
    EXPECT_EQ(PopText(), "1");
}

TEST_F(StringStackTest, AReferenceSeesLaterChangesOfTheVariableUntilPopped) {
    char variable[4] = {'o', 'l', 'd', '!'};
    Vrn$PushString(variable, 4);
    std::memcpy(variable, "new?", 4);
    EXPECT_EQ(PopText(), "new?");
}

TEST_F(StringStackTest, StackHeapMakesAReferencePrivate) {
    char short_variable[20];
    std::memset(short_variable, 'x', sizeof short_variable);
    Vrn$PushString(short_variable, 20);
    Vrn$StackHeap();
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_INLINE);
    short_variable[0] = 'y';
    EXPECT_EQ(PopText(), std::string(20, 'x'));

    char long_variable[21];
    std::memset(long_variable, 'x', sizeof long_variable);
    Vrn$PushString(long_variable, 21);
    Vrn$StackHeap();
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_OWNED);
    long_variable[0] = 'y';
    EXPECT_EQ(PopText(), std::string(21, 'x'));
}

TEST_F(StringStackTest, UpperOfAPushedVariableLeavesTheVariableAlone) {
    for (std::string text : {std::string("twenty-one characters"), std::string("short one")}) {
        std::string variable = text;
        Vrn$PushString(variable.data(), static_cast<uint32_t>(variable.size()));
        Vrn$StackUPPER();
        std::string upper = text;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(PopText(), upper);
        EXPECT_EQ(variable, text);
    }
}

// ---- Rotate ----------------------------------------------------------------------------------------

TEST_F(StringStackTest, RotateMovesTheEntryNPlacesDownToTheTop) {
    struct Case {
        int32_t depth;
        std::vector<std::string> after;   // bottom to top
    };
    const Case cases[] = {
        {0, {"A", "B", "C", "D"}},
        {1, {"A", "B", "D", "C"}},
        {3, {"B", "C", "D", "A"}},
        {4, {"A", "B", "C", "D"}},    // deeper than the stack: nothing moves
        {-1, {"A", "B", "C", "D"}},
    };
    for (const Case& c : cases) {
        for (const char* text : {"A", "B", "C", "D"}) PushText(text);
        Vrn$StackRotate(c.depth);
        std::vector<std::string> popped(4);
        for (int i = 3; i >= 0; i--) popped[i] = PopText();
        EXPECT_EQ(popped, c.after) << "depth " << c.depth;
    }
}

TEST_F(StringStackTest, RotateCarriesAnInlineAddressIntoTheNewSlot) {
    Vrn$PushLong(123456789);
    Vrn$StackSUB(3, 4);   // "3456", narrowed inside the inline buffer
    const ptrdiff_t offset = EntryAt(0)->address - EntryAt(0)->inline_buffer;
    ASSERT_EQ(offset, 2);
    char other[3] = {'x', 'y', 'z'};
    Vrn$PushString(other, 3);
    Vrn$PushString(other, 2);
    Vrn$StackRotate(2);
    VrnStackEntry* top = EntryAt(0);
    EXPECT_EQ(top->kind, VRN_ENTRY_INLINE);
    EXPECT_EQ(top->address, top->inline_buffer + offset);
    EXPECT_EQ(PopText(), "3456");
    EXPECT_EQ(EntryAt(0)->address, other);
    EXPECT_EQ(PopText(), "xy");
    EXPECT_EQ(PopText(), "xyz");
}

// ---- Capacity and the empty stack --------------------------------------------------------------------

TEST_F(StringStackTest, APushOnAFullStackIsIgnored) {
    for (int i = 0; i < 32; i++) Vrn$PushLong(i);
    EXPECT_EQ(Vrw$StackDepth(), 32u);
    Vrn$PushString("ignored", 7);
    Vrn$PushLong(99);
    Vrn$PushReal(1.5);
    Vrn$PushCString("ignored too");
    Vrn$PushTemp(HeapCopy("freed, not leaked"), 17);   // the sanitizer build catches a leak
    EXPECT_EQ(PushReserve(3), nullptr);
    EXPECT_EQ(Vrw$StackDepth(), 32u);
    for (int i = 31; i >= 0; i--) EXPECT_EQ(Vrn$PopLong(), i);
}

TEST_F(StringStackTest, PopsOfAnEmptyStackGiveAnEmptyString) {
    char destination[4] = {'x', 'x', 'x', 'x'};
    Vrn$PopString(destination, 4);
    EXPECT_EQ(std::string(destination, 4), "    ");
    EXPECT_EQ(PopText(), "");
    EXPECT_EQ(Vrn$PopLong(), 0);
    EXPECT_EQ(Vrn$PopReal(), 0.0);
    EXPECT_EQ(Vrn$StackLen(), 0u);
    EXPECT_EQ(Vrn$StackVAL(), 32);
    EXPECT_EQ(Vrn$StackCompare(), 0);
    EXPECT_EQ(Vrn$StackINLIST(3), 1);   // a missing value equals a missing first item
    Vrn$STACKpop();
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST_F(StringStackTest, OperationsOnMissingEntriesWorkOnEmptyStrings) {
    Vrn$StackCENTER(3);   // on an empty stack: the centred empty string
    EXPECT_EQ(PopText(), "   ");
    PushText("only");
    Vrn$StackConcat();    // the missing first operand is empty
    EXPECT_EQ(PopText(), "only");
    Vrn$StackConcat();
    EXPECT_EQ(PopText(), "");
}

// ---- Pops -----------------------------------------------------------------------------------------------

TEST_F(StringStackTest, PopsStoreByTheRulesOfEachForm) {
    char string5[5];
    PushText("abc");
    Vrn$PopString(string5, 5);
    EXPECT_EQ(std::string(string5, 5), "abc  ");

    char cstring3[3] = {'x', 'x', 'x'};
    PushText("abc");
    Vrn$PopCString(cstring3, 3);
    EXPECT_EQ(std::string(cstring3, 3), std::string("ab\0", 3));

    unsigned char pstring4[4] = {9, 'x', 'x', 'x'};
    PushText("abcdef");
    Vrn$PopPString(pstring4, 4);
    EXPECT_EQ(pstring4[0], 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pstring4 + 1), 3), "abc");

    // A PSTRING declared longer than 256 still holds at most 255 characters in its length byte.
    std::vector<unsigned char> pstring300(300, 0);
    PushText(std::string(299, 'p'));
    Vrn$PopPString(pstring300.data(), 300);
    EXPECT_EQ(pstring300[0], 255);
}

TEST_F(StringStackTest, PopIntoTheVariableItself) {
    char variable[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    Vrn$PushString(variable, 8);
    Vrn$StackSUB(3, 4);
    Vrn$PopString(variable, 8);
    EXPECT_EQ(std::string(variable, 8), "cdef    ");
}

TEST_F(StringStackTest, PopTempHandsOverBlocks) {
    char* block = HeapCopy("owned value");
    Vrn$PushTemp(block, 11);
    VrnStringPair pair{nullptr, 0};
    Vrn$PopTemp(&pair);
    EXPECT_EQ(pair.address, block);   // passed on unchanged
    EXPECT_EQ(pair.length, 11u);
    Vrn$freestr(&pair);
    EXPECT_EQ(pair.address, nullptr);
    EXPECT_EQ(pair.length, 0u);

    char variable[3] = {'r', 'e', 'f'};
    Vrn$PushString(variable, 3);
    Vrn$PopTemp(&pair);
    ASSERT_NE(pair.address, nullptr);
    EXPECT_NE(pair.address, variable);
    EXPECT_EQ(std::string(pair.address, pair.length), "ref");
    EXPECT_EQ(pair.address[3], '\0');   // the new block is zero-filled beyond the characters
    Vrn$freestr(&pair);
}

TEST_F(StringStackTest, LenAndLen2) {
    PushText("four");
    EXPECT_EQ(Vrn$StackLen2(), 4u);
    EXPECT_EQ(Vrw$StackDepth(), 1u);
    EXPECT_EQ(Vrn$StackLen(), 4u);
}

TEST_F(StringStackTest, RuntimeAccessPushesAndPops) {
    PushCopy("copied text that is long enough");
    EXPECT_EQ(EntryAt(0)->kind, VRN_ENTRY_OWNED);
    char* room = PushReserve(6);
    ASSERT_NE(room, nullptr);
    std::memcpy(room, "filled", 6);
    EXPECT_EQ(EntryText(0), "filled");
    EXPECT_EQ(EntryText(1), "copied text that is long enough");
    EXPECT_EQ(EntryText(2), "");
    EXPECT_EQ(PopStdString(), "filled");
    DiscardEntries(5);
    EXPECT_EQ(StackDepth(), 0u);
}

TEST_F(StringStackTest, EachThreadHasAStackOfItsOwn) {
    PushText("main thread");
    uint32_t depth_seen = 99;
    std::thread other([&] {
        depth_seen = Vrw$StackDepth();
        PushText("left behind with a block of more than twenty characters");
    });
    other.join();
    EXPECT_EQ(depth_seen, 0u);
    EXPECT_EQ(PopText(), "main thread");
}

// ---- Numbers -------------------------------------------------------------------------------------------

TEST_F(StringStackTest, PushedNumbersAsText) {
    struct Case {
        double value;
        const char* text;
    };
    const Case reals[] = {
        {12.0, "12"},     {-3.25, "-3.25"},  {0.0, "0"},     {-0.0, "0"},
        {1e20, "1e+20"},  {0.0001, "0.0001"}, {1e-5, "1e-05"}, {1.0 / 3, "0.33333333333333"},
        {1234567890123456.0, "1.2345678901235e+15"},
        {-1.2345678901234e-308, "-1.2345678901234e-308"},   // 21 characters: an owned entry
    };
    for (const Case& c : reals) {
        Vrn$PushReal(c.value);
        EXPECT_EQ(PopText(), c.text) << c.value;
    }
    Vrn$PushLong(INT32_MIN);
    EXPECT_EQ(PopText(), "-2147483648");
    Vrn$PushLong(0);
    EXPECT_EQ(PopText(), "0");
}

TEST_F(StringStackTest, PopLongReadsADecimalNumber) {
    struct Case {
        std::string text;
        int32_t value;
    };
    const Case cases[] = {
        {"123", 123},           {"  -45", -45},        {"+5", 0},
        {"12.9", 12},           {"-12.9", -12},        {"1.5e1", 15},
        {"12e1", 12},           {"1.5E2", 150},        {"150.e-2", 1},
        {"1.e-1", 0},           {"1.5e+2", 1},         {"abc", 0},
        {"", 0},                {"- 5", 0},            {"5-", 5},
        {"1.2.3", 1},           {"  7  ", 7},          {"4294967297", 1},
        {"2147483648", INT32_MIN}, {"-2147483649", INT32_MAX},
        {"1.e256", 1},          {"1.e257", 10},        {"12.345e2", 1234},
        {std::string(98, ' ') + "12", 1},   // only the first 99 characters count
    };
    for (const Case& c : cases) {
        PushText(c.text);
        EXPECT_EQ(Vrn$PopLong(), c.value) << '"' << c.text << '"';
    }
}

TEST_F(StringStackTest, PopRealAndNumeric) {
    struct Case {
        std::string text;
        double value;
        int32_t numeric;
    };
    const Case cases[] = {
        {"12.5", 12.5, 1},     {" -3e2", -300.0, 1},   {"12a", 12.0, 0},   {"   ", 0.0, 1},
        {"", 0.0, 1},          {"+.5", 0.5, 1},        {"1e", 1.0, 0},     {"-", 0.0, 0},
        {".", 0.0, 0},         {"7.  ", 7.0, 1},       {"1e400", HUGE_VAL, 1},
        {std::string(39, '1') + "x", 1.11111111111111111e38, 1},   // cut to 39 characters
    };
    for (const Case& c : cases) {
        PushText(c.text);
        EXPECT_DOUBLE_EQ(Vrn$PopReal(), c.value) << '"' << c.text << '"';
        PushText(c.text);
        EXPECT_EQ(Vrn$StackNUMERIC(), c.numeric) << '"' << c.text << '"';
    }
}

// ---- Storage routines ------------------------------------------------------------------------------------

TEST_F(StringStackTest, StoreRoutinesWithANullSourceFill) {
    struct Case {
        int32_t length;
        std::string string5, cstring5, pstring5;
    };
    const std::string ff(4, '\xff'), zeros(4, '\0');
    const Case cases[] = {
        {0, "     ", std::string("\0xxxx", 5), std::string("\0xxxx", 5)},
        {-1, std::string(5, '\0'), std::string("\0xxxx", 5), std::string("\x04", 1) + zeros},
        {1, std::string(5, '\xff'), ff + std::string("\0", 1), std::string("\x04", 1) + ff},
    };
    for (const Case& c : cases) {
        char string5[5], cstring5[5];
        unsigned char pstring5[5];
        std::memset(string5, 'x', 5);
        std::memset(cstring5, 'x', 5);
        std::memset(pstring5, 'x', 5);
        Vrn$storestr(string5, 5, nullptr, c.length);
        Vrn$storecstr(cstring5, 5, nullptr, c.length);
        Vrn$storepstr(pstring5, 5, nullptr, c.length);
        EXPECT_EQ(std::string(string5, 5), c.string5) << c.length;
        EXPECT_EQ(std::string(cstring5, 5), c.cstring5) << c.length;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(pstring5), 5), c.pstring5) << c.length;
    }
}

TEST_F(StringStackTest, StoreRoutinesCopyAndCut) {
    char string4[4];
    Vrn$storestr(string4, 4, "abcdef", 6);
    EXPECT_EQ(std::string(string4, 4), "abcd");
    Vrn$storestr(string4, 4, "ab", 2);
    EXPECT_EQ(std::string(string4, 4), "ab  ");
    char cstring4[4];
    Vrn$storecstr(cstring4, 4, "abcdef", 6);
    EXPECT_STREQ(cstring4, "abc");
    unsigned char pstring4[4];
    Vrn$storepstr(pstring4, 4, "ab", 2);
    EXPECT_EQ(pstring4[0], 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pstring4 + 1), 2), "ab");
    Vrn$clearstr(string4, 4);
    EXPECT_EQ(std::string(string4, 4), "    ");
}

TEST_F(StringStackTest, DuplicateCopiesTheFirstElementOverTheOthers) {
    char array[7 * 3];
    std::memset(array, 0, sizeof array);
    std::memcpy(array, "abc", 3);
    Vrn$duplicate(array, 3, 7);
    EXPECT_EQ(std::string(array, sizeof array), "abcabcabcabcabcabcabc");
}

TEST_F(StringStackTest, LoadFreeAndClipStrings) {
    VrnStringPair pair{nullptr, 0};
    Vrn$loadstr(&pair, "value", 5);
    ASSERT_NE(pair.address, nullptr);
    EXPECT_EQ(std::string(pair.address, pair.length), "value");
    Vrn$freestr(&pair);
    Vrn$loadstr(&pair, "value", 0);
    EXPECT_EQ(pair.address, nullptr);
    EXPECT_EQ(pair.length, 0u);
    Vrn$freestr(nullptr);

    char text[] = "trailing   ";
    Vrn$clipstr(text);
    EXPECT_STREQ(text, "trailing");
    char blanks[] = "   ";
    Vrn$clipstr(blanks);
    EXPECT_STREQ(blanks, "");
}

}  // namespace
}  // namespace tarvex
