// SPDX-License-Identifier: GPL-3.0-or-later
// The decimal stack's compact and packed forms against the accumulator: every compact operation,
// and every exported push, operation and pop that takes a fast path, must give bit for bit what
// the accumulator's own operations give for the same operands. Operands come from a fixed seed
// and lean on the boundaries of the fast paths: 16, 18, 19, 20 and 31 digits, nines that carry
// across the halves of a packed number, zeros with a minus sign, damaged nibbles, and stores that
// wrap at the image's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/decimal.h"
#include "core/decimal_compact.h"
#include "core/decimal_packing.h"
#include "core/tests/test_support.h"
#include "tarvex/decimal.h"

namespace {

using tarvex::CompactDecimal;
using tarvex::DecimalAccumulator;
using tarvex::Uint128;
using tarvex::testing::Hex;

bool Same(const DecimalAccumulator& a, const DecimalAccumulator& b) {
    return std::memcmp(a.limb, b.limb, sizeof a.limb) == 0 && a.negative == b.negative;
}

std::string Show(const DecimalAccumulator& value) {
    char text[tarvex::kDecimalTextSize];
    tarvex::DecimalToText(value, text);
    return text;
}

class Maker {
  public:
    explicit Maker(uint64_t seed) : rng_(seed) {}

    uint32_t Uniform(uint32_t low, uint32_t high) {
        return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
    }
    bool Chance(uint32_t percent) { return Uniform(1, 100) <= percent; }

    // A digit count that favours the fast paths' edges.
    uint32_t DigitCount(uint32_t most) {
        static const uint32_t kEdges[] = {0, 1, 15, 16, 17, 18, 19, 20, 31, 32};
        uint32_t count = Chance(50) ? kEdges[Uniform(0, 9)] : Uniform(0, most);
        count = Chance(5) ? most : count;
        return std::min(count, most);
    }

    // `count` digits (most significant first, one per byte): random, all nines or a one and zeros.
    std::vector<uint8_t> Digits(uint32_t count) {
        std::vector<uint8_t> digits(count);
        uint32_t shape = Uniform(0, 9);
        for (uint32_t i = 0; i < count; ++i) {
            digits[i] = shape == 0 ? 9 : shape == 1 ? (i == 0) : static_cast<uint8_t>(Uniform(0, 9));
        }
        return digits;
    }

    // A DECIMAL or PDECIMAL image of `size` bytes: its digits right-aligned, a random sign (zeros
    // included), now and then a damaged nibble.
    std::vector<uint8_t> Image(uint32_t size, bool packed) {
        uint32_t digits = 2 * size - 1;
        std::vector<uint8_t> value = Digits(DigitCount(digits));
        std::vector<uint8_t> nibbles(2 * size, 0); // most significant first
        for (size_t i = 0; i < value.size(); ++i) {
            nibbles[(packed ? 0 : 1) + digits - value.size() + i] = value[i];
        }
        bool negative = Chance(40);
        // Any sign nibble but 0 is negative in a DECIMAL; only 0xD is in a PDECIMAL.
        uint8_t other = static_cast<uint8_t>(Uniform(1, 15));
        if (packed) {
            nibbles[2 * size - 1] = negative ? 0xD : (Chance(70) || other == 0xD ? 0xF : other);
        } else {
            nibbles[0] = negative ? (Chance(70) ? 0xF : other) : 0;
        }
        if (Chance(5)) {
            nibbles[Uniform(packed ? 0 : 1, packed ? digits - 1 : digits)] =
                static_cast<uint8_t>(Uniform(10, 15));
        }
        std::vector<uint8_t> bytes(size);
        for (uint32_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
        }
        return bytes;
    }

    uint32_t Size() { return Chance(70) ? Uniform(1, 16) : (Chance(50) ? 10 : Uniform(17, 20)); }
    uint32_t Places(uint32_t size) {
        uint32_t digits = 2 * size - 1;
        return Chance(50) ? 2 : Uniform(0, Chance(90) ? std::min<uint32_t>(digits, 32) : 36);
    }

    // A compact value that keeps the invariant: from a random image, or up to the form's limit (as
    // products reach).
    CompactDecimal Compact() {
        uint32_t places = Uniform(0, 32);
        CompactDecimal value;
        if (Chance(50)) {
            uint32_t size = Uniform(1, 16);
            std::vector<uint8_t> image = Image(size, false);
            EXPECT_TRUE(tarvex::LoadCompact(image.data(), size, places, false, value));
            return value;
        }
        Uint128 limit = tarvex::CompactLimit(places);
        Uint128 magnitude = 0;
        for (uint8_t d : Digits(DigitCount(38))) {
            magnitude = magnitude * 10 + d;
        }
        magnitude = Chance(20) ? limit - Uniform(1, 3) : (Chance(10) ? limit / 2 : magnitude % limit);
        return CompactDecimal{magnitude, places, Chance(40) && magnitude != 0};
    }

  private:
    std::mt19937_64 rng_;
};

// ---- The packed sums. ---------------------------------------------------------------------------

Uint128 Packed(Uint128 n) {
    Uint128 packed = 0;
    for (int shift = 0; n != 0; shift += 4, n /= 10) {
        packed |= static_cast<Uint128>(static_cast<uint32_t>(n % 10)) << shift;
    }
    return packed;
}

Uint128 Number(const std::vector<uint8_t>& digits) {
    Uint128 n = 0;
    for (uint8_t d : digits) {
        n = n * 10 + d;
    }
    return n;
}

TEST(PackedArithmeticTest, SumsAndDifferencesAgreeWithBinary) {
    Maker maker(5150);
    const Uint128 limit = tarvex::Pow10Wide(31);
    for (int i = 0; i < 100000; ++i) {
        Uint128 a = Number(maker.Digits(std::min(maker.DigitCount(31), 31u)));
        Uint128 b = Number(maker.Digits(std::min(maker.DigitCount(31), 31u)));
        ASSERT_TRUE(tarvex::PackedAdd(Packed(a), Packed(b)) == Packed(a + b)) << i;
        Uint128 high = a > b ? a : b;
        Uint128 low = a > b ? b : a;
        ASSERT_TRUE(tarvex::PackedSubtract(Packed(high), Packed(low)) == Packed(high - low)) << i;
    }
    // A carry through every digit into the 32nd, and a borrow through every digit.
    Uint128 nines = limit - 1;
    EXPECT_TRUE(tarvex::PackedAdd(Packed(nines), Packed(1)) == Packed(limit));
    EXPECT_TRUE(tarvex::PackedAdd(Packed(nines), Packed(nines)) == Packed(2 * nines));
    EXPECT_TRUE(tarvex::PackedSubtract(Packed(limit), Packed(1)) == Packed(nines));
    EXPECT_TRUE(tarvex::PackedSubtract(Packed(tarvex::Pow10Wide(16)), Packed(1)) ==
                Packed(tarvex::Pow10Wide(16) - 1));
}

// ---- Compact operations against the accumulator. ------------------------------------------------

TEST(CompactDecimalTest, LoadsAsTheAccumulatorLoads) {
    Maker maker(1);
    for (int i = 0; i < 20000; ++i) {
        uint32_t size = maker.Uniform(1, 16);
        uint32_t places = maker.Uniform(0, 32);
        bool packed = maker.Chance(50);
        std::vector<uint8_t> image = maker.Image(size, packed);
        CompactDecimal value;
        ASSERT_TRUE(tarvex::LoadCompact(image.data(), size, places, packed, value));
        DecimalAccumulator expected = packed ? tarvex::LoadPdecimal(image.data(), size, places)
                                             : tarvex::LoadDecimal(image.data(), size, places);
        ASSERT_TRUE(Same(tarvex::ExpandCompact(value), expected))
            << Hex(image) << " places " << places << ": " << Show(tarvex::ExpandCompact(value)) << " vs "
            << Show(expected);
        EXPECT_FALSE(value.negative && value.magnitude == 0);
    }
    CompactDecimal value;
    uint8_t image[17] = {};
    EXPECT_FALSE(tarvex::LoadCompact(image, 17, 2, false, value)) << "longer than 16 bytes";
    EXPECT_FALSE(tarvex::LoadCompact(image, 10, 33, false, value)) << "more than 32 places";
}

TEST(CompactDecimalTest, StoresAsTheAccumulatorStores) {
    Maker maker(2);
    for (int i = 0; i < 20000; ++i) {
        CompactDecimal value = maker.Compact();
        uint32_t size = maker.Uniform(1, 16);
        uint32_t places = maker.Chance(50) ? value.places : maker.Uniform(0, 32);
        bool packed = maker.Chance(50);
        std::vector<uint8_t> actual(size, 0xAA);
        std::vector<uint8_t> expected(size, 0xAA);
        ASSERT_TRUE(tarvex::StoreCompact(value, actual.data(), size, places, packed));
        DecimalAccumulator full = tarvex::ExpandCompact(value);
        if (packed) {
            tarvex::StorePdecimal(full, expected.data(), size, places);
        } else {
            tarvex::StoreDecimal(full, expected.data(), size, places);
        }
        ASSERT_EQ(Hex(actual), Hex(expected))
            << Show(full) << " into " << size << " bytes, " << places << " places";
    }
}

TEST(CompactDecimalTest, ArithmeticAgreesOrDeclines) {
    Maker maker(3);
    int taken = 0;
    for (int i = 0; i < 30000; ++i) {
        CompactDecimal a = maker.Compact();
        CompactDecimal b = maker.Compact();
        if (maker.Chance(50)) {
            b.places = a.places;
            b.magnitude %= tarvex::CompactLimit(b.places);
            b.negative = b.negative && b.magnitude != 0;
        }
        DecimalAccumulator fa = tarvex::ExpandCompact(a);
        DecimalAccumulator fb = tarvex::ExpandCompact(b);
        CompactDecimal result;
        DecimalAccumulator quotient;
        int order;
        std::string operands = Show(fa) + " and " + Show(fb);
        if (tarvex::AddCompact(a, b, false, result)) {
            ++taken;
            ASSERT_TRUE(Same(tarvex::ExpandCompact(result), tarvex::Add(fa, fb))) << "add " << operands;
        }
        if (tarvex::AddCompact(a, b, true, result)) {
            ASSERT_TRUE(Same(tarvex::ExpandCompact(result), tarvex::Subtract(fa, fb)))
                << "subtract " << operands;
        }
        if (tarvex::MultiplyCompact(a, b, result)) {
            ++taken;
            ASSERT_TRUE(Same(tarvex::ExpandCompact(result), tarvex::Multiply(fa, fb)))
                << "multiply " << operands;
        }
        if (tarvex::DivideCompact(a, b, quotient)) {
            ++taken;
            ASSERT_TRUE(Same(quotient, tarvex::Divide(fa, fb))) << "divide " << operands;
        }
        if (tarvex::RoundCompact(a, b, result)) {
            ASSERT_TRUE(Same(tarvex::ExpandCompact(result), tarvex::RoundByStep(fa, fb)))
                << "round " << operands;
        }
        if (tarvex::CompareCompact(a, b, order)) {
            ASSERT_EQ(order, tarvex::Compare(fa, fb)) << "compare " << operands;
        }
    }
    EXPECT_GT(taken, 30000) << "the compact operations declined too often to be tested";
}

TEST(CompactDecimalTest, ConstantsLoadAsTheAccumulatorLoads) {
    Maker maker(4);
    for (int i = 0; i < 5000; ++i) {
        std::vector<uint8_t> digits = maker.Digits(maker.DigitCount(19));
        if (!digits.empty() && maker.Chance(10)) {
            digits[maker.Uniform(0, static_cast<uint32_t>(digits.size() - 1))] = 12; // not a digit
        }
        uint32_t places = maker.Uniform(0, 32);
        bool negative = maker.Chance(50);
        CompactDecimal value;
        ASSERT_TRUE(tarvex::LoadCompactDigits(digits.data(), static_cast<uint32_t>(digits.size()), places,
                                              negative, value));
        ASSERT_TRUE(
            Same(tarvex::ExpandCompact(value),
                 tarvex::LoadDigits(digits.data(), static_cast<uint32_t>(digits.size()), places, negative)));
    }
}

// ---- The exported operations' fast paths against the accumulator. ------------------------------

void Push(const std::vector<uint8_t>& image, uint32_t places, bool packed) {
    if (packed) {
        Vrn$DPushPdec(image.data(), static_cast<uint32_t>(image.size()), places);
    } else {
        Vrn$DPushDec(image.data(), static_cast<uint32_t>(image.size()), places);
    }
}

DecimalAccumulator Load(const std::vector<uint8_t>& image, uint32_t places, bool packed) {
    uint32_t size = static_cast<uint32_t>(image.size());
    return packed ? tarvex::LoadPdecimal(image.data(), size, places)
                  : tarvex::LoadDecimal(image.data(), size, places);
}

// Pops into a fresh image and stores `expected` into another; both as hex.
void ExpectPop(const DecimalAccumulator& expected, uint32_t size, uint32_t places, bool packed,
               const std::string& what) {
    std::vector<uint8_t> actual(size, 0x55);
    std::vector<uint8_t> wanted(size, 0x55);
    if (packed) {
        Vrn$DPopPdec(actual.data(), size, places);
        tarvex::StorePdecimal(expected, wanted.data(), size, places);
    } else {
        Vrn$DPopDec(actual.data(), size, places);
        tarvex::StoreDecimal(expected, wanted.data(), size, places);
    }
    ASSERT_EQ(Hex(actual), Hex(wanted))
        << what << " = " << Show(expected) << " into " << size << " bytes, " << places << " places";
}

TEST(DecimalStackFastPathTest, StatementsOnVariablesAgreeWithTheAccumulator) {
    Maker maker(6);
    for (int i = 0; i < 40000; ++i) {
        uint32_t size_a = maker.Size();
        uint32_t size_b = maker.Chance(60) ? size_a : maker.Size();
        uint32_t places = maker.Places(std::min(size_a, size_b));
        uint32_t places_b = maker.Chance(80) ? places : maker.Places(size_b);
        bool packed_a = maker.Chance(30);
        bool packed_b = maker.Chance(30);
        std::vector<uint8_t> a = maker.Image(size_a, packed_a);
        std::vector<uint8_t> b = maker.Image(size_b, packed_b);
        DecimalAccumulator fa = Load(a, places, packed_a);
        DecimalAccumulator fb = Load(b, places_b, packed_b);
        uint32_t size_x = maker.Chance(70) ? size_a : maker.Size();
        uint32_t places_x = maker.Chance(70) ? places : maker.Places(size_x);
        bool packed_x = maker.Chance(30);
        std::string what = Hex(a) + (packed_a ? "p" : "d") + std::to_string(places) + " " + Hex(b) +
                           (packed_b ? "p" : "d") + std::to_string(places_b);

        Push(a, places, packed_a);
        Push(b, places_b, packed_b);
        DecimalAccumulator expected;
        switch (maker.Uniform(0, 8)) {
        case 0:
        case 1:
            Vrn$DecAdd();
            expected = tarvex::Add(fa, fb);
            what += " add";
            break;
        case 2:
        case 3:
            Vrn$DecSub();
            expected = tarvex::Subtract(fa, fb);
            what += " subtract";
            break;
        case 4: {
            // Sums that take a sum's packed result, which may have 32 digits.
            Vrn$DecAdd();
            Push(a, places, packed_a);
            Vrn$DecAdd();
            Push(b, places_b, packed_b);
            Vrn$DecSub();
            expected = tarvex::Subtract(tarvex::Add(tarvex::Add(fa, fb), fa), fb);
            what += " a + b + a - b";
            break;
        }
        case 7: {
            // A running sum that grows past 32 digits (and past the accumulator for 0 places).
            Vrn$DecAdd();
            expected = tarvex::Add(fa, fb);
            for (int k = 0; k < 12; ++k) {
                Push(a, places, packed_a);
                Vrn$DecAdd();
                expected = tarvex::Add(expected, fa);
            }
            what += " a + b + 12 a";
            break;
        }
        case 5:
            Vrn$DecMul();
            expected = tarvex::Multiply(fa, fb);
            what += " multiply";
            break;
        case 6:
            Vrn$DecDivide();
            expected = tarvex::Divide(fa, fb);
            what += " divide";
            break;
        default:
            Vrn$DSwap(); // the pops take a, then b: a plain copy of each variable
            ExpectPop(fa, size_x, places_x, packed_x, what + " copy a");
            expected = fb;
            what += " copy b";
            break;
        }
        ExpectPop(expected, size_x, places_x, packed_x, what);
        ASSERT_EQ(Vrw$DStackDepth(), 0u);
    }
}

TEST(DecimalStackFastPathTest, TestsAndUnaryOperationsOnPackedValues) {
    Maker maker(7);
    for (int i = 0; i < 10000; ++i) {
        uint32_t size = maker.Size();
        uint32_t places = maker.Places(size);
        std::vector<uint8_t> a = maker.Image(size, false);
        std::vector<uint8_t> b = maker.Image(size, false);
        DecimalAccumulator fa = Load(a, places, false);
        DecimalAccumulator fb = Load(b, places, false);
        Push(a, places, false);
        Push(b, places, false);
        ASSERT_EQ(Vrn$DecDistinct(), tarvex::Compare(fa, fb)) << Show(fa) << " vs " << Show(fb);
        Push(a, places, false);
        ASSERT_EQ(Vrn$DecCompareN(), fa.IsZero() ? 0 : 1) << Show(fa);
        Push(a, places, false);
        Vrn$DNegate();
        DecimalAccumulator negated = fa;
        negated.negative = !fa.negative && !fa.IsZero();
        ExpectPop(negated, size, places, false, "negate " + Hex(a));
        Push(a, places, false);
        Vrn$DAbs();
        DecimalAccumulator absolute = fa;
        absolute.negative = false;
        ExpectPop(absolute, size, places, false, "abs " + Hex(a));
        // The accumulator's text of a packed entry (a zero is never "-0").
        Push(a, places, false);
        DecimalAccumulator popped = tarvex::PopDecimal();
        ASSERT_TRUE(Same(popped, fa)) << Show(popped) << " vs " << Show(fa);
    }
}

TEST(DecimalStackFastPathTest, SumsPastThirtyTwoDigitsLeaveThePackedForm) {
    // DECIMAL(31,p) of 31 nines: the running sum reaches 32 digits after one addition and 33
    // (more than 128 bits of packed digits) after sixteen; for 0 places the accumulator wraps.
    const std::vector<uint8_t> nines = {0x09, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99,
                                        0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99};
    for (uint32_t places : {0u, 2u, 31u}) {
        for (bool subtract : {false, true}) {
            DecimalAccumulator nine = Load(nines, places, false);
            DecimalAccumulator expected = nine;
            Push(nines, places, false);
            for (int k = 0; k < 40; ++k) {
                Push(nines, places, false);
                if (subtract) {
                    Vrn$DecSub();
                    expected = tarvex::Subtract(expected, nine);
                } else {
                    Vrn$DecAdd();
                    expected = tarvex::Add(expected, nine);
                }
            }
            Vrn$DStack2Stack();
            EXPECT_EQ(tarvex::testing::PopText(), Show(expected)) << places << " places";
        }
    }
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

TEST(DecimalStackFastPathTest, NegativeZeroImagesStayZero) {
    // DECIMAL(19,2) -0.00 and 0.00, PDECIMAL(19,2) -0.00.
    const std::vector<uint8_t> minus_zero = {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> zero(10, 0);
    const std::vector<uint8_t> packed_minus_zero = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D};
    Push(minus_zero, 2, false);
    Push(minus_zero, 2, false);
    Vrn$DecAdd();
    ExpectPop(DecimalAccumulator::Zero(), 10, 2, false, "-0 + -0");
    Push(minus_zero, 2, false);
    Push(zero, 2, false);
    EXPECT_EQ(Vrn$DecDistinct(), 0) << "-0 = 0";
    Push(packed_minus_zero, 2, true);
    Push(zero, 2, false);
    Vrn$DecSub();
    EXPECT_EQ(Vrn$DecCompareN(), 0);
    Push(minus_zero, 2, false);
    Vrn$DNegate();
    std::vector<uint8_t> image(10, 0xAA);
    Vrn$DPopDec(image.data(), 10, 2);
    EXPECT_EQ(Hex(image), Hex(zero)) << "-(-0) stores as 0";
    Push(minus_zero, 2, false);
    Push(minus_zero, 2, false);
    Vrn$DecAdd();
    Vrn$DStack2Stack();
    EXPECT_EQ(tarvex::testing::PopText(), "0");
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

} // namespace
