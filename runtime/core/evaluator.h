// SPDX-License-Identifier: GPL-3.0-or-later
// The expression evaluator inside the runtime: bind entries and scopes, the parsed-expression
// node classes and the entry points the exports use.
//
//   evaluator_bind.cpp       bind entries, the per-thread scope stack, name rules
//   evaluator_tokens.cpp     the tokenizer
//   evaluator_parser.cpp     precedence parsing and name resolution (parse time)
//   evaluator_nodes.cpp      evaluation of literals, variables, operators, comparisons
//   evaluator_functions.cpp  the built-in functions
//   evaluator_sql.cpp        SQL rendering of filters and orders
//   evaluator_exports.cpp    the Vrn$ operations
//
// Every node has a value class fixed at parse time (integer, real or string); comparisons choose
// their rule from the classes of their operands once, when the tree is built, so evaluating a
// filter for a row does no type dispatch beyond one virtual call per node.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/evaluate.h"
#include "tarvex/values.h"

namespace tarvex::eval {

enum class ValueClass : uint8_t { kInteger = 1, kReal = 2, kString = 4 };

// The longest name a binding keeps.
constexpr size_t kMaxNameLength = 99;

// ---- Bindings ------------------------------------------------------------------------------------

enum class BindKind : uint8_t { kVariable = 1, kOperator = 4, kProcedure = 6 };

struct ProcedureInfo {
    void* address = nullptr;
    int32_t parameter_count = 0;
    ValueClass result = ValueClass::kString;
};

struct UfoRelease {
    void operator()(Ufo* value) const;
};
using UfoHandle = std::unique_ptr<Ufo, UfoRelease>;
// A bound variable's Ufo is shared by its binding and the parsed trees that name it, so a tree
// read after its scope closed still reads a live object.
using SharedUfo = std::shared_ptr<Ufo>;

struct BindEntry {
    BindKind kind = BindKind::kVariable;
    std::string name;
    ValueClass value_class = ValueClass::kString;
    SharedUfo variable;        // kVariable
    ProcedureInfo procedure;   // kProcedure
};

// Names compare without regard to case.
struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};
using BindTree = std::map<std::string, std::unique_ptr<BindEntry>, NameLess>;

// The longest prefix of `text` that is a name (at most kMaxNameLength characters); empty when the
// text does not start with one.
std::string_view CutName(std::string_view text);
bool IsNameStart(char c);
bool IsNameChar(char c);

// The value class of a dynamic value: integer, real or string by its (base) type code.
ValueClass ClassOfUfo(Ufo* value);

void PushScope(bool keep_outer);
bool PopScope();   // false when no scope is open
void BindVariable(std::string_view name, Ufo* value);   // takes ownership
void BindProcedure(std::string_view name, const ProcedureInfo& procedure);
bool Unbind(std::string_view name);
const BindEntry* Lookup(std::string_view name);               // all visible scopes
const BindEntry* LookupCurrentScope(std::string_view name);   // the current scope only

// ---- Nodes ---------------------------------------------------------------------------------------

class SqlWriter;

// A node of a parsed expression. Virtual operations in slot order: release (the destructor),
// evaluate as string, evaluate as number (truth), annotate (SQL), then the typed reads.
class Node {
public:
    explicit Node(ValueClass value_class) : value_class_(value_class) {}
    virtual ~Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Pushes the value as text on the string stack (exactly one entry).
    virtual void Push() = 0;
    // 1 when the value is true: non-zero, or a string that is not blank.
    virtual int32_t Truth();
    // Writes the node as SQL (condition: as a search condition rather than a value); false when it
    // has no plain SQL meaning. A null writer only checks.
    virtual bool Sql(SqlWriter* writer, bool condition) const;

    // The terms of an AND chain (this node alone for anything else), for partial SQL filters.
    virtual void Conjuncts(std::vector<const Node*>& terms) const { terms.push_back(this); }
    // An ORDER item: the operand under a prefix sign, and whether the sign was "-".
    virtual const Node* OrderTerm(bool& descending) const {
        descending = false;
        return this;
    }

    virtual double Real() = 0;
    virtual int64_t Integer();
    // The text without going through the stack, when the node has it at hand.
    virtual bool DirectText(std::string_view& text);

    ValueClass Class() const { return value_class_; }
    // The deepest chain of nodes below and including this one, and the most string-stack entries
    // its evaluation holds at once; the parser refuses trees that would exceed fixed limits.
    uint32_t depth = 1;
    uint32_t stack_need = 1;

protected:
    ValueClass value_class_;
};
using NodePtr = std::unique_ptr<Node>;

// Shared conversions.
void PushInteger(int64_t value);
double TextToReal(std::string_view text);           // as Vrn$PopReal reads a string
int64_t IntegerOf(Node& node);                      // integer class as is, others truncated
int32_t LongOf(Node& node);                         // IntegerOf clamped to 32 bits
bool TextIsTrue(std::string_view text);             // not blank
int RealOrder(double a, double b);                   // -1, 0, 1 with the Vrn$realdistinct tolerance
// The text of a node: a direct view, or pushed (then `pushed` is set and the caller discards it).
std::string_view TextOf(Node& node, bool& pushed);

enum class CompareOp : uint8_t { kEqual, kNotEqual, kLess, kLessEqual, kGreater, kGreaterEqual };
enum class ArithmeticOp : uint8_t { kAdd, kSubtract, kMultiply, kDivide, kRemainder, kPower };
enum class LogicOp : uint8_t { kAnd, kOr, kXor };

NodePtr MakeIntegerLiteral(int64_t value, std::string text);
NodePtr MakeRealLiteral(double value, std::string text);
NodePtr MakeStringLiteral(std::string text, bool picture);
NodePtr MakeVariable(const BindEntry& entry);
NodePtr MakeSubscript(const BindEntry& entry, NodePtr index);
NodePtr MakeSlice(const BindEntry& entry, NodePtr from, NodePtr to);
NodePtr MakeProcedureCall(const BindEntry& entry, std::vector<NodePtr> arguments);
NodePtr MakeNegate(NodePtr operand, bool minus);
NodePtr MakeNot(NodePtr operand);
NodePtr MakeArithmetic(ArithmeticOp op, NodePtr left, NodePtr right);
NodePtr MakeConcat(NodePtr left, NodePtr right);
NodePtr MakeCompare(CompareOp op, NodePtr left, NodePtr right);
NodePtr MakeLogic(LogicOp op, NodePtr left, NodePtr right);

// Built-in functions: the id for a name (case-insensitive), or -1; the argument counts it takes.
int FindBuiltin(std::string_view name);
bool BuiltinTakesCount(int builtin, size_t count);
NodePtr MakeBuiltinCall(int builtin, std::vector<NodePtr> arguments);

// ---- Parsing -------------------------------------------------------------------------------------

// Parse limits: deeper trees or trees needing more string-stack entries are refused as syntax
// errors, so no text can exhaust the machine stack or the 32-entry string stack.
constexpr uint32_t kMaxTreeDepth = 200;
constexpr uint32_t kMaxStackNeed = 24;

enum class ParseStatus : uint8_t { kOk, kSyntax, kUnbound };
struct ParseResult {
    NodePtr tree;
    ParseStatus status = ParseStatus::kSyntax;
    size_t consumed = 0;   // characters of the text that belong to the expression
};
// Parses one expression at the start of text; `whole` requires nothing but blanks after it.
ParseResult Parse(std::string_view text, bool whole);

// ---- SQL -----------------------------------------------------------------------------------------

class SqlWriter {
public:
    explicit SqlWriter(VrnSqlOutput* output) : output_(output) {}
    void Append(std::string_view text) { text_.append(text); }
    void AppendStringLiteral(std::string_view text);
    // The column of a bound name, or null.
    const char* Column(const std::string& name) const;
    std::string& Text() { return text_; }

private:
    VrnSqlOutput* output_;
    std::string text_;
};

// Renders a filter or an order item into the output; VRN_SQL_* results.
int32_t RenderSqlFilter(Node* tree, VrnSqlOutput* output, bool write);
int32_t RenderSqlOrder(Node* tree, VrnSqlOutput* output);

}  // namespace tarvex::eval

// The opaque parsed expression of the C interface.
struct VrnParsed {
    tarvex::eval::NodePtr root;
};
