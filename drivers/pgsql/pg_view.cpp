// SPDX-License-Identifier: GPL-3.0-or-later
// Views on the server: the PGSQL view function that QUERY_VIEW names. A view over a PGSQL file and
// the PGSQL files joined to it by key, read from where the program SET (or RESET) its primary file,
// runs as keyset-paged queries in the engine's reading order: the primary file's own order (key
// image and row id, or row id), then each joined file's rows in the order of its join key, in the
// order of the structure code, as the engine's nested loops read them. The query is kept within
// the part of the key the filter's `field = value` terms fix (as the engine bounds its own scan),
// its FILTER written as SQL by the evaluator with the program's variables as they are at each read:
//   - EXACT: the server selects the rows, nothing is evaluated here;
//   - SUPERSET: the server narrows the rows, the full filter is evaluated on each row that comes;
//   - NONE, or a filter naming a column whose SQL comparison could differ from the evaluator's
//     (REAL, TIME, raw bytes), or any other view: every operation goes to the generic engine.
// A join is served when SQL compares its fields exactly as the engine does: the joined file's key
// fields against the parent's fields of the same kind (integers of one type, decimals of the same
// places, a wider DECIMAL taken modulo the key field's capacity as storing it does, strings no
// wider than the key's field, upper-cased through the program's own case table for a NOCASE key),
// the joined file's rows with no image under the key (OPT) left out. An outer join without a
// match clears the joined file's buffer, as the engine does; a join under an outer join is not
// served, since the engine then looks for rows matching the cleared buffer.
// An ORDER of the primary file's fields is served as the engine reads it: when a key's leading
// components are its fields (all in its directions, or all against them), in that key's order
// (a SET by another key reads that key's order, so such a sequence is the engine's; against the
// key only without joins); otherwise, for integers and decimals a double holds exactly, sorted by
// the values with ties in the reading order, from the first row whatever the SET's position.
// SET(view) without values starts at the range's first row; any other SET(view) or RESET(view,
// file) leaves that sequence to the engine.
// Each row served leaves the file's sequence standing on it, exactly as a NEXT of the file would,
// so POSITION, RESET, PUT and DELETE of the file see the row the view gave. A WATCH is kept here
// and given to the file just before the read it precedes, served or the engine's, so a PUT after a
// watched NEXT is refused (89) when another station changed the row; a watched read always asks
// the server, never a page fetched before the WATCH. The view's own PUT, DELETE, HOLD and RELEASE go
// to the file, where the served read left the row. A page stays in use only while the file still
// stands on the row the view left it on and the filter's SQL is unchanged; anything that moved the
// file (the program's SET or RESET, another read) makes the next read ask the server again.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pgsql/pg_store.h"
#include "pgsql/pgsql.h"
#include "tarvex/ansi_text.hpp"
#include "tarvex/char_tables.h"
#include "tarvex/files.h"
#include "tarvex/evaluate.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/views.h"

namespace lumarex::drivers::pg {

namespace {

constexpr int kPageRows = 200;

struct ParsedFree {
    void operator()(VrnParsed* tree) const { Vrn$FreeParsed(tree); }
};

// A file joined by key: its level's place in the query and the row it stands on.
struct Joined {
    FileDecl* file = nullptr;
    State* state = nullptr;
    int key = 0;       // the join key, among the file's keys
    int parent = 0;    // the level the join fields are read from (0: the primary file)
    bool inner = false;
    std::string alias; // "j1", "j2", ...
    bool on_row = false;
};

// Where the view stands and how it is served, per view declaration and thread.
struct ServedView {
    ViewDecl* decl = nullptr;
    std::thread::id thread;
    uint32_t state = 0;
    uint32_t flags = 0;
    std::string filter_text;
    std::string order_text;
    bool planned = false;
    bool served = false;                                   // this driver serves the reads
    int order_key = -1;                                    // the primary's key that reads in the ORDER
    bool order_reversed = false;                           // read backwards
    size_t order_items = 0;
    std::vector<std::string> sort;                         // an ORDER no key reads: its SQL values
    std::vector<bool> sort_descending;
    std::vector<std::string> sort_after;                   // the values of the row the view stands on
    bool sort_inclusive = false;                           // from that row (after RESET), not after it
    bool engine_sequence = false;                          // this sequence is read by the engine
    std::unique_ptr<VrnParsed, ParsedFree> filter;         // evaluated on rows of a SUPERSET
    std::string condition;                                 // the SQL form of the filter
    std::string page_condition;                            // the one the page was asked with
    bool superset = false;
    bool watch = false;                                    // a WATCH waits for the next read
    PgResult page{nullptr, PQclear};
    int at = -1;                                           // the row of the page the file stands on
    bool forward = true;
    bool left = false;                                     // the view stands on a row of the file:
    int64_t left_id = 0;                                   // its id,
    int left_key = -1;                                     // the reading order
    std::string left_image;                                // and its key image
    std::vector<struct Joined> joined;                     // the files joined by key, in code order
    SequenceJoins joins;                                   // their part of the query
};

std::atomic<uint64_t> served_rows{0};
std::mutex views_mutex;
std::vector<std::unique_ptr<ServedView>> views;

ServedView* Find(ViewDecl* decl, bool create) {
    std::lock_guard lock(views_mutex);
    for (auto& view : views)
        if (view->decl == decl && view->thread == std::this_thread::get_id())
            return view.get();
    if (!create)
        return nullptr;
    views.push_back(std::make_unique<ServedView>());
    views.back()->decl = decl;
    views.back()->thread = std::this_thread::get_id();
    views.back()->filter_text = decl->filter != nullptr ? decl->filter : "";
    views.back()->order_text = decl->order != nullptr ? decl->order : "";
    return views.back().get();
}

void Forget(ServedView* view) {
    std::lock_guard lock(views_mutex);
    for (auto it = views.begin(); it != views.end(); ++it)
        if (it->get() == view) {
            views.erase(it);
            return;
        }
}

FileDecl* Primary(const ViewDecl* decl) { return static_cast<FileDecl*>(decl->components[0]); }

State* PrimaryState(const ViewDecl* decl) {
    FileDecl* file = Primary(decl);
    if (file->driver != PGSQL || file->driver_instance == nullptr)
        return nullptr;
    return reinterpret_cast<PgFcb*>(file->driver_instance)->state;
}

// The structure code's nodes as the engine reads them: join link, flags, projection, children.
struct Node {
    uint8_t link = 0;
    std::vector<uint16_t> parent_fields;
    bool inner = false;
    int parent = -1;
};

bool DecodeNodes(const uint8_t*& at, int parent, std::vector<Node>* nodes) {
    if (nodes->size() >= 255)
        return false;
    Node node;
    node.link = *at++;
    node.parent = parent;
    if (node.link == VRN_VIEW_JOIN_CONDITION)
        return false; // a condition join: the engine's
    for (uint8_t i = 0; i < node.link; i++, at += 2)
        node.parent_fields.push_back(uint16_t(at[0] | at[1] << 8));
    node.inner = (*at++ & VRN_VIEW_INNER) != 0;
    uint16_t count = uint16_t(at[0] | at[1] << 8);
    at += 2;
    if (count != VRN_VIEW_PROJECT_ALL) {
        for (uint16_t i = 0; i < count; i++) {
            uint16_t field = uint16_t(at[0] | at[1] << 8);
            at += field == VRN_VIEW_PROJECT_MEMO ? 4 : 2;
        }
    }
    uint8_t children = *at++;
    int self = int(nodes->size());
    nodes->push_back(std::move(node));
    for (uint8_t i = 0; i < children; i++)
        if (!DecodeNodes(at, self, nodes))
            return false;
    return true;
}

// The SQL column of a bound field of the view's files, as a value the evaluator would compare the
// same way: integers as they are, decimals as numerics, dates as day numbers, strings in byte
// order. A joined file's column is null on an outer join without a match, where the engine's
// cleared buffer holds blanks and zeros.
struct ColumnMap {
    struct Source {
        const State* state;
        std::string alias;
    };
    std::vector<Source> sources;
    bool refused = false; // a field whose SQL comparison could differ from the evaluator's
    std::string scratch;
};

// The SQL value of one column as the evaluator compares it; empty for a kind SQL cannot compare
// the same way.
std::string ComparedValue(const Column& column, const std::string& alias) {
    std::string c = alias + "." + Quoted(column.name);
    switch (column.kind) {
    case ColumnKind::kSigned:
    case ColumnKind::kUnsigned:
        return "COALESCE(" + c + ", 0)";
    case ColumnKind::kDecimal:
    case ColumnKind::kPDecimal:
        return "COALESCE(CAST(" + c + " AS numeric), 0)";
    case ColumnKind::kDate:
        // Day 4 is 1 January 1801; the empty date is NULL in the column and 0 in the field.
        return "COALESCE(CAST(" + c + " AS date) - DATE '1800-12-28', 0)";
    case ColumnKind::kString:
    case ColumnKind::kCString:
    case ColumnKind::kPString:
        return "(COALESCE(" + c + ", '') COLLATE \"C\")";
    default:
        return std::string();
    }
}

const char* ColumnOf(void* user, const char* name) {
    auto* map = static_cast<ColumnMap*>(user);
    for (const ColumnMap::Source& source : map->sources) {
        for (const Column& column : source.state->columns->Columns()) {
            if (strcasecmp(column.label.c_str(), name) != 0)
                continue;
            map->scratch = ComparedValue(column, source.alias);
            if (map->scratch.empty()) {
                map->refused = true;
                map->scratch = source.alias + "." + Quoted(column.name);
            }
            return map->scratch.c_str();
        }
    }
    return nullptr;
}

// Strings are compared here in byte order, which is the evaluator's order only while the
// collation weights are the identity and the text stays within ASCII (the server holds UTF-8).
bool IdentityCollation() {
    const uint8_t* weights = Vrw$CollationWeights();
    if (weights == nullptr)
        return false;
    for (int i = 0; i < 128; i++)
        if (weights[i] != weights[0] + i)
            return false;
    return true;
}

// The single column of a field (number from 1), or null for an array, a group or no column.
const Column* FieldColumn(const State& state, uint32_t field) {
    const Column* found = nullptr;
    for (const Column& column : state.columns->Columns()) {
        if (column.field + 1 != field)
            continue;
        if (found != nullptr)
            return nullptr;
        found = &column;
    }
    return found;
}

// `text` upper-cased in SQL exactly as the program's case table does it, character by character
// (the server holds the program's characters as UTF-8).
std::string UpperCased(const std::string& text) {
    const uint8_t* upper = Vrw$UpperCaseTable();
    std::string from, to;
    for (int c = 1; c < 256; c++) {
        if (upper[c] == c || upper[c] == 0)
            continue;
        from += tarvex::AnsiToUtf8(std::string(1, char(c)));
        to += tarvex::AnsiToUtf8(std::string(1, char(upper[c])));
    }
    return "translate(" + text + ", " + Literal(from) + ", " + Literal(to) + ")";
}

// The SQL term comparing a joined file's key field with the parent's field as the engine does (the
// parent's value stored into the key field, both upper-cased for a NOCASE key, byte equality), or
// empty when SQL could not compare them exactly.
std::string JoinTerm(const State& parent, const std::string& parent_alias, uint32_t parent_field,
                     const Joined& joined, uint32_t key_field, bool nocase) {
    const Column* p = FieldColumn(parent, parent_field);
    const Column* c = FieldColumn(*joined.state, key_field);
    if (p == nullptr || c == nullptr || p->kind != c->kind)
        return std::string();
    std::string pv = parent_alias + "." + Quoted(p->name), cv = joined.alias + "." + Quoted(c->name);
    switch (c->kind) {
    case ColumnKind::kSigned:
    case ColumnKind::kUnsigned:
        // The same type and width: storing the parent's value changes nothing.
        if (p->size != c->size)
            return std::string();
        return "COALESCE(" + cv + ", 0) = COALESCE(" + pv + ", 0)";
    case ColumnKind::kDecimal:
    case ColumnKind::kPDecimal: {
        if (p->places != c->places || (p->size > c->size && c->kind != ColumnKind::kDecimal))
            return std::string();
        std::string stored = "COALESCE(CAST(" + pv + " AS numeric), 0)";
        if (p->size > c->size) {
            // A narrower DECIMAL keeps the value modulo its capacity (sign nibble, then digits),
            // keeping the sign, as SQL's % does.
            uint32_t digits = 2 * c->size - 1 - c->places;
            stored = "(" + stored + " % 1" + std::string(digits, '0') + ")";
        }
        return "COALESCE(CAST(" + cv + " AS numeric), 0) = " + stored;
    }
    case ColumnKind::kString: {
        // The parent's text fits the key field; the padding blanks are not stored.
        if (p->size > c->size)
            return std::string();
        std::string left = "COALESCE(" + cv + ", '')", right = "COALESCE(" + pv + ", '')";
        if (nocase) {
            left = UpperCased(left);
            right = UpperCased(right);
        }
        return left + " = " + right;
    }
    default:
        return std::string();
    }
}

// The key image of one join component computed on the server from the parent's column, byte for
// byte as the key image code builds it from the parent's value stored into the key field, so the
// joined file is read through its key's index. Empty when SQL cannot build it (descending text or
// decimals, digraphs, a weight of 0). `stored` is the SQL value the join term compares.
std::string ComponentImage(const KeyComponent& component, bool nocase, const Column& parent, const std::string& pv) {
    if (component.elements != 1)
        return std::string();
    auto bytes = [](const std::string& number, uint32_t width) {
        return "substring(int8send(" + number + ") from " + std::to_string(9 - width) + ")";
    };
    switch (component.kind) {
    case KeyFieldKind::kSigned:
    case KeyFieldKind::kUnsigned: {
        if (parent.kind != ColumnKind::kSigned && parent.kind != ColumnKind::kUnsigned)
            return std::string();
        if (component.size > 4)
            return std::string();
        std::string full = std::to_string((uint64_t(1) << (8 * component.size)) - 1);
        std::string value = "CAST(COALESCE(" + pv + ", 0) AS bigint)";
        if (component.kind == KeyFieldKind::kSigned)
            value = "(" + value + " + " + std::to_string(uint64_t(1) << (8 * component.size - 1)) + ")";
        if (component.descending)
            value = "(" + full + " - " + value + ")";
        return bytes(value, component.size);
    }
    case KeyFieldKind::kDecimal: {
        if (component.descending || (parent.kind != ColumnKind::kDecimal && parent.kind != ColumnKind::kPDecimal))
            return std::string();
        uint32_t digits = 2 * component.size - 1;
        std::string value = "COALESCE(CAST(" + pv + " AS numeric), 0)";
        if (parent.size > component.size)
            value = "(" + value + " % 1" + std::string(digits - component.places, '0') + ")";
        std::string magnitude = "lpad(trunc(abs(" + value + ") * 1" + std::string(component.places, '0') +
                                ")::text, " + std::to_string(digits) + ", '0')";
        return "decode(CASE WHEN " + value + " < 0 THEN '0' || translate(" + magnitude +
               ", '0123456789', '9876543210') ELSE '1' || " + magnitude + " END, 'hex')";
    }
    case KeyFieldKind::kString: {
        if (component.descending || component.element_width != component.size || parent.kind != ColumnKind::kString)
            return std::string();
        // Each character becomes its weight (upper-cased first for a NOCASE key), written as the
        // character of that code so the LATIN1 form is the weight's byte.
        const uint8_t* table = Vrw$CollationWeights();
        if (table == nullptr)
            return std::string();
        std::vector<uint8_t> weights(table, table + 256);
        table = Vrw$UpperCaseTable();
        std::vector<uint8_t> upper(table, table + 256);
        std::string from, to;
        for (int c = 1; c < 256; c++) {
            std::string character = tarvex::AnsiToUtf8(std::string(1, char(c)));
            if (character.empty())
                continue;
            uint8_t weight = weights[nocase ? upper[size_t(c)] : size_t(c)];
            if (weight == 0)
                return std::string();
            from += character;
            to += tarvex::AnsiToUtf8(std::string(1, char(weight))) == std::string(1, char(weight))
                      ? std::string(1, char(weight))
                      : std::string{char(0xC0 | (weight >> 6)), char(0x80 | (weight & 0x3F))};
        }
        uint8_t blank = weights[uint8_t(' ')];
        std::string pad = blank < 0x80 ? std::string(1, char(blank))
                                        : std::string{char(0xC0 | (blank >> 6)), char(0x80 | (blank & 0x3F))};
        return "convert_to(rpad(translate(COALESCE(" + pv + ", ''), " + Literal(from) + ", " + Literal(to) + "), " +
               std::to_string(component.size) + ", " + Literal(pad) + "), 'LATIN1')";
    }
    default:
        return std::string();
    }
}

// Whether every join of the view can run on the server, and its part of the query when it can.
bool PlanJoins(ServedView& view) {
    view.joined.clear();
    view.joins = SequenceJoins();
    const uint8_t* at = view.decl->structure;
    std::vector<Node> nodes;
    if (at == nullptr || !DecodeNodes(at, -1, &nodes) || nodes.empty() || nodes[0].link != 0)
        return false;
    std::vector<const State*> states{PrimaryState(view.decl)};
    std::vector<std::string> aliases{"r"};
    std::vector<FileDecl*> files{Primary(view.decl)};
    for (size_t n = 1; n < nodes.size(); n++) {
        const Node& node = nodes[n];
        auto* key = static_cast<KeyDecl*>(view.decl->components[n]);
        if (key == nullptr || key->file == nullptr || key->file->driver != PGSQL || key->file->driver_instance == nullptr)
            return false;
        if (node.parent_fields.size() > key->component_count)
            return false;
        // Under an outer join the engine looks for rows matching the cleared buffer.
        for (int up = node.parent; up > 0; up = nodes[size_t(up)].parent)
            if (!nodes[size_t(up)].inner)
                return false;
        Joined joined;
        joined.file = key->file;
        joined.state = reinterpret_cast<PgFcb*>(key->file->driver_instance)->state;
        joined.parent = node.parent;
        joined.inner = node.inner;
        joined.alias = "j" + std::to_string(n);
        // One file twice would share its buffer and cursor between two levels.
        if (std::find(files.begin(), files.end(), joined.file) != files.end())
            return false;
        joined.key = -1;
        for (size_t k = 0; k < joined.state->keys.size(); k++)
            if (joined.state->keys[k].decl == key)
                joined.key = int(k);
        if (joined.key < 0)
            return false;
        // The filter names fields by label: two files with one label would be ambiguous.
        for (const Column& column : joined.state->columns->Columns())
            for (const State* other : states)
                for (const Column& taken : other->columns->Columns())
                    if (strcasecmp(taken.label.c_str(), column.label.c_str()) == 0)
                        return false;
        const Key& join_key = joined.state->keys[size_t(joined.key)];
        std::string on = joined.alias + "." + join_key.column + " IS NOT NULL";
        std::string image; // the parent's values as the prefix of the key's images, when SQL can build it
        for (size_t i = 0; i < node.parent_fields.size(); i++) {
            uint32_t key_field = uint32_t(std::abs(key->components[i]));
            bool nocase = join_key.image->NoCase();
            const State& parent = *states[size_t(node.parent)];
            const std::string& parent_alias = aliases[size_t(node.parent)];
            std::string term = JoinTerm(parent, parent_alias, node.parent_fields[i], joined, key_field, nocase);
            if (term.empty())
                return false;
            on += " AND " + term;
            const Column* column = FieldColumn(parent, node.parent_fields[i]);
            std::string part = ComponentImage(join_key.image->Component(uint32_t(i)), nocase, *column,
                                              parent_alias + "." + Quoted(column->name));
            if (i == 0 || !image.empty())
                image = part.empty() ? std::string() : (image.empty() ? part : image + " || " + part);
        }
        if (!image.empty()) {
            // Through the key's index: the images that start with the parent's values. Every image
            // of a key has the key's width, so the prefix padded with 0x00 and with 0xFF bounds them.
            uint32_t rest = join_key.image->Width() - join_key.image->PrefixWidth(uint32_t(node.parent_fields.size()));
            std::string column = joined.alias + "." + join_key.column;
            if (rest == 0)
                on += " AND " + column + " = " + image;
            else
                on += " AND " + column + " BETWEEN " + image + " || '\\x" + std::string(2 * rest, '0') +
                      "'::bytea AND " + image + " || '\\x" + std::string(2 * rest, 'f') + "'::bytea";
        }
        const State& s = *joined.state;
        std::string fields = s.columns->Names(joined.alias) + s.memos->Names(joined.alias);
        if (s.columns->Columns().empty() && !fields.empty())
            fields.erase(0, 2);
        view.joins.columns += ", " + joined.alias + ".id, " + joined.alias + ".changes, " + joined.alias + "." +
                              join_key.column + (fields.empty() ? "" : ", " + fields);
        view.joins.from += std::string(joined.inner ? " JOIN " : " LEFT JOIN ") + s.table + " AS " + joined.alias +
                           " ON " + on;
        // A missing outer row is one row of its parent's: any fixed value orders it.
        view.joins.order.push_back("COALESCE(" + joined.alias + "." + join_key.column + ", ''::bytea)");
        view.joins.order.push_back("COALESCE(" + joined.alias + ".id, 0)");
        states.push_back(joined.state);
        aliases.push_back(joined.alias);
        files.push_back(joined.file);
        view.joined.push_back(std::move(joined));
    }
    return true;
}

// The filter's SQL form over the file's columns: the rendering's kind, `refused` when it names a
// field whose SQL comparison could differ from the evaluator's.
int32_t Render(const ServedView& view, std::string* condition, bool* refused) {
    ColumnMap map;
    map.sources.push_back({PrimaryState(view.decl), "r"});
    for (const Joined& joined : view.joined)
        map.sources.push_back({joined.state, joined.alias});
    VrnSqlOutput output{&ColumnOf, &map, nullptr, 0};
    int32_t rendering = Vrn$PrintSQL(view.filter.get(), &output);
    condition->assign(output.text != nullptr ? output.text : "");
    Vrn$FreeSQL(&output);
    *refused = map.refused;
    return rendering;
}

// The primary file's key that reads in the order of the view's ORDER, as the engine chooses it: the
// first key whose leading components are the ORDER's fields, all in the same directions or all in
// the opposite ones (then read backwards). False for an ORDER that no key serves (the engine then
// sorts) or that is not a list of the primary file's fields.
bool PlanOrder(ServedView& view) {
    view.order_key = -1;
    view.order_reversed = false;
    view.order_items = 0;
    view.sort.clear();
    view.sort_descending.clear();
    view.sort_after.clear();
    if (view.order_text.find_first_not_of(' ') == std::string::npos)
        return true;
    const State* state = PrimaryState(view.decl);
    std::vector<std::pair<uint32_t, bool>> items; // field number, descending
    size_t begin = 0;
    while (begin <= view.order_text.size()) {
        size_t comma = view.order_text.find(',', begin);
        std::string item = view.order_text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        begin = comma == std::string::npos ? view.order_text.size() + 1 : comma + 1;
        item.erase(0, item.find_first_not_of(' '));
        bool descending = !item.empty() && item[0] == '-';
        if (!item.empty() && (item[0] == '+' || item[0] == '-'))
            item.erase(0, 1);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        const Column* named = nullptr;
        for (const Column& column : state->columns->Columns())
            if (strcasecmp(column.label.c_str(), item.c_str()) == 0)
                named = &column;
        if (named == nullptr || FieldColumn(*state, named->field + 1) != named)
            return false;
        items.emplace_back(named->field + 1, descending);
    }
    view.order_items = items.size();
    FileDecl* file = Primary(view.decl);
    for (uint8_t k = 0; k < file->key_count; k++) {
        const KeyDecl* key = file->keys[k];
        if (key->component_count < items.size())
            continue;
        bool same = true, opposite = true;
        for (size_t i = 0; i < items.size(); i++) {
            if (uint32_t(std::abs(key->components[i])) != items[i].first) {
                same = opposite = false;
                break;
            }
            if ((key->components[i] < 0) != items[i].second)
                same = false;
            else
                opposite = false;
        }
        if (same || opposite) {
            view.order_key = k;
            view.order_reversed = !same;
            return true;
        }
    }
    // The engine sorts by the values as numbers in double precision, ties in its reading order:
    // served for integers and decimals that a double holds exactly.
    for (const auto& [field, descending] : items) {
        const Column* column = FieldColumn(*state, field);
        bool exact = column->kind == ColumnKind::kSigned || column->kind == ColumnKind::kUnsigned ||
                     (column->kind == ColumnKind::kDecimal && 2 * column->size - 1 <= 15) ||
                     (column->kind == ColumnKind::kPDecimal && 2 * column->size <= 15);
        if (!exact)
            return false;
        view.sort.push_back(ComparedValue(*column, "r"));
        view.sort_descending.push_back(descending);
    }
    return true;
}

// Decides how the view is served, after OPEN and after each change of FILTER or ORDER.
void Plan(ServedView& view) {
    view.planned = true;
    view.served = false;
    view.filter.reset();
    view.condition.clear();
    view.superset = false;
    view.page.reset();
    view.at = -1;
    view.engine_sequence = false;
    State* state = PrimaryState(view.decl);
    if (state == nullptr || !PlanJoins(view) || !PlanOrder(view))
        return;
    // Read backwards, the primary file's rows would come against its joined files' order.
    if (view.order_reversed && !view.joined.empty())
        return;
    if (view.filter_text.find_first_not_of(' ') == std::string::npos) {
        view.served = true;
        return;
    }
    VrnParsed* tree = Vrn$ParseCString(view.filter_text.c_str());
    Vrn$clearerror();
    if (tree == nullptr)
        return; // the engine reports the faulty filter
    view.filter.reset(tree);
    bool refused = false;
    int32_t rendering = Render(view, &view.condition, &refused);
    bool strings = view.condition.find("COLLATE \"C\"") != std::string::npos;
    if (refused || (rendering != VRN_SQL_EXACT && rendering != VRN_SQL_SUPERSET) || (strings && !IdentityCollation()))
        return;
    view.superset = rendering == VRN_SQL_SUPERSET;
    view.served = true;
}

// The filter's SQL with the program's variables as they are now: the engine evaluates them on
// each row, so a browse that changes its patient and SETs again must not read the old one's rows.
// A rendering that no longer comes out as planned leaves the whole filter to be evaluated here.
void Rerender(ServedView& view) {
    if (!view.filter)
        return;
    std::string condition;
    bool refused = false;
    int32_t rendering = Render(view, &condition, &refused);
    if (refused || (rendering != VRN_SQL_EXACT && rendering != VRN_SQL_SUPERSET)) {
        condition.clear();
        rendering = VRN_SQL_SUPERSET;
    }
    view.superset = rendering == VRN_SQL_SUPERSET;
    view.condition = std::move(condition);
}

// The key images the filter's `field = value` terms keep the rows within, as the engine bounds its
// own scan: the server then reads that range of the key, not the rest of the key from where the
// sequence stands. False when the sequence is not by key or the filter fixes no leading field.
bool Range(const ServedView& view, ImageRange* range) {
    FileDecl* file = Primary(view.decl);
    State* state = PrimaryState(view.decl);
    if (!view.filter || state->sequence_key < 0)
        return false;
    std::string record(static_cast<const char*>(file->record), file->record_length);
    int32_t fixed = VIEWBOUNDS(reinterpret_cast<FileDecl*>(view.decl), file->keys[state->sequence_key], record.data());
    if (fixed <= 0)
        return false;
    range->low = state->keys[size_t(state->sequence_key)].image->BuildPrefix(record.data(), uint32_t(fixed));
    // Every image that starts with the prefix lies below the prefix's successor.
    range->high = range->low;
    while (!range->high.empty() && uint8_t(range->high.back()) == 0xFF)
        range->high.pop_back();
    if (!range->high.empty())
        range->high.back() = char(uint8_t(range->high.back()) + 1);
    return true;
}

// The joined files take their part of row `row`, as the engine's reads of them would leave them:
// each stands on its row in the order of its join key, or has its buffer cleared when an outer
// join found none. The sequence's place among the joined rows is kept for the next page.
int32_t StandOnJoined(ServedView& view, const PGresult* page, int row) {
    const State* primary = PrimaryState(view.decl);
    int base = 2 + (primary->sequence_key >= 0 ? 1 : 0) + int(primary->columns->Columns().size()) +
               int(primary->memos->Count());
    view.joins.after.clear();
    for (Joined& joined : view.joined) {
        State* state = joined.state;
        state->sequence_key = joined.key;
        if (PQgetisnull(page, row, base)) {
            Vrn$CLEAR(joined.file->record, joined.file->record_type, 0);
            state->place = Place::kNone;
            joined.on_row = false;
            view.joins.after.emplace_back(std::string(), 0);
        } else {
            int32_t code = StandOnRow(joined.file, state, page, row, base);
            _drv_update_state(joined.file->driver_instance, nullptr, VRN_OP_NEXT, code, 0);
            if (code != 0)
                return code;
            joined.on_row = true;
            view.joins.after.emplace_back(state->image, state->low);
        }
        base += 3 + int(state->columns->Columns().size()) + int(state->memos->Count());
    }
    return 0;
}

// The next `limit` rows of a view whose ORDER no key reads, in the engine's sorted order: by the
// ORDER's values, ties in the engine's reading order (the primary file's key image and id, then the
// joined files'), after (or, inclusive, from) the row whose values `view.sort_after` and the joins'
// `after` hold, or from the first row. The ORDER's values follow the row's columns, as text.
std::string SortedSql(const ServedView& view, const State& s, bool forward, int limit, PgParams* params,
                      const ImageRange* range) {
    bool by_key = s.sequence_key >= 0;
    std::string key = by_key ? "r." + s.keys[size_t(s.sequence_key)].column : std::string();
    std::string sql = "SELECT r.id, r.changes" + (by_key ? ", " + key : std::string()) + ", " + s.fields +
                      view.joins.columns;
    for (const std::string& value : view.sort)
        sql += ", CAST(" + value + " AS text)";
    sql += " FROM " + s.table + " AS r" + view.joins.from;
    std::vector<std::string> where;
    if (by_key)
        where.push_back(key + " IS NOT NULL");
    if (by_key && range != nullptr) {
        params->Bytea(range->low);
        where.push_back(key + " >= $" + std::to_string(params->Count()));
        if (!range->high.empty()) {
            params->Bytea(range->high);
            where.push_back(key + " < $" + std::to_string(params->Count()));
        }
    }
    if (!view.condition.empty())
        where.push_back(view.condition);
    // The terms of the order, each with its direction in this reading.
    struct Term {
        std::string column;
        bool descending;
    };
    std::vector<Term> terms;
    for (size_t i = 0; i < view.sort.size(); i++)
        terms.push_back({view.sort[i], view.sort_descending[i] == forward});
    if (by_key)
        terms.push_back({key, !forward});
    terms.push_back({"r.id", !forward});
    for (const std::string& column : view.joins.order)
        terms.push_back({column, !forward});
    if (!view.sort_after.empty()) {
        // Row by row after the place: equal on every term before one, beyond it on that one.
        std::vector<std::string> values;
        for (const std::string& value : view.sort_after) {
            params->Text(value);
            values.push_back("CAST($" + std::to_string(params->Count()) + " AS numeric)");
        }
        if (by_key) {
            params->Bytea(s.image);
            values.push_back("$" + std::to_string(params->Count()));
        }
        params->Bigint(s.low);
        values.push_back("$" + std::to_string(params->Count()));
        for (const auto& [image, id] : view.joins.after) {
            params->Bytea(image);
            values.push_back("$" + std::to_string(params->Count()));
            params->Bigint(id);
            values.push_back("$" + std::to_string(params->Count()));
        }
        std::string keyset, equal;
        for (size_t i = 0; i < terms.size(); i++) {
            keyset += (i == 0 ? "(" : " OR (") + equal + terms[i].column + (terms[i].descending ? " < " : " > ") +
                      values[i] + ")";
            equal += terms[i].column + " = " + values[i] + " AND ";
        }
        if (view.sort_inclusive)
            keyset += " OR (" + equal.substr(0, equal.size() - 5) + ")";
        where.push_back("(" + keyset + ")");
    }
    for (size_t i = 0; i < where.size(); i++)
        sql += (i == 0 ? " WHERE " : " AND ") + where[i];
    sql += " ORDER BY ";
    for (size_t i = 0; i < terms.size(); i++)
        sql += (i == 0 ? "" : ", ") + terms[i].column + (terms[i].descending ? " DESC" : "");
    return sql + " LIMIT " + std::to_string(limit);
}

// One row in the direction: from the page while the file still stands where the view left it,
// else a new page from where the file stands now. A watched read takes a new page and watches
// each row it stands on, so the row given carries its version as the server has it now.
int32_t Fetch(ServedView& view, bool forward, bool watch) {
    forward = forward != view.order_reversed; // the key's own direction
    FileDecl* file = Primary(view.decl);
    State* state = PrimaryState(view.decl);
    if (state == nullptr)
        return kNotOpen;
    bool fresh = !watch;
    Rerender(view);
    for (;;) {
        bool in_step = view.page != nullptr && view.forward == forward && state->place == Place::kOn &&
                       state->low == view.left_id && fresh && view.page_condition == view.condition;
        if (!in_step || view.at + 1 >= PQntuples(view.page.get())) {
            bool ended = in_step && PQntuples(view.page.get()) < kPageRows;
            view.page.reset();
            if (ended || state->place == Place::kNone) {
                state->place = Place::kNone;
                return kNotAvailable;
            }
            PgParams params;
            ImageRange range;
            bool ranged = Range(view, &range);
            std::string sql =
                !view.sort.empty()
                    ? SortedSql(view, *state, forward, kPageRows, &params, ranged ? &range : nullptr)
                    : SequenceSql(*state, forward, view.condition, kPageRows, &params, ranged ? &range : nullptr,
                                  view.joined.empty() ? nullptr : &view.joins);
            PgResult page(nullptr, PQclear);
            // A filter's text holds the program's values: such a query is not kept prepared.
            int32_t code = view.filter ? state->Db().RunOnce(sql, params, &page) : state->Db().Run(sql, params, &page);
            if (code != 0)
                return code;
            view.page = std::move(page);
            view.page_condition = view.condition;
            view.forward = forward;
            view.at = -1;
            fresh = true; // the rows of this page are as fresh as the WATCH asks
            if (PQntuples(view.page.get()) == 0) {
                view.page.reset();
                state->place = Place::kNone;
                return kNotAvailable;
            }
        }
        view.at++;
        if (watch)
            PGSQL(VRN_OP_WATCH, file, nullptr); // taken by the NEXT state update below
        int32_t code = StandOnRow(file, state, view.page.get(), view.at);
        if (code == 0)
            code = StandOnJoined(view, view.page.get(), view.at);
        if (!view.sort.empty()) {
            int first = PQnfields(view.page.get()) - int(view.sort.size());
            view.sort_after.clear();
            for (size_t i = 0; i < view.sort.size(); i++)
                view.sort_after.push_back(PgBytes(view.page.get(), view.at, first + int(i)));
            view.sort_inclusive = false;
        }
        view.left = true;
        view.left_id = state->low;
        view.left_key = state->sequence_key;
        view.left_image = state->image;
        // The file's state words as after its own NEXT: it has a current record.
        _drv_update_state(file->driver_instance, nullptr, VRN_OP_NEXT, code, 0);
        if (code != 0)
            return code;
        served_rows++;
        if (!view.superset || Vrn$EvalR(view.filter.get()) != 0)
            return 0;
    }
}

int32_t Finish(ServedView& view, int32_t operation, int32_t code) {
    if (code != 0) {
        Vrn$seterror(code);
        Vrn$SetErrorFile(Primary(view.decl));
    } else {
        Vrn$clearerror();
    }
    _drv_update_any_state(nullptr, operation, &view.state, &view.flags, code, 0);
    return code;
}

// NEXT and PREVIOUS served here; a SET or RESET the program did on the file starts the sequence.
void Read(ServedView& view, int32_t operation) {
    FileDecl* file = Primary(view.decl);
    uint32_t file_state = file->driver_instance->state;
    State* state = PrimaryState(view.decl);
    if ((view.state & VRN_STATE_OPEN) != 0 && (view.state & VRN_STATE_SEQUENCE) == 0 &&
        (file_state & VRN_STATE_SEQUENCE_START) != 0) {
        // The program's SET on the file starts the view there.
        _drv_update_any_state(nullptr, VRN_OP_SET_FILE, &view.state, &view.flags, 0, 0);
        view.left = false;
        view.page.reset();
        view.joins.after.clear();
        view.sort_after.clear();
    } else if ((view.state & VRN_STATE_SEQUENCE) != 0 && view.left &&
               (state->place != Place::kOn || state->low != view.left_id || state->sequence_key != view.left_key)) {
        // Within its sequence the view keeps its own place: the file goes back to the view's row.
        state->sequence_key = view.left_key;
        state->place = Place::kOn;
        state->low = state->high = view.left_id;
        state->image = view.left_image;
    }
    int32_t code = _drv_check_any_state(nullptr, operation, view.state, &view.flags, nullptr, 0);
    if (code != 0) {
        Finish(view, operation, code == -1 ? kUnsupported : code);
        return;
    }
    bool watch = view.watch;
    view.watch = false;
    Finish(view, operation, Fetch(view, operation == VRN_OP_NEXT, watch));
}

// SETview without values: the next read starts at the start (or end) of the range, in the order of
// the ORDER's key or, without an ORDER, of the key the primary file reads by.
void StartAtRangeStart(ServedView& view) {
    State* state = PrimaryState(view.decl);
    if (view.order_key >= 0)
        state->sequence_key = view.order_key;
    state->place = Place::kEnds;
    state->image.clear();
    view.left = false;
    view.page.reset();
    view.joins.after.clear();
    view.sort_after.clear();
}

// A part of a view's POSITION: its length in four hexadecimal digits, then the part.
std::string PositionPart(const std::string& part) {
    char length[8];
    std::snprintf(length, sizeof length, "%04X", unsigned(part.size() & 0xFFFF));
    return length + part;
}

// A view's POSITION split into its files' parts; false for a text that is none. The program keeps
// positions in blank-padded strings, so blanks and zero bytes after the parts are passed over.
bool SplitPosition(const std::string& text, size_t parts, std::vector<std::string>* out) {
    out->clear();
    size_t at = 0;
    for (size_t i = 0; i < parts; i++) {
        unsigned length = 0;
        if (at + 4 > text.size() || std::sscanf(text.substr(at, 4).c_str(), "%4X", &length) != 1 ||
            text.substr(at, 4).find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos ||
            at + 4 + length > text.size())
            return false;
        out->push_back(text.substr(at + 4, length));
        at += 4 + length;
    }
    return text.find_first_not_of(std::string(" \0", 2), at) == std::string::npos;
}

// POSITION: each file's position in the order the view reads it, in the form the engine gives: the
// primary file's in its reading order, each joined file's by its join key (empty for a cleared one).
void Position(ServedView& view) {
    FileDecl* file = Primary(view.decl);
    State* state = PrimaryState(view.decl);
    int32_t code = _drv_check_any_state(nullptr, VRN_OP_POSITION_FILE, view.state, &view.flags, nullptr, 0);
    std::string text;
    if (code == 0) {
        if (state->sequence_key >= 0)
            PGSQL(VRN_OP_POSITION_KEY, file, std::vector<intptr_t>{intptr_t(file->keys[state->sequence_key])}.data());
        else
            PGSQL(VRN_OP_POSITION_FILE, file, nullptr);
        text = PositionPart(PopText());
        code = Vrn$ERRCODE;
        for (const Joined& joined : view.joined) {
            if (code != 0 || !joined.on_row) {
                text += PositionPart(std::string());
                continue;
            }
            PGSQL(VRN_OP_POSITION_KEY, joined.file,
                  std::vector<intptr_t>{intptr_t(joined.file->keys[joined.key])}.data());
            text += PositionPart(PopText());
            code = Vrn$ERRCODE;
        }
    }
    Finish(view, VRN_OP_POSITION_FILE, code == -1 ? kUnsupported : code);
    PushText(code == 0 ? text : std::string());
}

// The ORDER's values of the primary file's row `id`, as the place a sorted reading starts from
// (that row included); 81 when the row is gone.
int32_t SortValuesOf(ServedView& view, int64_t id) {
    State* state = PrimaryState(view.decl);
    std::string sql = "SELECT ";
    for (size_t i = 0; i < view.sort.size(); i++)
        sql += (i == 0 ? "CAST(" : ", CAST(") + view.sort[i] + " AS text)";
    sql += " FROM " + state->table + " AS r WHERE r.id = $1";
    PgParams params;
    params.Bigint(id);
    PgResult row(nullptr, PQclear);
    int32_t code = state->Db().Run(sql, params, &row);
    if (code != 0 || PQntuples(row.get()) == 0)
        return 81;
    view.sort_after.clear();
    for (size_t i = 0; i < view.sort.size(); i++)
        view.sort_after.push_back(PgBytes(row.get(), 0, int(i)));
    view.sort_inclusive = true;
    return 0;
}

// RESET by position: the primary file is set back to its row and the joined files' rows are kept
// as the place among that row's joined rows; the next read starts at that combined row.
void Reset(ServedView& view, const std::string& text) {
    FileDecl* file = Primary(view.decl);
    State* state = PrimaryState(view.decl);
    int32_t code = _drv_check_any_state(nullptr, VRN_OP_RESET_FILE, view.state, &view.flags, text.data(),
                                        uint32_t(text.size()));
    std::vector<std::string> parts;
    if (code == 0 && !SplitPosition(text, 1 + view.joined.size(), &parts))
        code = 81;
    if (code == 0) {
        std::vector<std::pair<std::string, int64_t>> after;
        for (size_t i = 0; i < view.joined.size() && code == 0; i++) {
            const Joined& joined = view.joined[i];
            if (parts[i + 1].empty()) {
                after.emplace_back(std::string(), 0);
                continue;
            }
            PushText(parts[i + 1]);
            PGSQL(VRN_OP_RESET_KEY, joined.file, std::vector<intptr_t>{intptr_t(joined.file->keys[joined.key])}.data());
            code = Vrn$ERRCODE != 0 ? 81 : 0;
            after.emplace_back(joined.state->image, joined.state->low);
        }
        if (code == 0) {
            PushText(parts[0]);
            if (state->sequence_key >= 0)
                PGSQL(VRN_OP_RESET_KEY, file, std::vector<intptr_t>{intptr_t(file->keys[state->sequence_key])}.data());
            else
                PGSQL(VRN_OP_RESET_FILE, file, nullptr);
            code = Vrn$ERRCODE != 0 ? 81 : 0;
        }
        if (code == 0 && !view.sort.empty())
            code = SortValuesOf(view, state->low);
        view.page.reset();
        view.left = false;
        view.joins.after = std::move(after);
    }
    Finish(view, VRN_OP_RESET_FILE, code == -1 ? kUnsupported : code);
}

} // namespace

uint64_t ServedViewRows() { return served_rows.load(); }

intptr_t PgView(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    auto* decl = reinterpret_cast<ViewDecl*>(file);
    ServedView* view = Find(decl, operation == VRN_OP_OPEN || operation == VRN_OP_SET_PROPERTY);
    if (operation == VRN_OP_SET_PROPERTY && view != nullptr) {
        // The engine keeps the properties too; the value is read here and handed on.
        std::string value = PopText();
        PushText(value);
        int32_t property = int32_t(arguments[0]) & 0xFFFF;
        if (property == VRN_VIEW_PROP_FILTER)
            view->filter_text = value;
        else if (property == VRN_VIEW_PROP_ORDER)
            view->order_text = value;
        view->planned = false;
    }
    if (operation == VRN_OP_WATCH && view != nullptr && (view->state & VRN_STATE_OPEN) != 0) {
        int32_t code = _drv_check_any_state(nullptr, operation, view->state, &view->flags, nullptr, 0);
        if (code == 0)
            view->watch = true;
        Finish(*view, operation, code == -1 ? kUnsupported : code);
        return 0;
    }
    if (view != nullptr && (operation == VRN_OP_NEXT || operation == VRN_OP_PREVIOUS) &&
        (view->state & VRN_STATE_OPEN) != 0 && (view->state & VRN_STATE_SEQUENCE) == 0 &&
        Primary(decl)->driver_instance != nullptr &&
        (Primary(decl)->driver_instance->state & VRN_STATE_SEQUENCE_START) != 0) {
        // The program's SET starts a sequence: by a key other than the ORDER's, the engine reads the
        // file's own order, which the server's query in the ORDER's key would not give.
        if (!view->planned)
            Plan(*view);
        const State* state = PrimaryState(decl);
        view->engine_sequence = view->order_key >= 0 && state != nullptr && state->sequence_key != view->order_key;
    }
    bool served = view != nullptr && view->served && !view->engine_sequence;
    bool writes = operation == VRN_OP_PUT || operation == VRN_OP_DELETE || operation == VRN_OP_HOLD ||
                  operation == VRN_OP_HOLD_SECONDS || operation == VRN_OP_RELEASE;
    if (view != nullptr && writes && served && (view->state & VRN_STATE_OPEN) != 0) {
        // The row stands in the file, where the served read left it; the engine never read it, so
        // its own state would refuse the write as having no record.
        int32_t code = _drv_check_any_state(nullptr, operation, view->state, &view->flags, nullptr, 0);
        if (code == 0) {
            PGSQL(operation, Primary(decl), arguments);
            code = Vrn$ERRCODE;
        }
        Finish(*view, operation, code == -1 ? kUnsupported : code);
        return 0;
    }
    bool reads = operation == VRN_OP_NEXT || operation == VRN_OP_PREVIOUS || operation == VRN_OP_POSITION_FILE ||
                 operation == VRN_OP_RESET_FILE;
    if (view != nullptr && reads && (view->state & VRN_STATE_OPEN) != 0) {
        if (!view->planned)
            Plan(*view);
        if (view->served && !view->engine_sequence) {
            if (operation == VRN_OP_POSITION_FILE)
                Position(*view);
            else if (operation == VRN_OP_RESET_FILE)
                Reset(*view, PopText());
            else
                Read(*view, operation);
            return 0;
        }
    }
    if (view != nullptr && view->watch &&
        (operation == VRN_OP_NEXT || operation == VRN_OP_PREVIOUS || operation == VRN_OP_REGET_FILE)) {
        // The engine does the read: it takes the WATCH and gives it to the file itself.
        view->watch = false;
        VIEWENGINE(VRN_OP_WATCH, file, nullptr);
    }
    intptr_t result = VIEWENGINE(operation, file, arguments);
    int32_t code = Vrn$ERRCODE;
    if (view != nullptr) {
        // The view's state follows the engine's reads too (a REGET gives it a record to PUT).
        _drv_update_any_state(nullptr, operation, &view->state, &view->flags, code, 0);
        if (operation == VRN_OP_OPEN && code == 0 && Primary(decl)->driver_instance != nullptr)
            view->state |= Primary(decl)->driver_instance->state & (VRN_STATE_WRITABLE | VRN_STATE_EXCLUSIVE);
        if (operation == VRN_OP_OPEN || operation == VRN_OP_CLOSE)
            view->planned = false;
        if (code == 0 && (operation == VRN_OP_SET_VIEW || operation == VRN_OP_RESET_VIEW_FILE)) {
            // The engine keeps the start too; a start without values is served, any other is the
            // engine's (ORDER values, or the primary file's record).
            if (!view->planned)
                Plan(*view);
            int64_t values =
                operation == VRN_OP_SET_VIEW ? std::clamp<int64_t>(arguments[0], 0, int64_t(view->order_items)) : 1;
            view->engine_sequence = values > 0;
            if (view->served && values == 0)
                StartAtRangeStart(*view);
        }
        if (operation == VRN_OP_CLOSE)
            Forget(view);
    }
    return result;
}

} // namespace lumarex::drivers::pg
