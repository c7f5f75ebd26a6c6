// SPDX-License-Identifier: GPL-3.0-or-later
// The decimal stack: ten entries per thread and the exported pushes, pops, arithmetic and tests
// that compiled DECIMAL expressions are made of.
//
// An entry keeps its value in the cheapest of three forms that holds it exactly: as the packed
// digits of the variable it was pushed from (a sum of two such values is a packed sum, and a pop
// to the same places writes the digits back), as a compact binary value (decimal_compact.h), or as
// an accumulator. An operation converts its operands only as far as it needs; every form gives
// the same results.
//
// Bounds: callers never nest deeper than ten entries, but a wrong caller must not corrupt memory.
// A push on a full stack is ignored; an operation that finds fewer entries than it needs takes the
// missing (earlier) operands as 0, as if zeros had been pushed beneath; a pop of an empty stack
// gives 0. None of these sets ERRORCODE: the decimal operations never do.
#include <cstring>

#include "core/decimal.h"
#include "core/decimal_compact.h"
#include "core/thread_state.h"
#include "tarvex/decimal.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

enum class Form : uint8_t {
    kPacked,  // compact.magnitude holds the digits as BCD (at most 32 digits, all valid); a zero
              // may keep the minus sign of its image, which is dropped wherever the value is used
    kCompact, // compact holds the value
    kFull,    // full holds the value
};

// 64 bytes: an entry holds one form at a time.
struct Entry {
    union {
        CompactDecimal compact;
        DecimalAccumulator full;
    };
    Form form;
};
static_assert(sizeof(Entry) == 64);

struct DecimalStack {
    Entry entry[VRN_DECIMAL_STACK_DEPTH];
    uint32_t count;
};

const Entry kZero = {{CompactDecimal{0, 0, false}}, Form::kCompact};

// The calling thread's stack, made on its first decimal operation.
inline DecimalStack& Stack() {
    return PerThread<DecimalStack>();
}

// The slot a push writes, or null when the stack is full.
inline Entry* PushSlot() {
    DecimalStack& stack = Stack();
    return stack.count < VRN_DECIMAL_STACK_DEPTH ? &stack.entry[stack.count++] : nullptr;
}

inline void Push(const DecimalAccumulator& value) {
    if (Entry* slot = PushSlot()) {
        slot->full = value;
        slot->form = Form::kFull;
    }
}

inline void PushCompact(const CompactDecimal& value) {
    if (Entry* slot = PushSlot()) {
        slot->compact = value;
        slot->form = Form::kCompact;
    }
}

// The popped entry stays valid until the next push.
inline const Entry& Pop() {
    DecimalStack& stack = Stack();
    return stack.count == 0 ? kZero : stack.entry[--stack.count];
}

// ---- Forms. -------------------------------------------------------------------------------------

inline CompactDecimal Unpacked(const CompactDecimal& packed) {
    uint64_t low = ValidBcdToBinary(static_cast<uint64_t>(packed.magnitude));
    uint64_t high = static_cast<uint64_t>(packed.magnitude >> 64);
    Uint128 magnitude = low;
    if (high != 0) {
        magnitude += static_cast<Uint128>(ValidBcdToBinary(high)) * kPow10[16];
    }
    return CompactDecimal{magnitude, packed.places, packed.negative && magnitude != 0};
}

// Converts a packed entry to the compact form; false for an accumulator.
inline bool MakeCompact(Entry& entry) {
    if (entry.form == Form::kPacked) {
        entry.compact = Unpacked(entry.compact);
        entry.form = Form::kCompact;
    }
    return entry.form == Form::kCompact;
}

inline DecimalAccumulator Value(const Entry& entry) {
    switch (entry.form) {
    case Form::kPacked:
        return ExpandCompact(Unpacked(entry.compact));
    case Form::kCompact:
        return ExpandCompact(entry.compact);
    case Form::kFull:
        break;
    }
    return entry.full;
}

// The entry as an accumulator, converted in place.
inline DecimalAccumulator& Full(Entry& entry) {
    if (entry.form != Form::kFull) {
        entry.full = Value(entry);
        entry.form = Form::kFull;
    }
    return entry.full;
}

}  // namespace

DecimalAccumulator PopDecimal() {
    return Value(Pop());
}

uint32_t PopRoundedDigits(uint32_t places, char* digits, bool& negative) {
    DecimalStack& stack = Stack();
    if (stack.count != 0) {
        const Entry& entry = stack.entry[stack.count - 1];
        if (entry.form == Form::kPacked && entry.compact.places == places) {
            --stack.count;
            // The packed digits as they stand: all significant digits, at least the places.
            Uint128 magnitude = entry.compact.magnitude;
            uint64_t high = static_cast<uint64_t>(magnitude >> 64);
            uint64_t low = static_cast<uint64_t>(magnitude);
            uint32_t significant = high != 0  ? 32 - static_cast<uint32_t>(__builtin_clzll(high)) / 4
                                   : low != 0 ? 16 - static_cast<uint32_t>(__builtin_clzll(low)) / 4
                                              : 0;
            uint32_t count = significant > places ? significant : places;
            char text[32];
            PackedToText(high, text);
            PackedToText(low, text + 16);
            std::memcpy(digits, text + 32 - count, count);
            negative = entry.compact.negative && magnitude != 0;
            return count;
        }
    }
    return RoundedDigits(PopDecimal(), places, digits, negative);
}

namespace {

// Makes sure the top `needed` entries exist, sliding what is there up over zeros.
inline DecimalStack& Operands(uint32_t needed) {
    DecimalStack& stack = Stack();
    if (stack.count < needed) [[unlikely]] {
        uint32_t missing = needed - stack.count;
        for (uint32_t i = stack.count; i-- > 0;) {
            stack.entry[i + missing] = stack.entry[i];
        }
        for (uint32_t i = 0; i < missing; ++i) {
            stack.entry[i] = kZero;
        }
        stack.count = needed;
    }
    return stack;
}

inline Entry& Top() {
    DecimalStack& stack = Operands(1);
    return stack.entry[stack.count - 1];
}

// first = operation(first, top); pops the top. `compact` tries the compact form first.
template <typename Compact, typename Operation>
[[gnu::noinline]] void BinaryOperation(Compact compact, Operation operation) {
    DecimalStack& stack = Operands(2);
    Entry& first = stack.entry[stack.count - 2];
    Entry& top = stack.entry[--stack.count];
    if (MakeCompact(first) && MakeCompact(top) && compact(first.compact, top.compact, first.compact)) {
        return;
    }
    DecimalAccumulator& value = Full(first);
    value = operation(value, Value(top));
}

// A division: first = first / top, or top / first when `reversed`.
[[gnu::noinline]] void DivideTopTwo(bool reversed) {
    DecimalStack& stack = Operands(2);
    Entry& first = stack.entry[stack.count - 2];
    Entry& top = stack.entry[--stack.count];
    Entry& dividend = reversed ? top : first;
    Entry& divisor = reversed ? first : top;
    DecimalAccumulator quotient;
    if (MakeCompact(dividend) && MakeCompact(divisor) &&
        DivideCompact(dividend.compact, divisor.compact, quotient)) {
        first.full = quotient;
    } else {
        first.full = Divide(Value(dividend), Value(divisor));
    }
    first.form = Form::kFull;
}

// Pops two and compares first with top.
int CompareTopTwo() {
    DecimalStack& stack = Operands(2);
    stack.count -= 2;
    Entry& first = stack.entry[stack.count];
    Entry& top = stack.entry[stack.count + 1];
    int order;
    if (MakeCompact(first) && MakeCompact(top) && CompareCompact(first.compact, top.compact, order)) {
        return order;
    }
    return Compare(Value(first), Value(top));
}

bool AddCompacts(const CompactDecimal& first, const CompactDecimal& top, CompactDecimal& result) {
    return AddCompact(first, top, false, result);
}

bool SubtractCompacts(const CompactDecimal& first, const CompactDecimal& top, CompactDecimal& result) {
    return AddCompact(first, top, true, result);
}

bool SubtractCompactsReversed(const CompactDecimal& first, const CompactDecimal& top,
                              CompactDecimal& result) {
    return AddCompact(top, first, true, result);
}

CompactDecimal CompactLong(int64_t value) {
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return CompactDecimal{magnitude, 0, value < 0};
}

// ---- Fast paths, inlined into the exported operations. Anything they do not take goes to the
// general operations above and in decimal_compact.cpp, which give the same results.

// An image of up to 16 bytes with valid digits and at most 32 places, as packed digits.
inline bool LoadPacked(const uint8_t* image, uint32_t size, uint32_t places, bool packed, Entry& entry) {
    if (size - 1 >= kCompactMaxImageSize || places > kCompactMaxPlaces || image == nullptr) {
        return false;
    }
    uint64_t high;
    uint64_t low;
    if (packed) {
        ReadHalves(image, size, high, low);
        low = (low >> 4) | (high << 60);
        high >>= 4;
    } else if (size >= 9) {
        // The high half is the first size - 8 bytes without the sign nibble.
        high = (LoadBigEndian64(image) & (~0ULL >> 4)) >> (8 * (16 - size));
        low = LoadBigEndian64(image + size - 8);
    } else {
        ReadHalves(image, size, high, low);
        low &= ~0ULL >> (68 - 8 * size);
    }
    if ((NibblesAbove9(low) | NibblesAbove9(high)) != 0) {
        return false;
    }
    entry.compact.magnitude = (static_cast<Uint128>(high) << 64) | low;
    entry.compact.places = places;
    // The sign nibble: any but 0 in a DECIMAL's first, 0xD in a PDECIMAL's last.
    entry.compact.negative = packed ? (image[size - 1] & 0xF) == 0xD : (image[0] >> 4) != 0;
    entry.form = Form::kPacked;
    return true;
}

[[gnu::noinline]] void LoadSlow(Entry& slot, const uint8_t* image, uint32_t size, uint32_t places,
                                bool packed) {
    if (LoadCompact(image, size, places, packed, slot.compact)) {
        slot.form = Form::kCompact;
    } else {
        slot.full = packed ? LoadPdecimal(image, size, places) : LoadDecimal(image, size, places);
        slot.form = Form::kFull;
    }
}

inline void PushImage(const uint8_t* image, uint32_t size, uint32_t places, bool packed) {
    DecimalStack& stack = Stack();
    uint32_t count = stack.count;
    if (count >= VRN_DECIMAL_STACK_DEPTH) {
        return;
    }
    stack.count = count + 1;
    Entry& slot = stack.entry[count];
    if (!LoadPacked(image, size, places, packed, slot)) {
        LoadSlow(slot, image, size, places, packed);
    }
}

// Writes packed digits (high and low halves) into an image of 1 to 16 bytes, keeping the digits
// the image holds (the value modulo its capacity), with the sign: negative only when a kept digit
// is not 0. The image's bytes are built aligned to the top of 64-bit words, where the sign nibble
// of a DECIMAL and the digits lost at the top fall at fixed places.
inline void WritePacked(uint64_t high, uint64_t low, bool negative, uint8_t* image, uint32_t size,
                        bool packed) {
    if (size >= 9) {
        // first: bytes 0..7 of the image; low: its last eight bytes.
        if (packed) {
            high = (high << 4) | (low >> 60);
            low <<= 4;
        }
        uint64_t first = size == 16 ? high : (high << (8 * (16 - size))) | (low >> (8 * (size - 8)));
        if (packed) {
            negative &= (first | low) != 0;
            low |= negative ? 0xD : 0xF;
        } else {
            first &= ~0ULL >> 4;
            negative &= (first | low) != 0;
            first |= static_cast<uint64_t>(negative ? 0xF : 0) << 60;
        }
        StoreBigEndian64(first, image);
        StoreBigEndian64(low, image + size - 8);
        return;
    }
    // word: the image in its top 8 * size bits.
    uint64_t word;
    if (packed) {
        word = low << (68 - 8 * size);
        negative &= word != 0;
        word |= static_cast<uint64_t>(negative ? 0xD : 0xF) << (64 - 8 * size);
    } else {
        word = (low << (64 - 8 * size)) & (~0ULL >> 4);
        negative &= word != 0;
        word |= static_cast<uint64_t>(negative ? 0xF : 0) << 60;
    }
    if (size >= 4) {
        StoreBigEndian32(static_cast<uint32_t>(word >> 32), image);
        StoreBigEndian32(static_cast<uint32_t>(word >> (64 - 8 * size)), image + size - 4);
    } else {
        for (uint32_t i = 0; i < size; ++i) {
            image[i] = static_cast<uint8_t>(word >> (56 - 8 * i));
        }
    }
}

// A packed entry at its own places: its digits, modulo the capacity.
inline bool StoreFast(const Entry& entry, uint8_t* image, uint32_t size, uint32_t places, bool packed) {
    if (entry.form != Form::kPacked || places != entry.compact.places || size - 1 >= kCompactMaxImageSize ||
        image == nullptr) {
        return false;
    }
    WritePacked(static_cast<uint64_t>(entry.compact.magnitude >> 64),
                static_cast<uint64_t>(entry.compact.magnitude), entry.compact.negative, image, size, packed);
    return true;
}

// A compact entry at its own places that fits the image; others by the general operations.
[[gnu::noinline]] void StoreSlow(const Entry& popped, uint8_t* image, uint32_t size, uint32_t places,
                                 bool packed) {
    Entry entry = popped; // converted here, not in its slot
    if (MakeCompact(entry)) {
        const CompactDecimal& value = entry.compact;
        uint32_t digits = 2 * size - 1;
        if (places == value.places && size - 1 < kCompactMaxImageSize && image != nullptr &&
            (value.magnitude >> 64) == 0 && (digits >= 20 || value.magnitude < kPow10[digits])) {
            uint64_t units = static_cast<uint64_t>(value.magnitude);
            uint64_t high_digits = units / kPow10[16]; // below 1845
            uint64_t low = BinaryToBcd(units - high_digits * kPow10[16]);
            WritePacked(kBcdTable.bcd[high_digits], low, value.negative, image, size, packed);
            return;
        }
        if (StoreCompact(value, image, size, places, packed)) {
            return;
        }
    }
    if (packed) {
        StorePdecimal(Value(entry), image, size, places);
    } else {
        StoreDecimal(Value(entry), image, size, places);
    }
}

// The difference of two packed magnitudes into `first`, signed as the larger one (packed digits
// compare as the numbers they are). Out of line, so that the sum's path keeps its registers.
[[gnu::noinline]] void PackedDifference(DecimalStack& stack, uint32_t count, bool top_negative) {
    Entry& first = stack.entry[count - 2];
    Uint128 a = first.compact.magnitude;
    Uint128 b = stack.entry[count - 1].compact.magnitude;
    Uint128 difference;
    if (a >= b) {
        difference = PackedSubtract(a, b);
    } else {
        difference = PackedSubtract(b, a);
        first.compact.negative = top_negative;
    }
    first.compact.magnitude = difference;
    first.compact.negative &= difference != 0;
    stack.count = count - 1;
}

inline void PopImage(uint8_t* image, uint32_t size, uint32_t places, bool packed) {
    DecimalStack& stack = Stack();
    uint32_t count = stack.count;
    if (count == 0) {
        StoreSlow(kZero, image, size, places, packed);
        return;
    }
    stack.count = count - 1;
    const Entry& entry = stack.entry[count - 1];
    if (!StoreFast(entry, image, size, places, packed)) {
        StoreSlow(entry, image, size, places, packed);
    }
}

// first + top (top negated when `subtract`) for two packed entries of at most 31 digits with the
// same places.
inline bool SumFast(bool subtract) {
    DecimalStack& stack = Stack();
    uint32_t count = stack.count;
    if (count < 2) {
        return false;
    }
    Entry* entries = stack.entry + count - 2;
    Entry& first = entries[0];
    const Entry& top = entries[1];
    static_assert(static_cast<int>(Form::kPacked) == 0);
    if ((static_cast<int>(first.form) | static_cast<int>(top.form)) != 0 ||
        first.compact.places != top.compact.places ||
        ((first.compact.magnitude | top.compact.magnitude) >> 124) != 0) {
        return false;
    }
    bool top_negative = top.compact.negative != subtract;
    if (first.compact.negative != top_negative) {
        PackedDifference(stack, count, top_negative);
        return true;
    }
    first.compact.magnitude = PackedAdd(first.compact.magnitude, top.compact.magnitude);
    stack.count = count - 1;
    return true;
}

} // namespace
} // namespace tarvex

using tarvex::CompactDecimal;
using tarvex::DecimalAccumulator;

extern "C" {

TARVEX_API void Vrn$DPushDec(const void* address, uint32_t size, uint32_t places) {
    tarvex::PushImage(static_cast<const uint8_t*>(address), size, places, false);
}

TARVEX_API void Vrn$DPushPdec(const void* address, uint32_t size, uint32_t places) {
    tarvex::PushImage(static_cast<const uint8_t*>(address), size, places, true);
}

TARVEX_API void Vrn$DPushLong(int32_t value) {
    tarvex::PushCompact(tarvex::CompactLong(value));
}

TARVEX_API void Vrn$DPushULong(uint32_t value) {
    tarvex::PushCompact(tarvex::CompactLong(value));
}

TARVEX_API void Vrn$DPushReal(double value) {
    tarvex::Push(tarvex::FromDouble(value));
}

TARVEX_API void Vrn$DPushCString(const char* text) {
    size_t length = 0;
    if (text != nullptr) {
        while (text[length] != '\0') {
            ++length;
        }
    }
    tarvex::Push(tarvex::TextToDecimal(text, length));
}

TARVEX_API void Vrn$DPushStringP(const char* address, uint32_t length) {
    tarvex::Push(tarvex::TextToDecimal(address, length));
}

TARVEX_API void Vrn$DPushConstant(const uint8_t* digits, uint32_t count, uint32_t places, int32_t negative) {
    CompactDecimal value;
    if (tarvex::LoadCompactDigits(digits, count, places, negative != 0, value)) {
        tarvex::PushCompact(value);
    } else {
        tarvex::Push(tarvex::LoadDigits(digits, count, places, negative != 0));
    }
}

TARVEX_API void Vrn$Stack2DStack(void) {
    // PopString stores blank-padded; a blank ends the number, so the padding reads as nothing.
    char text[tarvex::kDecimalTextLimit];
    Vrn$PopString(text, sizeof text);
    tarvex::Push(tarvex::TextToDecimal(text, sizeof text));
}

TARVEX_API void Vrn$DPopDec(void* address, uint32_t size, uint32_t places) {
    tarvex::PopImage(static_cast<uint8_t*>(address), size, places, false);
}

TARVEX_API void Vrn$DPopPdec(void* address, uint32_t size, uint32_t places) {
    tarvex::PopImage(static_cast<uint8_t*>(address), size, places, true);
}

TARVEX_API int32_t Vrn$DPopLong(void) {
    return tarvex::ToLong(tarvex::PopDecimal());
}

TARVEX_API uint32_t Vrn$DPopUlong(void) {
    return tarvex::ToUlong(tarvex::PopDecimal());
}

TARVEX_API double Vrn$DPopReal(void) {
    return tarvex::ToDouble(tarvex::PopDecimal());
}

TARVEX_API void Vrn$DStack2Stack(void) {
    char text[tarvex::kDecimalTextSize];
    tarvex::DecimalToText(tarvex::PopDecimal(), text);
    Vrn$PushCString(text);
}

TARVEX_API void Vrn$DSwap(void) {
    tarvex::DecimalStack& stack = tarvex::Operands(2);
    tarvex::Entry swap = stack.entry[stack.count - 1];
    stack.entry[stack.count - 1] = stack.entry[stack.count - 2];
    stack.entry[stack.count - 2] = swap;
}

TARVEX_API void Vrn$DecAdd(void) {
    if (!tarvex::SumFast(false)) {
        tarvex::BinaryOperation(tarvex::AddCompacts, tarvex::Add);
    }
}

TARVEX_API void Vrn$DecSub(void) {
    if (!tarvex::SumFast(true)) {
        tarvex::BinaryOperation(tarvex::SubtractCompacts, tarvex::Subtract);
    }
}

TARVEX_API void Vrn$DecSubR(void) {
    tarvex::BinaryOperation(tarvex::SubtractCompactsReversed,
                            [](const DecimalAccumulator& first, const DecimalAccumulator& top) {
                                return tarvex::Subtract(top, first);
                            });
}

TARVEX_API void Vrn$DecMul(void) {
    tarvex::BinaryOperation(tarvex::MultiplyCompact, tarvex::Multiply);
}

TARVEX_API void Vrn$DecDivide(void) {
    tarvex::DivideTopTwo(false);
}

TARVEX_API void Vrn$DecDivideR(void) {
    tarvex::DivideTopTwo(true);
}

TARVEX_API void Vrn$Dlongpower(int32_t power) {
    DecimalAccumulator& top = tarvex::Full(tarvex::Top());
    top = tarvex::Power(top, power);
}

TARVEX_API void Vrn$Dulongpower(uint32_t power) {
    DecimalAccumulator& top = tarvex::Full(tarvex::Top());
    top = tarvex::Power(top, static_cast<int64_t>(power));
}

TARVEX_API void Vrn$DRound(void) {
    tarvex::BinaryOperation(tarvex::RoundCompact, tarvex::RoundByStep);
}

TARVEX_API void Vrn$DInt(void) {
    tarvex::TruncateFraction(tarvex::Full(tarvex::Top()));
}

TARVEX_API void Vrn$DAbs(void) {
    tarvex::Entry& top = tarvex::Top();
    if (top.form == tarvex::Form::kFull) {
        top.full.negative = false;
    } else {
        top.compact.negative = false;
    }
}

TARVEX_API void Vrn$DNegate(void) {
    tarvex::Entry& top = tarvex::Top();
    if (top.form != tarvex::Form::kFull) {
        top.compact.negative = !top.compact.negative && top.compact.magnitude != 0;
    } else {
        top.full.negative = !top.full.negative && !top.full.IsZero();
    }
}

TARVEX_API int32_t Vrn$DecCompareN(void) {
    const tarvex::Entry& entry = tarvex::Pop();
    bool zero = entry.form == tarvex::Form::kFull ? entry.full.IsZero() : entry.compact.magnitude == 0;
    return zero ? 0 : 1;
}

TARVEX_API int32_t Vrn$DecDistinct(void) {
    return tarvex::CompareTopTwo();
}

TARVEX_API int32_t Vrn$DecDistinctR(void) {
    return -tarvex::CompareTopTwo();
}

TARVEX_API void Vrn$storedec(void* address, uint32_t size, uint32_t places, double value) {
    // Push real, pop decimal, without touching the stack (so it works whatever the stack holds).
    tarvex::StoreDecimal(tarvex::FromDouble(value), static_cast<uint8_t*>(address), size, places);
}

TARVEX_API double Vrn$loaddec(const void* address, uint32_t size, uint32_t places) {
    return tarvex::ToDouble(tarvex::LoadDecimal(static_cast<const uint8_t*>(address), size, places));
}

TARVEX_API uint32_t Vrw$DStackDepth(void) {
    return tarvex::Stack().count;
}

} // extern "C"
