// SPDX-License-Identifier: GPL-3.0-or-later
// The exported BIND and EVALUATE operations.
#include <cstdlib>
#include <string>

#include "core/evaluator.h"
#include "core/string_stack.h"
#include "core/ufo.h"
#include "tarvex/evaluate.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace {

using tarvex::eval::Node;

constexpr int32_t kInvalidExpression = 800;
constexpr int32_t kNoBind = 801;
constexpr int32_t kMismatchedScope = 802;

std::string PopName() {
    std::string text = tarvex::PopStdString();
    return std::string(tarvex::eval::CutName(text));
}

// True when evaluating the tree cannot overflow the string stack from where it stands now.
bool StackHasRoom(const Node& root) {
    return tarvex::StackDepth() + root.stack_need <= tarvex::kStackDepth;
}

// Pushes the value of the tree as a private copy, which outlives the tree.
void PushValue(VrnParsed* tree) {
    if (!tree || !StackHasRoom(*tree->root)) {
        Vrn$PushString("", 0);
        return;
    }
    tree->root->Push();
    tarvex::MakePrivate(tarvex::TopEntry());
}

VrnParsed* Wrap(tarvex::eval::ParseResult& result) {
    if (result.status == tarvex::eval::ParseStatus::kUnbound) Vrn$seterror(kNoBind);
    if (!result.tree) return nullptr;
    return new VrnParsed{std::move(result.tree)};
}

}  // namespace

extern "C" {

TARVEX_API void Vrn$PushBind2(int32_t keep_outer) { tarvex::eval::PushScope(keep_outer != 0); }

TARVEX_API void Vrn$PushBind(void) { Vrn$PushBind2(0); }

TARVEX_API void Vrn$PopBind(void) {
    if (!tarvex::eval::PopScope()) Vrn$rterr(kMismatchedScope, "Mismatched POPSCOPE");
}

TARVEX_API void Vrn$BindV(Ufo* variable) {
    std::string name = PopName();
    tarvex::eval::BindVariable(name, variable);
}

TARVEX_API void Vrn$BindG(Ufo* group) {
    if (!group) return;
    group->Bind();   // a group binds its fields; any other value has no fields to bind (410)
    Vrn$FreeUfo(group);
}

TARVEX_API void Vrn$BindP(void* procedure, int32_t parameter_count, int32_t result_type) {
    std::string name = PopName();
    tarvex::eval::ProcedureInfo info;
    info.address = procedure;
    info.parameter_count = parameter_count > 0 ? parameter_count : 0;
    info.result = result_type == VRN_TYPE_LONG   ? tarvex::eval::ValueClass::kInteger
                  : result_type == VRN_TYPE_REAL ? tarvex::eval::ValueClass::kReal
                                                 : tarvex::eval::ValueClass::kString;
    tarvex::eval::BindProcedure(name, info);
}

TARVEX_API void Vrn$UnbindV(void) {
    std::string name = PopName();
    if (tarvex::eval::Unbind(name)) {
        Vrn$clearerror();
    } else {
        Vrn$seterror(kNoBind);
    }
}

TARVEX_API void Vrn$Evaluate(void) {
    Vrn$clearerror();
    std::string text = tarvex::PopStdString();
    while (!text.empty() && text.back() == ' ') text.pop_back();
    tarvex::eval::ParseResult result = tarvex::eval::Parse(text, true);
    if (!result.tree) {
        Vrn$seterror(result.status == tarvex::eval::ParseStatus::kUnbound ? kNoBind : kInvalidExpression);
        Vrn$PushString("", 0);
        return;
    }
    VrnParsed tree{std::move(result.tree)};
    PushValue(&tree);
}

TARVEX_API VrnParsed* Vrn$ParseCString(const char* text) {
    Vrn$clearerror();
    if (!text) return nullptr;
    tarvex::eval::ParseResult result = tarvex::eval::Parse(text, true);
    return Wrap(result);
}

TARVEX_API VrnParsed* Vrn$ParseCStringR(const char** text) {
    Vrn$clearerror();
    if (!text || !*text) return nullptr;
    tarvex::eval::ParseResult result = tarvex::eval::Parse(*text, false);
    VrnParsed* tree = Wrap(result);
    if (tree) *text += result.consumed;
    return tree;
}

TARVEX_API void Vrn$FreeParsed(VrnParsed* tree) { delete tree; }

TARVEX_API void Vrn$EvaluateParsed(VrnParsed* tree) { PushValue(tree); }

TARVEX_API void Vrn$EvalS(VrnParsed* tree) { PushValue(tree); }

TARVEX_API int32_t Vrn$EvalR(VrnParsed* tree) {
    if (!tree || !StackHasRoom(*tree->root)) return 0;
    return tree->root->Truth() ? 1 : 0;
}

TARVEX_API Ufo* Vrn$EvaluateVariable(const char* name) {
    if (!name) return nullptr;
    const tarvex::eval::BindEntry* entry = tarvex::eval::LookupCurrentScope(tarvex::eval::CutName(name));
    if (!entry || entry->kind != tarvex::eval::BindKind::kVariable || !entry->variable) return nullptr;
    return Vrn$CloneUfo(entry->variable.get());
}

TARVEX_API int32_t Vrn$AnnotateParsed(VrnParsed** tree, VrnSqlOutput* output) {
    if (!tree || !*tree) return VRN_SQL_NO_TREE;
    return tarvex::eval::RenderSqlFilter((*tree)->root.get(), output, false);
}

TARVEX_API int32_t Vrn$PrintSQL(VrnParsed* tree, VrnSqlOutput* output) {
    if (!tree || !output) return VRN_SQL_NONE;
    return tarvex::eval::RenderSqlFilter(tree->root.get(), output, true);
}

TARVEX_API int32_t Vrn$PrintSQLOrder(VrnParsed* tree, VrnSqlOutput* output) {
    if (!tree) return VRN_SQL_NONE;
    return tarvex::eval::RenderSqlOrder(tree->root.get(), output);
}

TARVEX_API void Vrn$FreeSQL(VrnSqlOutput* output) {
    if (!output) return;
    std::free(output->text);
    output->text = nullptr;
    output->length = 0;
}

}  // extern "C"
