// SPDX-License-Identifier: GPL-3.0-or-later
// The C++ layer over the decimal stack, for programs written against the runtime.
//
//   Decimal<9, 2> total, price("12.50"), tax("0.08");
//   Decimal<5, 0> quantity(3);
//   total = price * quantity + round(price * quantity * tax, "0.01");
//   if (total > 100) { ... }
//
// Decimal<N, P> and PDecimal<N, P> hold exactly the storage image of DECIMAL(N, P) and
// PDECIMAL(N, P) (N / 2 + 1 bytes), so they can sit in record buffers. An expression is a small
// tree of nodes built at compile time; assigning it pushes the operands in order, applies the
// operations on the decimal stack and pops the result into the variable, rounded half away from
// zero to its places and stored modulo its capacity, exactly as a compiled 4GL statement does.
// Integer operands are pushed as LONGs; a text operand is written Dec("0.01").
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "tarvex/decimal.h"
#include "tarvex/string_stack.h"

namespace tarvex {

namespace decimal_expression {

// Everything that can be pushed on the decimal stack derives from Node and has Push().
struct Node {};

template <typename T> inline constexpr bool kIsNode = std::is_base_of_v<Node, std::remove_cvref_t<T>>;

template <typename T>
inline constexpr bool kIsOperand = kIsNode<T> || std::is_integral_v<std::remove_cvref_t<T>>;

// Variables are held by reference (they outlive the statement), everything else by value.
template <typename T> struct Variable : std::false_type {};

struct LongTerm : Node {
    int32_t value;
    void Push() const { Vrn$DPushLong(value); }
};

struct TextTerm : Node {
    const char* text;
    void Push() const { Vrn$DPushCString(text); }
};

// A node as it is, an integer as a LONG node.
template <typename T> decltype(auto) Term(const T& operand) {
    if constexpr (kIsNode<T>) {
        return (operand);
    } else {
        return LongTerm{{}, static_cast<int32_t>(operand)};
    }
}

template <typename T>
using Held = std::conditional_t<Variable<T>::value, const T&,
                                std::remove_cvref_t<decltype(Term(std::declval<const T&>()))>>;

template <typename L, typename R, void (*Operation)()> struct Binary : Node {
    Held<L> left;
    Held<R> right;
    Binary(const L& l, const R& r) : left(Term(l)), right(Term(r)) {}
    void Push() const {
        left.Push();
        right.Push();
        Operation();
    }
};

template <typename T, void (*Operation)()> struct Unary : Node {
    Held<T> operand;
    explicit Unary(const T& t) : operand(Term(t)) {}
    void Push() const {
        operand.Push();
        Operation();
    }
};

template <typename T> struct Power : Node {
    Held<T> operand;
    int32_t power;
    Power(const T& t, int32_t p) : operand(Term(t)), power(p) {}
    void Push() const {
        operand.Push();
        Vrn$Dlongpower(power);
    }
};

template <typename L, typename R> int Distinct(const L& left, const R& right) {
    Term(left).Push();
    Term(right).Push();
    return Vrn$DecDistinct();
}

// The text of an expression's value, as DStack2Stack writes it.
template <typename T> std::string TextOf(const T& value) {
    char text[72];
    Term(value).Push();
    Vrn$DStack2Stack();
    Vrn$PopCString(text, sizeof text);
    return text;
}

// Storage shared by DECIMAL and PDECIMAL variables.
template <int N, int P, void (*PushImage)(const void*, uint32_t, uint32_t),
          void (*PopImage)(void*, uint32_t, uint32_t)>
class Storage : public Node {
    static_assert(N >= 1 && N <= 31 && P >= 0 && P <= N, "DECIMAL(N, P) needs 1 <= N <= 31, 0 <= P <= N");

  public:
    static constexpr uint32_t kSize = N / 2 + 1;
    static constexpr uint32_t kPlaces = P;

    void Push() const { PushImage(bytes_, kSize, P); }
    const uint8_t* Bytes() const { return bytes_; }
    uint8_t* Bytes() { return bytes_; }

    std::string Text() const { return TextOf(*this); }
    int32_t Long() const {
        Push();
        return Vrn$DPopLong();
    }
    double Real() const {
        Push();
        return Vrn$DPopReal();
    }

  protected:
    void Assign(const auto& value) {
        Term(value).Push();
        PopImage(bytes_, kSize, P);
    }

    uint8_t bytes_[kSize] = {};
};

} // namespace decimal_expression

// A text constant in an expression: Dec("0.01").
inline decimal_expression::TextTerm Dec(const char* text) {
    return decimal_expression::TextTerm{{}, text};
}

// DECIMAL(N, P): sign nibble first, then 2 * (N / 2 + 1) - 1 digits.
template <int N, int P> class Decimal : public decimal_expression::Storage<N, P, Vrn$DPushDec, Vrn$DPopDec> {
  public:
    Decimal() = default;
    Decimal(const Decimal&) = default;
    Decimal& operator=(const Decimal&) = default;
    template <typename T>
        requires decimal_expression::kIsOperand<T>
    Decimal(const T& value) { // NOLINT: implicit, as assignment in the language
        this->Assign(value);
    }
    explicit Decimal(const char* text) { this->Assign(Dec(text)); }
    template <typename T>
        requires decimal_expression::kIsOperand<T>
    Decimal& operator=(const T& value) {
        this->Assign(value);
        return *this;
    }
};

// PDECIMAL(N, P): digits first, sign in the last nibble (0xF positive, 0xD negative).
template <int N, int P>
class PDecimal : public decimal_expression::Storage<N, P, Vrn$DPushPdec, Vrn$DPopPdec> {
  public:
    PDecimal() { this->bytes_[this->kSize - 1] = 0x0F; }
    PDecimal(const PDecimal&) = default;
    PDecimal& operator=(const PDecimal&) = default;
    template <typename T>
        requires decimal_expression::kIsOperand<T>
    PDecimal(const T& value) { // NOLINT: implicit, as assignment in the language
        this->Assign(value);
    }
    explicit PDecimal(const char* text) { this->Assign(Dec(text)); }
    template <typename T>
        requires decimal_expression::kIsOperand<T>
    PDecimal& operator=(const T& value) {
        this->Assign(value);
        return *this;
    }
};

// The operators live beside the nodes, where argument-dependent lookup finds them for every
// expression; the named functions are also brought into tarvex below.
namespace decimal_expression {
template <int N, int P> struct Variable<tarvex::Decimal<N, P>> : std::true_type {};
template <int N, int P> struct Variable<tarvex::PDecimal<N, P>> : std::true_type {};

// At least one side of every operator is a decimal node, so these never apply to other types.
#define TARVEX_DECIMAL_OPERATOR(symbol, operation)                                  \
    template <typename L, typename R>                                              \
        requires(kIsOperand<L> && kIsOperand<R> && (kIsNode<L> || kIsNode<R>))     \
    auto operator symbol(const L& left, const R& right) {                          \
        return Binary<L, R, operation>(left, right);                               \
    }
TARVEX_DECIMAL_OPERATOR(+, Vrn$DecAdd)
TARVEX_DECIMAL_OPERATOR(-, Vrn$DecSub)
TARVEX_DECIMAL_OPERATOR(*, Vrn$DecMul)
TARVEX_DECIMAL_OPERATOR(/, Vrn$DecDivide)
#undef TARVEX_DECIMAL_OPERATOR

#define TARVEX_DECIMAL_COMPARISON(symbol)                                           \
    template <typename L, typename R>                                              \
        requires(kIsOperand<L> && kIsOperand<R> && (kIsNode<L> || kIsNode<R>))     \
    bool operator symbol(const L& left, const R& right) {                          \
        return Distinct(left, right) symbol 0;                                     \
    }
TARVEX_DECIMAL_COMPARISON(==)
TARVEX_DECIMAL_COMPARISON(!=)
TARVEX_DECIMAL_COMPARISON(<)
TARVEX_DECIMAL_COMPARISON(<=)
TARVEX_DECIMAL_COMPARISON(>)
TARVEX_DECIMAL_COMPARISON(>=)
#undef TARVEX_DECIMAL_COMPARISON

template <typename T>
    requires kIsNode<T>
auto operator-(const T& value) {
    return Unary<T, Vrn$DNegate>(value);
}

// ROUND(value, step): step 0.01 rounds to cents, 100 to hundreds.
template <typename T, typename S>
    requires kIsOperand<T> && kIsNode<S>
auto round(const T& value, const S& step) {
    return Binary<T, S, Vrn$DRound>(value, step);
}
template <typename T>
    requires kIsOperand<T>
auto round(const T& value, const char* step) {
    return round(value, Dec(step));
}

template <typename T>
    requires kIsNode<T>
auto abs(const T& value) {
    return Unary<T, Vrn$DAbs>(value);
}

// INT(value): the fraction cut off.
template <typename T>
    requires kIsNode<T>
auto integer_part(const T& value) {
    return Unary<T, Vrn$DInt>(value);
}

template <typename T>
    requires kIsNode<T>
auto power(const T& value, int32_t exponent) {
    return Power<T>(value, exponent);
}

// The value of an expression as text, a LONG (fraction cut off) or a REAL.
template <typename T>
    requires kIsNode<T>
std::string Text(const T& value) {
    return TextOf(value);
}
template <typename T>
    requires kIsNode<T>
int32_t Long(const T& value) {
    value.Push();
    return Vrn$DPopLong();
}

// Compound assignment, as the language's += and friends.
template <typename D, typename T>
    requires Variable<D>::value && kIsOperand<T>
D& operator+=(D& target, const T& value) {
    return target = target + value;
}
template <typename D, typename T>
    requires Variable<D>::value && kIsOperand<T>
D& operator-=(D& target, const T& value) {
    return target = target - value;
}
template <typename D, typename T>
    requires Variable<D>::value && kIsOperand<T>
D& operator*=(D& target, const T& value) {
    return target = target * value;
}
template <typename D, typename T>
    requires Variable<D>::value && kIsOperand<T>
D& operator/=(D& target, const T& value) {
    return target = target / value;
}

} // namespace decimal_expression

using decimal_expression::abs;
using decimal_expression::integer_part;
using decimal_expression::Long;
using decimal_expression::power;
using decimal_expression::round;
using decimal_expression::Text;

} // namespace tarvex
