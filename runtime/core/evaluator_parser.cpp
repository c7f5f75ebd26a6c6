// SPDX-License-Identifier: GPL-3.0-or-later
// The parser: precedence climbing over the tokens, loosest first
//
//   OR XOR  <  AND  <  NOT (prefix)  <  comparisons  <  &  <  + -  <  * / %  <  ^  <  prefix + -
//
// with operators of one level taken left to right (2 ^ 3 ^ 2 is 64). Comparison operators are two
// tokens where two are needed ("<>", "< >", "~=", "<=", "=<", "~>", ">=", "=>", "~<"). Names are
// resolved here, once: a bound variable or procedure (in the visible scopes), else a built-in
// function; anything else fails the parse as an unbound name.
#include <string>
#include <string_view>

#include "core/evaluator.h"
#include "core/evaluator_tokens.h"
#include "tarvex/type_descriptor.h"

namespace tarvex::eval {
namespace {

class Parser {
public:
    explicit Parser(std::string_view source) : source_(source) {}

    ParseResult Run(bool whole) {
        ParseResult result;
        NodePtr tree = ParseOr();
        if (tree && (tree->depth > kMaxTreeDepth || tree->stack_need > kMaxStackNeed)) tree.reset();
        if (!tree) {
            result.status = status_;
            return result;
        }
        if (whole && Peek().kind != TokenKind::kEnd) {
            result.status = ParseStatus::kSyntax;
            return result;
        }
        result.consumed = consumed_;
        result.tree = std::move(tree);
        result.status = ParseStatus::kOk;
        return result;
    }

private:
    // ---- Tokens ----

    const Token& Peek(size_t ahead = 0) {
        while (lookahead_count_ <= ahead) {
            size_t from = lookahead_count_ ? lookahead_[lookahead_count_ - 1].end : position_;
            lookahead_[lookahead_count_++] = ReadToken(source_, from);
        }
        return lookahead_[ahead];
    }
    Token Next() {
        Peek();
        Token token = std::move(lookahead_[0]);
        for (size_t i = 1; i < lookahead_count_; i++) lookahead_[i - 1] = std::move(lookahead_[i]);
        lookahead_count_--;
        position_ = token.end;
        consumed_ = token.end;
        return token;
    }
    bool Accept(TokenKind kind) {
        if (Peek().kind != kind) return false;
        Next();
        return true;
    }
    bool IsWord(const Token& token, std::string_view word) const {
        if (token.kind != TokenKind::kName || token.text.size() != word.size()) return false;
        NameLess less;
        return !less(token.text, word) && !less(word, token.text);
    }
    bool IsOperatorWord(const Token& token) const {
        return IsWord(token, "AND") || IsWord(token, "OR") || IsWord(token, "XOR") || IsWord(token, "NOT");
    }
    NodePtr Fail(ParseStatus status = ParseStatus::kSyntax) {
        if (status_ == ParseStatus::kSyntax) status_ = status;
        return nullptr;
    }
    // Refuses a tree that is already too deep, before recursion goes any further.
    bool Deeper() { return ++nesting_ <= kMaxTreeDepth; }
    void Shallower() { --nesting_; }

    // ---- Levels ----

    NodePtr ParseOr() {
        NodePtr left = ParseAnd();
        while (left) {
            LogicOp op;
            if (IsWord(Peek(), "OR")) {
                op = LogicOp::kOr;
            } else if (IsWord(Peek(), "XOR")) {
                op = LogicOp::kXor;
            } else {
                break;
            }
            Next();
            NodePtr right = ParseAnd();
            if (!right) return nullptr;
            left = Checked(MakeLogic(op, std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParseAnd() {
        NodePtr left = ParseNot();
        while (left && IsWord(Peek(), "AND")) {
            Next();
            NodePtr right = ParseNot();
            if (!right) return nullptr;
            left = Checked(MakeLogic(LogicOp::kAnd, std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParseNot() {
        if (IsWord(Peek(), "NOT") || Peek().kind == TokenKind::kTilde) {
            Next();
            if (!Deeper()) return Fail();
            NodePtr operand = ParseNot();
            Shallower();
            if (!operand) return nullptr;
            return Checked(MakeNot(std::move(operand)));
        }
        return ParseComparison();
    }

    // The comparison operator at the current tokens, and how many tokens it takes.
    bool PeekComparison(CompareOp& op, size_t& length) {
        TokenKind first = Peek().kind;
        TokenKind second = Peek(1).kind;
        length = 2;
        switch (first) {
            case TokenKind::kLess:
                if (second == TokenKind::kGreater) op = CompareOp::kNotEqual;
                else if (second == TokenKind::kEqual) op = CompareOp::kLessEqual;
                else op = CompareOp::kLess, length = 1;
                return true;
            case TokenKind::kGreater:
                if (second == TokenKind::kEqual) op = CompareOp::kGreaterEqual;
                else op = CompareOp::kGreater, length = 1;
                return true;
            case TokenKind::kEqual:
                if (second == TokenKind::kLess) op = CompareOp::kLessEqual;
                else if (second == TokenKind::kGreater) op = CompareOp::kGreaterEqual;
                else op = CompareOp::kEqual, length = 1;
                return true;
            case TokenKind::kTilde:
                if (second == TokenKind::kEqual) op = CompareOp::kNotEqual;
                else if (second == TokenKind::kGreater) op = CompareOp::kLessEqual;
                else if (second == TokenKind::kLess) op = CompareOp::kGreaterEqual;
                else return false;
                return true;
            default:
                return false;
        }
    }

    NodePtr ParseComparison() {
        NodePtr left = ParseConcat();
        CompareOp op;
        size_t length;
        while (left && PeekComparison(op, length)) {
            for (size_t i = 0; i < length; i++) Next();
            NodePtr right = ParseConcat();
            if (!right) return nullptr;
            left = Checked(MakeCompare(op, std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParseConcat() {
        NodePtr left = ParseAdditive();
        while (left && Accept(TokenKind::kAmpersand)) {
            NodePtr right = ParseAdditive();
            if (!right) return nullptr;
            left = Checked(MakeConcat(std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParseAdditive() {
        NodePtr left = ParseMultiplicative();
        while (left) {
            ArithmeticOp op;
            if (Peek().kind == TokenKind::kPlus) {
                op = ArithmeticOp::kAdd;
            } else if (Peek().kind == TokenKind::kMinus) {
                op = ArithmeticOp::kSubtract;
            } else {
                break;
            }
            Next();
            NodePtr right = ParseMultiplicative();
            if (!right) return nullptr;
            left = Checked(MakeArithmetic(op, std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParseMultiplicative() {
        NodePtr left = ParsePower();
        while (left) {
            ArithmeticOp op;
            TokenKind kind = Peek().kind;
            if (kind == TokenKind::kStar) {
                op = ArithmeticOp::kMultiply;
            } else if (kind == TokenKind::kSlash) {
                op = ArithmeticOp::kDivide;
            } else if (kind == TokenKind::kPercent) {
                op = ArithmeticOp::kRemainder;
            } else {
                break;
            }
            Next();
            NodePtr right = ParsePower();
            if (!right) return nullptr;
            left = Checked(MakeArithmetic(op, std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParsePower() {
        NodePtr left = ParseUnary();
        while (left && Accept(TokenKind::kCaret)) {
            NodePtr right = ParseUnary();
            if (!right) return nullptr;
            left = Checked(MakeArithmetic(ArithmeticOp::kPower, std::move(left), std::move(right)));
        }
        return left;
    }

    NodePtr ParseUnary() {
        TokenKind kind = Peek().kind;
        if (kind != TokenKind::kPlus && kind != TokenKind::kMinus) return ParsePrimary();
        Next();
        bool minus = kind == TokenKind::kMinus;
        // A signed integer literal stays an integer, so "X = -1" compares integers exactly.
        if (minus && Peek().kind == TokenKind::kInteger && Peek(1).kind != TokenKind::kCaret) {
            Token token = Next();
            return MakeIntegerLiteral(-token.integer, "-" + token.text);
        }
        if (!Deeper()) return Fail();
        NodePtr operand = ParseUnary();
        Shallower();
        if (!operand) return nullptr;
        return Checked(MakeNegate(std::move(operand), minus));
    }

    NodePtr ParsePrimary() {
        const Token& token = Peek();
        switch (token.kind) {
            case TokenKind::kInteger: {
                Token literal = Next();
                return MakeIntegerLiteral(literal.integer, literal.text);
            }
            case TokenKind::kReal: {
                Token literal = Next();
                return MakeRealLiteral(literal.real, literal.text);
            }
            case TokenKind::kString: {
                Token literal = Next();
                return MakeStringLiteral(std::move(literal.text), false);
            }
            case TokenKind::kPicture: {
                Token literal = Next();
                return MakeStringLiteral(std::move(literal.text), true);
            }
            case TokenKind::kLeftParen: {
                Next();
                if (!Deeper()) return Fail();
                NodePtr inner = ParseOr();
                Shallower();
                if (!inner || !Accept(TokenKind::kRightParen)) return Fail();
                return inner;
            }
            case TokenKind::kName:
                if (IsOperatorWord(token)) return Fail();
                return ParseName();
            default:
                return Fail();
        }
    }

    // Arguments after "(": expressions separated by commas, up to ")".
    bool ParseArguments(std::vector<NodePtr>& arguments) {
        if (!Accept(TokenKind::kLeftParen)) return true;
        if (Accept(TokenKind::kRightParen)) return true;
        if (!Deeper()) return false;
        for (;;) {
            NodePtr argument = ParseOr();
            if (!argument) return false;
            arguments.push_back(std::move(argument));
            if (Accept(TokenKind::kComma)) continue;
            if (Accept(TokenKind::kRightParen)) break;
            return false;
        }
        Shallower();
        return true;
    }

    NodePtr ParseName() {
        Token name = Next();
        if (const BindEntry* entry = Lookup(name.text)) {
            if (entry->kind == BindKind::kProcedure) {
                std::vector<NodePtr> arguments;
                if (!ParseArguments(arguments)) return Fail();
                if (arguments.size() != static_cast<size_t>(entry->procedure.parameter_count)) return Fail();
                return Checked(MakeProcedureCall(*entry, std::move(arguments)));
            }
            if (Accept(TokenKind::kLeftBracket)) return ParseSubscript(*entry);
            // An array has no value as a whole: only its elements do.
            if (Vrn$TypeUfo(entry->variable.get()) == VRN_TYPE_ARRAY) return Fail();
            return MakeVariable(*entry);
        }
        int builtin = FindBuiltin(name.text);
        if (builtin < 0) return Fail(ParseStatus::kUnbound);
        std::vector<NodePtr> arguments;
        if (!ParseArguments(arguments)) return Fail();
        if (!BuiltinTakesCount(builtin, arguments.size())) return Fail();
        return Checked(MakeBuiltinCall(builtin, std::move(arguments)));
    }

    // After "NAME[": "index]" or "from : to]".
    NodePtr ParseSubscript(const BindEntry& entry) {
        if (!Deeper()) return Fail();
        NodePtr first = ParseOr();
        if (!first) return nullptr;
        NodePtr node;
        if (Accept(TokenKind::kColon)) {
            NodePtr last = ParseOr();
            if (!last) return nullptr;
            node = MakeSlice(entry, std::move(first), std::move(last));
        } else {
            node = MakeSubscript(entry, std::move(first));
        }
        Shallower();
        if (!node || !Accept(TokenKind::kRightBracket)) return Fail();
        return Checked(std::move(node));
    }

    // Refuses a node whose tree has grown past the limits.
    NodePtr Checked(NodePtr node) {
        if (!node || node->depth > kMaxTreeDepth || node->stack_need > kMaxStackNeed) return Fail();
        return node;
    }

    std::string_view source_;
    size_t position_ = 0;
    size_t consumed_ = 0;
    Token lookahead_[2];
    size_t lookahead_count_ = 0;
    uint32_t nesting_ = 0;
    ParseStatus status_ = ParseStatus::kSyntax;
};

}  // namespace

ParseResult Parse(std::string_view text, bool whole) { return Parser(text).Run(whole); }

}  // namespace tarvex::eval
