// SPDX-License-Identifier: GPL-3.0-or-later
// Packed BCD and the binary numbers behind it, shared by the accumulator's storage images and the
// decimal stack's compact values: sixteen nibbles <-> a number below 10^16 in a few word
// operations, and an image of up to 16 bytes read and written as one 128-bit word.
#pragma once

#include <cstdint>
#include <cstring>

namespace tarvex {

using Uint128 = unsigned __int128;

inline constexpr uint64_t kPow10[20] = {1ULL,
                                        10ULL,
                                        100ULL,
                                        1000ULL,
                                        10000ULL,
                                        100000ULL,
                                        1000000ULL,
                                        10000000ULL,
                                        100000000ULL,
                                        1000000000ULL,
                                        10000000000ULL,
                                        100000000000ULL,
                                        1000000000000ULL,
                                        10000000000000ULL,
                                        100000000000000ULL,
                                        1000000000000000ULL,
                                        10000000000000000ULL,
                                        100000000000000000ULL,
                                        1000000000000000000ULL,
                                        10000000000000000000ULL};

// ---- Sixteen BCD nibbles <-> a binary number below 10^16. ---------------------------------------

inline uint64_t ClearInvalidNibbles(uint64_t packed) {
    for (int shift = 0; shift < 64; shift += 4) {
        if (((packed >> shift) & 0xF) > 9) {
            packed &= ~(0xFULL << shift);
        }
    }
    return packed;
}

// A nibble above 9 has its top bit and one of the two below it set.
inline uint64_t NibblesAbove9(uint64_t packed) {
    return packed & ((packed << 1) | (packed << 2)) & 0x8888888888888888ULL;
}

inline bool NibblesAreDigits(uint64_t packed) {
    return NibblesAbove9(packed) == 0;
}

// Sixteen valid BCD nibbles as two binary numbers of eight digits, one per 32-bit half.
inline uint64_t BcdToLanes(uint64_t packed) {
    uint64_t x = ((packed >> 4) & 0x0F0F0F0F0F0F0F0FULL) * 10 + (packed & 0x0F0F0F0F0F0F0F0FULL);
    x = ((x >> 8) & 0x00FF00FF00FF00FFULL) * 100 + (x & 0x00FF00FF00FF00FFULL);
    return ((x >> 16) & 0x0000FFFF0000FFFFULL) * 10000 + (x & 0x0000FFFF0000FFFFULL);
}

// Sixteen valid BCD nibbles as one binary number.
inline uint64_t ValidBcdToBinary(uint64_t packed) {
    uint64_t lanes = BcdToLanes(packed);
    return (lanes >> 32) * 100000000ULL + (lanes & 0xFFFFFFFFULL);
}

// A nibble above 9 (a damaged image) reads as 0, so a value never holds a digit outside 0..9.
inline uint64_t BcdToBinary(uint64_t packed) {
    if (!NibblesAreDigits(packed)) [[unlikely]] {
        packed = ClearInvalidNibbles(packed);
    }
    return ValidBcdToBinary(packed);
}

// ---- Sums and differences of packed numbers of up to 32 digits. ----------------------------------

inline constexpr Uint128 kNibbleLowBits =
    (static_cast<Uint128>(0x1111111111111111ULL) << 64) | 0x1111111111111110ULL;

// a + b for valid BCD numbers whose sum has at most 32 digits, a half of sixteen digits at a time.
// Adding 6 to each digit first makes a decimal carry a binary one; the digits that did not carry
// give their 6 back. The high half's top digit gets no 6: it cannot carry.
inline Uint128 PackedAdd(Uint128 a, Uint128 b) {
    uint64_t b_low = static_cast<uint64_t>(b);
    uint64_t b_high = static_cast<uint64_t>(b >> 64);
    uint64_t biased = static_cast<uint64_t>(a) + 0x6666666666666666ULL;
    uint64_t sum = biased + b_low;
    uint64_t carry = sum < biased;
    // At bit 4k - 3: digit k - 1 did not carry (times 3 makes it 6 in that digit).
    uint64_t no_carry = ((~(sum ^ biased ^ b_low) & 0x1111111111111110ULL) >> 3) | ((carry ^ 1) << 61);
    uint64_t low = sum - 3 * no_carry;
    uint64_t high_biased = static_cast<uint64_t>(a >> 64) + 0x0666666666666666ULL;
    uint64_t high_sum = high_biased + b_high + carry;
    uint64_t high_no_carry = (~(high_sum ^ high_biased ^ b_high) & 0x1111111111111110ULL) >> 3;
    return (static_cast<Uint128>(high_sum - 3 * high_no_carry) << 64) | low;
}

// a - b for valid BCD numbers with a >= b. A digit that borrowed holds 16 too many instead of 10.
inline Uint128 PackedSubtract(Uint128 a, Uint128 b) {
    Uint128 difference = a - b;
    Uint128 borrowed = ((a ^ b ^ difference) & kNibbleLowBits) >> 4; // at bit 4k: digit k borrowed
    return difference - ((borrowed << 2) + (borrowed << 1));
}

// BCD of 0..9999, built at compile time (20 KB, read-only).
struct BcdTable {
    uint16_t bcd[10000];
    constexpr BcdTable() : bcd() {
        for (int v = 0; v < 10000; ++v) {
            bcd[v] =
                static_cast<uint16_t>((v / 1000) << 12 | (v / 100 % 10) << 8 | (v / 10 % 10) << 4 | v % 10);
        }
    }
};
inline constexpr BcdTable kBcdTable;

// Eight digits (value below 10^8) as 32 bits of BCD.
inline uint32_t BinaryToBcd8(uint32_t value) {
    uint32_t high = value / 10000;
    return static_cast<uint32_t>(kBcdTable.bcd[high]) << 16 | kBcdTable.bcd[value - high * 10000];
}

// Sixteen digits (value below 10^16) as 64 bits of BCD.
inline uint64_t BinaryToBcd(uint64_t value) {
    uint64_t high = value / 100000000ULL;
    return (static_cast<uint64_t>(BinaryToBcd8(static_cast<uint32_t>(high))) << 32) |
           BinaryToBcd8(static_cast<uint32_t>(value - high * 100000000ULL));
}

// Sixteen BCD nibbles as sixteen ASCII digits, most significant first.
inline void PackedToText(uint64_t packed, char* text) {
    auto spread = [](uint32_t nibbles) {
        // Nibble i into byte i, then the bytes most significant first.
        uint64_t t = nibbles;
        t = (t | (t << 16)) & 0x0000FFFF0000FFFFULL;
        t = (t | (t << 8)) & 0x00FF00FF00FF00FFULL;
        t = (t | (t << 4)) & 0x0F0F0F0F0F0F0F0FULL;
        return __builtin_bswap64(t) | 0x3030303030303030ULL;
    };
    uint64_t high = spread(static_cast<uint32_t>(packed >> 32));
    uint64_t low = spread(static_cast<uint32_t>(packed));
    std::memcpy(text, &high, 8);
    std::memcpy(text + 8, &low, 8);
}

// ---- Images of up to 16 bytes as one word. -------------------------------------------------------

inline uint32_t LoadBigEndian32(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return __builtin_bswap32(word);
}

inline void StoreBigEndian32(uint32_t word, uint8_t* bytes) {
    word = __builtin_bswap32(word);
    std::memcpy(bytes, &word, sizeof word);
}

inline uint64_t LoadBigEndian64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return __builtin_bswap64(word);
}

inline void StoreBigEndian64(uint64_t word, uint8_t* bytes) {
    word = __builtin_bswap64(word);
    std::memcpy(bytes, &word, sizeof word);
}

// The image (1 to 16 bytes, most significant first) as one number in two halves, and back. Two
// overlapping accesses of 8 bytes (from 9 bytes up) or of 4 bytes (4 to 8 bytes) cover it.
inline void ReadHalves(const uint8_t* image, uint32_t size, uint64_t& high, uint64_t& low) {
    if (size >= 9) {
        high = LoadBigEndian64(image) >> (8 * (16 - size));
        low = LoadBigEndian64(image + size - 8);
    } else if (size >= 4) {
        high = 0;
        low = (static_cast<uint64_t>(LoadBigEndian32(image)) << (8 * (size - 4))) |
              LoadBigEndian32(image + size - 4);
    } else {
        high = 0;
        low = 0;
        for (uint32_t i = 0; i < size; ++i) {
            low = (low << 8) | image[i];
        }
    }
}

inline void WriteHalves(uint64_t high, uint64_t low, uint8_t* image, uint32_t size) {
    if (size >= 9) {
        StoreBigEndian64(size == 16 ? high : (high << (8 * (16 - size))) | (low >> (8 * (size - 8))), image);
        StoreBigEndian64(low, image + size - 8);
    } else if (size >= 4) {
        StoreBigEndian32(static_cast<uint32_t>(low >> (8 * (size - 4))), image);
        StoreBigEndian32(static_cast<uint32_t>(low), image + size - 4);
    } else {
        for (uint32_t i = size; i-- > 0;) {
            image[i] = static_cast<uint8_t>(low);
            low >>= 8;
        }
    }
}

inline Uint128 ReadWord(const uint8_t* image, uint32_t size) {
    uint64_t high;
    uint64_t low;
    ReadHalves(image, size, high, low);
    return (static_cast<Uint128>(high) << 64) | low;
}

inline void WriteWord(Uint128 word, uint8_t* image, uint32_t size) {
    WriteHalves(static_cast<uint64_t>(word >> 64), static_cast<uint64_t>(word), image, size);
}

} // namespace tarvex
