// SPDX-License-Identifier: GPL-3.0-or-later
// The C++ string layer for programs: statements written with String/CString/PString variables and
// the string functions give the 4GL's results and leave the string stack balanced.
#include <gtest/gtest.h>

#include <string>

#include "core/string_stack.h"   // the runtime's own names must not clash with the layer's
#include "tarvex/strings.hpp"

namespace tarvex {
namespace {

class StringsLayerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Vrw$StackDepth(), 0u) << "a statement left entries on the stack"; }
};

std::string Padded(std::string text, size_t size) {
    text.resize(size, ' ');
    return text;
}

TEST_F(StringsLayerTest, VariablesHaveTheLayoutOfTheirTypes) {
    static_assert(sizeof(String<20>) == 20);
    static_assert(sizeof(CString<21>) == 21);
    static_assert(sizeof(PString<8>) == 8);
    String<5> s = "ab";
    EXPECT_EQ(s.View(), "ab   ");
    CString<4> c = "abcdef";
    EXPECT_EQ(std::string(c.Data(), 4), std::string("abc\0", 4));
    PString<4> p = "xy";
    EXPECT_EQ(p.Data()[0], 2);
    EXPECT_EQ(p.View(), "xy");
}

TEST_F(StringsLayerTest, ConcatenationStatement) {
    String<20> last = "Smith", first = "John";
    String<40> name;
    name = clip(last) & ", " & first;
    EXPECT_EQ(name.View(), Padded("Smith, John", 40));
    name = "Dr. " & clip(first) & " " & clip(last);
    EXPECT_EQ(name.View(), Padded("Dr. John Smith", 40));
    String<8> cut;
    cut = last & first;   // stored into 8: cut
    EXPECT_EQ(cut.View(), "Smith   ");
}

TEST_F(StringsLayerTest, FunctionsThroughTheStack) {
    String<10> value = "  abc";
    String<10> result;
    result = upper(value);
    EXPECT_EQ(result.View(), "  ABC     ");
    EXPECT_EQ(value.View(), "  abc     ");
    result = left(value);
    EXPECT_EQ(result.View(), "abc       ");
    result = right(value);
    EXPECT_EQ(result.View(), "       abc");
    result = center(clip(value), 7);
    EXPECT_EQ(result.View(), "  abc     ");
    result = sub("ABCDEF", -2, 5);
    EXPECT_EQ(result.View(), "EF        ");
    result = lower(all("Ab", 5));
    EXPECT_EQ(result.View(), "ababa     ");
    EXPECT_EQ(len(clip(value)), 5u);
    EXPECT_EQ(len(value), 10u);
    EXPECT_EQ(instring("C", "ABCDEF"), 3);
    EXPECT_EQ(instring("CD", "ABCDEF", 2, 1), 2);
    EXPECT_EQ(instring("b", value), 4);
}

TEST_F(StringsLayerTest, AVariableAssignedFromItself) {
    String<8> value = "abcdefgh";
    value = sub(value, 3, 4);
    EXPECT_EQ(value.View(), "cdef    ");
    value = "x" & value;
    EXPECT_EQ(value.View(), "xcdef   ");
}

TEST_F(StringsLayerTest, Comparisons) {
    String<10> a = "abc";
    CString<10> b = "abc";
    PString<10> c = "abd";
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == "abc  ");
    EXPECT_TRUE("abc" == a);
    EXPECT_TRUE(a != c);
    EXPECT_TRUE(a < c);
    EXPECT_TRUE(c > b);
    EXPECT_TRUE(a <= b);
    EXPECT_TRUE(c >= a);
    EXPECT_FALSE(upper(a) == a);
    EXPECT_LT(compare("a", a), 0);
}

TEST_F(StringsLayerTest, CStringAndPStringAsDestinations) {
    String<20> first = "John";
    CString<6> c;
    c = clip(first) & "ny boy";
    EXPECT_EQ(c.View(), "Johnn");
    PString<10> p;
    p = clip(first) & "!";
    EXPECT_EQ(p.View(), "John!");
    String<10> s;
    s = c & p;
    EXPECT_EQ(s.View(), "JohnnJohn!");
}

}  // namespace
}  // namespace tarvex
