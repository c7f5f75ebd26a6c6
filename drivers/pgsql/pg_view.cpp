// SPDX-License-Identifier: GPL-3.0-or-later
// Views on the server: the PGSQL view function that QUERY_VIEW names. A view over one PGSQL file
// without joins and without ORDER, read from where the program SET (or RESET) its file, runs as
// keyset-paged queries in the file's own reading order (key image and row id, or row id), kept
// within the part of the key the filter's `field = value` terms fix (as the engine bounds its own
// scan), its FILTER written as SQL by the evaluator with the program's variables as they are at
// each read:
//   - EXACT: the server selects the rows, nothing is evaluated here;
//   - SUPERSET: the server narrows the rows, the full filter is evaluated on each row that comes;
//   - NONE, or a filter naming a column whose SQL comparison could differ from the evaluator's
//     (REAL, TIME, raw bytes), or any other view: every operation goes to the generic engine.
// Each row served leaves the file's sequence standing on it, exactly as a NEXT of the file would,
// so POSITION, RESET, PUT and DELETE of the file see the row the view gave. A WATCH is kept here
// and given to the file just before the read it precedes, served or the engine's, so a PUT after a
// watched NEXT is refused (89) when another station changed the row; a watched read always asks
// the server, never a page fetched before the WATCH. The view's own PUT, DELETE, HOLD and RELEASE go
// to the file, where the served read left the row. A page stays in use only while the file still
// stands on the row the view left it on and the filter's SQL is unchanged; anything that moved the
// file (the program's SET or RESET, another read) makes the next read ask the server again.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pgsql/pg_store.h"
#include "pgsql/pgsql.h"
#include "tarvex/files.h"
#include "tarvex/char_tables.h"
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

// The view is the primary file alone: link 0, flags, a projection, no children.
bool SingleFile(const uint8_t* code) {
    if (code == nullptr || code[0] != 0)
        return false;
    size_t at = 2;
    uint16_t count = uint16_t(code[at] | code[at + 1] << 8);
    at += 2;
    if (count != VRN_VIEW_PROJECT_ALL) {
        for (uint16_t i = 0; i < count; i++) {
            uint16_t field = uint16_t(code[at] | code[at + 1] << 8);
            at += field == VRN_VIEW_PROJECT_MEMO ? 4 : 2;
        }
    }
    return code[at] == 0;
}

// The SQL column of a bound field of the file, as a value the evaluator would compare the same way:
// integers as they are, decimals as numerics, dates as day numbers, strings in byte order.
struct ColumnMap {
    const State* state = nullptr;
    bool refused = false; // a field whose SQL comparison could differ from the evaluator's
    std::string scratch;
};

const char* ColumnOf(void* user, const char* name) {
    auto* map = static_cast<ColumnMap*>(user);
    for (const Column& column : map->state->columns->Columns()) {
        if (strcasecmp(column.label.c_str(), name) != 0)
            continue;
        std::string c = "r." + Quoted(column.name);
        switch (column.kind) {
        case ColumnKind::kSigned:
        case ColumnKind::kUnsigned:
            map->scratch = c;
            break;
        case ColumnKind::kDecimal:
        case ColumnKind::kPDecimal:
            map->scratch = "CAST(" + c + " AS numeric)";
            break;
        case ColumnKind::kDate:
            // Day 4 is 1 January 1801; the empty date is NULL in the column and 0 in the field.
            map->scratch = "COALESCE(CAST(" + c + " AS date) - DATE '1800-12-28', 0)";
            break;
        case ColumnKind::kString:
        case ColumnKind::kCString:
        case ColumnKind::kPString:
            map->scratch = "(COALESCE(" + c + ", '') COLLATE \"C\")";
            break;
        default:
            map->refused = true;
            map->scratch = c;
            break;
        }
        return map->scratch.c_str();
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

// The filter's SQL form over the file's columns: the rendering's kind, `refused` when it names a
// field whose SQL comparison could differ from the evaluator's.
int32_t Render(const ServedView& view, std::string* condition, bool* refused) {
    ColumnMap map;
    map.state = PrimaryState(view.decl);
    VrnSqlOutput output{&ColumnOf, &map, nullptr, 0};
    int32_t rendering = Vrn$PrintSQL(view.filter.get(), &output);
    condition->assign(output.text != nullptr ? output.text : "");
    Vrn$FreeSQL(&output);
    *refused = map.refused;
    return rendering;
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
    State* state = PrimaryState(view.decl);
    if (state == nullptr || !view.order_text.empty() || !SingleFile(view.decl->structure))
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

// One row in the direction: from the page while the file still stands where the view left it,
// else a new page from where the file stands now. A watched read takes a new page and watches
// each row it stands on, so the row given carries its version as the server has it now.
int32_t Fetch(ServedView& view, bool forward, bool watch) {
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
            std::string sql = SequenceSql(*state, forward, view.condition, kPageRows, &params, ranged ? &range : nullptr);
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

// POSITION: the file's position in its reading order, in the form the engine gives for its one file.
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
        std::string part = PopText();
        code = Vrn$ERRCODE;
        char length[8];
        std::snprintf(length, sizeof length, "%04X", unsigned(part.size() & 0xFFFF));
        text = length + part;
    }
    Finish(view, VRN_OP_POSITION_FILE, code == -1 ? kUnsupported : code);
    PushText(code == 0 ? text : std::string());
}

// RESET by position: the file is set back to the row, and the next read starts there.
void Reset(ServedView& view, const std::string& text) {
    FileDecl* file = Primary(view.decl);
    State* state = PrimaryState(view.decl);
    int32_t code = _drv_check_any_state(nullptr, VRN_OP_RESET_FILE, view.state, &view.flags, text.data(),
                                        uint32_t(text.size()));
    if (code == 0) {
        unsigned length = 0;
        if (text.size() < 4 || std::sscanf(text.substr(0, 4).c_str(), "%4X", &length) != 1 ||
            text.size() != 4 + length) {
            code = 81;
        } else {
            PushText(text.substr(4));
            if (state->sequence_key >= 0)
                PGSQL(VRN_OP_RESET_KEY, file, std::vector<intptr_t>{intptr_t(file->keys[state->sequence_key])}.data());
            else
                PGSQL(VRN_OP_RESET_FILE, file, nullptr);
            code = Vrn$ERRCODE != 0 ? 81 : 0;
            view.page.reset();
            view.left = false;
        }
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
    bool writes = operation == VRN_OP_PUT || operation == VRN_OP_DELETE || operation == VRN_OP_HOLD ||
                  operation == VRN_OP_HOLD_SECONDS || operation == VRN_OP_RELEASE;
    if (view != nullptr && writes && view->served && (view->state & VRN_STATE_OPEN) != 0) {
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
        if (view->served) {
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
        if (operation == VRN_OP_CLOSE)
            Forget(view);
    }
    return result;
}

} // namespace lumarex::drivers::pg
