// SPDX-License-Identifier: GPL-3.0-or-later
// The decimal accumulator: one entry of the decimal stack and its exact arithmetic.
//
// A value is a sign and a magnitude M, an integer below 10^64 read as M * 10^-32: digit position i
// (0..63) has the weight 10^(i - 32), so positions 32..63 are the 32 integer digits and 0..31 the
// 32 fractional digits. M is kept in eight limbs of base 10^8 (limb k holds positions 8k..8k+7),
// so every rule about digit positions (carries lost above position 63, digits dropped below
// position 0, rounding at a position) is a limb operation, and no operation allocates.
// Zero is always positive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex {

constexpr int kDecimalPositions = 64; // digits held by an accumulator
constexpr int kDecimalPlaces = 32;    // of which fractional
constexpr int kDivisionPlaces = 31;   // places a quotient is rounded to
constexpr int kDecimalLimbs = 8;
constexpr uint32_t kLimbBase = 100000000; // 10^8
// Longest text of a value: "-", 32 integer digits, ".", 32 fractional digits, and a zero byte.
constexpr size_t kDecimalTextSize = 68;
// Text longer than this is cut before it is read as a number when it comes off the string stack.
constexpr size_t kDecimalTextLimit = 99;

struct DecimalAccumulator {
    uint32_t limb[kDecimalLimbs]; // limb k: positions 8k..8k+7, each below 10^8
    bool negative;

    static DecimalAccumulator Zero() { return DecimalAccumulator{{0, 0, 0, 0, 0, 0, 0, 0}, false}; }
    static DecimalAccumulator FromLong(int64_t value);
    bool IsZero() const {
        uint32_t any = 0;
        for (uint32_t l : limb) {
            any |= l;
        }
        return any == 0;
    }
    // The position of the leading non-zero digit, or -1 for zero.
    int LeadingPosition() const;
};

// Storage images. Sizes are in bytes; the places may exceed the digits the image holds.
DecimalAccumulator LoadDecimal(const uint8_t* image, uint32_t size, uint32_t places);
DecimalAccumulator LoadPdecimal(const uint8_t* image, uint32_t size, uint32_t places);
// Rounds (half away from zero) to the places and stores modulo the image's capacity.
void StoreDecimal(const DecimalAccumulator& value, uint8_t* image, uint32_t size, uint32_t places);
void StorePdecimal(const DecimalAccumulator& value, uint8_t* image, uint32_t size, uint32_t places);
// The value rounded (half away from zero) to `places` (at most 32) as ASCII digits, most
// significant first: the integer digits without leading zeros (none for an integer part of 0),
// then exactly `places` fraction digits. Returns the count (at most 32 + places); `negative` is
// false for a value that rounds to 0. Gives what StoreDecimal would store, without the image.
uint32_t RoundedDigits(const DecimalAccumulator& value, uint32_t places, char* digits, bool& negative);
// Pops the current thread's decimal stack (0 when it is empty): the runtime's own callers format
// an accumulator without packing it first.
DecimalAccumulator PopDecimal();
// Pops the current thread's decimal stack into what RoundedDigits gives for it; a variable pushed
// with the same places gives its digits without an accumulator.
uint32_t PopRoundedDigits(uint32_t places, char* digits, bool& negative);
// Unpacked digits, one per byte, most significant first.
DecimalAccumulator LoadDigits(const uint8_t* digits, uint32_t count, uint32_t places, bool negative);

// Arithmetic. Results keep the low 64 positions; products drop digits below position 0 without
// rounding; quotients are rounded half away from zero to 31 places and a zero divisor gives 0.
DecimalAccumulator Add(const DecimalAccumulator& first, const DecimalAccumulator& top);
DecimalAccumulator Subtract(const DecimalAccumulator& first, const DecimalAccumulator& top);
DecimalAccumulator Multiply(const DecimalAccumulator& first, const DecimalAccumulator& top);
DecimalAccumulator Divide(const DecimalAccumulator& first, const DecimalAccumulator& top);
// Powers by repeated squaring; a negative power gives 1 / value^-power.
DecimalAccumulator Power(const DecimalAccumulator& value, int64_t power);
// Rounds half away from zero to the places (negative places round to tens, hundreds, ...).
void RoundToPlaces(DecimalAccumulator& value, int places);
// ROUND(value, step): rounds at the position of the step's leading digit (a zero step: 0 places).
DecimalAccumulator RoundByStep(const DecimalAccumulator& value, const DecimalAccumulator& step);
// Multiplies by 10^shift (divides for a negative shift): digits moved above position 63 or below
// position 0 are lost.
void ShiftDigits(DecimalAccumulator& value, int shift);
// Cuts the fraction off (towards zero).
void TruncateFraction(DecimalAccumulator& value);
// -1, 0 or 1.
int Compare(const DecimalAccumulator& first, const DecimalAccumulator& top);

// Integer part, negated when negative, modulo 2^32.
int32_t ToLong(const DecimalAccumulator& value);
// Integer part of the magnitude modulo 2^32.
uint32_t ToUlong(const DecimalAccumulator& value);
// The nearest double.
double ToDouble(const DecimalAccumulator& value);
// 15 significant digits rounded half away from zero; digits outside the accumulator are lost.
DecimalAccumulator FromDouble(double value);

// Reads a number: leading blanks, an optional "-", digits, an optional "." with fraction digits
// and, after a ".", an optional exponent "e[-]digits" (taken modulo 256 before its sign). Reading
// stops at the first character that does not fit; no digits give 0.
DecimalAccumulator TextToDecimal(const char* text, size_t length);
// The text of a number read as a decimal, converted like DPopLong. For the string stack's PopLong.
int32_t TextToLong(const char* text, size_t length);
// Writes the value's text and a zero byte into buffer (kDecimalTextSize bytes); returns the length.
size_t DecimalToText(const DecimalAccumulator& value, char* buffer);

} // namespace tarvex
