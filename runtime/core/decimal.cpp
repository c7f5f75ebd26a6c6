// SPDX-License-Identifier: GPL-3.0-or-later
// The decimal accumulator's arithmetic and the DECIMAL / PDECIMAL storage images.
//
// Divisions: limbs (base 10^8) and digit shifts, storage images (a whole image of up to 16 bytes
// is one 128-bit word whose nibble groups are aligned to the limbs; the packing itself is in
// decimal_packing.h), magnitudes, division (one-limb divisors by reciprocal estimates, the general
// case by long division), then the accumulator's operations and the compact values' bridges to it.
// Every result keeps the low 64 digit positions, which is how an accumulator loses the digits that
// do not fit: above 32 integer digits the value wraps, below 32 places it is cut.
#include "core/decimal.h"
#include "core/decimal_compact.h"
#include "core/decimal_packing.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace tarvex {
namespace {

// x / 10^n with a constant divisor per case, so each is a multiply and a shift.
inline uint64_t DivPow10(uint64_t x, int n) {
    switch (n) {
#define TARVEX_DIV_CASE(k)                                                                                   \
    case k:                                                                                                  \
        return x / kPow10[k];
        TARVEX_DIV_CASE(0)
        TARVEX_DIV_CASE(1) TARVEX_DIV_CASE(2) TARVEX_DIV_CASE(3) TARVEX_DIV_CASE(4) TARVEX_DIV_CASE(5)
            TARVEX_DIV_CASE(6) TARVEX_DIV_CASE(7) TARVEX_DIV_CASE(8) TARVEX_DIV_CASE(9) TARVEX_DIV_CASE(10)
                TARVEX_DIV_CASE(11) TARVEX_DIV_CASE(12) TARVEX_DIV_CASE(13) TARVEX_DIV_CASE(14)
                    TARVEX_DIV_CASE(15) TARVEX_DIV_CASE(16) TARVEX_DIV_CASE(17) TARVEX_DIV_CASE(18)
                        TARVEX_DIV_CASE(19)
#undef TARVEX_DIV_CASE
                            default : return 0;
    }
}

inline uint64_t ModPow10(uint64_t x, int n) {
    return n >= 20 ? x : x - DivPow10(x, n) * kPow10[n];
}

inline void Canonical(DecimalAccumulator& value) {
    if (value.negative && value.IsZero()) {
        value.negative = false;
    }
}

// x / 10^k for a limb (x < 2^32, 0 <= k <= 8) by one multiplication: with m = ceil(2^64 / 10^k)
// the error of x * m / 2^64 stays below 2^-32, less than the gap 10^-k to the next integer.
constexpr uint64_t kLimbReciprocal[9] = {0,
                                         0x199999999999999AULL,
                                         0x028F5C28F5C28F5DULL,
                                         0x004189374BC6A7F0ULL,
                                         0x00068DB8BAC710CCULL,
                                         0x0000A7C5AC471B48ULL,
                                         0x000010C6F7A0B5EEULL,
                                         0x000001AD7F29ABCBULL,
                                         0x0000002AF31DC462ULL};

inline uint32_t LimbDivPow10(uint32_t x, int k) {
    return k == 0 ? x : static_cast<uint32_t>((static_cast<Uint128>(x) * kLimbReciprocal[k]) >> 64);
}

// destination = floor(source * 10^shift) modulo 10^(8 * destination_count); a negative shift
// divides. Limbs are base 10^8, least significant first. Each destination limb is made from two
// source limbs independently: the high digits of one and the low digits of the next.
void ShiftLimbs(const uint32_t* source, int source_count, int shift, uint32_t* destination,
                int destination_count) {
    int whole = shift >= 0 ? shift / 8 : -((-shift + 7) / 8); // floor(shift / 8)
    int part = shift - 8 * whole;                             // 0..7: digits moved up within limbs
    uint32_t keep = static_cast<uint32_t>(kPow10[8 - part]);  // low digits of a limb that stay
    uint32_t scale = static_cast<uint32_t>(kPow10[part]);
    // Only limbs that can receive a digit of the source are computed; the rest are 0.
    int first = std::clamp(whole, 0, destination_count);
    int last = std::clamp(source_count + whole + 1, 0, destination_count);
    for (int i = 0; i < first; ++i) {
        destination[i] = 0;
    }
    for (int i = last; i < destination_count; ++i) {
        destination[i] = 0;
    }
    const uint64_t reciprocal = kLimbReciprocal[8 - part];
    auto high_digits = [reciprocal](uint32_t limb) {
        return static_cast<uint32_t>((static_cast<Uint128>(limb) * reciprocal) >> 64);
    };
    // Destination limb i takes the low digits of source limb i - whole and the high digits of the
    // limb below it; past the source's top only those high digits are left.
    int below_index = first - whole - 1;
    uint32_t below = (below_index >= 0 && below_index < source_count) ? high_digits(source[below_index]) : 0;
    int end = std::min(last, source_count + whole);
    for (int i = first; i < end; ++i) {
        uint32_t upper = source[i - whole];
        uint32_t upper_high = high_digits(upper);
        destination[i] = (upper - upper_high * keep) * scale + below;
        below = upper_high;
    }
    if (end >= first && end < last) {
        destination[end] = below;
    }
}

// The number formed by the digits at positions pos .. pos + count - 1 (count <= 16); positions
// outside 0..63 read as 0.
uint64_t GetDigits(const uint32_t* limb, int pos, int count) {
    if (count <= 0) {
        return 0;
    }
    if (pos < 0) {
        int skip = -pos;
        if (skip >= count) {
            return 0;
        }
        return GetDigits(limb, 0, count - skip) * kPow10[skip];
    }
    if (pos >= kDecimalPositions) {
        return 0;
    }
    int index = pos >> 3;
    int part = pos & 7;
    uint64_t value = DivPow10(limb[index], part);
    int have = 8 - part;
    if (have >= count) {
        return ModPow10(value, count);
    }
    while (have < count && ++index < kDecimalLimbs) {
        uint64_t piece = limb[index];
        if (count - have < 8) {
            piece = ModPow10(piece, count - have);
        }
        value += piece * kPow10[have];
        have += 8;
    }
    return value;
}

// Adds value (below 10^16) at position pos into digits that are still 0; digits that fall below
// position 0 or above position 63 are lost.
void PutDigits(uint32_t* limb, int pos, uint64_t value) {
    if (value == 0) {
        return;
    }
    if (pos < 0) {
        if (-pos >= 20) {
            return;
        }
        value = DivPow10(value, -pos);
        pos = 0;
    }
    if (pos >= kDecimalPositions) {
        return;
    }
    int index = pos >> 3;
    int part = pos & 7;
    uint64_t upper = DivPow10(value, 8 - part);
    limb[index] += static_cast<uint32_t>((value - upper * kPow10[8 - part]) * kPow10[part]);
    while (upper != 0 && ++index < kDecimalLimbs) {
        uint64_t next = upper / kLimbBase;
        limb[index] += static_cast<uint32_t>(upper - next * kLimbBase);
        upper = next;
    }
}

// ---- Storage images. ----------------------------------------------------------------------------

enum class ImageKind { kDecimal, kPdecimal };

// Images of up to 16 bytes (31 digits, every declarable DECIMAL) are handled as one 128-bit word.
constexpr uint32_t kWordImageSize = 16;

// The position of the image's lowest digit, kept in a range where no arithmetic overflows.
int LowestPosition(uint32_t places) {
    return kDecimalPlaces - static_cast<int>(std::min<uint32_t>(places, 1000));
}

// Digit k (0 = least significant) of a larger image.
uint32_t ImageNibble(const uint8_t* image, uint32_t size, ImageKind kind, uint32_t k) {
    uint32_t nibble = kind == ImageKind::kDecimal ? k : k + 1; // counted from the image's end
    uint8_t byte = image[size - 1 - nibble / 2];
    return (nibble & 1) ? byte >> 4 : byte & 0xF;
}

void SetImageNibble(uint8_t* image, uint32_t size, uint32_t nibble, uint32_t value) {
    uint8_t& byte = image[size - 1 - nibble / 2];
    byte = (nibble & 1) ? static_cast<uint8_t>((byte & 0x0F) | (value << 4))
                        : static_cast<uint8_t>((byte & 0xF0) | value);
}

DecimalAccumulator LoadImage(const uint8_t* image, uint32_t size, uint32_t places, ImageKind kind) {
    DecimalAccumulator value = DecimalAccumulator::Zero();
    if (size == 0 || image == nullptr) {
        return value;
    }
    uint32_t digits = 2 * size - 1;
    int lowest = LowestPosition(places);
    if (size <= kWordImageSize) {
        Uint128 word = ReadWord(image, size);
        uint32_t sign;
        if (kind == ImageKind::kDecimal) {
            sign = static_cast<uint32_t>(word >> (4 * digits)) & 0xF;
            word &= (static_cast<Uint128>(1) << (4 * digits)) - 1;
            value.negative = sign != 0;
        } else {
            sign = static_cast<uint32_t>(word) & 0xF;
            word >>= 4;
            value.negative = sign == 0xD;
        }
        uint64_t low = static_cast<uint64_t>(word);
        uint64_t high = static_cast<uint64_t>(word >> 64);
        if (lowest >= 0 && NibblesAreDigits(low) && NibblesAreDigits(high)) {
            // Shifted by the lowest position's place inside its limb, each group of eight nibbles
            // is exactly one limb.
            int index = lowest >> 3;
            int shift = 4 * (lowest & 7);
            uint64_t group[3] = {low << shift, shift ? (high << shift) | (low >> (64 - shift)) : high,
                                 shift ? high >> (64 - shift) : 0};
            for (int g = 0; g < 3; ++g) {
                if (group[g] == 0) {
                    continue;
                }
                uint64_t lanes = BcdToLanes(group[g]);
                int at = index + 2 * g;
                if (at < kDecimalLimbs) {
                    value.limb[at] = static_cast<uint32_t>(lanes);
                }
                if (at + 1 < kDecimalLimbs) {
                    value.limb[at + 1] = static_cast<uint32_t>(lanes >> 32);
                }
            }
        } else {
            PutDigits(value.limb, lowest, BcdToBinary(low));
            PutDigits(value.limb, lowest + 16, BcdToBinary(high));
        }
    } else {
        for (uint32_t k = 0; k < digits; k += 16) {
            uint64_t packed = 0;
            for (uint32_t j = 0; j < 16 && k + j < digits; ++j) {
                packed |= static_cast<uint64_t>(ImageNibble(image, size, kind, k + j)) << (4 * j);
            }
            if (lowest + static_cast<int64_t>(k) >= kDecimalPositions) {
                break;
            }
            PutDigits(value.limb, lowest + static_cast<int>(k), BcdToBinary(packed));
        }
        uint32_t sign = kind == ImageKind::kDecimal ? image[0] >> 4 : image[size - 1] & 0xF;
        value.negative = kind == ImageKind::kDecimal ? sign != 0 : sign == 0xD;
    }
    Canonical(value);
    return value;
}

void StoreImage(const DecimalAccumulator& source, uint8_t* image, uint32_t size, uint32_t places,
                ImageKind kind) {
    if (size == 0 || image == nullptr) {
        return;
    }
    DecimalAccumulator value = source;
    RoundToPlaces(value, static_cast<int>(std::min<uint32_t>(places, 1000)));
    uint32_t digits = 2 * size - 1;
    int lowest = LowestPosition(places);
    if (size <= kWordImageSize) {
        Uint128 word;
        if (lowest >= 0) {
            // The limbs from the lowest position up, as BCD, shifted down to that position.
            int index = lowest >> 3;
            int shift = 4 * (lowest & 7);
            int needed = (static_cast<int>(digits) + (lowest & 7) + 7) / 8;
            uint32_t bcd[6] = {};
            for (int i = 0; i < needed && index + i < kDecimalLimbs; ++i) {
                uint32_t limb = value.limb[index + i];
                bcd[i] = limb ? BinaryToBcd8(limb) : 0;
            }
            uint64_t group[3] = {bcd[0] | static_cast<uint64_t>(bcd[1]) << 32,
                                 bcd[2] | static_cast<uint64_t>(bcd[3]) << 32,
                                 bcd[4] | static_cast<uint64_t>(bcd[5]) << 32};
            uint64_t low = shift ? (group[0] >> shift) | (group[1] << (64 - shift)) : group[0];
            uint64_t high = shift ? (group[1] >> shift) | (group[2] << (64 - shift)) : group[1];
            word =
                ((static_cast<Uint128>(high) << 64) | low) & ((static_cast<Uint128>(1) << (4 * digits)) - 1);
        } else {
            uint64_t low = GetDigits(value.limb, lowest, static_cast<int>(std::min<uint32_t>(digits, 16)));
            uint64_t high =
                digits > 16 ? GetDigits(value.limb, lowest + 16, static_cast<int>(digits - 16)) : 0;
            word = (static_cast<Uint128>(BinaryToBcd(high)) << 64) | BinaryToBcd(low);
        }
        // A value that stores as all zero digits is stored positive: no "-0" in a variable.
        bool negative = value.negative && word != 0;
        if (kind == ImageKind::kDecimal) {
            word |= static_cast<Uint128>(negative ? 0xF : 0x0) << (4 * digits);
        } else {
            word = (word << 4) | (negative ? 0xD : 0xF);
        }
        WriteWord(word, image, size);
        return;
    }
    std::memset(image, 0, size);
    bool any = false;
    uint32_t offset = kind == ImageKind::kDecimal ? 0 : 1;
    for (uint32_t k = 0; k < digits; k += 16) {
        int count = static_cast<int>(std::min<uint32_t>(16, digits - k));
        uint64_t chunk = lowest + static_cast<int64_t>(k) < kDecimalPositions
                             ? GetDigits(value.limb, lowest + static_cast<int>(k), count)
                             : 0;
        any |= chunk != 0;
        uint64_t packed = BinaryToBcd(chunk);
        for (int j = 0; j < count; ++j) {
            SetImageNibble(image, size, k + j + offset, (packed >> (4 * j)) & 0xF);
        }
    }
    bool negative = value.negative && any;
    if (kind == ImageKind::kDecimal) {
        SetImageNibble(image, size, digits, negative ? 0xF : 0x0);
    } else {
        SetImageNibble(image, size, 0, negative ? 0xD : 0xF);
    }
}

// ---- Magnitudes. --------------------------------------------------------------------------------

int CompareMagnitude(const uint32_t* a, const uint32_t* b, int count) {
    for (int i = count - 1; i >= 0; --i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

// result = a + b modulo 10^64.
void AddMagnitude(const uint32_t* a, const uint32_t* b, uint32_t* result) {
    uint32_t carry = 0;
    for (int i = 0; i < kDecimalLimbs; ++i) {
        uint32_t sum = a[i] + b[i] + carry;
        carry = sum >= kLimbBase;
        result[i] = carry ? sum - kLimbBase : sum;
    }
}

// result = a - b for a >= b.
void SubtractMagnitude(const uint32_t* a, const uint32_t* b, uint32_t* result) {
    uint32_t borrow = 0;
    for (int i = 0; i < kDecimalLimbs; ++i) {
        uint32_t subtrahend = b[i] + borrow;
        borrow = a[i] < subtrahend;
        result[i] = borrow ? a[i] + kLimbBase - subtrahend : a[i] - subtrahend;
    }
}

inline int TrailingZeroDigits(const uint32_t* limb) {
    for (int i = 0; i < kDecimalLimbs; ++i) {
        if (limb[i] != 0) {
            // Halving steps of 4, 2 and 1 digits (a non-zero limb has at most 7 trailing zeros).
            int zeros = 8 * i;
            uint32_t x = limb[i];
            if (x % 10000 == 0) {
                x /= 10000;
                zeros += 4;
            }
            if (x % 100 == 0) {
                x /= 100;
                zeros += 2;
            }
            if (x % 10 == 0) {
                zeros += 1;
            }
            return zeros;
        }
    }
    return kDecimalPositions;
}

int SignificantLimbs(const uint32_t* limb, int count) {
    while (count > 0 && limb[count - 1] == 0) {
        --count;
    }
    return count;
}

// 2 * remainder >= divisor, both of count limbs.
bool HalfOrMore(const uint32_t* remainder, const uint32_t* divisor, int count) {
    uint32_t doubled[kDecimalLimbs + 6];
    uint32_t carry = 0;
    for (int i = 0; i < count; ++i) {
        uint32_t t = 2 * remainder[i] + carry;
        carry = t >= kLimbBase;
        doubled[i] = carry ? t - kLimbBase : t;
    }
    return carry != 0 || CompareMagnitude(doubled, divisor, count) >= 0;
}

// Division by one limb without the slow hardware divide: the quotient estimated from the double
// reciprocal is off by a unit or a few, and is corrected exactly.
constexpr double kPow10Real[17] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7, 1e8,
                                   1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

struct LimbDivisor {
    uint64_t value;
    double reciprocal;
    explicit LimbDivisor(uint32_t divisor) : value(divisor), reciprocal(1.0 / divisor) {}
    uint64_t Quotient(uint64_t t) const {
        // Signed conversions are single instructions; t < 10^16 fits either way.
        uint64_t q = static_cast<uint64_t>(
            static_cast<int64_t>(static_cast<double>(static_cast<int64_t>(t)) * reciprocal));
        while (q * value > t) {
            --q;
        }
        while (t - q * value >= value) {
            ++q;
        }
        return q;
    }
    // (remainder * 10^digits + addend) / value for remainder < value, digits <= 16 and a quotient
    // below 10^16: up to two limbs of quotient at once. The estimate is off by a few units at most;
    // the exact remainder is small, so it is computed modulo 2^64 and the estimate corrected from it.
    uint64_t ChunkQuotient(uint64_t remainder, int digits, uint64_t addend, uint64_t& new_remainder) const {
        double estimate = (static_cast<double>(static_cast<int64_t>(remainder)) * kPow10Real[digits] +
                           static_cast<double>(static_cast<int64_t>(addend))) *
                          reciprocal;
        uint64_t q = static_cast<uint64_t>(static_cast<int64_t>(estimate));
        int64_t rest = static_cast<int64_t>(remainder * kPow10[digits] + addend - q * value);
        while (rest < 0) {
            --q;
            rest += static_cast<int64_t>(value);
        }
        while (rest >= static_cast<int64_t>(value)) {
            ++q;
            rest -= static_cast<int64_t>(value);
        }
        new_remainder = static_cast<uint64_t>(rest);
        return q;
    }
};

constexpr int kNumeratorLimbs = 13; // 95 digits of dividend * 10^31 and a normalisation limb

// Long division of u (numerator_count limbs) by v (divisor_count >= 2 limbs, top limb non-zero):
// quotient into q; returns whether the remainder is at least half the divisor. Knuth's algorithm D
// in base 10^8: both are scaled so the divisor's top limb is at least 10^8 / 2, each quotient limb
// is estimated from the two leading limbs, corrected by the next one, and at most once added back.
bool LongDivide(const uint32_t* numerator, int numerator_count, const uint32_t* divisor, int divisor_count,
                uint32_t* q) {
    const int n = divisor_count;
    const int m = numerator_count - n;
    uint32_t u[kNumeratorLimbs + 1] = {};
    uint32_t v[kDecimalLimbs + 1] = {};
    uint64_t scale = kLimbBase / (static_cast<uint64_t>(divisor[n - 1]) + 1);
    uint64_t carry = 0;
    for (int i = 0; i < numerator_count; ++i) {
        uint64_t t = numerator[i] * scale + carry;
        carry = t / kLimbBase;
        u[i] = static_cast<uint32_t>(t - carry * kLimbBase);
    }
    u[numerator_count] = static_cast<uint32_t>(carry);
    carry = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t t = divisor[i] * scale + carry;
        carry = t / kLimbBase;
        v[i] = static_cast<uint32_t>(t - carry * kLimbBase);
    }
    assert(carry == 0 && v[n - 1] >= kLimbBase / 2);
    const LimbDivisor leading(v[n - 1]);
    for (int j = m; j >= 0; --j) {
        uint64_t top = static_cast<uint64_t>(u[j + n]) * kLimbBase + u[j + n - 1];
        uint64_t qhat = leading.Quotient(top);
        uint64_t rhat = top - qhat * v[n - 1];
        while (qhat >= kLimbBase || qhat * v[n - 2] > rhat * kLimbBase + u[j + n - 2]) {
            --qhat;
            rhat += v[n - 1];
            if (rhat >= kLimbBase) {
                break;
            }
        }
        int64_t borrow = 0;
        carry = 0;
        for (int i = 0; i < n; ++i) {
            uint64_t product = qhat * v[i] + carry;
            carry = product / kLimbBase;
            int64_t t =
                static_cast<int64_t>(u[i + j]) - static_cast<int64_t>(product - carry * kLimbBase) - borrow;
            borrow = t < 0;
            u[i + j] = static_cast<uint32_t>(borrow ? t + kLimbBase : t);
        }
        int64_t t = static_cast<int64_t>(u[j + n]) - static_cast<int64_t>(carry) - borrow;
        if (t < 0) {
            // The estimate was one too large: add the divisor back.
            --qhat;
            uint32_t back = 0;
            for (int i = 0; i < n; ++i) {
                uint32_t sum = u[i + j] + v[i] + back;
                back = sum >= kLimbBase;
                u[i + j] = back ? sum - kLimbBase : sum;
            }
            t += back;
        }
        assert(t >= 0 && t < static_cast<int64_t>(kLimbBase) && qhat < kLimbBase);
        u[j + n] = static_cast<uint32_t>(t);
        q[j] = static_cast<uint32_t>(qhat);
    }
    return HalfOrMore(u, v, n);
}

// round(m1 * 10^exponent / divisor) read at position 1 (as the 31-place quotient is), for m1 below
// 10^19 given as high * 10^16 + low, a divisor below 10^8 and exponent >= 0: the integer quotient
// of m1 and then `exponent` digits of the remainder's fraction, sixteen at a time, written straight
// into the result's positions; digits that land above position 63 are lost.
void DivideDigits(uint64_t high, uint64_t low, uint32_t divisor, int exponent, bool negative,
                  DecimalAccumulator& result) {
    const LimbDivisor d(divisor);
    uint64_t quotient_high = d.Quotient(high);
    uint64_t remainder = high - quotient_high * d.value;
    uint64_t quotient_low = d.ChunkQuotient(remainder, 16, low, remainder);
    int position = exponent + 1; // where the integer quotient's units land
    if (position < kDecimalPositions) {
        PutDigits(result.limb, position, quotient_low);
        if (position + 16 < kDecimalPositions) {
            PutDigits(result.limb, position + 16, quotient_high);
        }
    }
    for (int left = exponent; left > 0;) {
        int digits = std::min(left, 16);
        uint64_t chunk = d.ChunkQuotient(remainder, digits, 0, remainder);
        left -= digits;
        if (left + 1 < kDecimalPositions) {
            PutDigits(result.limb, left + 1, chunk);
        }
    }
    if (2 * remainder >= d.value) {
        uint32_t add = 10; // one unit of the 31st place
        for (int i = 0; add != 0 && i < kDecimalLimbs; ++i) {
            uint32_t sum = result.limb[i] + add;
            add = sum >= kLimbBase;
            result.limb[i] = add ? sum - kLimbBase : sum;
        }
    }
    result.negative = negative;
    Canonical(result);
}

// Division of the common case: a dividend of at most 19 significant digits by a divisor of at most
// 8, as amounts and rates are. With m1 = M1 / 10^z1, d = M2 / 10^z2 and e = 31 + z1 - z2 >= 0 the
// quotient to 31 places is round(m1 * 10^e / d). Returns false for other operands.
bool DivideSmall(const DecimalAccumulator& first, const DecimalAccumulator& top, int first_zeros,
                 int top_zeros, DecimalAccumulator& result) {
    int first_digits = first.LeadingPosition() + 1 - first_zeros;
    int top_digits = top.LeadingPosition() + 1 - top_zeros;
    if (first_digits > 19 || top_digits > 8) {
        return false;
    }
    uint64_t low = GetDigits(first.limb, first_zeros, std::min(first_digits, 16));
    uint64_t high = first_digits > 16 ? GetDigits(first.limb, first_zeros + 16, first_digits - 16) : 0;
    DivideDigits(high, low, static_cast<uint32_t>(GetDigits(top.limb, top_zeros, top_digits)),
                 kDivisionPlaces + first_zeros - top_zeros, first.negative != top.negative, result);
    return true;
}

} // namespace

// ---- The accumulator. ---------------------------------------------------------------------------

DecimalAccumulator DecimalAccumulator::FromLong(int64_t value) {
    DecimalAccumulator result = Zero();
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    result.limb[4] = static_cast<uint32_t>(magnitude % kLimbBase);
    result.limb[5] = static_cast<uint32_t>(magnitude / kLimbBase % kLimbBase);
    result.limb[6] = static_cast<uint32_t>(magnitude / kLimbBase / kLimbBase);
    result.negative = value < 0;
    return result;
}

int DecimalAccumulator::LeadingPosition() const {
    for (int i = kDecimalLimbs - 1; i >= 0; --i) {
        if (limb[i] != 0) {
            uint32_t x = limb[i];
            return 8 * i + (x >= 10) + (x >= 100) + (x >= 1000) + (x >= 10000) + (x >= 100000) +
                   (x >= 1000000) + (x >= 10000000);
        }
    }
    return -1;
}

DecimalAccumulator LoadDecimal(const uint8_t* image, uint32_t size, uint32_t places) {
    return LoadImage(image, size, places, ImageKind::kDecimal);
}

DecimalAccumulator LoadPdecimal(const uint8_t* image, uint32_t size, uint32_t places) {
    return LoadImage(image, size, places, ImageKind::kPdecimal);
}

void StoreDecimal(const DecimalAccumulator& value, uint8_t* image, uint32_t size, uint32_t places) {
    StoreImage(value, image, size, places, ImageKind::kDecimal);
}

void StorePdecimal(const DecimalAccumulator& value, uint8_t* image, uint32_t size, uint32_t places) {
    StoreImage(value, image, size, places, ImageKind::kPdecimal);
}

uint32_t RoundedDigits(const DecimalAccumulator& source, uint32_t places, char* digits, bool& negative) {
    DecimalAccumulator value = source;
    places = std::min<uint32_t>(places, kDecimalPlaces);
    RoundToPlaces(value, static_cast<int>(places));
    negative = value.negative && !value.IsZero();
    int lowest = kDecimalPlaces - static_cast<int>(places);
    int highest = std::max(value.LeadingPosition(), kDecimalPlaces - 1);
    // The limbs that hold the wanted positions as eight characters each, position 63 first.
    char text[kDecimalPositions];
    for (int k = lowest >> 3; k <= highest >> 3; ++k) {
        uint32_t limb = value.limb[k];
        char* out = text + kDecimalPositions - 8 * (k + 1);
        if (limb == 0) {
            std::memset(out, '0', 8);
            continue;
        }
        for (int i = 6; i >= 0; i -= 2) {
            uint32_t pair = limb % 100;
            limb /= 100;
            out[i] = static_cast<char>('0' + pair / 10);
            out[i + 1] = static_cast<char>('0' + pair % 10);
        }
    }
    uint32_t count = static_cast<uint32_t>(highest - lowest + 1);
    std::memcpy(digits, text + kDecimalPositions - 1 - highest, count);
    return count;
}

DecimalAccumulator LoadDigits(const uint8_t* digits, uint32_t count, uint32_t places, bool negative) {
    DecimalAccumulator value = DecimalAccumulator::Zero();
    if (digits == nullptr) {
        return value;
    }
    int64_t lowest = LowestPosition(places);
    for (uint32_t i = 0; i < count; ++i) {
        int64_t position = lowest + static_cast<int64_t>(count - 1 - i);
        uint32_t digit = digits[i] <= 9 ? digits[i] : 0; // anything else is not a digit
        if (position >= 0 && position < kDecimalPositions) {
            value.limb[position >> 3] += digit * static_cast<uint32_t>(kPow10[position & 7]);
        }
    }
    value.negative = negative;
    Canonical(value);
    return value;
}

DecimalAccumulator Add(const DecimalAccumulator& first, const DecimalAccumulator& top) {
    DecimalAccumulator result;
    if (first.negative == top.negative) {
        AddMagnitude(first.limb, top.limb, result.limb);
        result.negative = first.negative;
    } else if (CompareMagnitude(first.limb, top.limb, kDecimalLimbs) >= 0) {
        SubtractMagnitude(first.limb, top.limb, result.limb);
        result.negative = first.negative;
    } else {
        SubtractMagnitude(top.limb, first.limb, result.limb);
        result.negative = top.negative;
    }
    Canonical(result);
    return result;
}

DecimalAccumulator Subtract(const DecimalAccumulator& first, const DecimalAccumulator& top) {
    DecimalAccumulator negated = top;
    negated.negative = !top.negative;
    return Add(first, negated);
}

DecimalAccumulator Multiply(const DecimalAccumulator& first, const DecimalAccumulator& top) {
    DecimalAccumulator result = DecimalAccumulator::Zero();
    int a_low = 0;
    int b_low = 0;
    int a_high = SignificantLimbs(first.limb, kDecimalLimbs) - 1;
    int b_high = SignificantLimbs(top.limb, kDecimalLimbs) - 1;
    if (a_high < 0 || b_high < 0) {
        return result;
    }
    while (first.limb[a_low] == 0) {
        ++a_low;
    }
    while (top.limb[b_low] == 0) {
        ++b_low;
    }
    // Column k of the full product has the weight 10^(8k - 64); the accumulator keeps columns
    // 4..11. Lower columns only pass their carries on (the digits below position 0 are cut, not
    // rounded); higher columns are lost.
    constexpr int kFirstKept = 4;
    constexpr int kLastKept = kFirstKept + kDecimalLimbs - 1;
    uint64_t carry = 0;
    int column = a_low + b_low;
    for (; column <= std::min(a_high + b_high, kLastKept); ++column) {
        uint64_t sum = carry;
        int i_low = std::max(a_low, column - b_high);
        int i_high = std::min(a_high, column - b_low);
        for (int i = i_low; i <= i_high; ++i) {
            sum += static_cast<uint64_t>(first.limb[i]) * top.limb[column - i];
        }
        carry = sum / kLimbBase;
        if (column >= kFirstKept) {
            result.limb[column - kFirstKept] = static_cast<uint32_t>(sum - carry * kLimbBase);
        }
    }
    for (; carry != 0 && column <= kLastKept; ++column) {
        uint64_t next = carry / kLimbBase;
        if (column >= kFirstKept) {
            result.limb[column - kFirstKept] = static_cast<uint32_t>(carry - next * kLimbBase);
        }
        carry = next;
    }
    result.negative = first.negative != top.negative;
    Canonical(result);
    return result;
}

DecimalAccumulator Divide(const DecimalAccumulator& first, const DecimalAccumulator& top) {
    DecimalAccumulator result = DecimalAccumulator::Zero();
    if (top.IsZero() || first.IsZero()) {
        return result;
    }
    // The quotient to 31 places is round(M1 * 10^31 / M2) read at position 1. Trailing zeros are
    // taken off both sides first (the ratio and so the rounding stay exact), which makes the common
    // divisor of a few significant digits a one-limb divisor.
    // With z1, z2 the trailing zeros: numerator M1 / 10^z1 * 10^e and divisor M2 / 10^z2 * 10^-e
    // for e = 31 + z1 - z2 (whichever of the two is positive); each is one exact shift.
    int first_zeros = TrailingZeroDigits(first.limb);
    int top_zeros = TrailingZeroDigits(top.limb);
    int exponent = kDivisionPlaces + first_zeros - top_zeros;
    if (exponent >= 0 && DivideSmall(first, top, first_zeros, top_zeros, result)) {
        return result;
    }
    uint32_t numerator[kNumeratorLimbs]; // every limb is written below
    uint32_t divisor[kDecimalLimbs];
    numerator[kNumeratorLimbs - 1] = 0;
    if (exponent >= 0) {
        ShiftLimbs(first.limb, kDecimalLimbs, kDivisionPlaces - top_zeros, numerator, kNumeratorLimbs - 1);
        ShiftLimbs(top.limb, kDecimalLimbs, -top_zeros, divisor, kDecimalLimbs);
    } else {
        ShiftLimbs(first.limb, kDecimalLimbs, -first_zeros, numerator, kNumeratorLimbs - 1);
        ShiftLimbs(top.limb, kDecimalLimbs, -kDivisionPlaces - first_zeros, divisor, kDecimalLimbs);
    }
    int numerator_count = SignificantLimbs(numerator, kNumeratorLimbs);
    int divisor_count = SignificantLimbs(divisor, kDecimalLimbs);

    uint32_t quotient[kNumeratorLimbs];
    int quotient_count = 0; // limbs of the quotient written
    bool round_up;
    if (divisor_count == 1) {
        LimbDivisor d(divisor[0]);
        uint64_t remainder = 0;
        int j = numerator_count - 1;
        if (numerator[j] < d.value) {  // a leading limb below the divisor is all remainder
            quotient[j] = 0;
            remainder = numerator[j--];
        }
        for (; j >= 1; j -= 2) {
            uint64_t pair = static_cast<uint64_t>(numerator[j]) * kLimbBase + numerator[j - 1];
            uint64_t q = d.ChunkQuotient(remainder, 16, pair, remainder);
            uint64_t high = q / kLimbBase;
            quotient[j] = static_cast<uint32_t>(high);
            quotient[j - 1] = static_cast<uint32_t>(q - high * kLimbBase);
        }
        if (j == 0) {
            uint64_t t = remainder * kLimbBase + numerator[0];
            uint64_t q = d.Quotient(t);
            quotient[0] = static_cast<uint32_t>(q);
            remainder = t - q * d.value;
        }
        round_up = 2 * remainder >= d.value;
        quotient_count = numerator_count;
    } else if (numerator_count < divisor_count) {
        round_up = HalfOrMore(numerator, divisor, divisor_count);
    } else {
        round_up = LongDivide(numerator, numerator_count, divisor, divisor_count, quotient);
        quotient_count = numerator_count - divisor_count + 1;
    }
    for (int i = 0; round_up; ++i) {
        if (i == quotient_count) {
            quotient[quotient_count++] = 1;
            break;
        }
        round_up = ++quotient[i] == kLimbBase;
        if (round_up) {
            quotient[i] = 0;
        }
    }
    ShiftLimbs(quotient, quotient_count, 1, result.limb, kDecimalLimbs);
    result.negative = first.negative != top.negative;
    Canonical(result);
    return result;
}

DecimalAccumulator Power(const DecimalAccumulator& value, int64_t power) {
    uint64_t count = power < 0 ? 0 - static_cast<uint64_t>(power) : static_cast<uint64_t>(power);
    DecimalAccumulator result = DecimalAccumulator::FromLong(1);
    DecimalAccumulator base = value;
    while (count != 0) {
        if (count & 1) {
            result = Multiply(result, base);
        }
        count >>= 1;
        if (count != 0) {
            base = Multiply(base, base);
        }
    }
    if (power < 0) {
        result = Divide(DecimalAccumulator::FromLong(1), result);
    }
    return result;
}

void ShiftDigits(DecimalAccumulator& value, int shift) {
    if (shift == 0) {
        return;
    }
    uint32_t source[kDecimalLimbs];
    std::memcpy(source, value.limb, sizeof source);
    ShiftLimbs(source, kDecimalLimbs, std::clamp(shift, -kDecimalPositions - 8, kDecimalPositions + 8),
               value.limb, kDecimalLimbs);
    Canonical(value);
}

void RoundToPlaces(DecimalAccumulator& value, int places) {
    int dropped = kDecimalPlaces - places; // positions below the rounding point
    if (dropped <= 0) {
        return;
    }
    if (dropped > kDecimalPositions) {
        value = DecimalAccumulator::Zero();
        return;
    }
    int first_dropped = dropped - 1;
    uint32_t digit = LimbDivPow10(value.limb[first_dropped >> 3], first_dropped & 7) % 10;
    int index = dropped >> 3;
    int part = dropped & 7;
    for (int i = 0; i < std::min(index, kDecimalLimbs); ++i) {
        value.limb[i] = 0;
    }
    if (index < kDecimalLimbs) {
        value.limb[index] = LimbDivPow10(value.limb[index], part) * static_cast<uint32_t>(kPow10[part]);
        if (digit >= 5) {
            // Half away from zero: one more unit at the rounding position, the carry rippling up and
            // lost beyond position 63.
            uint32_t add = static_cast<uint32_t>(kPow10[part]);
            for (int i = index; add != 0 && i < kDecimalLimbs; ++i) {
                uint32_t sum = value.limb[i] + add;
                add = sum >= kLimbBase;
                value.limb[i] = add ? sum - kLimbBase : sum;
            }
        }
    }
    Canonical(value);
}

DecimalAccumulator RoundByStep(const DecimalAccumulator& value, const DecimalAccumulator& step) {
    int lead = step.LeadingPosition();
    DecimalAccumulator result = value;
    RoundToPlaces(result, lead < 0 ? 0 : kDecimalPlaces - lead);
    return result;
}

void TruncateFraction(DecimalAccumulator& value) {
    for (int i = 0; i < kDecimalPlaces / 8; ++i) {
        value.limb[i] = 0;
    }
    Canonical(value);
}

int Compare(const DecimalAccumulator& first, const DecimalAccumulator& top) {
    if (first.negative != top.negative) {
        return first.negative ? -1 : 1;
    }
    int magnitude = CompareMagnitude(first.limb, top.limb, kDecimalLimbs);
    return first.negative ? -magnitude : magnitude;
}

uint32_t ToUlong(const DecimalAccumulator& value) {
    uint64_t integer = 0;
    for (int i = kDecimalLimbs - 1; i >= kDecimalPlaces / 8; --i) {
        integer = integer * kLimbBase + value.limb[i]; // modulo 2^64, and so modulo 2^32
    }
    return static_cast<uint32_t>(integer);
}

int32_t ToLong(const DecimalAccumulator& value) {
    uint32_t magnitude = ToUlong(value);
    return static_cast<int32_t>(value.negative ? 0u - magnitude : magnitude);
}

// ---- Compact values. ----------------------------------------------------------------------------

DecimalAccumulator ExpandCompact(const CompactDecimal& value) {
    DecimalAccumulator result = DecimalAccumulator::Zero();
    int lowest = kDecimalPlaces - static_cast<int>(value.places);
    uint64_t low;
    Uint128 rest = DivideWide(value.magnitude, kPow10[16], low);
    PutDigits(result.limb, lowest, low);
    if (rest != 0) {
        uint64_t middle;
        uint64_t top = static_cast<uint64_t>(DivideWide(rest, kPow10[16], middle));
        PutDigits(result.limb, lowest + 16, middle);
        PutDigits(result.limb, lowest + 32, top);
    }
    result.negative = value.negative;
    return result;
}

bool DivideCompact(const CompactDecimal& first, const CompactDecimal& top, DecimalAccumulator& result) {
    int exponent = kDivisionPlaces - static_cast<int>(first.places) + static_cast<int>(top.places);
    if (first.magnitude >= kPow10[19] || top.magnitude >= kLimbBase || exponent < 0) {
        return false;
    }
    result = DecimalAccumulator::Zero();
    if (first.magnitude == 0 || top.magnitude == 0) {
        return true;
    }
    uint64_t dividend = static_cast<uint64_t>(first.magnitude);
    DivideDigits(dividend / kPow10[16], dividend % kPow10[16], static_cast<uint32_t>(top.magnitude), exponent,
                 first.negative != top.negative, result);
    return true;
}

} // namespace tarvex
