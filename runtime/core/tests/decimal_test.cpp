// SPDX-License-Identifier: GPL-3.0-or-later
// Golden tables for the decimal stack: storage images byte for byte, rounding on pops, storing
// modulo the capacity, division, ROUND, powers, text and real conversions, and the stack's bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/decimal.h"
#include "core/tests/test_support.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"

namespace {

using tarvex::testing::Hex;
using tarvex::testing::PopText;
using tarvex::testing::PushText;

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

uint32_t SizeOf(uint32_t digits) {
    return digits / 2 + 1;
}

// The top of the decimal stack as text, through the string stack.
std::string PopDecimalText() {
    Vrn$DStack2Stack();
    return PopText();
}

std::string TextOf(const char* number) {
    Vrn$DPushCString(number);
    return PopDecimalText();
}

std::vector<uint8_t> PopImage(uint32_t n, uint32_t p, bool packed) {
    std::vector<uint8_t> image(SizeOf(n), 0xAA);
    if (packed) {
        Vrn$DPopPdec(image.data(), SizeOf(n), p);
    } else {
        Vrn$DPopDec(image.data(), SizeOf(n), p);
    }
    return image;
}

class DecimalTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(Vrw$DStackDepth(), 0u) << "a case left entries on the decimal stack";
        EXPECT_EQ(Vrw$StackDepth(), 0u) << "a case left entries on the string stack";
    }
};

struct ImageCase {
    const char* value;
    uint32_t n, p;
    const char* decimal_hex;
    const char* pdecimal_hex;
    const char* loaded_back; // the text of the image pushed again
};

TEST_F(DecimalTest, StorageImagesByteForByte) {
    const ImageCase cases[] = {
        {"123.45", 5, 2, "012345", "12345F", "123.45"},
        {"-123.45", 5, 2, "F12345", "12345D", "-123.45"},
        {"0", 5, 2, "000000", "00000F", "0"},
        {"12.5", 5, 2, "001250", "01250F", "12.5"},
        {"12345678901234567.89", 19, 2, "01234567890123456789", "1234567890123456789F",
         "12345678901234567.89"},
        {"-12345678901234567890123456.78901", 31, 5, "F1234567890123456789012345678901",
         "1234567890123456789012345678901D", "-12345678901234567890123456.78901"},
        // DECIMAL(4,0) has three bytes, so it holds five digits.
        {"12345", 4, 0, "012345", "12345F", "12345"},
        {"-7", 1, 0, "F7", "7D", "-7"},
        {"0.0000001", 9, 7, "0000000001", "000000001F", "0.0000001"},
        // Wider than any declarable DECIMAL: the byte-wise path.
        {"-1234.5", 39, 3, "F000000000000000000000000000000001234500",
         "000000000000000000000000000000001234500D", "-1234.5"},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.value);
        Vrn$DPushCString(c.value);
        std::vector<uint8_t> decimal = PopImage(c.n, c.p, false);
        EXPECT_EQ(Hex(decimal), c.decimal_hex);
        Vrn$DPushCString(c.value);
        std::vector<uint8_t> pdecimal = PopImage(c.n, c.p, true);
        EXPECT_EQ(Hex(pdecimal), c.pdecimal_hex);

        Vrn$DPushDec(decimal.data(), SizeOf(c.n), c.p);
        EXPECT_EQ(PopDecimalText(), c.loaded_back);
        Vrn$DPushPdec(pdecimal.data(), SizeOf(c.n), c.p);
        EXPECT_EQ(PopDecimalText(), c.loaded_back);
    }
}

TEST_F(DecimalTest, SignNibblesAsRead) {
    struct {
        const char* hex;
        bool packed;
        const char* text;
    } const cases[] = {
        {"812345", false, "-123.45"}, // any non-zero sign nibble of a DECIMAL is negative
        {"112345", false, "-123.45"}, {"12345B", true, "123.45"}, // only 0xD makes a PDECIMAL negative
        {"12345C", true, "123.45"},   {"12345D", true, "-123.45"},
        {"F00000", false, "0"},     // a negative zero reads as zero
        {"0A1234", false, "12.34"}, // a nibble that is not a digit reads as 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        std::vector<uint8_t> image = Bytes(c.hex);
        if (c.packed) {
            Vrn$DPushPdec(image.data(), static_cast<uint32_t>(image.size()), 2);
        } else {
            Vrn$DPushDec(image.data(), static_cast<uint32_t>(image.size()), 2);
        }
        EXPECT_EQ(PopDecimalText(), c.text);
    }
}

struct StoreCase {
    const char* value;
    uint32_t n, p;
    const char* decimal_hex;
};

TEST_F(DecimalTest, PopRoundsHalfAwayFromZeroAndStoresModuloCapacity) {
    const StoreCase cases[] = {
        {"1.005", 5, 2, "000101"},
        {"-1.005", 5, 2, "F00101"},
        {"1.004", 5, 2, "000100"},
        {"2.345", 5, 2, "000235"},
        {"-2.345", 5, 2, "F00235"},
        {"0.995", 5, 2, "000100"},
        {"0.0049999999", 5, 2, "000000"},
        {"-0.004", 5, 2, "000000"},    // rounds to zero: stored as a positive zero
        {"123456.78", 5, 2, "045678"}, // five digits hold 456.78
        {"-123456.78", 5, 2, "F45678"},
        {"-100000", 5, 0, "000000"},
        {"9.995", 3, 2, "0000"}, // 10.00 in three digits is 0.00
        {"99999.5", 5, 0, "000000"},
        {"0.5", 1, 0, "01"},
        {"-0.5", 1, 0, "F1"},
        {"0.12345678901234567890123456789012", 31, 30, "00123456789012345678901234567890"},
        {"0.12345678901234567890123456789051", 31, 31, "01234567890123456789012345678905"},
    };
    for (const StoreCase& c : cases) {
        SCOPED_TRACE(c.value);
        Vrn$DPushCString(c.value);
        EXPECT_EQ(Hex(PopImage(c.n, c.p, false)), c.decimal_hex);
    }
}

TEST_F(DecimalTest, PlacesBeyondTheAccumulatorAreCut) {
    // Declared with 34 places, the two lowest digits lie below 10^-32 and are lost.
    std::vector<uint8_t> image = Bytes("012345");
    Vrn$DPushDec(image.data(), 3, 34);
    EXPECT_EQ(PopDecimalText(), "0.00000000000000000000000000000123");
    Vrn$DPushCString("0.00000000000000000000000000000123");
    EXPECT_EQ(Hex(PopImage(5, 34, false)), "012300");
    Vrn$DPushCString("0.00000000000000000000000000000123");
    EXPECT_EQ(Hex(PopImage(5, 34, true)), "12300F");
}

TEST_F(DecimalTest, AdditionCarryIsDroppedAtTheDestination) {
    Vrn$DPushLong(99999);
    Vrn$DPushLong(1);
    Vrn$DecAdd();
    EXPECT_EQ(Hex(PopImage(5, 0, false)), "000000");
    Vrn$DPushLong(99999);
    Vrn$DPushLong(1);
    Vrn$DecAdd();
    EXPECT_EQ(PopDecimalText(), "100000");
}

// Evaluates "first op top" from two texts and returns the text of the result.
std::string Evaluate(const std::string& first, void (*operation)(), const std::string& top) {
    Vrn$DPushCString(first.c_str());
    Vrn$DPushCString(top.c_str());
    operation();
    return PopDecimalText();
}

struct ArithmeticCase {
    std::string first;
    std::string operation;
    std::string top;
    std::string result;
};

TEST_F(DecimalTest, ArithmeticTable) {
    const std::string nines32(32, '9');
    const std::string one_e31 = "1" + std::string(31, '0');
    const std::string two_e31 = "2" + std::string(31, '0');
    const ArithmeticCase cases[] = {
        {"1.5", "+", "2.25", "3.75"},
        {"-1.5", "+", "2.25", "0.75"},
        {"1.5", "+", "-2.25", "-0.75"},
        {"2.25", "+", "-2.25", "0"},
        {"0.1", "-", "0.3", "-0.2"},
        {"0.1", "-r", "0.3", "0.2"},
        {"-5", "-", "-3", "-2"},
        {nines32, "+", "1", "0"}, // the carry out of the 32nd integer digit is lost
        {nines32, "+", "0.5", nines32 + ".5"},
        {"1.1", "*", "1.1", "1.21"},
        {"-12.5", "*", "0.2", "-2.5"},
        {"-12.5", "*", "0", "0"},
        {one_e31, "*", "10", "0"}, // 10^32 wraps to 0
        {one_e31, "*", "12", two_e31},
        // Products are cut below 10^-32, not rounded.
        {"0.0000000000000001", "*", "0.00000000000000019", "0.00000000000000000000000000000001"},
        {"0.00000000000000000001", "*", "0.00000000000000000001", "0"},
        {"1", "/", "3", "0.3333333333333333333333333333333"},
        {"2", "/", "3", "0.6666666666666666666666666666667"},
        {"-2", "/", "3", "-0.6666666666666666666666666666667"},
        {"1", "/", "8", "0.125"},
        {"10", "/", "4", "2.5"},
        {"-7", "/", "2", "-3.5"},
        {"1", "/", "0.001", "1000"},
        {"12.34", "/", "100", "0.1234"},
        {"1", "/", "7", "0.1428571428571428571428571428571"},
        {"100", "/", "7", "14.2857142857142857142857142857143"},
        {"5", "/", "0", "0"},
        // Quotients beyond 32 integer digits keep their low digits; below 31 places they round.
        {"50000000000000000000000000000000", "/", "0.3",
         "66666666666666666666666666666666.6666666666666666666666666666667"},
        {"12345678901234567890123456789012", "/", "0.5", "24691357802469135780246913578024"},
        {"10000000000000000000000000000000", "/", "0.1", "0"},
        {"1", "/", "0.00000001", "100000000"},
        {"0.00000000000000000000000000000001", "/", "3", "0"},
        {"0.00000000000000000000000000000005", "/", "10", "0"},
        {"0.0000000000000000000000000000005", "/", "10", "0.0000000000000000000000000000001"},
        {"0", "/", "5", "0"},
        {"3", "/r", "1", "0.3333333333333333333333333333333"},
        {"12345678901234567.89", "/", "98765.43", "125000001531.2500324253131890379052670554869"},
        {"2.345", "round", "0.01", "2.35"},
        {"-2.345", "round", "0.01", "-2.35"},
        {"2.345", "round", "0.05", "2.35"},
        {"1234", "round", "100", "1200"},
        {"1250", "round", "100", "1300"},
        {"-1250", "round", "100", "-1300"},
        {"7.5", "round", "0", "8"},
        {"0.004", "round", "0.01", "0"},
    };
    for (const ArithmeticCase& c : cases) {
        SCOPED_TRACE(c.first + " " + c.operation + " " + c.top);
        const std::string& op = c.operation;
        void (*operation)() = op == "+"       ? Vrn$DecAdd
                              : op == "-"     ? Vrn$DecSub
                              : op == "-r"    ? Vrn$DecSubR
                              : op == "*"     ? Vrn$DecMul
                              : op == "/"     ? Vrn$DecDivide
                              : op == "/r"    ? Vrn$DecDivideR
                              : op == "round" ? Vrn$DRound
                                              : nullptr;
        ASSERT_NE(operation, nullptr);
        EXPECT_EQ(Evaluate(c.first, operation, c.top), c.result);
    }
}

TEST_F(DecimalTest, DivisionByZeroSetsNoErrorCode) {
    Vrn$ERRCODE = 47;
    Vrn$DPushLong(5);
    Vrn$DPushLong(0);
    Vrn$DecDivide();
    EXPECT_EQ(PopDecimalText(), "0");
    EXPECT_EQ(Vrn$ERRCODE, 47);
    Vrn$DPushLong(0);
    Vrn$Dlongpower(-1);
    EXPECT_EQ(PopDecimalText(), "0");
    EXPECT_EQ(Vrn$ERRCODE, 47);
    Vrn$ERRCODE = 0;
}

TEST_F(DecimalTest, OneThirdAndTwoThirdsInTenPlaces) {
    struct {
        int32_t numerator;
        const char* hex;
    } const cases[] = {{1, "0000000000003333333333"}, {2, "0000000000006666666667"}};
    for (const auto& c : cases) {
        Vrn$DPushLong(c.numerator);
        Vrn$DPushLong(3);
        Vrn$DecDivide();
        EXPECT_EQ(Hex(PopImage(20, 10, false)), c.hex);
    }
}

TEST_F(DecimalTest, Powers) {
    struct {
        std::string base;
        int32_t power;
        std::string result;
    } const cases[] = {
        {"2", 10, "1024"},  {"2", 0, "1"},
        {"0", 0, "1"},      {"2", -2, "0.25"},
        {"-2", 3, "-8"},    {"-2", 2, "4"},
        {"1.5", 2, "2.25"}, {"10", 31, "1" + std::string(31, '0')},
        {"10", 32, "0"},    {"3", -1, "0.3333333333333333333333333333333"},
        {"0.1", 40, "0"},   {"1", 2147483647, "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base + "^" + std::to_string(c.power));
        Vrn$DPushCString(c.base.c_str());
        Vrn$Dlongpower(c.power);
        EXPECT_EQ(PopDecimalText(), c.result);
    }
    Vrn$DPushLong(-1);
    Vrn$Dulongpower(4294967295u);
    EXPECT_EQ(PopDecimalText(), "-1");
}

TEST_F(DecimalTest, TextToDecimal) {
    struct {
        const char* text;
        const char* value;
    } const cases[] = {
        {"  -12.50xyz", "-12.5"},
        {"1.5e2", "150"},
        {"1e2", "1"}, // without a point the letter ends the number
        {"+5", "0"},
        {"", "0"},
        {"abc", "0"},
        {"-", "0"},
        {"-0", "0"},
        {"- 5", "0"},
        {"1.2.3", "1.2"},
        {"1.5e-2", "0.015"},
        {"1.e2", "100"},
        {"12.5E1", "125"},
        {"1.5e258", "150"}, // the exponent is kept in one byte: 258 is 2
        {"1.0e300", "0"},   // 10^44 does not fit
        {"1.5e", "1.5"},
        {"1.5e-", "1.5"},
        {"007.10", "7.1"},
        {".25", "0.25"},
        {"-.25", "-0.25"},
        {"123456789012345678901234567890123", "23456789012345678901234567890123"},
        {"0.123456789012345678901234567890123456", "0.12345678901234567890123456789012"},
        {"1.0000000000000000000000000000000000001e30", "1000000000000000000000000000000"},
        {"0.00000000000000000000000000000000019e1", "0"}, // digits below 10^-32 are cut first
        {"12345678.9e-255", "0"},                         // shifted out below
        {"12345678.9e-71", "0"},
        {"12345678.9e-39", "0.00000000000000000000000000000001"},
        {"0.00000000000000000000000000000001e63", "10000000000000000000000000000000"},
        {"0.00000000000000000000000000000001e64", "0"}, // shifted out above
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TextOf(c.text), c.value);
    }
    Vrn$DPushCString(nullptr);
    EXPECT_EQ(PopDecimalText(), "0");
    // A string with its length: the text ends where the length says, not at a zero byte.
    Vrn$DPushStringP("12.345", 4);
    EXPECT_EQ(PopDecimalText(), "12.3");
    EXPECT_EQ(tarvex::TextToLong("  -42.9 apples", 14), -42);
}

TEST_F(DecimalTest, DecimalToTextFromImages) {
    struct {
        const char* hex;
        uint32_t places;
        const char* text;
    } const cases[] = {
        {"001250", 2, "12.5"},
        {"010000", 2, "100"},
        {"F00005", 2, "-0.05"},
        {"000000", 2, "0"},
        {"0000000001", 9, "0.000000001"},
        {"F99999", 0, "-99999"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = Bytes(c.hex);
        Vrn$DPushDec(image.data(), static_cast<uint32_t>(image.size()), c.places);
        EXPECT_EQ(PopDecimalText(), c.text) << c.hex;
    }
    char buffer[tarvex::kDecimalTextSize];
    std::string longest = "-" + std::string(32, '9') + "." + std::string(32, '9');
    size_t length = tarvex::DecimalToText(tarvex::TextToDecimal(longest.data(), longest.size()), buffer);
    EXPECT_EQ(std::string(buffer, length), longest);
}

TEST_F(DecimalTest, PopsToIntegers) {
    struct {
        const char* value;
        int32_t as_long;
        uint32_t as_ulong;
    } const cases[] = {
        {"-7.9", -7, 7u},
        {"7.9", 7, 7u},
        {"0.99", 0, 0u},
        {"2147483647", 2147483647, 2147483647u},
        {"2147483648", INT32_MIN, 2147483648u},
        {"4294967301", 5, 5u}, // 2^32 + 5 wraps
        {"-4294967301", -5, 5u},
        {"123456789012345678901234567890", static_cast<int32_t>(0xCB1A3D00u), 0u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        if (std::string(c.value).size() > 20) {
            // 123456789012345678901234567890 mod 2^32, computed here from its pieces.
            unsigned __int128 big =
                static_cast<unsigned __int128>(1234567890123456ULL) * 100000000000000ULL + 78901234567890ULL;
            Vrn$DPushCString(c.value);
            EXPECT_EQ(Vrn$DPopUlong(), static_cast<uint32_t>(big));
            Vrn$DPushCString(c.value);
            EXPECT_EQ(Vrn$DPopLong(), static_cast<int32_t>(static_cast<uint32_t>(big)));
            continue;
        }
        Vrn$DPushCString(c.value);
        EXPECT_EQ(Vrn$DPopLong(), c.as_long);
        Vrn$DPushCString(c.value);
        EXPECT_EQ(Vrn$DPopUlong(), c.as_ulong);
    }
    Vrn$DPushULong(4294967295u);
    EXPECT_EQ(PopDecimalText(), "4294967295");
    Vrn$DPushLong(INT32_MIN);
    EXPECT_EQ(PopDecimalText(), "-2147483648");
}

TEST_F(DecimalTest, RealsWithFifteenSignificantDigits) {
    struct {
        double real;
        const char* text;
    } const cases[] = {
        {0.1, "0.1"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {-2.5, "-2.5"},
        {1e20, "100000000000000000000"},
        {123456789012345678.0, "123456789012346000"},
        {100000000000000.5, "100000000000001"}, // an exact tie rounds away from zero
        {-100000000000000.5, "-100000000000001"},
        {1.005, "1.005"},
        {1e-32, "0.00000000000000000000000000000001"},
        {1e-40, "0"},
        {1e40, "0"}, // only the low 64 positions are kept, and they are zeros
        {1.23456789012345e35, "56789012345000000000000000000000"},
        {9.9999999999999999e22, "100000000000000000000000"},
        {NAN, "0"},
        {INFINITY, "0"},
        {0.0, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Vrn$DPushReal(c.real);
        EXPECT_EQ(PopDecimalText(), c.text);
    }
}

TEST_F(DecimalTest, PopRealIsTheNearestDouble) {
    struct {
        const char* value;
        double real;
    } const cases[] = {
        {"0.1", 0.1},
        {"-12.5", -12.5},
        {"0", 0.0},
        {"123456789.123456789", 123456789.123456789},
        {"0.00000000000000000000000000000001", 1e-32},
    };
    for (const auto& c : cases) {
        Vrn$DPushCString(c.value);
        EXPECT_EQ(Vrn$DPopReal(), c.real) << c.value;
    }
    Vrn$DPushLong(1);
    Vrn$DPushLong(3);
    Vrn$DecDivide();
    EXPECT_EQ(Vrn$DPopReal(), 1.0 / 3.0);
}

TEST_F(DecimalTest, StoreDecAndLoadDec) {
    uint8_t image[5];
    // 1.005 as a double lies just below 1.005, but fifteen digits make it 1.005 again.
    Vrn$storedec(image, sizeof image, 2, 1.005);
    EXPECT_EQ(Hex({image, image + 5}), "0000000101");
    EXPECT_EQ(Vrn$loaddec(image, sizeof image, 2), 1.01);
    Vrn$storedec(image, sizeof image, 2, -19.999);
    EXPECT_EQ(Hex({image, image + 5}), "F000002000");
    EXPECT_EQ(Vrn$loaddec(image, sizeof image, 2), -20.0);
}

TEST_F(DecimalTest, ConstantsAndTests) {
    const uint8_t digits[] = {1, 2, 3, 4, 5};
    Vrn$DPushConstant(digits, 5, 2, 1);
    EXPECT_EQ(PopDecimalText(), "-123.45");
    Vrn$DPushConstant(digits, 5, 0, 0);
    EXPECT_EQ(PopDecimalText(), "12345");

    struct {
        const char* first;
        const char* top;
        int32_t distinct;
    } const comparisons[] = {
        {"1", "2", -1}, {"2", "1", 1},      {"-1", "1", -1},   {"-2", "-1", -1},
        {"0", "-0", 0}, {"1.50", "1.5", 0}, {"0.001", "0", 1}, {"-0.001", "0", -1},
    };
    for (const auto& c : comparisons) {
        SCOPED_TRACE(std::string(c.first) + " vs " + c.top);
        Vrn$DPushCString(c.first);
        Vrn$DPushCString(c.top);
        EXPECT_EQ(Vrn$DecDistinct(), c.distinct);
        Vrn$DPushCString(c.first);
        Vrn$DPushCString(c.top);
        EXPECT_EQ(Vrn$DecDistinctR(), -c.distinct);
    }
    const char* conditions[][2] = {{"0", "0"}, {"0.00000000000000000000000000000001", "1"}, {"-3", "1"}};
    for (const auto& c : conditions) {
        Vrn$DPushCString(c[0]);
        EXPECT_EQ(Vrn$DecCompareN(), c[1][0] - '0') << c[0];
    }
}

TEST_F(DecimalTest, UnaryOperationsAndSwap) {
    Vrn$DPushCString("-7.9");
    Vrn$DInt();
    EXPECT_EQ(PopDecimalText(), "-7");
    Vrn$DPushCString("-0.9");
    Vrn$DInt();
    EXPECT_EQ(PopDecimalText(), "0");
    Vrn$DPushCString("-7.9");
    Vrn$DAbs();
    EXPECT_EQ(PopDecimalText(), "7.9");
    Vrn$DPushCString("7.9");
    Vrn$DNegate();
    EXPECT_EQ(PopDecimalText(), "-7.9");
    Vrn$DPushLong(0);
    Vrn$DNegate();
    Vrn$DPushLong(0);
    EXPECT_EQ(Vrn$DecDistinct(), 0);
    Vrn$DPushLong(10);
    Vrn$DPushLong(4);
    Vrn$DSwap();
    Vrn$DecSub();
    EXPECT_EQ(PopDecimalText(), "-6");
}

TEST_F(DecimalTest, StackBoundsNeverCorruptMemory) {
    for (int i = 1; i <= VRN_DECIMAL_STACK_DEPTH + 3; ++i) {
        Vrn$DPushLong(i);
    }
    EXPECT_EQ(Vrw$DStackDepth(), static_cast<uint32_t>(VRN_DECIMAL_STACK_DEPTH));
    EXPECT_EQ(Vrn$DPopLong(), 10); // the pushes beyond ten were ignored
    for (int i = 9; i >= 1; --i) {
        EXPECT_EQ(Vrn$DPopLong(), i);
    }
    EXPECT_EQ(Vrn$DPopLong(), 0); // an empty stack pops 0
    uint8_t image[3] = {0xAA, 0xAA, 0xAA};
    Vrn$DPopDec(image, sizeof image, 2);
    EXPECT_EQ(Hex({image, image + 3}), "000000");

    Vrn$DPushLong(5);
    Vrn$DecSub(); // the missing first operand is 0
    EXPECT_EQ(Vrw$DStackDepth(), 1u);
    EXPECT_EQ(PopDecimalText(), "-5");
    Vrn$DecAdd(); // both missing
    EXPECT_EQ(Vrw$DStackDepth(), 1u);
    EXPECT_EQ(PopDecimalText(), "0");
    EXPECT_EQ(Vrn$DecDistinct(), 0);
    Vrn$DNegate();
    EXPECT_EQ(PopDecimalText(), "0");
}

TEST_F(DecimalTest, ExchangesWithTheStringStack) {
    PushText("  12.50  ");
    Vrn$Stack2DStack();
    EXPECT_EQ(PopDecimalText(), "12.5");
    // Only the first 99 characters are read: 99 nines, then a digit that is not.
    std::string long_number(99, '9');
    PushText(long_number + "1");
    Vrn$Stack2DStack();
    Vrn$DPushCString(std::string(32, '9').c_str());
    EXPECT_EQ(Vrn$DecDistinct(), 0);
    PushText("-0.05");
    Vrn$Stack2DStack();
    Vrn$DStack2Stack();
    EXPECT_EQ(PopText(), "-0.05");
}

TEST_F(DecimalTest, EachThreadHasItsOwnStack) {
    Vrn$DPushLong(1);
    uint32_t depth_elsewhere = 99;
    std::thread other([&] {
        Vrn$DPushLong(2);
        Vrn$DPushLong(3);
        depth_elsewhere = Vrw$DStackDepth();
        Vrn$DecAdd();
        Vrn$DPopLong();
    });
    other.join();
    EXPECT_EQ(depth_elsewhere, 2u);
    EXPECT_EQ(Vrw$DStackDepth(), 1u);
    EXPECT_EQ(Vrn$DPopLong(), 1);
}

} // namespace
