// SPDX-License-Identifier: GPL-3.0-or-later
// Building a view's plan: the files of the view from its structure code, the FILTER and ORDER
// texts, each level's reading key, and the range a key-ordered scan is bounded to.
//
// The range: a scan in the order of a key reads only the rows whose leading key fields hold fixed
// values. A joined file's values come from the parent's join fields; the primary file's come from
// the filter: every term of the filter's top-level AND chain of the form `field = value`, where
// the field is the key's next component and the value names no field of the view, fixes that
// component. The filter is still evaluated on every row, so the range only has to hold every row
// the filter passes.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/char_tables.h"
#include "core/evaluator.h"
#include "data/file_operations.h"
#include "core/ufo.h"
#include "data/view_engine.h"
#include "tarvex/frame.h"
#include "tarvex/values.h"

namespace tarvex::view {

namespace {

uint16_t Read16(const uint8_t*& at) {
    uint16_t value = uint16_t(at[0] | (at[1] << 8));
    at += 2;
    return value;
}

bool DecodeNode(ViewInstance& view, const uint8_t*& at, int parent, size_t& index) {
    if (view.levels.size() >= 255)
        return false;
    uint8_t link = *at++;
    void* component = view.decl->components[index++];
    if (component == nullptr)
        return false;
    Level level;
    level.parent = parent;
    if (link == 0) {
        if (parent != -1)
            return false;
        level.file = static_cast<FileDecl*>(component);
    } else if (parent == -1) {
        return false;
    } else if (link == VRN_VIEW_JOIN_CONDITION) {
        level.file = static_cast<FileDecl*>(component);
        const char* text = reinterpret_cast<const char*>(at);
        level.condition_text = text;
        at += level.condition_text.size() + 1;
    } else {
        level.join_key = static_cast<KeyDecl*>(component);
        level.file = level.join_key->file;
        for (uint8_t i = 0; i < link; i++)
            level.parent_fields.push_back(Read16(at));
    }
    if (level.file == nullptr || level.file->record_type == nullptr)
        return false;
    level.inner = (*at++ & VRN_VIEW_INNER) != 0;
    uint16_t count = Read16(at);
    level.project_all = count == VRN_VIEW_PROJECT_ALL;
    for (uint16_t i = 0; !level.project_all && i < count; i++) {
        uint16_t entry = Read16(at);
        if (entry == VRN_VIEW_PROJECT_MEMO)
            level.memos.push_back(Read16(at));
        else
            level.fields.push_back(entry);
    }
    uint8_t children = *at++;
    int self = int(view.levels.size());
    view.levels.push_back(std::move(level));
    for (uint8_t i = 0; i < children; i++) {
        if (!DecodeNode(view, at, self, index))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (ToUpper(a[i]) != ToUpper(b[i]))
            return false;
    }
    return true;
}

// Walks the text at nesting depth 0, outside quoted strings; `visit(at, depth)` sees every
// character position that is not inside quotes.
template <class Visit> void WalkTopLevel(std::string_view text, Visit visit) {
    int depth = 0;
    for (size_t at = 0; at < text.size(); at++) {
        char c = text[at];
        if (c == '\'' || c == '"') {
            size_t end = text.find(c, at + 1);
            at = end == std::string_view::npos ? text.size() : end;
            continue;
        }
        if (c == '(')
            depth++;
        else if (c == ')')
            depth--;
        if (!visit(at, depth))
            return;
    }
}

// The text without parentheses that enclose all of it.
std::string_view StripParentheses(std::string_view text) {
    for (;;) {
        text = Trim(text);
        if (text.size() < 2 || text.front() != '(' || text.back() != ')')
            return text;
        bool whole = true;
        WalkTopLevel(text, [&](size_t at, int depth) {
            if (depth == 0 && at + 1 < text.size())
                whole = false;
            return whole;
        });
        if (!whole)
            return text;
        text = text.substr(1, text.size() - 2);
    }
}

// The terms of the filter's top-level AND chain; none when the chain has a top-level OR or XOR.
void AndTerms(std::string_view text, std::vector<std::string_view>& terms) {
    text = StripParentheses(text);
    std::vector<std::string_view> parts;
    size_t begin = 0;
    bool split_ok = true;
    WalkTopLevel(text, [&](size_t at, int depth) {
        if (depth != 0 || !eval::IsNameStart(text[at]) || (at > 0 && eval::IsNameChar(text[at - 1])))
            return true;
        std::string_view word = eval::CutName(text.substr(at));
        if (EqualNoCase(word, "OR") || EqualNoCase(word, "XOR")) {
            split_ok = false;
            return false;
        }
        if (EqualNoCase(word, "AND")) {
            parts.push_back(text.substr(begin, at - begin));
            begin = at + word.size();
        }
        return true;
    });
    if (!split_ok)
        return;
    parts.push_back(text.substr(begin));
    for (std::string_view part : parts) {
        std::string_view inner = StripParentheses(part);
        if (inner.size() != Trim(part).size())
            AndTerms(inner, terms);
        else
            terms.push_back(inner);
    }
}

// The storage a bound name stands for, or null.
void* BoundAddress(std::string_view name, bool* procedure) {
    const eval::BindEntry* entry = eval::Lookup(name);
    if (entry == nullptr)
        return nullptr;
    if (entry->kind == eval::BindKind::kProcedure) {
        *procedure = true;
        return nullptr;
    }
    // Only values in program memory have an address; computed values and constants have none.
    auto* variable = dynamic_cast<VarUfo*>(entry->variable.get());
    return variable != nullptr ? variable->Address() : nullptr;
}

// Whether a text names a field of any file of the view (or a bound procedure): its value then
// changes from row to row.
bool DependsOnRow(const ViewInstance& view, std::string_view text) {
    bool depends = false;
    WalkTopLevel(text, [&](size_t at, int) {
        if (!eval::IsNameStart(text[at]) || (at > 0 && eval::IsNameChar(text[at - 1])))
            return true;
        std::string_view name = eval::CutName(text.substr(at));
        bool procedure = false;
        auto* address = static_cast<const uint8_t*>(BoundAddress(name, &procedure));
        if (procedure)
            depends = true;
        for (const Level& level : view.levels) {
            auto* record = static_cast<const uint8_t*>(level.file->record);
            if (address != nullptr && address >= record && address < record + level.file->record_length)
                depends = true;
        }
        return !depends;
    });
    return depends;
}

// Whether the text is one name bound to the given field of the record.
bool NamesField(std::string_view text, const FileDecl* file, const VrnFieldDesc* field) {
    text = Trim(text);
    if (text.empty() || eval::CutName(text).size() != text.size())
        return false;
    bool procedure = false;
    void* address = BoundAddress(text, &procedure);
    return address == static_cast<uint8_t*>(file->record) + field->offset;
}

bool IsStringField(const VrnFieldDesc* field) {
    return Vrn$TypeClass(field->type) == VRN_CLASS_STRING;
}

// The value side of an equality term `field = value` (either way round) over that field, parsed,
// or null when the filter has none.
Parsed EqualityValue(const ViewInstance& view, const FileDecl* file, const VrnFieldDesc* field) {
    std::vector<std::string_view> terms;
    AndTerms(view.filter_text, terms);
    for (std::string_view term : terms) {
        size_t equal = std::string_view::npos;
        int comparisons = 0;
        WalkTopLevel(term, [&](size_t at, int depth) {
            char c = term[at];
            if (depth == 0 && (c == '<' || c == '>' || c == '=' || c == '~' || c == '!')) {
                comparisons++;
                bool plain = c == '=' && (at == 0 || std::strchr("<>~!=", term[at - 1]) == nullptr) &&
                             (at + 1 >= term.size() || std::strchr("<>=", term[at + 1]) == nullptr);
                if (plain)
                    equal = at;
            }
            return true;
        });
        if (equal == std::string_view::npos || comparisons != 1)
            continue;
        std::string_view left = term.substr(0, equal);
        std::string_view right = term.substr(equal + 1);
        std::string_view value;
        if (NamesField(left, file, field))
            value = right;
        else if (NamesField(right, file, field))
            value = left;
        else
            continue;
        if (DependsOnRow(view, value))
            continue;
        Parsed parsed(Vrn$ParseCString(std::string(value).c_str()));
        Vrn$clearerror();
        if (!parsed)
            continue;
        // A number compared with a string field (ITM:CPT = 00004) matches by value, not by the
        // stored characters: such a term cannot fix the key.
        bool text_value = parsed->root->Class() == eval::ValueClass::kString;
        if (text_value != IsStringField(field))
            continue;
        return parsed;
    }
    return nullptr;
}

const VrnFieldDesc* FieldOf(const FileDecl* file, int32_t number) {
    uint32_t index = uint32_t(std::abs(number));
    if (index == 0 || index > file->record_type->field_count)
        return nullptr;
    return &file->record_type->fields[index - 1];
}

// The primary file's field that an ORDER item names, or null.
const VrnFieldDesc* OrderField(const ViewInstance& view, const OrderItem& item) {
    const FileDecl* primary = view.levels[0].file;
    std::string_view text = Trim(item.text);
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        text = Trim(text.substr(1));
    for (uint32_t i = 0; i < primary->record_type->field_count; i++) {
        const VrnFieldDesc* field = &primary->record_type->fields[i];
        if (field->type != VRN_TYPE_GROUP && NamesField(text, primary, field))
            return field;
    }
    return nullptr;
}

// The primary key that reads in the ORDER's order: its leading components are the ORDER's fields
// in the same directions (reversed = false) or all in the opposite ones (reversed = true).
KeyDecl* OrderKey(const ViewInstance& view, bool* reversed) {
    const FileDecl* primary = view.levels[0].file;
    std::vector<const VrnFieldDesc*> fields;
    for (const OrderItem& item : view.order) {
        const VrnFieldDesc* field = OrderField(view, item);
        if (field == nullptr)
            return nullptr;
        fields.push_back(field);
    }
    for (uint8_t k = 0; k < primary->key_count; k++) {
        KeyDecl* key = primary->keys[k];
        if (key->component_count < fields.size())
            continue;
        bool same = true, opposite = true;
        for (size_t i = 0; i < fields.size(); i++) {
            int32_t component = key->components[i];
            if (FieldOf(primary, component) != fields[i]) {
                same = opposite = false;
                break;
            }
            bool descending = component < 0;
            if (descending != view.order[i].descending)
                same = false;
            else
                opposite = false;
        }
        if (same || opposite) {
            *reversed = !same;
            return key;
        }
    }
    return nullptr;
}

void BoundPrimary(ViewInstance& view, Level& level) {
    if (level.scan_key == nullptr || view.filter_text.empty())
        return;
    for (uint8_t i = 0; i < level.scan_key->component_count; i++) {
        int32_t component = level.scan_key->components[i];
        const VrnFieldDesc* field = FieldOf(level.file, component);
        if (field == nullptr)
            return;
        Parsed value = EqualityValue(view, level.file, field);
        if (!value)
            return;
        Bound bound;
        bound.field = field;
        bound.nocase = (level.scan_key->attributes & VRN_KEY_NOCASE) != 0 && IsStringField(field);
        bound.descending = component < 0;
        bound.value = std::move(value);
        level.bounds.push_back(std::move(bound));
    }
}

void BoundJoined(Level& level) {
    KeyDecl* key = level.join_key;
    for (size_t i = 0; i < level.parent_fields.size() && i < key->component_count; i++) {
        const VrnFieldDesc* field = FieldOf(level.file, key->components[i]);
        if (field == nullptr)
            return;
        Bound bound;
        bound.field = field;
        bound.nocase = (key->attributes & VRN_KEY_NOCASE) != 0 && IsStringField(field);
        bound.descending = key->components[i] < 0;
        bound.parent_field = level.parent_fields[i];
        level.bounds.push_back(std::move(bound));
    }
}

} // namespace

void BoundByFilter(ViewInstance& view, Level& level) {
    BoundPrimary(view, level);
}

FileDecl* Primary(const ViewInstance& view) {
    if (view.levels.empty())
        return nullptr;
    return view.levels[0].file;
}

bool DecodeStructure(ViewInstance& view) {
    view.levels.clear();
    if (view.decl == nullptr || view.decl->structure == nullptr || view.decl->components == nullptr)
        return false;
    const uint8_t* at = view.decl->structure;
    size_t index = 0;
    if (!DecodeNode(view, at, -1, index)) {
        view.levels.clear();
        return false;
    }
    return true;
}

bool ParseFilter(ViewInstance& view, const std::string& text) {
    view.filter_text = std::string(Trim(text));
    view.filter.reset();
    if (view.filter_text.empty())
        return true;
    view.filter.reset(Vrn$ParseCString(view.filter_text.c_str()));
    return view.filter != nullptr;
}

bool ParseOrder(ViewInstance& view, const std::string& text) {
    view.order_text = std::string(Trim(text));
    view.order.clear();
    std::vector<std::string_view> items;
    std::string_view all = view.order_text;
    size_t begin = 0;
    WalkTopLevel(all, [&](size_t at, int depth) {
        if (depth == 0 && all[at] == ',') {
            items.push_back(all.substr(begin, at - begin));
            begin = at + 1;
        }
        return true;
    });
    if (!all.empty())
        items.push_back(all.substr(begin));
    for (std::string_view item : items) {
        OrderItem order;
        order.text = std::string(Trim(item));
        std::string_view expression = order.text;
        if (!expression.empty() && (expression[0] == '+' || expression[0] == '-')) {
            order.descending = expression[0] == '-';
            expression = Trim(expression.substr(1));
        }
        order.expression.reset(Vrn$ParseCString(std::string(expression).c_str()));
        if (!order.expression) {
            view.order.clear();
            return false;
        }
        view.order.push_back(std::move(order));
    }
    return true;
}

void BuildPlan(ViewInstance& view) {
    for (Level& level : view.levels) {
        level.bounds.clear();
        level.scan_key = nullptr;
        level.reversed = false;
        level.place = Place::kNone;
        level.condition.reset();
        if (!level.condition_text.empty()) {
            level.condition.reset(Vrn$ParseCString(level.condition_text.c_str()));
            Vrn$clearerror();
        }
    }
    view.order_by_key = false;
    view.sorted = false;
    view.sorted_rows.clear();
    view.sorted_filled = false;
    Level& primary = view.levels[0];
    if (!view.order.empty()) {
        bool reversed = false;
        primary.scan_key = OrderKey(view, &reversed);
        primary.reversed = reversed;
        view.order_by_key = primary.scan_key != nullptr;
        view.sorted = !view.order_by_key;
    }
    if (primary.scan_key == nullptr && !view.order_by_key) {
        // The order of the key the program's last SET on the primary file used (0: record order).
        ViewEngineScope scope;
        intptr_t number = CallFileDriver(VRN_OP_QUERY_KEY, primary.file);
        Vrn$clearerror();
        if (number > 0 && number <= primary.file->key_count)
            primary.scan_key = primary.file->keys[number - 1];
    }
    BoundPrimary(view, primary);
    for (size_t i = 1; i < view.levels.size(); i++) {
        Level& level = view.levels[i];
        if (level.join_key != nullptr) {
            level.scan_key = level.join_key;
            BoundJoined(level);
        }
    }
    view.plan_ready = true;
    view.started = false;
}

} // namespace tarvex::view
