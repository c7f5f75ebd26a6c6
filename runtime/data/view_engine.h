// SPDX-License-Identifier: GPL-3.0-or-later
// The generic view engine inside the runtime: the per-thread view instance and its plan.
//
//   view_driver.cpp     VIEWDRIVER: delegation, instances, text arguments, state, operations
//   view_plan.cpp       building the plan: files of the view, filter terms, ORDER, key choice
//   view_scan.cpp       reading: bounded key scans, joins, filter, the sort node
//   view_position.cpp   POSITION, RESET and REGET by position; keeping a view's own position
//   view_trace.cpp      tracing to the VXVIEW trace file
//
// A plan is a list of levels, one per file of the view in the order of the structure code. Each
// level reads its file in the order of one key (or in record order) through the file's own driver,
// restricted to a range: the leading key fields whose values are fixed (by the parent's join
// fields, or by equality terms of the filter on the primary file). Rows are combined by nested
// loops: level i runs inside the current row of every level before it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tarvex/evaluate.h"
#include "tarvex/file_decl.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/views.h"

namespace tarvex::view {

// Parsed expressions are freed with the owner.
struct ParsedFree {
    void operator()(VrnParsed* tree) const { Vrn$FreeParsed(tree); }
};
using Parsed = std::unique_ptr<VrnParsed, ParsedFree>;

enum class Direction : uint8_t { kForward, kBackward };

// One leading key field whose value is fixed for a level's range.
struct Bound {
    const VrnFieldDesc* field = nullptr; // in the level's record
    bool nocase = false;                 // strings compared upper-cased
    bool descending = false;
    Parsed value;                        // primary file: the filter's side that gives the value
    uint16_t parent_field = 0;           // joined file: the parent's field that gives it
    std::vector<uint8_t> image;          // the value as stored in the field, taken at scan start
};

enum class Place : uint8_t {
    kNone,     // not started
    kRow,      // on a row: the record buffer holds it
    kNull,     // an outer join without a matching row: the buffer is cleared
    kExternal, // the primary file was SET by the program: reading continues from its cursor
};

struct Level {
    FileDecl* file = nullptr;
    int parent = -1;
    KeyDecl* join_key = nullptr;           // joined by key
    std::vector<uint16_t> parent_fields;   // parent fields giving the key's leading values
    std::string condition_text;            // joined by condition
    Parsed condition;
    bool inner = false;
    bool project_all = true;
    std::vector<uint16_t> fields;          // projected fields when not all
    std::vector<uint16_t> memos;

    // The reading order and range, fixed when the plan is built.
    KeyDecl* scan_key = nullptr;           // null: record order
    bool reversed = false;                 // the ORDER reads the key backwards
    std::vector<Bound> bounds;

    // Where the level stands, and a copy of its row for putting it back.
    Place place = Place::kNone;
    std::vector<uint8_t> saved_record;
    int32_t saved_pointer = 0;
};

// One ORDER item: an expression, its direction and its text.
struct OrderItem {
    Parsed expression;
    bool descending = false;
    std::string text;
};

// A row of the sort node: its ORDER values and, per level, the record pointer (0 for a null row).
struct SortedRow {
    std::vector<std::string> texts;
    std::vector<double> numbers;
    std::vector<int32_t> pointers;
};

struct Trace {
    bool on = false;
    bool into_files = false;
    std::string path;
};

struct ViewInstance {
    ViewDecl* decl = nullptr;
    std::thread::id thread;
    uint32_t state = 0;
    uint32_t operation_flags = 0;
    VrnDriverEntry delegate = nullptr;    // the primary driver's view function that runs the view

    std::string filter_text;
    Parsed filter;
    std::string order_text;
    std::vector<OrderItem> order;
    bool rebuild = true;

    std::vector<Level> levels;
    bool plan_ready = false;
    bool order_by_key = false;            // the ORDER is served by the primary's scan key
    bool sorted = false;                  // the ORDER needs the sort node
    std::vector<SortedRow> sorted_rows;
    bool sorted_filled = false;
    int64_t sorted_at = -1;               // index of the current sorted row

    bool started = false;                 // the plan stands on a row
    bool recheck = false;                 // the next read first offers the row it stands on
    Direction direction = Direction::kForward;
    // A pending reposition: component positions (after RESET by position or RESETviewfile), or
    // the first `set_view_count` ORDER values (after SETview).
    bool reposition = false;
    std::vector<std::string> reposition_parts;
    bool set_view = false;
    std::vector<std::vector<uint8_t>> set_view_values;
    bool watch = false;
    bool flush = false;

    uint64_t operations_after = 0;        // FileOperationCount() when the last call ended
    uint64_t operations_at_entry = 0;     // and when this call began (its own dispatch counted)
    uint64_t primary_positionings = 0;    // ExternalPositioningCount(primary) then
    std::vector<FileDecl*> without_inview; // component files whose driver answered INVIEW with 80
    std::vector<FileDecl*> entered;        // files sent INVIEW by the current read, to get ENDVIEW
    Trace trace;
    bool trace_declared = false;          // the structure was written to the trace
};

// ---- view_plan.cpp ----
// Reads the structure code into levels; false (and 47 posted by the caller) when it is damaged.
bool DecodeStructure(ViewInstance& view);
// Parses the FILTER and ORDER texts; false when one does not parse (the error is posted).
bool ParseFilter(ViewInstance& view, const std::string& text);
bool ParseOrder(ViewInstance& view, const std::string& text);
// Chooses each level's key and range.
void BuildPlan(ViewInstance& view);
FileDecl* Primary(const ViewInstance& view);
// The primary level's range over its scan key from the filter's top-level `field = value` terms.
void BoundByFilter(ViewInstance& view, Level& level);

// ---- view_scan.cpp ----
// One row in the direction; 0, 33 at the end, or a driver's error.
int32_t Fetch(ViewInstance& view, Direction direction);
// The plan forgets where it stands.
void Restart(ViewInstance& view);
// Number of rows that pass the plan (reads them all).
int32_t CountRows(ViewInstance& view);
// SETview: starts at the first row whose leading ORDER values are the captured ones (the key's
// field images when a key serves the ORDER, else the ORDER items' texts).
void StartAtValues(ViewInstance& view, const std::vector<std::vector<uint8_t>>& values);
// The sorted row at `index` into the buffers (GET by record pointer per file).
int32_t LoadSortedRow(ViewInstance& view, size_t index);
// Fills the sort node's rows (reading the whole view once).
int32_t FillSortedRows(ViewInstance& view);
// Reads the row the level's driver was positioned on (RESET), taking the level's range first.
int32_t ReadLevelAt(ViewInstance& view, size_t index);
// Starts the levels from `first` on under the current rows; 0, 33 or an error.
int32_t DescendFrom(ViewInstance& view, size_t first, Direction direction);
// Takes a level's range values: evaluated from the filter (primary file) or converted from the
// parent's join fields, each stored as the key field would hold it.
void TakeBoundImages(ViewInstance& view, Level& level);
// Clears a level's buffer for an outer join without a matching row.
void ClearLevel(Level& level);

// ---- view_position.cpp ----
// One file's POSITION in the order the level reads it (by its key, or in record order).
std::string ComponentPosition(Level& level);
std::string ViewPosition(ViewInstance& view);
bool SplitPosition(const std::string& text, size_t parts, std::vector<std::string>& out);
// RESET by position: restore every level at its part (reading resumes there); 0 or 81.
int32_t ApplyReposition(ViewInstance& view);
// REGET by position: the row at that position into the buffers; 0, 81 or 35.
int32_t RegetRow(ViewInstance& view, const std::string& text);
// The view keeps its own position: save it after each call, put it back when another caller
// moved a component file in between.
void SavePlace(ViewInstance& view);
int32_t RestorePlace(ViewInstance& view);

// ---- view_trace.cpp ----
void ReadTraceSettings(Trace& trace);
void TraceOperation(ViewInstance& view, int32_t operation, const char* text, int32_t error, double seconds);
void TraceClose(ViewInstance& view);

} // namespace tarvex::view
