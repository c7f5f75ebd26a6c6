// SPDX-License-Identifier: GPL-3.0-or-later
// Operation tracing for drivers: the first trace of a file writes its declaration in the 4GL's
// declaration syntax (the OWNER value is always masked), then every operation writes one line with
// its label, its arguments, its error and the time it took since its state check.
//
// Tracing is on when a trace file is named: SetTraceFile, or $TARVEX_TRACE read at the first trace.
// The file is created with mode 0600 (traces show record data) and appended to.
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

#include "data/driver_services.h"
#include "core/error_state.h"
#include "data/state_table.h"
#include "platform/platform.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/views.h"

namespace tarvex {

namespace {

struct TraceState {
    std::mutex mutex;
    bool configured = false;
    std::string path;               // Linux path; empty = off
    std::set<const void*> declared; // files whose declaration has been written
};

TraceState& Trace() {
    static TraceState state;
    return state;
}

// When the current thread's last state check ran: the start of the operation being traced.
thread_local std::chrono::steady_clock::time_point operation_start = std::chrono::steady_clock::now();

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (length < 0)
        return {};
    return std::string(buffer, std::min<size_t>(size_t(length), sizeof(buffer) - 1));
}

// Our type codes as the type-name table numbers them.
int32_t TypeNameCode(uint8_t type) {
    switch (type) {
    case VRN_TYPE_GROUP:
        return 22;
    case VRN_TYPE_STRING_CONSTANT:
        return 18;
    default:
        return type <= VRN_TYPE_PSTRING ? type : -1;
    }
}

void AppendFields(std::string& out, const VrnTypeDesc& type) {
    std::vector<uint32_t> group_ends; // field index after each open group
    for (uint32_t i = 0; i < type.field_count; i++) {
        while (!group_ends.empty() && group_ends.back() == i) {
            out += "END\n";
            group_ends.pop_back();
        }
        const VrnFieldDesc& field = type.fields[i];
        out += field.label != nullptr ? field.label : "";
        out += ' ';
        out += _drv_GetTypeName(TypeNameCode(field.type));
        if (field.type == VRN_TYPE_DECIMAL || field.type == VRN_TYPE_PDECIMAL) {
            out += Format("(%u,%u)", field.size * 2 - 1, unsigned(field.places));
        } else if (field.type == VRN_TYPE_STRING || field.type == VRN_TYPE_CSTRING ||
                   field.type == VRN_TYPE_PSTRING) {
            if (field.picture != nullptr && field.picture[0] == '@')
                out += Format("(%s)", field.picture);
            else
                out += Format("(%u)", field.size);
        }
        if (field.dimension > 1)
            out += Format(", DIM(%u)", field.dimension);
        out += '\n';
        if (field.type == VRN_TYPE_GROUP)
            group_ends.push_back(i + 1 + field.member_count);
    }
    while (!group_ends.empty()) {
        out += "END\n";
        group_ends.pop_back();
    }
}

std::string Declaration(const Drv_FCB& fcb) {
    const char* driver = fcb.driver_name != nullptr ? fcb.driver_name : "?";
    std::string out = fcb.options != nullptr && fcb.options[0] != '\0'
                          ? Format("FILE,DRIVER(%s,'%s')", driver, fcb.options)
                          : Format("FILE,DRIVER(%s)", driver);
    if (fcb.owner != nullptr && fcb.owner[0] != '\0')
        out += ",OWNER(******)";
    out += ",NAME('" + std::string(fcb.name) + "')";
    if (fcb.trace_attributes & VRN_TRACE_CREATE)
        out += ",CREATE";
    if (fcb.trace_attributes & VRN_TRACE_ENCRYPT)
        out += ",ENCRYPT";
    if (fcb.trace_attributes & VRN_TRACE_RECLAIM)
        out += ",RECLAIM";
    out += '\n';
    const FileDecl* file = fcb.file;
    const VrnTypeDesc* type =
        fcb.record_type != nullptr ? fcb.record_type : (file ? file->record_type : nullptr);
    if (file != nullptr && file->keys != nullptr) {
        for (uint32_t k = 0; k < file->key_count; k++) {
            const KeyDecl* key = file->keys[k];
            if (key == nullptr)
                continue;
            out += std::string(key->label != nullptr ? key->label : "",
                               key->label != nullptr ? size_t(key->label_length) : 0);
            out += (key->attributes & VRN_KEY_INDEX) ? " INDEX(" : " KEY(";
            for (uint32_t c = 0; c < key->component_count && key->components != nullptr; c++) {
                int32_t component = key->components[c];
                uint32_t number = uint32_t(component < 0 ? -int64_t(component) : component);
                const char* label = type != nullptr && number >= 1 && number <= type->field_count
                                        ? type->fields[number - 1].label
                                        : nullptr;
                if (c)
                    out += ',';
                out += Format("%c%s", component < 0 ? '-' : '+', label != nullptr ? label : "?");
            }
            out += ')';
            if (key->attributes & VRN_KEY_DUP)
                out += ",DUP";
            if (key->attributes & VRN_KEY_OPT)
                out += ",OPT";
            if (key->attributes & VRN_KEY_NOCASE)
                out += ",NOCASE";
            if (key->attributes & VRN_KEY_PRIMARY)
                out += ",PRIMARY";
            if (key->name != nullptr)
                out += ",NAME('" + std::string(key->name) + "')";
            out += '\n';
        }
    }
    if (file != nullptr && file->memos != nullptr) {
        for (uint32_t m = 0; m < file->memo_count; m++) {
            const MemoDecl* memo = file->memos[m];
            if (memo == nullptr)
                continue;
            out += (memo->flags & VRN_MEMO_BLOB) ? std::string("BLOB") : Format("MEMO(%u)", memo->max_size);
            if (memo->name != nullptr)
                out += ",NAME('" + std::string(memo->name) + "')";
            if (memo->flags & VRN_MEMO_BINARY)
                out += ",BINARY";
            out += '\n';
        }
    }
    out += "RECORD\n";
    if (type != nullptr && type->fields != nullptr)
        AppendFields(out, *type);
    out += "END\nEND\n\n";
    return out;
}

std::string Arguments(const OperationRow& row, const KeyDecl* key, const char* text, intptr_t first,
                      intptr_t second) {
    std::string out = "(";
    bool any = false;
    auto add = [&](const std::string& piece) {
        if (any)
            out += ',';
        out += piece;
        any = true;
    };
    intptr_t values[2] = {first, second};
    int next_value = 0;
    for (ArgKind kind : row.args) {
        if (kind == ArgKind::kNone)
            continue;
        if (kind == ArgKind::kKey) {
            if (key != nullptr && key->label != nullptr)
                add(Format("'%.*s'", int(key->label_length), key->label));
            key = nullptr; // a second key argument is not known here
        } else if (next_value < 2) {
            add(Format("%ld", long(values[next_value++])));
        }
    }
    if (text != nullptr)
        add(Format("'%s'", text));
    return out + ")";
}

void WriteTrace(const std::string& text) {
    TraceState& trace = Trace();
    if (!trace.path.empty())
        platform::AppendToFile(trace.path, text);
}

bool TracingOn(TraceState& trace) {
    if (!trace.configured) {
        trace.configured = true;
        const char* name = std::getenv("TARVEX_TRACE");
        trace.path = name != nullptr && *name != '\0' ? platform::ResolveFileName(name) : "";
    }
    return !trace.path.empty();
}

void TraceLine(const void* identity, const Drv_FCB* fcb, const std::string& label, const KeyDecl* key,
               const char* text, int32_t operation, intptr_t first, intptr_t second) {
    const OperationRow* row = FindOperation(operation);
    if (row == nullptr || operation == VRN_OP_INTERNAL_87 || operation == VRN_OP_INTERNAL_91)
        return;
    TraceState& trace = Trace();
    std::lock_guard lock(trace.mutex);
    if (!TracingOn(trace))
        return;
    std::string out;
    if (fcb != nullptr && trace.declared.insert(identity).second)
        out += Declaration(*fcb);
    out += Format("%-24s", label.c_str());
    out += Arguments(*row, key, text, first, second);
    out += ' ';
    int32_t error = Vrn$ERRCODE;
    if (error == 90) {
        std::string message(FileErrorMessage());
        message.erase(message.find_last_not_of(std::string_view(" \0", 2)) + 1);
        out += Format("File Error: %s ", message.c_str());
    } else if (error != 0) {
        out += Format("Error: %s ", ErrorMessageText(error).c_str());
    }
    auto taken = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                       operation_start)
                     .count();
    out += Format("Time Taken: %ld.%02ld secs\n", long(taken / 1000), long((taken % 1000) / 10));
    WriteTrace(out);
}

} // namespace

void SetTraceFile(const std::string& name) {
    TraceState& trace = Trace();
    std::lock_guard lock(trace.mutex);
    trace.configured = true;
    trace.path = name.empty() ? "" : platform::ResolveFileName(name);
    trace.declared.clear();
}

void ResetTraceDeclarations() {
    TraceState& trace = Trace();
    std::lock_guard lock(trace.mutex);
    trace.declared.clear();
}

void MarkOperationStart() {
    operation_start = std::chrono::steady_clock::now();
}

} // namespace tarvex

using namespace tarvex;

TARVEX_API void _drv_TraceOp(Drv_FCB* fcb, KeyDecl* key, const char* text, int32_t operation, intptr_t first,
                             intptr_t second) {
    if (fcb == nullptr || fcb->name == nullptr)
        return;
    TraceLine(fcb->file != nullptr ? static_cast<const void*>(fcb->file) : fcb, fcb,
              _drv_OperationLabel(operation), key, text, operation, first, second);
}

TARVEX_API void _drv_TraceViewOp(struct Vrn_VCBBLK_struct* block, FileDecl* view, const char* text,
                                 int32_t operation, intptr_t first, intptr_t second) {
    if (block == nullptr && view == nullptr)
        return;
    std::string label = _drv_OperationLabel(operation);
    // The block is a ViewDecl, which has no name of its own: the line names the primary file.
    const auto* declaration = reinterpret_cast<const ViewDecl*>(view);
    const FileDecl* primary = declaration != nullptr && declaration->components != nullptr
                                  ? static_cast<const FileDecl*>(declaration->components[0])
                                  : nullptr;
    if (primary != nullptr && primary->name != nullptr) {
        char* name = _drv_MakeCSTRING(primary->name, primary->name_length);
        if (name != nullptr) {
            label = std::string(name) + ":" + label;
            std::free(name);
        }
    }
    TraceLine(view != nullptr ? static_cast<const void*>(view) : block, nullptr, label, nullptr, text,
              operation, first, second);
}
