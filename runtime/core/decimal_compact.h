// SPDX-License-Identifier: GPL-3.0-or-later
// Compact decimal values: the decimal stack's binary form for values of up to 38 digits (LONGs,
// short constants, variables once an operation needs them in binary, and the products, sums and
// rounded values of these). A compact value is a binary count of units of its places, so a
// product, a comparison or a rounding works on one 128-bit integer instead of eight limbs.
//
// Every operation here gives exactly what the accumulator gives for the same values, or declines
// (returns false, leaving its result untouched) and leaves the work to the accumulator. The
// invariant that makes this possible: magnitude * 10^(32 - places) < 10^64, so a compact value is
// an accumulator value that has not wrapped and has lost no digits, and below 10^38, so that two
// of them add without overflowing 128 bits.
#pragma once

#include <cstdint>

#include "core/decimal.h"
#include "core/decimal_packing.h"

namespace tarvex {

struct CompactDecimal {
    Uint128 magnitude; // below CompactLimit(places)
    uint32_t places;   // 0..32
    bool negative;     // never for a zero magnitude
};

constexpr uint32_t kCompactMaxPlaces = 32;
constexpr uint32_t kCompactMaxImageSize = 16; // 31 digits

// 10^k for k = 0..38 (10^38 < 2^128).
struct WidePowers {
    Uint128 value[39];
    constexpr WidePowers() : value() {
        value[0] = 1;
        for (int k = 1; k < 39; ++k) {
            value[k] = value[k - 1] * 10;
        }
    }
};
inline constexpr WidePowers kWidePowers;

inline constexpr Uint128 Pow10Wide(int k) {
    return kWidePowers.value[k];
}

struct CompactLimits {
    Uint128 limit[kCompactMaxPlaces + 1];
    constexpr CompactLimits() : limit() {
        for (uint32_t p = 0; p <= kCompactMaxPlaces; ++p) {
            limit[p] = Pow10Wide(32 + static_cast<int>(p) < 38 ? 32 + static_cast<int>(p) : 38);
        }
    }
};
inline constexpr CompactLimits kCompactLimits;

// The bound a magnitude with `places` must stay below.
inline Uint128 CompactLimit(uint32_t places) {
    return kCompactLimits.limit[places];
}

// n / d, the remainder in `remainder`.
inline Uint128 DivideWide(Uint128 n, uint64_t d, uint64_t& remainder) {
    uint64_t high = static_cast<uint64_t>(n >> 64);
    uint64_t low = static_cast<uint64_t>(n);
    if (high == 0) {
        remainder = low % d;
        return low / d;
    }
    uint64_t quotient_high = high / d;
    uint64_t rest = high % d;
#if defined(__x86_64__)
    // rest < d, so the quotient of rest:low fits 64 bits and one divide instruction gives both.
    uint64_t quotient_low;
    __asm__("divq %[d]" : "=a"(quotient_low), "=d"(rest) : "a"(low), "d"(rest), [d] "rm"(d));
    remainder = rest;
#else
    Uint128 part = (static_cast<Uint128>(rest) << 64) | low;
    uint64_t quotient_low = static_cast<uint64_t>(part / d);
    remainder = static_cast<uint64_t>(part % d);
#endif
    return (static_cast<Uint128>(quotient_high) << 64) | quotient_low;
}

// The general operations (decimal_compact.cpp). Each gives exactly what the accumulator gives
// for the same operands, or returns false and leaves its result untouched.

// The image's value, or false for an image longer than 16 bytes or with more than 32 places. A
// null or empty image reads as 0, as the accumulator reads it.
bool LoadCompact(const uint8_t* image, uint32_t size, uint32_t places, bool packed, CompactDecimal& value);
// A compiled constant (unpacked digits, most significant first) of up to 19 digits.
bool LoadCompactDigits(const uint8_t* digits, uint32_t count, uint32_t places, bool negative,
                       CompactDecimal& value);
// first + top, or first - top when `subtract`.
bool AddCompact(const CompactDecimal& first, const CompactDecimal& top, bool subtract,
                CompactDecimal& result);
// first * top while both magnitudes fit 64 bits and no digit is cut.
bool MultiplyCompact(const CompactDecimal& first, const CompactDecimal& top, CompactDecimal& result);
// ROUND(value, step): half away from zero at the step's leading digit (a zero step: 0 places).
bool RoundCompact(const CompactDecimal& value, const CompactDecimal& step, CompactDecimal& result);
// -1, 0 or 1 into `order`, as Compare gives.
bool CompareCompact(const CompactDecimal& first, const CompactDecimal& top, int& order);
// Stores as StoreDecimal / StorePdecimal would: rounded half away from zero to the places and kept
// modulo the image's capacity; a value that stores as zero is positive.
bool StoreCompact(const CompactDecimal& value, uint8_t* image, uint32_t size, uint32_t places, bool packed);

// Bridges to the accumulator (decimal.cpp).
DecimalAccumulator ExpandCompact(const CompactDecimal& value);
// The quotient rounded to 31 places, as Divide gives, for a dividend below 10^19 and a divisor
// below 10^8 (false for others).
bool DivideCompact(const CompactDecimal& first, const CompactDecimal& top, DecimalAccumulator& result);

} // namespace tarvex
