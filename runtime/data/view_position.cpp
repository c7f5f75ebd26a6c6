// SPDX-License-Identifier: GPL-3.0-or-later
// Positions of a view and the view's own place.
//
// POSITION(view) is the POSITION texts of the component files in component order, each preceded
// by its length in four hexadecimal digits (a part of length 0 is an outer-joined file without a
// matching row), so the text splits back exactly whatever the drivers' texts hold. RESET and
// REGET split it and restore each file with RESET or REGET on its own part.
//
// Several threads share the application's file declarations, so the driver's cursor and record
// buffer of a component file are shared too. A view keeps its own place: after each call it
// copies each level's row and record pointer; when any file operation ran since its last call,
// it puts every level back (the copy into the buffer, SET by key, value and pointer, one NEXT)
// before it reads on.
#include <cstdio>
#include <cstring>

#include "data/file_operations.h"
#include "core/string_stack.h"
#include "data/view_engine.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex::view {

namespace {

constexpr int32_t kNotAvailable = 33;
constexpr int32_t kUnknownError = 81;

intptr_t Key(KeyDecl* key) {
    return reinterpret_cast<intptr_t>(key);
}

// RESET of one level at its part, then the read of that row.
int32_t ResetLevel(ViewInstance& view, size_t index, const std::string& part) {
    Level& level = view.levels[index];
    PushCopy(part);
    if (level.scan_key != nullptr)
        CallFileDriver(VRN_OP_RESET_KEY, level.file, {Key(level.scan_key)});
    else
        CallFileDriver(VRN_OP_RESET_FILE, level.file);
    if (Vrn$ERRCODE != 0)
        return Vrn$ERRCODE;
    return ReadLevelAt(view, index);
}

} // namespace

std::string ComponentPosition(Level& level) {
    if (level.scan_key != nullptr)
        CallFileDriver(VRN_OP_POSITION_KEY, level.file, {Key(level.scan_key)});
    else
        CallFileDriver(VRN_OP_POSITION_FILE, level.file);
    return PopStdString();
}

std::string ViewPosition(ViewInstance& view) {
    std::string text;
    for (Level& level : view.levels) {
        std::string part = level.place == Place::kRow ? ComponentPosition(level) : std::string();
        char length[8];
        std::snprintf(length, sizeof length, "%04X", unsigned(part.size() & 0xFFFF));
        text += length;
        text += part;
    }
    return text;
}

bool SplitPosition(const std::string& text, size_t parts, std::vector<std::string>& out) {
    out.clear();
    size_t at = 0;
    for (size_t i = 0; i < parts; i++) {
        if (at + 4 > text.size())
            return false;
        size_t length = 0;
        for (size_t k = 0; k < 4; k++) {
            char c = text[at + k];
            int digit = c >= '0' && c <= '9' ? c - '0' : (c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1);
            if (digit < 0)
                return false;
            length = length * 16 + size_t(digit);
        }
        at += 4;
        if (at + length > text.size())
            return false;
        out.push_back(text.substr(at, length));
        at += length;
    }
    // The program keeps positions in blank-padded strings.
    for (; at < text.size(); at++) {
        if (text[at] != ' ' && text[at] != '\0')
            return false;
    }
    return true;
}

int32_t ApplyReposition(ViewInstance& view) {
    ViewEngineScope scope;
    std::vector<std::string> parts = std::move(view.reposition_parts);
    view.reposition = false;
    view.reposition_parts.clear();
    Restart(view);
    for (size_t i = 0; i < view.levels.size(); i++) {
        if (i >= parts.size()) {
            int32_t code = DescendFrom(view, i, view.direction);
            if (code != 0)
                return code == kNotAvailable ? kUnknownError : code;
            break;
        }
        if (parts[i].empty()) {
            ClearLevel(view.levels[i]);
            continue;
        }
        if (ResetLevel(view, i, parts[i]) != 0) {
            Restart(view);
            return kUnknownError;
        }
    }
    Vrn$clearerror();
    if (view.sorted) {
        // The sorted row whose files stand on the records just restored.
        std::vector<int32_t> pointers;
        for (Level& level : view.levels)
            pointers.push_back(level.place == Place::kRow ? int32_t(CallFileDriver(VRN_OP_POINTER_FILE, level.file))
                                                          : 0);
        if (!view.sorted_filled) {
            int32_t code = FillSortedRows(view);
            if (code != 0)
                return code;
        }
        for (size_t i = 0; i < view.sorted_rows.size(); i++) {
            if (view.sorted_rows[i].pointers == pointers) {
                view.sorted_at = int64_t(i);
                view.started = true;
                view.recheck = true;
                return 0;
            }
        }
        return kUnknownError;
    }
    view.started = true;
    view.recheck = true;
    return 0;
}

int32_t RegetRow(ViewInstance& view, const std::string& text) {
    std::vector<std::string> parts;
    if (!SplitPosition(text, view.levels.size(), parts))
        return kUnknownError;
    ViewEngineScope scope;
    for (size_t i = 0; i < view.levels.size(); i++) {
        Level& level = view.levels[i];
        if (parts[i].empty()) {
            ClearLevel(level);
            continue;
        }
        PushCopy(parts[i]);
        CallFileDriver(VRN_OP_REGET_FILE, level.file);
        if (Vrn$ERRCODE != 0)
            return kUnknownError;
    }
    return 0;
}

void SavePlace(ViewInstance& view) {
    ViewEngineScope scope;
    int32_t error = Vrn$ERRCODE;
    for (Level& level : view.levels) {
        if (level.place != Place::kRow)
            continue;
        auto* record = static_cast<const uint8_t*>(level.file->record);
        level.saved_record.assign(record, record + level.file->record_length);
        level.saved_pointer = int32_t(CallFileDriver(VRN_OP_POINTER_FILE, level.file));
    }
    if (error != 0)
        Vrn$seterror(error);
    else
        Vrn$clearerror();
}

int32_t RestorePlace(ViewInstance& view) {
    if (!view.started || view.sorted)
        return 0;
    ViewEngineScope scope;
    for (Level& level : view.levels) {
        if (level.place == Place::kNull) {
            ClearLevel(level);
            continue;
        }
        if (level.place != Place::kRow || level.saved_record.size() != level.file->record_length)
            continue;
        std::memcpy(level.file->record, level.saved_record.data(), level.saved_record.size());
        TakeBoundImages(view, level);
        if (level.scan_key != nullptr)
            CallFileDriver(VRN_OP_SET_KEY_KEY_POINTER, level.file, {Key(level.scan_key), level.saved_pointer});
        else
            CallFileDriver(VRN_OP_SET_FILE_POINTER, level.file, {level.saved_pointer});
        if (Vrn$ERRCODE == 0)
            CallFileDriver(VRN_OP_NEXT, level.file);
        if (Vrn$ERRCODE != 0) {
            Restart(view);
            return kUnknownError;
        }
    }
    return 0;
}

} // namespace tarvex::view
