// SPDX-License-Identifier: GPL-3.0-or-later
// The decimal stack: ten accumulators per thread and the exported pushes, pops, arithmetic and
// tests that compiled DECIMAL expressions are made of.
//
// Bounds: callers never nest deeper than ten entries, but a wrong caller must not corrupt memory.
// A push on a full stack is ignored; an operation that finds fewer entries than it needs takes the
// missing (earlier) operands as 0, as if zeros had been pushed beneath; a pop of an empty stack
// gives 0. None of these sets ERRORCODE: the decimal operations never do.
#include "core/decimal.h"
#include "tarvex/decimal.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

struct DecimalStack {
    DecimalAccumulator entry[VRN_DECIMAL_STACK_DEPTH];
    uint32_t count;
};

// Initial-exec: the runtime is linked by the program, not loaded later, so the stack is reached
// without a call to the TLS resolver on every operation.
thread_local DecimalStack decimal_stack __attribute__((tls_model("initial-exec"))) = {};

const DecimalAccumulator kZero = DecimalAccumulator::Zero();

inline DecimalStack& Stack() {
    return decimal_stack;
}

// The slot a push writes, or null when the stack is full.
inline DecimalAccumulator* PushSlot() {
    DecimalStack& stack = Stack();
    return stack.count < VRN_DECIMAL_STACK_DEPTH ? &stack.entry[stack.count++] : nullptr;
}

inline void Push(const DecimalAccumulator& value) {
    if (DecimalAccumulator* slot = PushSlot()) {
        *slot = value;
    }
}

// The popped value stays valid until the next push.
inline const DecimalAccumulator& Pop() {
    DecimalStack& stack = Stack();
    return stack.count == 0 ? kZero : stack.entry[--stack.count];
}

}  // namespace

DecimalAccumulator PopDecimal() { return Pop(); }

namespace {

// Makes sure the top `needed` entries exist, sliding what is there up over zeros.
inline DecimalStack& Operands(uint32_t needed) {
    DecimalStack& stack = Stack();
    if (stack.count < needed) {
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

// first = operation(first, top); pops the top.
template <typename Operation> inline void Binary(Operation operation) {
    DecimalStack& stack = Operands(2);
    DecimalAccumulator& first = stack.entry[stack.count - 2];
    first = operation(first, stack.entry[stack.count - 1]);
    --stack.count;
}

inline DecimalAccumulator& Top() {
    DecimalStack& stack = Operands(1);
    return stack.entry[stack.count - 1];
}

// Pops two and compares first with top.
inline int CompareTopTwo() {
    DecimalStack& stack = Operands(2);
    stack.count -= 2;
    return Compare(stack.entry[stack.count], stack.entry[stack.count + 1]);
}

} // namespace
} // namespace tarvex

using tarvex::DecimalAccumulator;

extern "C" {

TARVEX_API void Vrn$DPushDec(const void* address, uint32_t size, uint32_t places) {
    if (DecimalAccumulator* slot = tarvex::PushSlot()) {
        *slot = tarvex::LoadDecimal(static_cast<const uint8_t*>(address), size, places);
    }
}

TARVEX_API void Vrn$DPushPdec(const void* address, uint32_t size, uint32_t places) {
    if (DecimalAccumulator* slot = tarvex::PushSlot()) {
        *slot = tarvex::LoadPdecimal(static_cast<const uint8_t*>(address), size, places);
    }
}

TARVEX_API void Vrn$DPushLong(int32_t value) {
    tarvex::Push(DecimalAccumulator::FromLong(value));
}

TARVEX_API void Vrn$DPushULong(uint32_t value) {
    tarvex::Push(DecimalAccumulator::FromLong(value));
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
    tarvex::Push(tarvex::LoadDigits(digits, count, places, negative != 0));
}

TARVEX_API void Vrn$Stack2DStack(void) {
    // PopString stores blank-padded; a blank ends the number, so the padding reads as nothing.
    char text[tarvex::kDecimalTextLimit];
    Vrn$PopString(text, sizeof text);
    tarvex::Push(tarvex::TextToDecimal(text, sizeof text));
}

TARVEX_API void Vrn$DPopDec(void* address, uint32_t size, uint32_t places) {
    tarvex::StoreDecimal(tarvex::Pop(), static_cast<uint8_t*>(address), size, places);
}

TARVEX_API void Vrn$DPopPdec(void* address, uint32_t size, uint32_t places) {
    tarvex::StorePdecimal(tarvex::Pop(), static_cast<uint8_t*>(address), size, places);
}

TARVEX_API int32_t Vrn$DPopLong(void) {
    return tarvex::ToLong(tarvex::Pop());
}

TARVEX_API uint32_t Vrn$DPopUlong(void) {
    return tarvex::ToUlong(tarvex::Pop());
}

TARVEX_API double Vrn$DPopReal(void) {
    return tarvex::ToDouble(tarvex::Pop());
}

TARVEX_API void Vrn$DStack2Stack(void) {
    char text[tarvex::kDecimalTextSize];
    tarvex::DecimalToText(tarvex::Pop(), text);
    Vrn$PushCString(text);
}

TARVEX_API void Vrn$DSwap(void) {
    tarvex::DecimalStack& stack = tarvex::Operands(2);
    DecimalAccumulator swap = stack.entry[stack.count - 1];
    stack.entry[stack.count - 1] = stack.entry[stack.count - 2];
    stack.entry[stack.count - 2] = swap;
}

TARVEX_API void Vrn$DecAdd(void) {
    tarvex::Binary(tarvex::Add);
}

TARVEX_API void Vrn$DecSub(void) {
    tarvex::Binary(tarvex::Subtract);
}

TARVEX_API void Vrn$DecSubR(void) {
    tarvex::Binary([](const DecimalAccumulator& first, const DecimalAccumulator& top) {
        return tarvex::Subtract(top, first);
    });
}

TARVEX_API void Vrn$DecMul(void) {
    tarvex::Binary(tarvex::Multiply);
}

TARVEX_API void Vrn$DecDivide(void) {
    tarvex::Binary(tarvex::Divide);
}

TARVEX_API void Vrn$DecDivideR(void) {
    tarvex::Binary([](const DecimalAccumulator& first, const DecimalAccumulator& top) {
        return tarvex::Divide(top, first);
    });
}

TARVEX_API void Vrn$Dlongpower(int32_t power) {
    DecimalAccumulator& top = tarvex::Top();
    top = tarvex::Power(top, power);
}

TARVEX_API void Vrn$Dulongpower(uint32_t power) {
    DecimalAccumulator& top = tarvex::Top();
    top = tarvex::Power(top, static_cast<int64_t>(power));
}

TARVEX_API void Vrn$DRound(void) {
    tarvex::Binary(tarvex::RoundByStep);
}

TARVEX_API void Vrn$DInt(void) {
    tarvex::TruncateFraction(tarvex::Top());
}

TARVEX_API void Vrn$DAbs(void) {
    tarvex::Top().negative = false;
}

TARVEX_API void Vrn$DNegate(void) {
    DecimalAccumulator& top = tarvex::Top();
    top.negative = !top.negative && !top.IsZero();
}

TARVEX_API int32_t Vrn$DecCompareN(void) {
    return tarvex::Pop().IsZero() ? 0 : 1;
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
