// SPDX-License-Identifier: GPL-3.0-or-later
// Bind entries and binding scopes. Each thread has its own current tree and its own stack of
// saved scopes: browse procedures on different threads bind the same names (the fields of one
// record) and must neither see nor close each other's scopes. Lookup searches the current tree,
// then the saved trees from the newest down, and stops at the first saved scope that was hidden by
// a Vrn$PushBind2(0).
#include <cctype>
#include <vector>

#include "core/evaluator.h"
#include "core/thread_state.h"
#include "core/ufo.h"

namespace tarvex::eval {
namespace {

struct SavedScope {
    BindTree tree;
    bool hidden;   // the scope opened above it hides this one and everything below
};

struct BindState {
    BindTree current;
    std::vector<SavedScope> saved;
};

BindState& State() { return PerThread<BindState>(); }

}  // namespace

void UfoRelease::operator()(Ufo* value) const { Vrn$FreeUfo(value); }

bool NameLess::operator()(std::string_view a, std::string_view b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++) {
        int x = std::toupper(static_cast<unsigned char>(a[i]));
        int y = std::toupper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '?' || c == '_'; }

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':';
}

std::string_view CutName(std::string_view text) {
    if (text.empty() || !IsNameStart(text[0])) return {};
    size_t i = 1;
    while (i < text.size() && IsNameChar(text[i])) i++;
    if (i < text.size() && (text[i] == '#' || text[i] == '$' || text[i] == '"')) i++;
    if (i > kMaxNameLength) i = kMaxNameLength;
    return text.substr(0, i);
}

ValueClass ClassOfUfo(Ufo* value) {
    if (!value) return ValueClass::kString;
    int type = value->Type();
    if (type == VRN_TYPE_ANY || type == VRN_TYPE_REFERENCE || type == VRN_TYPE_ARRAY) type = value->BaseType();
    switch (Vrn$TypeClass(type)) {
        case VRN_CLASS_INTEGER:
            return ValueClass::kInteger;
        case VRN_CLASS_REAL:
            return ValueClass::kReal;
        default:
            return ValueClass::kString;
    }
}

void PushScope(bool keep_outer) {
    BindState& state = State();
    state.saved.push_back(SavedScope{std::move(state.current), !keep_outer});
    state.current = BindTree();
}

bool PopScope() {
    BindState& state = State();
    if (state.saved.empty()) return false;
    state.current = std::move(state.saved.back().tree);
    state.saved.pop_back();
    return true;
}

namespace {

BindEntry& EntryFor(std::string_view name) {
    BindTree& tree = State().current;
    auto found = tree.find(name);
    if (found != tree.end()) return *found->second;
    auto entry = std::make_unique<BindEntry>();
    entry->name = std::string(name);
    BindEntry& result = *entry;
    tree.emplace(std::string(name), std::move(entry));
    return result;
}

}  // namespace

void BindVariable(std::string_view name, Ufo* value) {
    if (!value) return;
    SharedUfo owned(value, UfoRelease());
    if (name.empty()) return;
    BindEntry& entry = EntryFor(name);
    entry.kind = BindKind::kVariable;
    entry.value_class = ClassOfUfo(value);
    entry.variable = std::move(owned);
    entry.procedure = ProcedureInfo();
}

void BindProcedure(std::string_view name, const ProcedureInfo& procedure) {
    if (name.empty() || !procedure.address) return;
    BindEntry& entry = EntryFor(name);
    entry.kind = BindKind::kProcedure;
    entry.value_class = procedure.result;
    entry.variable.reset();
    entry.procedure = procedure;
}

bool Unbind(std::string_view name) {
    BindTree& tree = State().current;
    auto found = tree.find(name);
    if (found == tree.end()) return false;
    tree.erase(found);
    return true;
}

const BindEntry* LookupCurrentScope(std::string_view name) {
    const BindTree& tree = State().current;
    auto found = tree.find(name);
    return found == tree.end() ? nullptr : found->second.get();
}

const BindEntry* Lookup(std::string_view name) {
    if (const BindEntry* entry = LookupCurrentScope(name)) return entry;
    BindState& state = State();
    for (auto scope = state.saved.rbegin(); scope != state.saved.rend(); ++scope) {
        if (scope->hidden) break;
        auto found = scope->tree.find(name);
        if (found != scope->tree.end()) return found->second.get();
    }
    return nullptr;
}

}  // namespace tarvex::eval
