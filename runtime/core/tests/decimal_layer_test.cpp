// SPDX-License-Identifier: GPL-3.0-or-later
// The C++ layer over the decimal stack: variables hold the exact storage images, and expressions
// assigned to them round and wrap as compiled statements do.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tarvex/decimal.hpp"

namespace {

using tarvex::Dec;
using tarvex::Decimal;
using tarvex::PDecimal;

template <typename T> std::string Hex(const T& variable) {
    std::string hex;
    char pair[3];
    for (uint32_t i = 0; i < T::kSize; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", variable.Bytes()[i]);
        hex += pair;
    }
    return hex;
}

static_assert(sizeof(Decimal<5, 2>) == 3);
static_assert(sizeof(Decimal<19, 2>) == 10);
static_assert(sizeof(Decimal<31, 5>) == 16);
static_assert(sizeof(PDecimal<4, 0>) == 3);

class DecimalLayerTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(Vrw$DStackDepth(), 0u); }
};

TEST_F(DecimalLayerTest, VariablesHoldTheStorageImage) {
    Decimal<5, 2> zero;
    PDecimal<5, 2> packed_zero;
    EXPECT_EQ(Hex(zero), "000000");
    EXPECT_EQ(Hex(packed_zero), "00000F");
    Decimal<5, 2> amount("-123.45");
    PDecimal<5, 2> packed("-123.45");
    EXPECT_EQ(Hex(amount), "F12345");
    EXPECT_EQ(Hex(packed), "12345D");
    packed = amount; // across the two formats
    EXPECT_EQ(Hex(packed), "12345D");
}

TEST_F(DecimalLayerTest, ExpressionsReadLikeTheLanguage) {
    Decimal<9, 2> total;
    Decimal<9, 2> a("1.50"), b("2.25");
    Decimal<5, 0> c(3);
    total = a + b * c;
    EXPECT_EQ(total.Text(), "8.25");
    total = (a + b) * c;
    EXPECT_EQ(total.Text(), "11.25");
    total = a - b - c; // left to right
    EXPECT_EQ(total.Text(), "-3.75");
    total = -a * 2 + 1;
    EXPECT_EQ(total.Text(), "-2");
    total = 10 - a;
    EXPECT_EQ(total.Text(), "8.5");
    total += b;
    EXPECT_EQ(Hex(total), "0000001075");
    total /= 4; // 2.6875 rounds to 2.69
    EXPECT_EQ(total.Text(), "2.69");
}

TEST_F(DecimalLayerTest, AssignmentRoundsAndWrapsToTheTarget) {
    Decimal<9, 4> precise("1.0050");
    Decimal<9, 2> cents = precise;
    EXPECT_EQ(cents.Text(), "1.01");
    Decimal<20, 10> third = Decimal<5, 0>(1) / 3;
    EXPECT_EQ(third.Text(), "0.3333333333");
    Decimal<5, 0> wrapped = Decimal<5, 0>(99999) + 1;
    EXPECT_EQ(Hex(wrapped), "000000");
    Decimal<9, 3> rate("2.345");
    Decimal<9, 4> rounded = round(rate * 1, "0.01");
    EXPECT_EQ(rounded.Text(), "2.35");
    Decimal<9, 0> hundreds = round(Decimal<9, 0>(1250), Dec("100"));
    EXPECT_EQ(hundreds.Long(), 1300);
}

TEST_F(DecimalLayerTest, FunctionsAndComparisons) {
    Decimal<9, 2> a("-7.95"), b("2");
    EXPECT_EQ(tarvex::Text(abs(a)), "7.95");
    EXPECT_EQ(tarvex::Long(integer_part(a)), -7);
    EXPECT_EQ(tarvex::Text(power(b, -2)), "0.25");
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a * -1 == Dec("7.95"));
    EXPECT_TRUE(b == 2);
    EXPECT_TRUE(2 <= b);
    EXPECT_FALSE(a >= 0);
    EXPECT_TRUE(a != b);
    EXPECT_DOUBLE_EQ(a.Real(), -7.95);
}

} // namespace
