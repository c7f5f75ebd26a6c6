// SPDX-License-Identifier: GPL-3.0-or-later
// The compact values' general operations: any image of up to 16 bytes, any places up to 32, and
// each operation's exact agreement with the accumulator (see decimal_compact.h). The decimal stack
// inlines its own fast paths for the most common cases and calls these for the rest.
#include "core/decimal_compact.h"

namespace tarvex {
namespace {

// n / 10^k rounded half away from zero (n is a magnitude), for k = 0..38.
Uint128 RoundedDivPow10(Uint128 n, int k) {
    if (k == 0) {
        return n;
    }
    if (k <= 19) {
        uint64_t remainder;
        Uint128 quotient = DivideWide(n, kPow10[k], remainder);
        return quotient + (remainder >= kPow10[k] / 2);
    }
    uint64_t low;
    Uint128 high = DivideWide(n, kPow10[19], low);
    uint64_t middle;
    Uint128 quotient = DivideWide(high, kPow10[k - 19], middle);
    Uint128 remainder = static_cast<Uint128>(middle) * kPow10[19] + low;
    return quotient + (remainder >= Pow10Wide(k) / 2);
}

// n modulo 10^k, for k = 0..35.
Uint128 ModPow10Wide(Uint128 n, int k) {
    if (n < Pow10Wide(k)) {
        return n;
    }
    uint64_t remainder;
    if (k <= 19) {
        DivideWide(n, kPow10[k], remainder);
        return remainder;
    }
    uint64_t low;
    Uint128 high = DivideWide(n, kPow10[16], low);
    DivideWide(high, kPow10[k - 16], remainder);
    return static_cast<Uint128>(remainder) * kPow10[16] + low;
}

// Decimal digits of n (0 for 0).
int DigitCount(Uint128 n) {
    int count = 0;
    while (count < 39 && n >= Pow10Wide(count)) {
        ++count;
    }
    return count;
}

// Multiplies a magnitude by 10^shift, or returns false when the product would reach 10^38.
bool ScaleUp(Uint128& magnitude, uint32_t shift) {
    if (magnitude == 0) {
        return true;
    }
    if (shift >= 38 || magnitude >= Pow10Wide(38 - static_cast<int>(shift))) {
        return false;
    }
    magnitude *= Pow10Wide(static_cast<int>(shift));
    return true;
}

// Both magnitudes at the larger of the two places.
bool CommonPlaces(const CompactDecimal& first, const CompactDecimal& top, Uint128& a, Uint128& b,
                  uint32_t& places) {
    a = first.magnitude;
    b = top.magnitude;
    places = first.places;
    if (first.places == top.places) [[likely]] {
        return true;
    }
    if (first.places < top.places) {
        places = top.places;
        return ScaleUp(a, top.places - first.places);
    }
    return ScaleUp(b, first.places - top.places);
}

} // namespace

bool LoadCompact(const uint8_t* image, uint32_t size, uint32_t places, bool packed, CompactDecimal& value) {
    if (size == 0 || image == nullptr) {
        value = CompactDecimal{0, 0, false};
        return true;
    }
    if (size > kCompactMaxImageSize || places > kCompactMaxPlaces) {
        return false;
    }
    uint32_t digits = 2 * size - 1;
    Uint128 word = ReadWord(image, size);
    bool negative;
    if (packed) {
        negative = (static_cast<uint32_t>(word) & 0xF) == 0xD;
        word >>= 4;
    } else {
        negative = (static_cast<uint32_t>(word >> (4 * digits)) & 0xF) != 0;
        word &= (static_cast<Uint128>(1) << (4 * digits)) - 1;
    }
    uint64_t high = static_cast<uint64_t>(word >> 64);
    Uint128 magnitude = BcdToBinary(static_cast<uint64_t>(word));
    if (high != 0) {
        magnitude += static_cast<Uint128>(BcdToBinary(high)) * kPow10[16];
    }
    value = CompactDecimal{magnitude, places, negative && magnitude != 0};
    return true;
}

bool LoadCompactDigits(const uint8_t* digits, uint32_t count, uint32_t places, bool negative,
                       CompactDecimal& value) {
    if (count > 19 || places > kCompactMaxPlaces) {
        return false;
    }
    uint64_t magnitude = 0;
    if (digits != nullptr) {
        for (uint32_t i = 0; i < count; ++i) {
            magnitude = magnitude * 10 + (digits[i] <= 9 ? digits[i] : 0); // anything else is not a digit
        }
    }
    value = CompactDecimal{magnitude, places, negative && magnitude != 0};
    return true;
}

bool AddCompact(const CompactDecimal& first, const CompactDecimal& top, bool subtract,
                CompactDecimal& result) {
    Uint128 a;
    Uint128 b;
    uint32_t places;
    if (!CommonPlaces(first, top, a, b, places)) {
        return false;
    }
    bool top_negative = top.negative != subtract;
    Uint128 sum;
    bool negative;
    if (first.negative == top_negative) {
        sum = a + b;
        negative = first.negative;
    } else if (a >= b) {
        sum = a - b;
        negative = first.negative;
    } else {
        sum = b - a;
        negative = top_negative;
    }
    if (sum >= CompactLimit(places)) {
        return false;
    }
    result = CompactDecimal{sum, places, negative && sum != 0};
    return true;
}

bool MultiplyCompact(const CompactDecimal& first, const CompactDecimal& top, CompactDecimal& result) {
    uint32_t places = first.places + top.places;
    if ((first.magnitude >> 64) != 0 || (top.magnitude >> 64) != 0 || places > kCompactMaxPlaces) {
        return false;
    }
    Uint128 product =
        static_cast<Uint128>(static_cast<uint64_t>(first.magnitude)) * static_cast<uint64_t>(top.magnitude);
    if (product >= CompactLimit(places)) {
        return false;
    }
    result = CompactDecimal{product, places, first.negative != top.negative && product != 0};
    return true;
}

bool RoundCompact(const CompactDecimal& value, const CompactDecimal& step, CompactDecimal& result) {
    int target = step.magnitude == 0 ? 0 : static_cast<int>(step.places) + 1 - DigitCount(step.magnitude);
    if (target >= static_cast<int>(value.places)) {
        result = value; // nothing below the rounding point
        return true;
    }
    if (target < 0) {
        return false;
    }
    Uint128 rounded = RoundedDivPow10(value.magnitude, static_cast<int>(value.places) - target);
    if (rounded >= CompactLimit(static_cast<uint32_t>(target))) {
        return false;
    }
    result = CompactDecimal{rounded, static_cast<uint32_t>(target), value.negative && rounded != 0};
    return true;
}

bool CompareCompact(const CompactDecimal& first, const CompactDecimal& top, int& order) {
    if (first.negative != top.negative) {
        order = first.negative ? -1 : 1;
        return true;
    }
    Uint128 a;
    Uint128 b;
    uint32_t places;
    if (!CommonPlaces(first, top, a, b, places)) {
        return false;
    }
    int magnitude = a == b ? 0 : (a < b ? -1 : 1);
    order = first.negative ? -magnitude : magnitude;
    return true;
}

bool StoreCompact(const CompactDecimal& value, uint8_t* image, uint32_t size, uint32_t places, bool packed) {
    if (size == 0 || image == nullptr) {
        return true;
    }
    if (size > kCompactMaxImageSize || places > kCompactMaxPlaces) {
        return false;
    }
    int digits = static_cast<int>(2 * size - 1);
    Uint128 units; // the stored digits as a number
    if (places == value.places) [[likely]] {
        units = ModPow10Wide(value.magnitude, digits);
    } else if (places > value.places) {
        int shift = static_cast<int>(places - value.places);
        units = shift >= digits ? 0 : ModPow10Wide(value.magnitude, digits - shift) * Pow10Wide(shift);
    } else {
        // The rounding carry may reach 10^(32 + places), which the accumulator loses beyond its top
        // position; the capacity (at most 31 digits) drops it here all the same.
        units =
            ModPow10Wide(RoundedDivPow10(value.magnitude, static_cast<int>(value.places - places)), digits);
    }
    uint64_t low;
    uint64_t high;
    if ((units >> 64) == 0) {
        low = static_cast<uint64_t>(units) % kPow10[16];
        high = static_cast<uint64_t>(units) / kPow10[16];
    } else {
        high = static_cast<uint64_t>(DivideWide(units, kPow10[16], low));
    }
    Uint128 word = BinaryToBcd(low);
    if (high != 0) {
        word |= static_cast<Uint128>(BinaryToBcd(high)) << 64;
    }
    bool negative = value.negative && units != 0;
    if (packed) {
        word = (word << 4) | (negative ? 0xD : 0xF);
    } else if (negative) {
        word |= static_cast<Uint128>(0xF) << (4 * digits);
    }
    WriteWord(word, image, size);
    return true;
}

} // namespace tarvex
