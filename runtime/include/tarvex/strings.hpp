// SPDX-License-Identifier: GPL-3.0-or-later
// String statements for C++ programs, computed on the runtime's string stack exactly as compiled
// 4GL code computes them, through the exported operations only:
//
//     tarvex::String<20> last = "Smith", first = "John";
//     tarvex::String<40> name;
//     name = clip(last) & ", " & first;      // push, CLIP, push, concat, push, concat, pop
//     if (upper(sub(name, 1, 5)) == "SMITH") ...
//
// String<N> is a blank-padded STRING(N), CString<N> a zero-terminated CSTRING(N), PString<N> a
// length-prefixed PSTRING(N); each has exactly the layout of its 4GL type. An expression is a small
// tree of nodes built on the C++ stack; nothing is evaluated until it is assigned, compared or
// measured, and then every operand is pushed (variables by reference: no copy) and every function
// runs on the string stack.
#pragma once

#include <concepts>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "tarvex/string_stack.h"

namespace tarvex {

namespace detail {
struct StringExprBase {};   // an expression node: has Push()
struct StringVarBase {};    // a string variable: has Push() and Store()
}  // namespace detail

template <class T>
concept StringExpr = std::is_base_of_v<detail::StringExprBase, T>;
template <class T>
concept StringVar = std::is_base_of_v<detail::StringVarBase, T>;
// Anything a string expression takes: a node, a variable or a C string (a literal).
template <class T>
concept StringOperand = StringExpr<T> || StringVar<T> || std::is_convertible_v<const T&, const char*>;
// Operators are offered only where one side is ours, so `&` and `==` of other types stay untouched.
template <class L, class R>
concept StringOperands = StringOperand<L> && StringOperand<R> &&
                         (StringExpr<L> || StringVar<L> || StringExpr<R> || StringVar<R>);

// ---- Nodes --------------------------------------------------------------------------------------------

// Characters in storage that outlives the statement (a literal): pushed by reference.
struct StringTextNode : detail::StringExprBase {
    const char* address;
    uint32_t length;
    void Push() const { Vrn$PushString(address, length); }
};

template <class V>
struct StringVarNode : detail::StringExprBase {
    const V* variable;
    void Push() const { variable->Push(); }
};

template <StringOperand T>
auto AsStringNode(const T& operand) {
    if constexpr (StringExpr<T>) {
        return operand;
    } else if constexpr (StringVar<T>) {
        return StringVarNode<T>{{}, &operand};
    } else {
        const char* text = operand;
        return StringTextNode{{}, text, text ? static_cast<uint32_t>(std::strlen(text)) : 0u};
    }
}

template <class E, class Op>
struct StringUnaryNode : detail::StringExprBase {
    E operand;
    Op operation;
    void Push() const {
        operand.Push();
        operation();
    }
};

template <class L, class R>
struct StringConcatNode : detail::StringExprBase {
    L first;
    R second;
    void Push() const {
        first.Push();
        second.Push();
        Vrn$StackConcat();
    }
};

template <StringOperand T, class Op>
auto MakeStringUnary(const T& operand, Op operation) {
    using E = decltype(AsStringNode(operand));
    return StringUnaryNode<E, Op>{{}, AsStringNode(operand), operation};
}

// ---- Variables ---------------------------------------------------------------------------------------------

// STRING(N): N characters, blank-padded, no terminator.
template <uint32_t N>
class String : public detail::StringVarBase {
    static_assert(N > 0);

public:
    String() { Vrn$clearstr(data_, N); }
    String(const char* text) { Vrn$storestr(data_, N, text ? text : "", text ? static_cast<int32_t>(std::strlen(text)) : 0); }
    template <StringOperand T>
    explicit String(const T& value) { *this = value; }
    String(const String&) = default;
    String& operator=(const String&) = default;
    template <StringOperand T>
    String& operator=(const T& value) {
        AsStringNode(value).Push();
        Store();
        return *this;
    }

    void Push() const { Vrn$PushString(data_, N); }
    void Store() { Vrn$PopString(data_, N); }   // pops the top of the stack into the variable
    char* Data() { return data_; }
    const char* Data() const { return data_; }
    static constexpr uint32_t Size() { return N; }
    std::string_view View() const { return {data_, N}; }

private:
    char data_[N];
};

// CSTRING(N): up to N-1 characters and a zero byte.
template <uint32_t N>
class CString : public detail::StringVarBase {
    static_assert(N > 0);

public:
    CString() { data_[0] = '\0'; }
    CString(const char* text) { Vrn$storecstr(data_, N, text ? text : "", text ? static_cast<int32_t>(std::strlen(text)) : 0); }
    template <StringOperand T>
    explicit CString(const T& value) { *this = value; }
    CString(const CString&) = default;
    CString& operator=(const CString&) = default;
    template <StringOperand T>
    CString& operator=(const T& value) {
        AsStringNode(value).Push();
        Store();
        return *this;
    }

    void Push() const { Vrn$PushString(data_, Length()); }
    void Store() { Vrn$PopCString(data_, N); }
    char* Data() { return data_; }
    const char* Data() const { return data_; }
    static constexpr uint32_t Size() { return N; }
    uint32_t Length() const {
        const void* end = std::memchr(data_, 0, N);
        return end ? static_cast<uint32_t>(static_cast<const char*>(end) - data_) : N;
    }
    std::string_view View() const { return {data_, Length()}; }

private:
    char data_[N];
};

// PSTRING(N): a length byte and up to N-1 characters.
template <uint32_t N>
class PString : public detail::StringVarBase {
    static_assert(N > 0);

public:
    PString() { data_[0] = 0; }
    PString(const char* text) { Vrn$storepstr(data_, N, text ? text : "", text ? static_cast<int32_t>(std::strlen(text)) : 0); }
    template <StringOperand T>
    explicit PString(const T& value) { *this = value; }
    PString(const PString&) = default;
    PString& operator=(const PString&) = default;
    template <StringOperand T>
    PString& operator=(const T& value) {
        AsStringNode(value).Push();
        Store();
        return *this;
    }

    void Push() const { Vrn$PushString(reinterpret_cast<const char*>(data_ + 1), Length()); }
    void Store() { Vrn$PopPString(data_, N); }
    unsigned char* Data() { return data_; }
    const unsigned char* Data() const { return data_; }
    static constexpr uint32_t Size() { return N; }
    uint32_t Length() const { return data_[0] < N ? data_[0] : N - 1; }
    std::string_view View() const { return {reinterpret_cast<const char*>(data_ + 1), Length()}; }

private:
    unsigned char data_[N];
};

// ---- Functions -------------------------------------------------------------------------------------------------

template <StringOperand T>
auto clip(const T& value) { return MakeStringUnary(value, [] { Vrn$StackCLIP(); }); }
template <StringOperand T>
auto sub(const T& value, int32_t start, int32_t length) {
    return MakeStringUnary(value, [start, length] { Vrn$StackSUB(start, length); });
}
template <StringOperand T>
auto upper(const T& value) { return MakeStringUnary(value, [] { Vrn$StackUPPER(); }); }
template <StringOperand T>
auto lower(const T& value) { return MakeStringUnary(value, [] { Vrn$StackLOWER(); }); }
// A width of -1 keeps the value's length.
template <StringOperand T>
auto left(const T& value, int32_t width = -1) { return MakeStringUnary(value, [width] { Vrn$StackLEFT(width); }); }
template <StringOperand T>
auto right(const T& value, int32_t width = -1) { return MakeStringUnary(value, [width] { Vrn$StackRIGHT(width); }); }
template <StringOperand T>
auto center(const T& value, int32_t width = -1) { return MakeStringUnary(value, [width] { Vrn$StackCENTER(width); }); }
template <StringOperand T>
auto all(const T& value, int32_t length) { return MakeStringUnary(value, [length] { Vrn$StackALL(length); }); }

template <StringOperand T>
uint32_t len(const T& value) {
    AsStringNode(value).Push();
    return Vrn$StackLen();
}

// INSTRING(substring, string, step, start): the position of substring in string (0 = not found).
template <StringOperand S, StringOperand T>
int32_t instring(const S& substring, const T& string, int32_t step = 1, int32_t start = 1) {
    AsStringNode(string).Push();
    AsStringNode(substring).Push();
    return Vrn$StackINSTRING(step, start);
}

// Negative, 0 or positive as first sorts before, equal to or after second (trailing blanks ignored,
// through the runtime's collation).
template <StringOperand L, StringOperand R>
int32_t compare(const L& first, const R& second) {
    AsStringNode(first).Push();
    AsStringNode(second).Push();
    return Vrn$StackCompare();
}

// ---- Operators -------------------------------------------------------------------------------------------------

template <class L, class R>
    requires StringOperands<L, R>
auto operator&(const L& first, const R& second) {
    using FirstNode = decltype(AsStringNode(first));
    using SecondNode = decltype(AsStringNode(second));
    return StringConcatNode<FirstNode, SecondNode>{{}, AsStringNode(first), AsStringNode(second)};
}

template <class L, class R>
    requires StringOperands<L, R>
bool operator==(const L& first, const R& second) { return compare(first, second) == 0; }
template <class L, class R>
    requires StringOperands<L, R>
bool operator!=(const L& first, const R& second) { return compare(first, second) != 0; }
template <class L, class R>
    requires StringOperands<L, R>
bool operator<(const L& first, const R& second) { return compare(first, second) < 0; }
template <class L, class R>
    requires StringOperands<L, R>
bool operator<=(const L& first, const R& second) { return compare(first, second) <= 0; }
template <class L, class R>
    requires StringOperands<L, R>
bool operator>(const L& first, const R& second) { return compare(first, second) > 0; }
template <class L, class R>
    requires StringOperands<L, R>
bool operator>=(const L& first, const R& second) { return compare(first, second) >= 0; }

}  // namespace tarvex
