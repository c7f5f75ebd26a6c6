// SPDX-License-Identifier: GPL-3.0-or-later
// Tracing of view operations. Section "VXVIEW" of the main profile switches it on ("Profile"
// non-zero), names the trace file ("TraceFile", "VIEW.LOG" when empty) and sets the
// trace-into-files flag ("TraceIntoFiles"). The first line of a view writes its structure in
// declaration form; then each operation writes its label, its text argument, its error and the
// time it took. The file is created with mode 0600 by the platform layer; a view's texts hold no
// OWNER value, and component files are traced by their own drivers.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/error_state.h"
#include "data/view_engine.h"
#include "platform/platform.h"
#include "tarvex/files.h"

namespace tarvex::view {

namespace {

std::string Label(const FileDecl* file, int32_t number) {
    const VrnTypeDesc* type = file->record_type;
    if (number <= 0 || uint32_t(number) > type->field_count || type->fields[number - 1].label == nullptr)
        return "?";
    return type->fields[number - 1].label;
}

std::string FileName(const FileDecl* file) {
    char* name = _drv_MakeCSTRING(file->name, file->name_length);
    std::string text = name != nullptr ? name : "";
    std::free(name);
    return text;
}

void WriteLevel(const ViewInstance& view, size_t index, int indent, std::string& out) {
    const Level& level = view.levels[index];
    std::string pad(size_t(indent) * 2, ' ');
    if (index == 0) {
        out += "VIEW(" + FileName(level.file) + ")";
    } else {
        out += pad + "JOIN(";
        if (level.join_key != nullptr) {
            out += "KEY(" + std::string(level.join_key->label, size_t(level.join_key->label_length)) + ")";
            for (uint16_t field : level.parent_fields)
                out += ",FIELD(" + Label(view.levels[size_t(level.parent)].file, field) + ")";
        } else {
            out += FileName(level.file) + ",'" + level.condition_text + "'";
        }
        out += ")";
        if (level.inner)
            out += ",INNER";
    }
    out += "\n";
    if (!level.project_all) {
        out += pad + "  PROJECT(";
        for (size_t i = 0; i < level.fields.size(); i++)
            out += (i ? "," : "") + std::string("FIELD(") + Label(level.file, level.fields[i]) + ")";
        for (uint16_t memo : level.memos)
            out += ",MEMO(" + std::to_string(memo) + ")";
        out += ")\n";
    }
    for (size_t child = index + 1; child < view.levels.size(); child++) {
        if (view.levels[child].parent == int(index))
            WriteLevel(view, child, indent + 1, out);
    }
    if (index != 0)
        out += pad + "END\n";
}

void Append(const ViewInstance& view, const std::string& text) {
    platform::AppendToFile(view.trace.path, text);
}

} // namespace

void ReadTraceSettings(Trace& trace) {
    std::string profile = platform::MainProfilePath();
    trace.on = std::atoi(platform::ReadProfileString(profile, "VXVIEW", "Profile", "0").c_str()) != 0;
    trace.into_files = std::atoi(platform::ReadProfileString(profile, "VXVIEW", "TraceIntoFiles", "0").c_str()) != 0;
    std::string name = platform::ReadProfileString(profile, "VXVIEW", "TraceFile", "");
    if (name.find_first_not_of(' ') == std::string::npos)
        name = "VIEW.LOG";
    trace.path = trace.on ? platform::ResolveFileName(name) : std::string();
    if (trace.path.empty())
        trace.on = false;
}

void TraceOperation(ViewInstance& view, int32_t operation, const char* text, int32_t error, double seconds) {
    if (!view.trace.on || operation == VRN_OP_INTERNAL_87 || operation == VRN_OP_INTERNAL_91)
        return;
    std::string line;
    if (!view.trace_declared && !view.levels.empty()) {
        WriteLevel(view, 0, 0, line);
        line += "END\n\n";
        view.trace_declared = true;
    }
    char head[64];
    std::snprintf(head, sizeof head, "%-24s", _drv_OperationLabel(operation));
    line += head;
    if (text != nullptr)
        line += std::string("('") + text + "') ";
    if (error != 0)
        line += "Error: " + ErrorMessageText(error) + " ";
    long hundredths = long(seconds * 100.0 + 0.5);
    char time[64];
    std::snprintf(time, sizeof time, "Time Taken: %ld.%02ld secs\n", hundredths / 100, hundredths % 100);
    line += time;
    Append(view, line);
}

void TraceClose(ViewInstance& view) {
    if (view.trace.on)
        Append(view, "CLOSE of the view; the instance ends\n");
}

} // namespace tarvex::view
