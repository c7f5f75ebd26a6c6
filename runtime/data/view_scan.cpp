// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a view: each level scans its file through the file's own driver (SET by key with the
// range's values in the buffer, then NEXT or PREVIOUS, and a check that the row is still inside
// the range), levels combine by nested loops, outer levels without a match give a cleared buffer,
// the filter passes or drops each combined row, and an ORDER that no key serves reads every row
// once into a sorted list of record pointers.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/char_tables.h"
#include "core/evaluator.h"
#include "data/file_operations.h"
#include "data/view_engine.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/values.h"

namespace tarvex::view {

namespace {

constexpr int32_t kNotAvailable = 33;

int32_t Call(int32_t operation, FileDecl* file, std::initializer_list<intptr_t> arguments = {}) {
    CallFileDriver(operation, file, arguments);
    return Vrn$ERRCODE;
}

intptr_t Key(KeyDecl* key) {
    return reinterpret_cast<intptr_t>(key);
}

uint8_t* FieldAddress(const FileDecl* file, const VrnFieldDesc* field) {
    return static_cast<uint8_t*>(file->record) + field->offset;
}

size_t FieldBytes(const VrnFieldDesc* field) {
    return size_t(field->size) * (field->dimension == 0 ? 1 : field->dimension);
}

void UpperCase(uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; i++)
        bytes[i] = uint8_t(ToUpper(char(bytes[i])));
}

Ufo* FieldUfo(uint8_t* address, const VrnFieldDesc* field) {
    return Vrn$Mem2Ufo(address, field->type, field->places, field->size, 0);
}

// The direction the driver reads in: the ORDER can read a key backwards.
bool DriverForward(const Level& level, Direction direction) {
    return (direction == Direction::kForward) != level.reversed;
}

} // namespace

void TakeBoundImages(ViewInstance& view, Level& level) {
    for (Bound& bound : level.bounds) {
        size_t length = FieldBytes(bound.field);
        bound.image.assign(FieldAddress(level.file, bound.field), FieldAddress(level.file, bound.field) + length);
        Ufo* target = FieldUfo(bound.image.data(), bound.field);
        if (bound.value) {
            Vrn$EvalS(bound.value.get());
        } else {
            const FileDecl* parent = view.levels[size_t(level.parent)].file;
            Ufo* source = Vrn$WHAT(parent->record, parent->record_type, bound.parent_field);
            Vrn$PushUfo(source);
            Vrn$FreeUfo(source);
        }
        Vrn$Stack2UfoC(target);
        Vrn$FreeUfo(target);
        if (bound.nocase)
            UpperCase(bound.image.data(), length);
    }
    Vrn$clearerror();
}

namespace {

// Where the row in the buffer lies against the range, in key order: 0 inside, <0 before, >0 after.
int32_t CompareWithRange(const Level& level) {
    for (const Bound& bound : level.bounds) {
        size_t length = FieldBytes(bound.field);
        const uint8_t* current = FieldAddress(level.file, bound.field);
        std::vector<uint8_t> value(current, current + length);
        if (bound.nocase)
            UpperCase(value.data(), length);
        if (value == bound.image)
            continue;
        std::vector<uint8_t> image = bound.image;
        Ufo* a = FieldUfo(value.data(), bound.field);
        Ufo* b = FieldUfo(image.data(), bound.field);
        int32_t order = Vrn$Ufodistinct(a, b);
        Vrn$FreeUfo(a);
        Vrn$FreeUfo(b);
        if (order == 0)
            order = std::memcmp(value.data(), image.data(), length) < 0 ? -1 : 1;
        return bound.descending ? -order : order;
    }
    return 0;
}

// The buffer at the start (or end) of the range: the range's values, the other key fields at
// their lowest or highest so the key reads from the range's first (or last) entry.
void FillRangeStart(Level& level, bool forward) {
    for (size_t i = 0; i < level.bounds.size(); i++)
        std::memcpy(FieldAddress(level.file, level.bounds[i].field), level.bounds[i].image.data(),
                    level.bounds[i].image.size());
    KeyDecl* key = level.scan_key;
    for (size_t i = level.bounds.size(); i < key->component_count; i++) {
        int32_t component = key->components[i];
        const VrnFieldDesc* field = &level.file->record_type->fields[std::abs(component) - 1];
        bool lowest = forward != (component < 0);
        Vrn$ClearField(level.file->record, field, lowest ? -1 : 1);
    }
}

// Positions the level's driver at the start of its range for reading in the direction.
int32_t Seek(Level& level, Direction direction) {
    bool forward = DriverForward(level, direction);
    if (level.scan_key == nullptr)
        return Call(VRN_OP_SET_FILE, level.file);
    if (level.bounds.empty())
        return Call(VRN_OP_SET_KEY, level.file, {Key(level.scan_key)});
    FillRangeStart(level, forward);
    return Call(VRN_OP_SET_KEY_KEY, level.file, {Key(level.scan_key), Key(level.scan_key)});
}

// The next row of the level inside its range that meets its join condition. A row before the
// range (possible only when the program positioned the primary file itself) sends the scan to
// the range's start once.
int32_t ReadLevel(ViewInstance& view, Level& level, Direction direction, bool may_seek) {
    bool forward = DriverForward(level, direction);
    for (;;) {
        int32_t code = Call(forward ? VRN_OP_NEXT : VRN_OP_PREVIOUS, level.file);
        if (code != 0)
            return code;
        if (!level.bounds.empty()) {
            int32_t order = CompareWithRange(level);
            bool before = forward ? order < 0 : order > 0;
            if (order != 0 && before && may_seek) {
                may_seek = false;
                code = Seek(level, direction);
                if (code != 0)
                    return code;
                continue;
            }
            if (order != 0)
                return kNotAvailable;
        }
        may_seek = false;
        if (level.condition && Vrn$EvalR(level.condition.get()) == 0)
            continue;
        (void)view;
        return 0;
    }
}

int32_t StartLevel(ViewInstance& view, Level& level, Direction direction) {
    TakeBoundImages(view, level);
    int32_t code = Seek(level, direction);
    if (code != 0)
        return code;
    return ReadLevel(view, level, direction, false);
}

// Starts the levels from `first` on under the rows that stand before them. Returns 0, or the
// index of the level to move instead (an INNER level found no row) as -(index + 1) - 1000, or an
// error code.
constexpr int32_t kMoveBase = -1000;
int32_t Descend(ViewInstance& view, size_t first, Direction direction) {
    for (size_t j = first; j < view.levels.size(); j++) {
        Level& level = view.levels[j];
        int32_t code = StartLevel(view, level, direction);
        if (code == 0) {
            level.place = Place::kRow;
            continue;
        }
        if (code != kNotAvailable)
            return code;
        if (level.inner)
            return kMoveBase - int32_t(j - 1);
        ClearLevel(level);
    }
    return 0;
}

bool PassesFilter(ViewInstance& view) {
    if (!view.filter)
        return true;
    int32_t truth = Vrn$EvalR(view.filter.get());
    Vrn$clearerror();
    return truth != 0;
}

int32_t FetchUnsorted(ViewInstance& view, Direction direction) {
    size_t count = view.levels.size();
    int32_t move = view.started ? int32_t(count) - 1 : -1;
    if (view.started && view.recheck) {
        view.recheck = false;
        if (PassesFilter(view))
            return 0;
    }
    view.recheck = false;
    for (;;) {
        int32_t code = 0;
        size_t next = 0;
        if (move < 0) {
            Level& primary = view.levels[0];
            if (primary.place == Place::kExternal) {
                TakeBoundImages(view, primary);
                code = ReadLevel(view, primary, direction, true);
            } else {
                code = StartLevel(view, primary, direction);
            }
            if (code != 0) {
                Restart(view);
                return code;
            }
            primary.place = Place::kRow;
            next = 1;
        } else {
            Level& level = view.levels[size_t(move)];
            code = level.place == Place::kRow ? ReadLevel(view, level, direction, false) : kNotAvailable;
            if (code == kNotAvailable) {
                if (move == 0) {
                    Restart(view);
                    return kNotAvailable;
                }
                move--;
                continue;
            }
            if (code != 0) {
                Restart(view);
                return code;
            }
            level.place = Place::kRow;
            next = size_t(move) + 1;
        }
        code = Descend(view, next, direction);
        if (code <= kMoveBase) {
            move = kMoveBase - code;
            continue;
        }
        if (code != 0) {
            Restart(view);
            return code;
        }
        view.started = true;
        if (PassesFilter(view))
            return 0;
        move = int32_t(count) - 1;
    }
}

// ---- The sort node ----------------------------------------------------------------------------------

int CompareSorted(const ViewInstance& view, const SortedRow& a, const SortedRow& b) {
    for (size_t i = 0; i < view.order.size(); i++) {
        int order;
        if (view.order[i].expression->root->Class() == eval::ValueClass::kString)
            order = CompareStrings(a.texts[i], b.texts[i]);
        else
            order = a.numbers[i] < b.numbers[i] ? -1 : (a.numbers[i] > b.numbers[i] ? 1 : 0);
        if (order != 0)
            return view.order[i].descending ? -order : order;
    }
    return 0;
}

SortedRow TakeSortValues(ViewInstance& view) {
    SortedRow row;
    for (OrderItem& item : view.order) {
        Vrn$EvalS(item.expression.get());
        VrnStringPair pair{nullptr, 0};
        Vrn$PopTemp(&pair);
        std::string text(pair.address != nullptr ? pair.address : "", pair.length);
        Vrn$freestr(&pair);
        row.numbers.push_back(std::strtod(text.c_str(), nullptr));
        row.texts.push_back(std::move(text));
    }
    return row;
}

int32_t FillSorted(ViewInstance& view) {
    view.sorted_rows.clear();
    view.started = false;
    for (Level& level : view.levels)
        level.place = Place::kNone;
    for (;;) {
        int32_t code = FetchUnsorted(view, Direction::kForward);
        if (code == kNotAvailable)
            break;
        if (code != 0)
            return code;
        SortedRow row = TakeSortValues(view);
        for (Level& level : view.levels) {
            int32_t pointer = 0;
            if (level.place == Place::kRow)
                pointer = int32_t(CallFileDriver(VRN_OP_POINTER_FILE, level.file));
            row.pointers.push_back(pointer);
        }
        view.sorted_rows.push_back(std::move(row));
    }
    std::stable_sort(view.sorted_rows.begin(), view.sorted_rows.end(),
                     [&](const SortedRow& a, const SortedRow& b) { return CompareSorted(view, a, b) < 0; });
    view.sorted_filled = true;
    Vrn$clearerror();
    return 0;
}

} // namespace

void ClearLevel(Level& level) {
    Vrn$CLEAR(level.file->record, level.file->record_type, 0);
    level.place = Place::kNull;
}

int32_t LoadSortedRow(ViewInstance& view, size_t index) {
    const SortedRow& row = view.sorted_rows[index];
    for (size_t i = 0; i < view.levels.size(); i++) {
        Level& level = view.levels[i];
        if (row.pointers[i] == 0) {
            ClearLevel(level);
            continue;
        }
        int32_t code = Call(VRN_OP_GET_FILE_POINTER, level.file, {row.pointers[i]});
        if (code != 0)
            return code;
        level.place = Place::kRow;
    }
    return 0;
}

int32_t Fetch(ViewInstance& view, Direction direction) {
    ViewEngineScope scope;
    if (!view.sorted)
        return FetchUnsorted(view, direction);
    if (!view.sorted_filled) {
        int32_t code = FillSorted(view);
        if (code != 0)
            return code;
        view.sorted_at = -1;
        view.started = false;
    }
    int64_t size = int64_t(view.sorted_rows.size());
    if (!view.started)
        view.sorted_at = direction == Direction::kForward ? -1 : size;
    int64_t at = view.sorted_at + (direction == Direction::kForward ? 1 : -1);
    if (view.recheck) {
        view.recheck = false;
        at = view.sorted_at;
    }
    if (at < 0 || at >= size) {
        view.started = false;
        return kNotAvailable;
    }
    view.sorted_at = at;
    view.started = true;
    return LoadSortedRow(view, size_t(at));
}

void Restart(ViewInstance& view) {
    view.started = false;
    view.recheck = false;
    for (Level& level : view.levels)
        level.place = Place::kNone;
}

int32_t CountRows(ViewInstance& view) {
    int32_t count = 0;
    bool sorted = view.sorted;
    view.sorted = false;
    Restart(view);
    ViewEngineScope scope;
    for (;;) {
        int32_t code = FetchUnsorted(view, Direction::kForward);
        if (code != 0)
            break;
        count++;
    }
    view.sorted = sorted;
    Restart(view);
    Vrn$clearerror();
    return count;
}

void StartAtValues(ViewInstance& view, const std::vector<std::vector<uint8_t>>& values) {
    Level& primary = view.levels[0];
    ViewEngineScope scope;
    Restart(view);
    if (view.sorted) {
        // Sorted views start at the first sorted row whose leading ORDER values are not below
        // the captured ones.
        if (!view.sorted_filled && FillSorted(view) != 0)
            return;
        view.sorted_at = -1;
        for (size_t i = 0; i < view.sorted_rows.size(); i++) {
            bool below = false;
            for (size_t k = 0; k < values.size() && k < view.order.size(); k++) {
                std::string captured(values[k].begin(), values[k].end());
                const SortedRow& row = view.sorted_rows[i];
                int order = view.order[k].expression->root->Class() == eval::ValueClass::kString
                                ? CompareStrings(row.texts[k], captured)
                                : (row.numbers[k] < std::strtod(captured.c_str(), nullptr) ? -1 : 0);
                if (view.order[k].descending)
                    order = -order;
                if (order < 0) {
                    below = true;
                    break;
                }
                if (order > 0)
                    break;
            }
            if (!below)
                break;
            view.sorted_at = int64_t(i);
        }
        view.started = true;
        return;
    }
    if (!view.order_by_key || values.empty()) {
        return;
    }
    KeyDecl* key = primary.scan_key;
    TakeBoundImages(view, primary);
    bool forward = DriverForward(primary, view.direction);
    for (size_t i = 0; i < key->component_count; i++) {
        int32_t component = key->components[i];
        const VrnFieldDesc* field = &primary.file->record_type->fields[std::abs(component) - 1];
        if (i < values.size()) {
            std::memcpy(FieldAddress(primary.file, field), values[i].data(),
                        std::min(values[i].size(), FieldBytes(field)));
        } else {
            bool lowest = forward != (component < 0);
            Vrn$ClearField(primary.file->record, field, lowest ? -1 : 1);
        }
    }
    if (Call(VRN_OP_SET_KEY_KEY, primary.file, {Key(key), Key(key)}) == 0)
        primary.place = Place::kExternal;
    Vrn$clearerror();
}

int32_t ReadLevelAt(ViewInstance& view, size_t index) {
    Level& level = view.levels[index];
    TakeBoundImages(view, level);
    int32_t code = Call(VRN_OP_NEXT, level.file);
    if (code == 0)
        level.place = Place::kRow;
    return code;
}

int32_t DescendFrom(ViewInstance& view, size_t first, Direction direction) {
    int32_t code = Descend(view, first, direction);
    if (code <= kMoveBase)
        return kNotAvailable;
    return code;
}

int32_t FillSortedRows(ViewInstance& view) {
    ViewEngineScope scope;
    return FillSorted(view);
}

} // namespace tarvex::view
