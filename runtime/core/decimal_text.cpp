// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions of the decimal accumulator to and from text and 64-bit floats. Nothing here depends
// on the C locale: the decimal point is always ".", and floats go through std::to_chars and
// std::from_chars, which are exact.
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/decimal.h"

namespace tarvex {
namespace {

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline uint32_t DigitAt(const DecimalAccumulator& value, int position) {
    uint32_t limb = value.limb[position >> 3];
    for (int i = position & 7; i > 0; --i) {
        limb /= 10;
    }
    return limb % 10;
}

inline void SetDigit(DecimalAccumulator& value, int position, uint32_t digit) {
    static constexpr uint32_t kPow10[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    if (position >= 0 && position < kDecimalPositions) {
        value.limb[position >> 3] += digit * kPow10[position & 7];
    }
}

// Enough for every significant digit of a double (at most 767) and its exponent.
constexpr size_t kExactDoubleText = 800;
constexpr int kRealDigits = 15;

} // namespace

DecimalAccumulator TextToDecimal(const char* text, size_t length) {
    DecimalAccumulator value = DecimalAccumulator::Zero();
    if (text == nullptr) {
        return value;
    }
    size_t i = 0;
    while (i < length && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < length && text[i] == '-') {
        negative = true;
        ++i;
    }
    size_t integer_start = i;
    while (i < length && IsDigit(text[i])) {
        ++i;
    }
    size_t integer_end = i;
    // Integer digits above the 32nd are lost, as in every other result that does not fit.
    for (size_t k = integer_end; k-- > integer_start;) {
        int position = kDecimalPlaces + static_cast<int>(std::min<size_t>(integer_end - 1 - k, 64));
        if (position >= kDecimalPositions) {
            break;
        }
        SetDigit(value, position, static_cast<uint32_t>(text[k] - '0'));
    }
    if (i < length && text[i] == '.') {
        ++i;
        int position = kDecimalPlaces - 1;
        for (; i < length && IsDigit(text[i]); ++i, --position) {
            SetDigit(value, position, static_cast<uint32_t>(text[i] - '0')); // below 10^-32: cut
        }
        if (i < length && (text[i] == 'e' || text[i] == 'E')) {
            ++i;
            bool exponent_negative = false;
            if (i < length && text[i] == '-') {
                exponent_negative = true;
                ++i;
            }
            uint8_t exponent = 0; // one byte: the exponent is taken modulo 256
            for (; i < length && IsDigit(text[i]); ++i) {
                exponent = static_cast<uint8_t>(exponent * 10 + (text[i] - '0'));
            }
            ShiftDigits(value, exponent_negative ? -static_cast<int>(exponent) : exponent);
        }
    }
    value.negative = negative && !value.IsZero();
    return value;
}

int32_t TextToLong(const char* text, size_t length) {
    return ToLong(TextToDecimal(text, length));
}

size_t DecimalToText(const DecimalAccumulator& value, char* buffer) {
    char* out = buffer;
    int lead = value.LeadingPosition();
    if (lead < 0) {
        *out++ = '0';
        *out = '\0';
        return 1;
    }
    int last = 0;
    while (last < kDecimalPlaces && DigitAt(value, last) == 0) {
        ++last;
    }
    if (value.negative) {
        *out++ = '-';
    }
    if (lead < kDecimalPlaces) {
        *out++ = '0';
    }
    for (int position = lead; position >= kDecimalPlaces; --position) {
        *out++ = static_cast<char>('0' + DigitAt(value, position));
    }
    if (last < kDecimalPlaces) {
        *out++ = '.';
        for (int position = kDecimalPlaces - 1; position >= last; --position) {
            *out++ = static_cast<char>('0' + DigitAt(value, position));
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - buffer);
}

DecimalAccumulator FromDouble(double real) {
    DecimalAccumulator value = DecimalAccumulator::Zero();
    if (!std::isfinite(real) || real == 0.0) {
        return value;
    }
    double magnitude = std::fabs(real);
    // Sixteen correctly rounded digits settle the fifteenth unless the sixteenth is a 5, which may
    // stand for anything from 4.5 to 5.5; only then are all digits of the double written out.
    char text[kExactDoubleText];
    auto written =
        std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific, kRealDigits);
    *written.ptr = '\0';
    if (text[kRealDigits + 1] == '5') {
        written = std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific,
                                static_cast<int>(sizeof text) - 16);
        *written.ptr = '\0';
    }
    // text: d.ddd...e[+-]x
    char digits[kRealDigits + 1];
    digits[0] = text[0];
    std::memcpy(digits + 1, text + 2, kRealDigits - 1);
    const char* exponent_text = std::strchr(text, 'e');
    int exponent = 0;
    std::from_chars(exponent_text + (exponent_text[1] == '+' ? 2 : 1), written.ptr, exponent);
    bool round_up = text[kRealDigits + 1] >= '5';
    if (round_up) {
        int k = kRealDigits - 1;
        for (; k >= 0 && digits[k] == '9'; --k) {
            digits[k] = '0';
        }
        if (k >= 0) {
            ++digits[k];
        } else {
            digits[0] = '1'; // 9.99...9 rounded up to 10.0...0: one more leading position
            ++exponent;
        }
    }
    // The leading digit has the position 32 + exponent; digits beyond either end are lost.
    for (int k = 0; k < kRealDigits; ++k) {
        int64_t position = kDecimalPlaces + static_cast<int64_t>(exponent) - k;
        if (position >= 0 && position < kDecimalPositions) {
            SetDigit(value, static_cast<int>(position), static_cast<uint32_t>(digits[k] - '0'));
        }
    }
    value.negative = real < 0 && !value.IsZero();
    return value;
}

double ToDouble(const DecimalAccumulator& value) {
    int lead = value.LeadingPosition();
    if (lead < 0) {
        return 0.0;
    }
    char text[kDecimalPositions + 8];
    char* out = text;
    for (int position = lead; position >= 0; --position) {
        *out++ = static_cast<char>('0' + DigitAt(value, position));
    }
    std::memcpy(out, "e-32", 4);
    out += 4;
    double result = 0.0;
    std::from_chars(text, out, result);
    return value.negative ? -result : result;
}

} // namespace tarvex
