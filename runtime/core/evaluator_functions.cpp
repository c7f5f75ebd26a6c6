// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in functions of the expression language. Each has the meaning of the runtime
// operation of the same name; the table gives the argument counts each accepts and its value
// class.
//
//   ABS(x) ACOS(x) ASIN(x) ATAN(x) COS(x) SIN(x) TAN(x) SQRT(x) LOG10(x) LOGE(x) INT(x)   real
//   ROUND(x, step)                                                             real
//   AGE(birth [, base])          base defaults to today                        string
//   ALL(s [, length])            length defaults to 255                        string
//   CENTER(s [, width]) LEFT(s [, width]) RIGHT(s [, width])  width defaults to the length
//   CLIP(s) LOWER(s) UPPER(s) CHR(code)                                        string
//   SUB(s, start, length)                                                      string
//   FORMAT(value, picture) DEFORMAT(s [, picture])                             string
//   GETINI(section, entry [, default [, file]])                                string
//   CHOOSE(index, v1, ..., vn)   vi for index i, vn when out of range; n >= 1  class of the values
//   BAND(a, b) BOR(a, b) BXOR(a, b)        on 32-bit values                    integer
//   BSHIFT(value, count)         left for count > 0, logical right for count < 0
//   DATE(month, day, year) DAY(d) MONTH(d) YEAR(d) TODAY() CLOCK()             integer
//   INLIST(value, i1, ..., in)   n >= 1                                        integer
//   INRANGE(x, low, high)        by the comparison rules of "<=" and ">="      integer
//   INSTRING(sub, s [, step [, start]])    step and start default to 1         integer
//   LEN(s) NUMERIC(s) VAL(s)                                                   integer
//   RANDOM(low, high)                                                          integer
//   MEMORY()                     the memory the system can still give, in bytes, at most 2147483647
//
// Functions without arguments may be written with or without "()". Results that have no finite
// value (a root of a negative number, a logarithm of 0) are 0.
#include <algorithm>
#include <cmath>
#include <random>

#include "core/evaluator.h"
#include "core/frame.h"
#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"
#include "tarvex/pictures.h"
#include "tarvex/string_stack.h"

namespace tarvex::eval {
namespace {

enum class Builtin : uint8_t {
    kAbs, kAcos, kAge, kAll, kAsin, kAtan, kBand, kBor, kBshift, kBxor, kCenter, kChoose, kChr,
    kClip, kClock, kCos, kDate, kDay, kDeformat, kFormat, kGetini, kInlist, kInrange, kInstring,
    kInt, kLeft, kLen, kLog10, kLoge, kLower, kMemory, kMonth, kNumeric, kRandom, kRight, kRound,
    kSin, kSqrt, kSub, kTan, kToday, kUpper, kVal, kYear,
};

constexpr size_t kMany = 255;

struct BuiltinInfo {
    const char* name;
    Builtin id;
    size_t min_arguments;
    size_t max_arguments;
    ValueClass value_class;
};

constexpr ValueClass I = ValueClass::kInteger;
constexpr ValueClass R = ValueClass::kReal;
constexpr ValueClass S = ValueClass::kString;

// Sorted by name.
constexpr BuiltinInfo kBuiltins[] = {
    {"ABS", Builtin::kAbs, 1, 1, R},          {"ACOS", Builtin::kAcos, 1, 1, R},
    {"AGE", Builtin::kAge, 1, 2, S},          {"ALL", Builtin::kAll, 1, 2, S},
    {"ASIN", Builtin::kAsin, 1, 1, R},        {"ATAN", Builtin::kAtan, 1, 1, R},
    {"BAND", Builtin::kBand, 2, 2, I},        {"BOR", Builtin::kBor, 2, 2, I},
    {"BSHIFT", Builtin::kBshift, 2, 2, I},    {"BXOR", Builtin::kBxor, 2, 2, I},
    {"CENTER", Builtin::kCenter, 1, 2, S},    {"CHOOSE", Builtin::kChoose, 2, kMany, S},
    {"CHR", Builtin::kChr, 1, 1, S},          {"CLIP", Builtin::kClip, 1, 1, S},
    {"CLOCK", Builtin::kClock, 0, 0, I},      {"COS", Builtin::kCos, 1, 1, R},
    {"DATE", Builtin::kDate, 3, 3, I},        {"DAY", Builtin::kDay, 1, 1, I},
    {"DEFORMAT", Builtin::kDeformat, 1, 2, S}, {"FORMAT", Builtin::kFormat, 2, 2, S},
    {"GETINI", Builtin::kGetini, 2, 4, S},    {"INLIST", Builtin::kInlist, 2, kMany, I},
    {"INRANGE", Builtin::kInrange, 3, 3, I},  {"INSTRING", Builtin::kInstring, 2, 4, I},
    {"INT", Builtin::kInt, 1, 1, R},          {"LEFT", Builtin::kLeft, 1, 2, S},
    {"LEN", Builtin::kLen, 1, 1, I},          {"LOG10", Builtin::kLog10, 1, 1, R},
    {"LOGE", Builtin::kLoge, 1, 1, R},        {"LOWER", Builtin::kLower, 1, 1, S},
    {"MEMORY", Builtin::kMemory, 0, 0, I},    {"MONTH", Builtin::kMonth, 1, 1, I},
    {"NUMERIC", Builtin::kNumeric, 1, 1, I},  {"RANDOM", Builtin::kRandom, 2, 2, I},
    {"RIGHT", Builtin::kRight, 1, 2, S},      {"ROUND", Builtin::kRound, 2, 2, R},
    {"SIN", Builtin::kSin, 1, 1, R},          {"SQRT", Builtin::kSqrt, 1, 1, R},
    {"SUB", Builtin::kSub, 3, 3, S},          {"TAN", Builtin::kTan, 1, 1, R},
    {"TODAY", Builtin::kToday, 0, 0, I},      {"UPPER", Builtin::kUpper, 1, 1, S},
    {"VAL", Builtin::kVal, 1, 1, I},          {"YEAR", Builtin::kYear, 1, 1, I},
};
constexpr size_t kBuiltinCount = sizeof kBuiltins / sizeof kBuiltins[0];

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

// Comparison by the rules of the comparison operators: -1, 0, 1.
int CompareValues(Node& a, Node& b) {
    if (a.Class() == ValueClass::kInteger && b.Class() == ValueClass::kInteger) {
        int64_t x = a.Integer();
        int64_t y = b.Integer();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (a.Class() == ValueClass::kString && b.Class() == ValueClass::kString) {
        a.Push();
        b.Push();
        int32_t order = Vrn$StackCompare();
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    return RealOrder(a.Real(), b.Real());
}

class BuiltinNode final : public Node {
public:
    BuiltinNode(const BuiltinInfo& info, std::vector<NodePtr> arguments, ValueClass value_class)
        : Node(value_class), info_(info), arguments_(std::move(arguments)) {
        // Arguments are pushed one above the other (an INLIST's value above all its items), and
        // GETINI pushes up to two defaults first.
        uint32_t need = 0;
        for (const NodePtr& argument : arguments_) {
            depth = std::max(depth, argument->depth + 1);
            need = std::max(need, argument->stack_need);
        }
        uint32_t below = arguments_.empty() ? 0 : static_cast<uint32_t>(arguments_.size() - 1);
        stack_need = std::max<uint32_t>(1, need + below + (info_.id == Builtin::kGetini ? 2 : 0));
    }

    void Push() override {
        switch (info_.value_class) {
            case ValueClass::kInteger:
                if (info_.id != Builtin::kChoose) {
                    PushInteger(Integer());
                    return;
                }
                break;
            case ValueClass::kReal:
                Vrn$PushReal(Real());
                return;
            case ValueClass::kString:
                break;
        }
        PushString();
    }

    double Real() override {
        if (info_.id == Builtin::kChoose) return Chosen().Real();
        if (info_.value_class == ValueClass::kInteger) return static_cast<double>(Integer());
        if (info_.value_class == ValueClass::kString) {
            PushString();
            return Vrn$PopReal();
        }
        return RealValue();
    }

    int64_t Integer() override {
        if (info_.id == Builtin::kChoose) return IntegerOf(Chosen());
        if (info_.value_class != ValueClass::kInteger) return Node::Integer();
        return IntegerValue();
    }

    bool Sql(SqlWriter* writer, bool condition) const override;

private:
    Node& Argument(size_t i) { return *arguments_[i]; }
    bool Has(size_t i) const { return i < arguments_.size(); }

    Node& Chosen() {
        int64_t index = IntegerOf(Argument(0));
        size_t choices = arguments_.size() - 1;
        if (index < 1 || static_cast<uint64_t>(index) > choices) index = static_cast<int64_t>(choices);
        return Argument(static_cast<size_t>(index));
    }

    double RealValue() {
        double x = Argument(0).Real();
        switch (info_.id) {
            case Builtin::kAbs: return std::fabs(x);
            case Builtin::kAcos: return Finite(std::acos(x));
            case Builtin::kAsin: return Finite(std::asin(x));
            case Builtin::kAtan: return Finite(std::atan(x));
            case Builtin::kCos: return Finite(std::cos(x));
            case Builtin::kSin: return Finite(std::sin(x));
            case Builtin::kTan: return Finite(std::tan(x));
            case Builtin::kSqrt: return Finite(std::sqrt(x));
            case Builtin::kLog10: return Finite(std::log10(x));
            case Builtin::kLoge: return Finite(std::log(x));
            case Builtin::kInt: return std::trunc(x);
            case Builtin::kRound: {
                // Rounded as the decimal ROUND does: at the position of the step's leading digit.
                Vrn$DPushReal(x);
                Vrn$DPushReal(Argument(1).Real());
                Vrn$DRound();
                return Vrn$DPopReal();
            }
            default: return 0;
        }
    }

    int64_t IntegerValue() {
        switch (info_.id) {
            case Builtin::kBand:
            case Builtin::kBor:
            case Builtin::kBxor: {
                uint32_t a = static_cast<uint32_t>(LongOf(Argument(0)));
                uint32_t b = static_cast<uint32_t>(LongOf(Argument(1)));
                uint32_t r = info_.id == Builtin::kBand ? (a & b) : info_.id == Builtin::kBor ? (a | b) : (a ^ b);
                return static_cast<int32_t>(r);
            }
            case Builtin::kBshift: {
                uint32_t value = static_cast<uint32_t>(LongOf(Argument(0)));
                int32_t count = LongOf(Argument(1));
                if (count >= 32 || count <= -32) return 0;
                return static_cast<int32_t>(count >= 0 ? value << count : value >> -count);
            }
            case Builtin::kClock: return Vrn$CLOCK();
            case Builtin::kToday: return Vrn$TODAY();
            case Builtin::kDate: return Vrn$DATE(LongOf(Argument(0)), LongOf(Argument(1)), LongOf(Argument(2)));
            case Builtin::kDay: return Vrn$DAY(LongOf(Argument(0)));
            case Builtin::kMonth: return Vrn$MONTH(LongOf(Argument(0)));
            case Builtin::kYear: return Vrn$YEAR(LongOf(Argument(0)));
            case Builtin::kInlist: {
                // The items beneath the value, the first item directly beneath it.
                uint32_t count = static_cast<uint32_t>(arguments_.size() - 1);
                for (size_t i = arguments_.size() - 1; i >= 1; i--) Argument(i).Push();
                Argument(0).Push();
                return Vrn$StackINLIST(static_cast<int32_t>(count));
            }
            case Builtin::kInrange:
                return CompareValues(Argument(0), Argument(1)) >= 0 && CompareValues(Argument(0), Argument(2)) <= 0;
            case Builtin::kInstring: {
                int32_t step = Has(2) ? LongOf(Argument(2)) : 1;
                int32_t start = Has(3) ? LongOf(Argument(3)) : 1;
                Argument(1).Push();
                Argument(0).Push();
                return Vrn$StackINSTRING(step, start);
            }
            case Builtin::kLen:
                Argument(0).Push();
                return Vrn$StackLen();
            case Builtin::kNumeric:
                Argument(0).Push();
                return Vrn$StackNUMERIC();
            case Builtin::kVal:
                Argument(0).Push();
                return Vrn$StackVAL();
            case Builtin::kRandom: {
                int32_t low = LongOf(Argument(0));
                int32_t high = LongOf(Argument(1));
                if (low > high) std::swap(low, high);
                return std::uniform_int_distribution<int32_t>(low, high)(RandomEngine());
            }
            case Builtin::kMemory:
                return int32_t(std::min<uint64_t>(platform::AvailableMemory(), INT32_MAX));
            default: return 0;
        }
    }

    void PushString() {
        switch (info_.id) {
            case Builtin::kChoose:
                Chosen().Push();
                return;
            case Builtin::kAge: {
                int32_t birth = LongOf(Argument(0));
                int32_t base = Has(1) ? LongOf(Argument(1)) : -1;
                Vrn$StackAGE(birth, base);
                return;
            }
            case Builtin::kAll: {
                int32_t length = Has(1) ? LongOf(Argument(1)) : 255;
                Argument(0).Push();
                Vrn$StackALL(std::clamp(length, 0, 65535));
                return;
            }
            case Builtin::kCenter:
            case Builtin::kLeft:
            case Builtin::kRight: {
                int32_t width = Has(1) ? std::min(LongOf(Argument(1)), 65535) : -1;
                Argument(0).Push();
                if (info_.id == Builtin::kCenter) Vrn$StackCENTER(width);
                if (info_.id == Builtin::kLeft) Vrn$StackLEFT(width);
                if (info_.id == Builtin::kRight) Vrn$StackRIGHT(width);
                return;
            }
            case Builtin::kChr: {
                char c = static_cast<char>(LongOf(Argument(0)) & 0xFF);
                PushCopy(std::string_view(&c, 1));
                return;
            }
            case Builtin::kClip:
                Argument(0).Push();
                Vrn$StackCLIP();
                return;
            case Builtin::kLower:
                Argument(0).Push();
                Vrn$StackLOWER();
                return;
            case Builtin::kUpper:
                Argument(0).Push();
                Vrn$StackUPPER();
                return;
            case Builtin::kSub: {
                int32_t start = LongOf(Argument(1));
                int32_t length = LongOf(Argument(2));
                Argument(0).Push();
                Vrn$StackSUB(start, length);
                return;
            }
            case Builtin::kFormat:
            case Builtin::kDeformat: {
                std::string picture;
                if (Has(1)) {
                    Argument(1).Push();
                    picture = PopStdString();
                    while (!picture.empty() && picture.back() == ' ') picture.pop_back();
                }
                Argument(0).Push();
                if (info_.id == Builtin::kFormat) {
                    Vrn$StackFORMAT(picture.c_str());
                } else {
                    Vrn$StackDEFORMAT(picture.c_str());
                }
                return;
            }
            case Builtin::kGetini: {
                // Vrn$GETINI takes the section on top, then entry, default and file name.
                if (Has(3)) {
                    Argument(3).Push();
                } else {
                    Vrn$PushString("", 0);
                }
                if (Has(2)) {
                    Argument(2).Push();
                } else {
                    Vrn$PushString("", 0);
                }
                Argument(1).Push();
                Argument(0).Push();
                Vrn$GETINI();
                return;
            }
            default:
                Vrn$PushString("", 0);
                return;
        }
    }

    const BuiltinInfo& info_;
    std::vector<NodePtr> arguments_;
};

const char* SqlFunctionName(Builtin id) {
    switch (id) {
        case Builtin::kAbs: return "ABS";
        case Builtin::kAcos: return "ACOS";
        case Builtin::kAsin: return "ASIN";
        case Builtin::kAtan: return "ATAN";
        case Builtin::kCos: return "COS";
        case Builtin::kSin: return "SIN";
        case Builtin::kTan: return "TAN";
        case Builtin::kSqrt: return "SQRT";
        case Builtin::kLog10: return "LOG10";
        case Builtin::kLoge: return "LN";
        case Builtin::kUpper: return "UPPER";
        case Builtin::kLower: return "LOWER";
        case Builtin::kClip: return "RTRIM";
        default: return nullptr;
    }
}

bool BuiltinNode::Sql(SqlWriter* writer, bool condition) const {
    if (info_.id == Builtin::kInrange) {
        // INRANGE(x, low, high) is "x BETWEEN low AND high" when all three are of one kind.
        if (!condition) return false;
        ValueClass x = arguments_[0]->Class();
        for (const NodePtr& argument : arguments_) {
            if ((argument->Class() == ValueClass::kString) != (x == ValueClass::kString)) return false;
        }
        if (writer) writer->Append("(");
        if (!arguments_[0]->Sql(writer, false)) return false;
        if (writer) writer->Append(" BETWEEN ");
        if (!arguments_[1]->Sql(writer, false)) return false;
        if (writer) writer->Append(" AND ");
        if (!arguments_[2]->Sql(writer, false)) return false;
        if (writer) writer->Append(")");
        return true;
    }
    const char* name = SqlFunctionName(info_.id);
    if (!name || condition) return false;
    if (writer) {
        writer->Append(name);
        writer->Append("(");
    }
    if (!arguments_[0]->Sql(writer, false)) return false;
    if (writer) writer->Append(")");
    return true;
}

}  // namespace

int FindBuiltin(std::string_view name) {
    NameLess less;
    const BuiltinInfo* found = std::lower_bound(kBuiltins, kBuiltins + kBuiltinCount, name,
                                                [&](const BuiltinInfo& info, std::string_view key) {
                                                    return less(info.name, key);
                                                });
    if (found == kBuiltins + kBuiltinCount || less(name, found->name)) return -1;
    return static_cast<int>(found - kBuiltins);
}

bool BuiltinTakesCount(int builtin, size_t count) {
    if (builtin < 0 || static_cast<size_t>(builtin) >= kBuiltinCount) return false;
    const BuiltinInfo& info = kBuiltins[builtin];
    return count >= info.min_arguments && count <= info.max_arguments;
}

NodePtr MakeBuiltinCall(int builtin, std::vector<NodePtr> arguments) {
    const BuiltinInfo& info = kBuiltins[builtin];
    ValueClass value_class = info.value_class;
    if (info.id == Builtin::kChoose) {
        // The class of the choices when they agree, else string.
        value_class = arguments[1]->Class();
        for (size_t i = 2; i < arguments.size(); i++) {
            if (arguments[i]->Class() != value_class) value_class = ValueClass::kString;
        }
    }
    return std::make_unique<BuiltinNode>(info, std::move(arguments), value_class);
}

}  // namespace tarvex::eval
