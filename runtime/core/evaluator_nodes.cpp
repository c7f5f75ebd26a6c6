// SPDX-License-Identifier: GPL-3.0-or-later
// Evaluation of parsed expressions: literals, bound variables, subscripts and slices, bound
// procedures, arithmetic, concatenation, comparisons and the logical operators.
//
// Bound variables of the common storage types are read straight from their storage (the address
// is fixed when the tree is built); other dynamic values go through their Ufo operations. Every
// Push leaves exactly one entry on the string stack.
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <typeinfo>

#include "core/char_tables.h"
#include "core/decimal.h"
#include "core/evaluator.h"
#include "core/string_numbers.h"
#include "core/string_stack.h"
#include "core/ufo.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace tarvex::eval {

// ---- Shared conversions ----------------------------------------------------------------------------

void PushInteger(int64_t value) {
    if (value >= INT32_MIN && value <= INT32_MAX) {
        Vrn$PushLong(static_cast<int32_t>(value));
        return;
    }
    char buffer[24];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)error;
    PushCopy(std::string_view(buffer, static_cast<size_t>(end - buffer)));
}

double TextToReal(std::string_view text) {
    // As a string popped as a REAL: trailing blanks do not count, and only the first 39
    // characters are read. Codes such as "00004" are all digits: read those directly.
    size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') end--;
    if (end > 0 && end <= 15) {
        uint64_t value = 0;
        size_t i = 0;
        for (; i < end; i++) {
            unsigned digit = static_cast<unsigned char>(text[i]) - '0';
            if (digit > 9) break;
            value = value * 10 + digit;
        }
        if (i == end) return static_cast<double>(value);
    }
    return ScanReal(text.substr(0, std::min<size_t>(end, 39))).value;
}

namespace {

int64_t TruncateToInteger(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return 0;
    return static_cast<int64_t>(value);
}

// Arithmetic that has no finite result (a zero divisor, an overflow, a root of a negative
// number) gives 0, as the decimal arithmetic does for a zero divisor.
double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

}  // namespace

int64_t IntegerOf(Node& node) {
    if (node.Class() == ValueClass::kInteger) return node.Integer();
    if (node.Class() == ValueClass::kReal) return TruncateToInteger(node.Real());
    return node.Integer();
}

int32_t LongOf(Node& node) {
    int64_t value = IntegerOf(node);
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

bool TextIsTrue(std::string_view text) {
    for (char c : text) {
        if (c != ' ') return true;
    }
    return false;
}

// -1, 0 or 1 with the tolerance of Vrn$realdistinct. Two normal numbers that differ by more than
// 2^-40 of the larger one are distinct by that rule (the difference's exponent is at most 41
// below either operand's, not more than 50), so only near-equal pairs and pairs with a zero or
// subnormal operand need the full rule.
int RealOrder(double a, double b) {
    if (a == b) return 0;
    double larger = std::max(std::fabs(a), std::fabs(b));
    double smaller = std::min(std::fabs(a), std::fabs(b));
    if (smaller >= DBL_MIN && std::fabs(a - b) >= larger * 0x1p-40) return a < b ? -1 : 1;
    if (!Vrn$realdistinct(a, b)) return 0;
    return a < b ? -1 : 1;
}

std::string_view TextOf(Node& node, bool& pushed) {
    std::string_view text;
    if (node.DirectText(text)) {
        pushed = false;
        return text;
    }
    node.Push();
    pushed = true;
    return EntryText(0);
}

// ---- Node defaults ----------------------------------------------------------------------------------

int32_t Node::Truth() {
    switch (value_class_) {
        case ValueClass::kInteger:
            return Integer() != 0;
        case ValueClass::kReal:
            return Real() != 0.0;
        case ValueClass::kString:
            break;
    }
    bool pushed;
    bool truth = TextIsTrue(TextOf(*this, pushed));
    if (pushed) DiscardEntries(1);
    return truth;
}

int64_t Node::Integer() {
    if (value_class_ == ValueClass::kString) {
        Push();
        return Vrn$PopLong();
    }
    return TruncateToInteger(Real());
}

bool Node::DirectText(std::string_view&) { return false; }

namespace {

// ---- Literals ---------------------------------------------------------------------------------------

class IntegerLiteral final : public Node {
public:
    IntegerLiteral(int64_t value, std::string text) : Node(ValueClass::kInteger), value_(value), text_(std::move(text)) {}
    void Push() override { PushInteger(value_); }
    int32_t Truth() override { return value_ != 0; }
    double Real() override { return static_cast<double>(value_); }
    int64_t Integer() override { return value_; }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (writer) writer->Append(condition ? (value_ != 0 ? "(1 = 1)" : "(1 = 0)") : text_);
        return true;
    }

private:
    int64_t value_;
    std::string text_;
};

class RealLiteral final : public Node {
public:
    RealLiteral(double value, std::string text) : Node(ValueClass::kReal), value_(value), text_(std::move(text)) {}
    void Push() override { Vrn$PushReal(value_); }
    int32_t Truth() override { return value_ != 0.0; }
    double Real() override { return value_; }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (writer) writer->Append(condition ? (value_ != 0.0 ? "(1 = 1)" : "(1 = 0)") : text_);
        return true;
    }

private:
    double value_;
    std::string text_;
};

class StringLiteral final : public Node {
public:
    StringLiteral(std::string text, bool picture)
        : Node(ValueClass::kString), text_(std::move(text)), real_(TextToReal(text_)), picture_(picture) {}
    void Push() override { Vrn$PushString(text_.data(), static_cast<uint32_t>(text_.size())); }
    int32_t Truth() override { return TextIsTrue(text_); }
    double Real() override { return real_; }
    bool DirectText(std::string_view& text) override {
        text = text_;
        return true;
    }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (picture_) return false;
        if (writer) {
            if (condition) {
                writer->Append(TextIsTrue(text_) ? "(1 = 1)" : "(1 = 0)");
            } else {
                writer->AppendStringLiteral(text_);
            }
        }
        return true;
    }

private:
    std::string text_;
    double real_;
    bool picture_;
};

// ---- Bound variables --------------------------------------------------------------------------------

enum class Storage : uint8_t {
    kByte,
    kShort,
    kUshort,
    kLong,
    kUlong,
    kSreal,
    kReal,
    kDecimal,
    kPdecimal,
    kString,
    kCstring,
    kPstring,
    kOther,
};

// The storage a Ufo of exactly one of the memory classes reads; kOther for anything else (groups,
// arrays, references, pictures, free-standing values), which goes through the Ufo's operations.
Storage StorageOf(Ufo* value) {
    const std::type_info& type = typeid(*value);
    if (type == typeid(ByteUfo)) return Storage::kByte;
    if (type == typeid(ShortUfo)) return Storage::kShort;
    if (type == typeid(UshortUfo)) return Storage::kUshort;
    if (type == typeid(LongUfo) || type == typeid(DateUfo) || type == typeid(TimeUfo)) return Storage::kLong;
    if (type == typeid(UlongUfo)) return Storage::kUlong;
    if (type == typeid(FloatUfo)) return Storage::kSreal;
    if (type == typeid(RealUfo)) return Storage::kReal;
    if (type == typeid(DecimalUfo)) return Storage::kDecimal;
    if (type == typeid(PdecimalUfo)) return Storage::kPdecimal;
    if (type == typeid(CstringUfo)) return Storage::kCstring;
    if (type == typeid(PstringUfo)) return Storage::kPstring;
    if (type == typeid(StringUfo)) {
        int code = value->Type();
        if (code == VRN_TYPE_STRING || code == VRN_TYPE_STRING_CONSTANT) return Storage::kString;
        if (code == VRN_TYPE_CSTRING) return Storage::kCstring;
        if (code == VRN_TYPE_PSTRING) return Storage::kPstring;
    }
    return Storage::kOther;
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A packed decimal as a double without the decimal accumulator: the digits collect into an integer
// and one division by an exact power of ten rounds correctly, as long as the integer is below 2^53.
// False for anything else (more digits, more places, a nibble that is not a digit).
bool FastPackedReal(const uint8_t* image, uint32_t size, uint32_t places, bool pdecimal, double& result) {
    if (size == 0 || size > 10 || places > 22) return false;
    uint64_t value = 0;
    bool negative;
    uint32_t bad = 0;
    if (!pdecimal) {
        negative = (image[0] >> 4) != 0;
        value = image[0] & 0x0F;
        bad |= value > 9;
        for (uint32_t i = 1; i < size; i++) {
            uint32_t high = image[i] >> 4, low = image[i] & 0x0F;
            bad |= (high > 9) | (low > 9);
            value = value * 100 + high * 10 + low;
        }
    } else {
        for (uint32_t i = 0; i + 1 < size; i++) {
            uint32_t high = image[i] >> 4, low = image[i] & 0x0F;
            bad |= (high > 9) | (low > 9);
            value = value * 100 + high * 10 + low;
        }
        uint32_t last = image[size - 1] >> 4;
        bad |= last > 9;
        value = value * 10 + last;
        negative = (image[size - 1] & 0x0F) == 0x0D;
    }
    if (bad || value > (uint64_t{1} << 53)) return false;
    if (value == 0) {
        result = 0.0;
        return true;
    }
    double magnitude = static_cast<double>(value) / kExactPowers[places];
    result = negative ? -magnitude : magnitude;
    return true;
}

template <class T>
T Load(const uint8_t* address) {
    T value;
    std::memcpy(&value, address, sizeof(T));
    return value;
}

class VariableNode final : public Node {
public:
    explicit VariableNode(const BindEntry& entry)
        : Node(entry.value_class), name_(entry.name), ufo_(entry.variable), storage_(StorageOf(ufo_.get())) {
        if (storage_ != Storage::kOther) {
            address_ = static_cast<const uint8_t*>(ufo_->Address());
            size_ = ufo_->Size();
            if (storage_ == Storage::kDecimal || storage_ == Storage::kPdecimal) {
                places_ = static_cast<VarUfo*>(ufo_.get())->Places();
            }
            if (!address_) storage_ = Storage::kOther;
        }
    }

    void Push() override {
        switch (storage_) {
            case Storage::kByte:
            case Storage::kShort:
            case Storage::kUshort:
            case Storage::kLong:
            case Storage::kUlong:
                PushInteger(LoadInteger());
                return;
            case Storage::kSreal:
            case Storage::kReal:
                Vrn$PushReal(Real());
                return;
            case Storage::kString:
            case Storage::kCstring:
            case Storage::kPstring: {
                std::string_view text = LoadText();
                Vrn$PushString(text.data(), static_cast<uint32_t>(text.size()));
                return;
            }
            default:
                ufo_->Push();   // decimals keep their exact text
                return;
        }
    }

    double Real() override {
        switch (storage_) {
            case Storage::kByte:
            case Storage::kShort:
            case Storage::kUshort:
            case Storage::kLong:
            case Storage::kUlong:
                return static_cast<double>(LoadInteger());
            case Storage::kSreal:
                return Load<float>(address_);
            case Storage::kReal:
                return Load<double>(address_);
            case Storage::kDecimal: {
                double value;
                if (FastPackedReal(address_, size_, places_, false, value)) return value;
                return ToDouble(LoadDecimal(address_, size_, places_));
            }
            case Storage::kPdecimal: {
                double value;
                if (FastPackedReal(address_, size_, places_, true, value)) return value;
                return ToDouble(LoadPdecimal(address_, size_, places_));
            }
            case Storage::kString:
            case Storage::kCstring:
            case Storage::kPstring:
                return TextToReal(LoadText());
            case Storage::kOther:
                break;
        }
        return ufo_->Real();
    }

    int64_t Integer() override {
        switch (storage_) {
            case Storage::kByte:
            case Storage::kShort:
            case Storage::kUshort:
            case Storage::kLong:
            case Storage::kUlong:
                return LoadInteger();
            case Storage::kOther:
                if (value_class_ == ValueClass::kInteger) return ufo_->Long();
                break;
            default:
                break;
        }
        return Node::Integer();
    }

    bool DirectText(std::string_view& text) override {
        if (storage_ != Storage::kString && storage_ != Storage::kCstring && storage_ != Storage::kPstring) return false;
        text = LoadText();
        return true;
    }

    bool Sql(SqlWriter* writer, bool condition) const override;

private:
    int64_t LoadInteger() const {
        switch (storage_) {
            case Storage::kByte:
                return *address_;
            case Storage::kShort:
                return Load<int16_t>(address_);
            case Storage::kUshort:
                return Load<uint16_t>(address_);
            case Storage::kLong:
                return Load<int32_t>(address_);
            default:
                return Load<uint32_t>(address_);
        }
    }
    std::string_view LoadText() const {
        const char* text = reinterpret_cast<const char*>(address_);
        switch (storage_) {
            case Storage::kCstring:
                return std::string_view(text, strnlen(text, size_));
            case Storage::kPstring: {
                uint32_t length = size_ ? std::min<uint32_t>(address_[0], size_ - 1) : 0;
                return std::string_view(text + 1, length);
            }
            default:
                return std::string_view(text, size_);
        }
    }

    std::string name_;
    SharedUfo ufo_;
    Storage storage_;
    const uint8_t* address_ = nullptr;
    uint32_t size_ = 0;
    uint8_t places_ = 0;
};

// The SQL form of a variable: its column, or its current value as a literal.
bool VariableNode::Sql(SqlWriter* writer, bool condition) const {
    if (!writer) return true;
    const char* column = writer->Column(name_);
    std::string value;
    if (column) {
        value = column;
        if (value_class_ == ValueClass::kString) value = "RTRIM(" + value + ")";
    } else {
        auto* self = const_cast<VariableNode*>(this);
        if (value_class_ == ValueClass::kString) {
            bool pushed;
            std::string_view text = TextOf(*self, pushed);
            size_t end = text.size();
            while (end > 0 && text[end - 1] == ' ') end--;
            SqlWriter literal(nullptr);
            literal.AppendStringLiteral(text.substr(0, end));
            value = literal.Text();
            if (pushed) DiscardEntries(1);
        } else {
            self->Push();
            value = PopStdString();
        }
    }
    if (condition) {
        value = "(" + value + (value_class_ == ValueClass::kString ? " <> '')" : " <> 0)");
    }
    writer->Append(value);
    return true;
}

// NAME[index]: an element of an array, a field of a group, or one character of a string.
class SubscriptNode final : public Node {
public:
    SubscriptNode(const BindEntry& entry, NodePtr index, ValueClass value_class, bool by_element)
        : Node(value_class), ufo_(entry.variable), index_(std::move(index)), by_element_(by_element) {
        depth = index_->depth + 1;
        stack_need = index_->stack_need + 1;
    }
    void Push() override {
        UfoHandle element = Select();
        Vrn$PushUfo(element.get());
    }
    double Real() override {
        UfoHandle element = Select();
        if (!element) return 0;
        if (value_class_ == ValueClass::kString) {
            element->Push();
            return Vrn$PopReal();
        }
        return element->Real();
    }
    int64_t Integer() override {
        if (value_class_ != ValueClass::kInteger) return Node::Integer();
        UfoHandle element = Select();
        return element ? element->Long() : 0;
    }

private:
    UfoHandle Select() {
        int32_t index = LongOf(*index_);
        if (by_element_) {
            if (index < 1 || index > ufo_->Max()) return nullptr;
            return UfoHandle(ufo_->Select(index));
        }
        return UfoHandle(ufo_->Select(index, index));
    }
    SharedUfo ufo_;
    NodePtr index_;
    bool by_element_;
};

// NAME[from : to]: a slice of a string.
class SliceNode final : public Node {
public:
    SliceNode(const BindEntry& entry, NodePtr from, NodePtr to)
        : Node(ValueClass::kString), ufo_(entry.variable), from_(std::move(from)), to_(std::move(to)) {
        depth = std::max(from_->depth, to_->depth) + 1;
        stack_need = std::max(from_->stack_need, to_->stack_need) + 1;
    }
    void Push() override {
        int32_t from = LongOf(*from_);
        int32_t to = LongOf(*to_);
        UfoHandle slice(ufo_->Select(from, to));
        Vrn$PushUfo(slice.get());
    }
    double Real() override {
        Push();
        return Vrn$PopReal();
    }

private:
    SharedUfo ufo_;
    NodePtr from_;
    NodePtr to_;
};

// A bound procedure: arguments pushed in order, then called.
class ProcedureNode final : public Node {
public:
    ProcedureNode(const ProcedureInfo& procedure, std::vector<NodePtr> arguments)
        : Node(procedure.result), procedure_(procedure), arguments_(std::move(arguments)) {
        uint32_t need = 1;
        for (size_t i = 0; i < arguments_.size(); i++) {
            depth = std::max(depth, arguments_[i]->depth + 1);
            need = std::max(need, static_cast<uint32_t>(i) + arguments_[i]->stack_need);
        }
        stack_need = std::max<uint32_t>(need, static_cast<uint32_t>(arguments_.size())) + 1;
    }
    void Push() override {
        switch (value_class_) {
            case ValueClass::kInteger:
                PushInteger(Integer());
                return;
            case ValueClass::kReal:
                Vrn$PushReal(Real());
                return;
            case ValueClass::kString:
                PushArguments();
                reinterpret_cast<VrnStringProcedure>(procedure_.address)();
                return;
        }
    }
    double Real() override {
        if (value_class_ == ValueClass::kInteger) return static_cast<double>(Integer());
        if (value_class_ == ValueClass::kString) {
            Push();
            return Vrn$PopReal();
        }
        PushArguments();
        return reinterpret_cast<VrnRealProcedure>(procedure_.address)();
    }
    int64_t Integer() override {
        if (value_class_ != ValueClass::kInteger) return Node::Integer();
        PushArguments();
        return reinterpret_cast<VrnLongProcedure>(procedure_.address)();
    }

private:
    void PushArguments() {
        for (NodePtr& argument : arguments_) argument->Push();
    }
    ProcedureInfo procedure_;
    std::vector<NodePtr> arguments_;
};

// ---- Operators ---------------------------------------------------------------------------------------

class NegateNode final : public Node {
public:
    NegateNode(NodePtr operand, bool minus) : Node(ValueClass::kReal), operand_(std::move(operand)), minus_(minus) {
        depth = operand_->depth + 1;
        stack_need = operand_->stack_need;
    }
    void Push() override { Vrn$PushReal(Real()); }
    double Real() override {
        double value = operand_->Real();
        return minus_ ? -value : value;
    }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (condition) return false;
        if (writer) writer->Append(minus_ ? "(-" : "(+");
        if (!operand_->Sql(writer, false)) return false;
        if (writer) writer->Append(")");
        return true;
    }
    const Node* OrderTerm(bool& descending) const override {
        descending = minus_;
        return operand_.get();
    }

private:
    NodePtr operand_;
    bool minus_;
};

class NotNode final : public Node {
public:
    explicit NotNode(NodePtr operand) : Node(ValueClass::kInteger), operand_(std::move(operand)) {
        depth = operand_->depth + 1;
        stack_need = operand_->stack_need;
    }
    void Push() override { Vrn$PushLong(Truth()); }
    int32_t Truth() override { return operand_->Truth() ? 0 : 1; }
    double Real() override { return Truth(); }
    int64_t Integer() override { return Truth(); }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (!condition) return false;
        if (writer) writer->Append("(NOT ");
        if (!operand_->Sql(writer, true)) return false;
        if (writer) writer->Append(")");
        return true;
    }

private:
    NodePtr operand_;
};

class BinaryNode : public Node {
public:
    BinaryNode(ValueClass value_class, NodePtr left, NodePtr right)
        : Node(value_class), left_(std::move(left)), right_(std::move(right)) {
        depth = std::max(left_->depth, right_->depth) + 1;
        stack_need = std::max(left_->stack_need, right_->stack_need);
    }
    const Node* Left() const { return left_.get(); }
    const Node* Right() const { return right_.get(); }

protected:
    // Writes "(left op right)" with both operands as values or both as conditions.
    bool SqlInfix(SqlWriter* writer, std::string_view op, bool operands_as_conditions) const {
        if (writer) writer->Append("(");
        if (!left_->Sql(writer, operands_as_conditions)) return false;
        if (writer) writer->Append(op);
        if (!right_->Sql(writer, operands_as_conditions)) return false;
        if (writer) writer->Append(")");
        return true;
    }
    NodePtr left_;
    NodePtr right_;
};

class ArithmeticNode final : public BinaryNode {
public:
    ArithmeticNode(ArithmeticOp op, NodePtr left, NodePtr right)
        : BinaryNode(ValueClass::kReal, std::move(left), std::move(right)), op_(op) {}
    void Push() override { Vrn$PushReal(Real()); }
    double Real() override {
        double a = left_->Real();
        double b = right_->Real();
        switch (op_) {
            case ArithmeticOp::kAdd:
                return Finite(a + b);
            case ArithmeticOp::kSubtract:
                return Finite(a - b);
            case ArithmeticOp::kMultiply:
                return Finite(a * b);
            case ArithmeticOp::kDivide:
                return b == 0 ? 0.0 : Finite(a / b);
            case ArithmeticOp::kRemainder:
                return b == 0 ? 0.0 : Finite(std::fmod(a, b));
            case ArithmeticOp::kPower:
                return Finite(std::pow(a, b));
        }
        return 0;
    }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (condition) return false;
        switch (op_) {
            case ArithmeticOp::kAdd:
                return SqlInfix(writer, " + ", false);
            case ArithmeticOp::kSubtract:
                return SqlInfix(writer, " - ", false);
            case ArithmeticOp::kMultiply:
                return SqlInfix(writer, " * ", false);
            case ArithmeticOp::kDivide:
                return false;   // a zero divisor gives 0 here, an error in SQL
            case ArithmeticOp::kRemainder:
            case ArithmeticOp::kPower:
                if (writer) writer->Append(op_ == ArithmeticOp::kPower ? "POWER(" : "MOD(");
                if (!left_->Sql(writer, false)) return false;
                if (writer) writer->Append(", ");
                if (!right_->Sql(writer, false)) return false;
                if (writer) writer->Append(")");
                return true;
        }
        return false;
    }

private:
    ArithmeticOp op_;
};

class ConcatNode final : public BinaryNode {
public:
    ConcatNode(NodePtr left, NodePtr right) : BinaryNode(ValueClass::kString, std::move(left), std::move(right)) {
        stack_need = std::max(left_->stack_need, right_->stack_need + 1);
    }
    void Push() override {
        left_->Push();
        right_->Push();
        Vrn$StackConcat();
    }
    double Real() override {
        Push();
        return Vrn$PopReal();
    }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (condition) return false;
        return SqlInfix(writer, " || ", false);
    }
};

int32_t Decide(CompareOp op, int order) {
    switch (op) {
        case CompareOp::kEqual:
            return order == 0;
        case CompareOp::kNotEqual:
            return order != 0;
        case CompareOp::kLess:
            return order < 0;
        case CompareOp::kLessEqual:
            return order <= 0;
        case CompareOp::kGreater:
            return order > 0;
        case CompareOp::kGreaterEqual:
            return order >= 0;
    }
    return 0;
}

const char* SqlOperator(CompareOp op) {
    switch (op) {
        case CompareOp::kEqual:
            return " = ";
        case CompareOp::kNotEqual:
            return " <> ";
        case CompareOp::kLess:
            return " < ";
        case CompareOp::kLessEqual:
            return " <= ";
        case CompareOp::kGreater:
            return " > ";
        case CompareOp::kGreaterEqual:
            return " >= ";
    }
    return " = ";
}

// Comparisons give 1 or 0. The rule is chosen at parse time from the operands' classes.
class CompareNode : public BinaryNode {
public:
    CompareNode(CompareOp op, NodePtr left, NodePtr right)
        : BinaryNode(ValueClass::kInteger, std::move(left), std::move(right)), op_(op) {}
    void Push() override { Vrn$PushLong(Truth()); }
    double Real() override { return Truth(); }
    int64_t Integer() override { return Truth(); }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (!condition) return false;
        // A number compared with text compares the text's numeric value, which SQL cannot read
        // from arbitrary text.
        bool left_string = left_->Class() == ValueClass::kString;
        bool right_string = right_->Class() == ValueClass::kString;
        if (left_string != right_string) return false;
        return SqlInfix(writer, SqlOperator(op_), false);
    }

protected:
    CompareOp op_;
};

class CompareIntegers final : public CompareNode {
public:
    using CompareNode::CompareNode;
    int32_t Truth() override {
        int64_t a = left_->Integer();
        int64_t b = right_->Integer();
        return Decide(op_, a < b ? -1 : (a > b ? 1 : 0));
    }
};

class CompareReals final : public CompareNode {
public:
    using CompareNode::CompareNode;
    int32_t Truth() override {
        double a = left_->Real();
        double b = right_->Real();
        return Decide(op_, RealOrder(a, b));
    }
};

class CompareTexts final : public CompareNode {
public:
    CompareTexts(CompareOp op, NodePtr left, NodePtr right) : CompareNode(op, std::move(left), std::move(right)) {
        stack_need = std::max(left_->stack_need, right_->stack_need + 1);
    }
    int32_t Truth() override {
        bool left_pushed;
        bool right_pushed;
        std::string_view a = TextOf(*left_, left_pushed);
        std::string_view b = TextOf(*right_, right_pushed);
        // A pushed inline entry keeps its characters in the stack slot, which stays put while
        // the entry above it is pushed, so the left view is still valid here.
        int32_t order = CompareStrings(a, b);
        DiscardEntries((left_pushed ? 1 : 0) + (right_pushed ? 1 : 0));
        return Decide(op_, order);
    }
};

class LogicNode final : public BinaryNode {
public:
    LogicNode(LogicOp op, NodePtr left, NodePtr right)
        : BinaryNode(ValueClass::kInteger, std::move(left), std::move(right)), op_(op) {}
    void Push() override { Vrn$PushLong(Truth()); }
    double Real() override { return Truth(); }
    int64_t Integer() override { return Truth(); }
    int32_t Truth() override {
        switch (op_) {
            case LogicOp::kAnd:
                return left_->Truth() && right_->Truth();
            case LogicOp::kOr:
                return left_->Truth() || right_->Truth();
            case LogicOp::kXor:
                return (left_->Truth() != 0) != (right_->Truth() != 0);
        }
        return 0;
    }
    bool Sql(SqlWriter* writer, bool condition) const override {
        if (!condition) return false;
        switch (op_) {
            case LogicOp::kAnd:
                return SqlInfix(writer, " AND ", true);
            case LogicOp::kOr:
                return SqlInfix(writer, " OR ", true);
            case LogicOp::kXor:
                return SqlInfix(writer, " <> ", true);
        }
        return false;
    }
    void Conjuncts(std::vector<const Node*>& terms) const override {
        if (op_ != LogicOp::kAnd) {
            terms.push_back(this);
            return;
        }
        left_->Conjuncts(terms);
        right_->Conjuncts(terms);
    }

private:
    LogicOp op_;
};

}  // namespace

// ---- Constructors used by the parser ------------------------------------------------------------------

NodePtr MakeIntegerLiteral(int64_t value, std::string text) {
    return std::make_unique<IntegerLiteral>(value, std::move(text));
}
NodePtr MakeRealLiteral(double value, std::string text) { return std::make_unique<RealLiteral>(value, std::move(text)); }
NodePtr MakeStringLiteral(std::string text, bool picture) {
    return std::make_unique<StringLiteral>(std::move(text), picture);
}
NodePtr MakeVariable(const BindEntry& entry) { return std::make_unique<VariableNode>(entry); }

NodePtr MakeSubscript(const BindEntry& entry, NodePtr index) {
    Ufo* value = entry.variable.get();
    int type = value->Type();
    if (type == VRN_TYPE_ARRAY) {
        return std::make_unique<SubscriptNode>(entry, std::move(index), ClassOfUfo(value), true);
    }
    if (type == VRN_TYPE_GROUP && dynamic_cast<GroupUfo*>(value)) {
        return std::make_unique<SubscriptNode>(entry, std::move(index), ValueClass::kString, true);
    }
    if (dynamic_cast<StringUfo*>(value) || dynamic_cast<StrValueUfo*>(value)) {
        return std::make_unique<SubscriptNode>(entry, std::move(index), ValueClass::kString, false);
    }
    return nullptr;
}

NodePtr MakeSlice(const BindEntry& entry, NodePtr from, NodePtr to) {
    Ufo* value = entry.variable.get();
    if (!dynamic_cast<StringUfo*>(value) && !dynamic_cast<StrValueUfo*>(value)) return nullptr;
    return std::make_unique<SliceNode>(entry, std::move(from), std::move(to));
}

NodePtr MakeProcedureCall(const BindEntry& entry, std::vector<NodePtr> arguments) {
    return std::make_unique<ProcedureNode>(entry.procedure, std::move(arguments));
}

NodePtr MakeNegate(NodePtr operand, bool minus) { return std::make_unique<NegateNode>(std::move(operand), minus); }
NodePtr MakeNot(NodePtr operand) { return std::make_unique<NotNode>(std::move(operand)); }
NodePtr MakeArithmetic(ArithmeticOp op, NodePtr left, NodePtr right) {
    return std::make_unique<ArithmeticNode>(op, std::move(left), std::move(right));
}
NodePtr MakeConcat(NodePtr left, NodePtr right) { return std::make_unique<ConcatNode>(std::move(left), std::move(right)); }

NodePtr MakeCompare(CompareOp op, NodePtr left, NodePtr right) {
    ValueClass a = left->Class();
    ValueClass b = right->Class();
    if (a == ValueClass::kInteger && b == ValueClass::kInteger) {
        return std::make_unique<CompareIntegers>(op, std::move(left), std::move(right));
    }
    if (a == ValueClass::kString && b == ValueClass::kString) {
        return std::make_unique<CompareTexts>(op, std::move(left), std::move(right));
    }
    return std::make_unique<CompareReals>(op, std::move(left), std::move(right));
}

NodePtr MakeLogic(LogicOp op, NodePtr left, NodePtr right) {
    return std::make_unique<LogicNode>(op, std::move(left), std::move(right));
}

bool Node::Sql(SqlWriter*, bool) const { return false; }

// The SQL writer's shared pieces.
void SqlWriter::AppendStringLiteral(std::string_view text) {
    text_.push_back('\'');
    for (char c : text) {
        if (c == '\'') text_.push_back('\'');
        text_.push_back(c);
    }
    text_.push_back('\'');
}

const char* SqlWriter::Column(const std::string& name) const {
    if (!output_ || !output_->column) return nullptr;
    return output_->column(output_->user, name.c_str());
}

}  // namespace tarvex::eval
