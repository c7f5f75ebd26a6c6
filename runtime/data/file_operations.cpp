// SPDX-License-Identifier: GPL-3.0-or-later
// The exported file operations. Each one is a thin dispatcher: it lays out the operation's
// arguments and calls the driver entry point that the file's declaration names (the key's owning
// file for an operation on a key). The exports check no file state: the driver does, through the
// state services, so that every driver refuses the same operations with the same codes.
#include "data/file_operations.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex {

namespace {

constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kUnsupported = 80;

} // namespace

// Operations whose driver pops a text argument, and those whose driver pushes a text result.
bool OperationTakesText(int32_t operation) {
    switch (operation) {
    case VRN_OP_RESET_FILE:
    case VRN_OP_RESET_KEY:
    case VRN_OP_REGET_FILE:
    case VRN_OP_REGET_KEY:
    case VRN_OP_SEND:
    case VRN_OP_SET_PROPERTY:
    case VRN_OP_SET_PROPERTY_KEY:
    case VRN_OP_BLOB_SET_PROPERTY:
        return true;
    default:
        return false;
    }
}
bool OperationGivesText(int32_t operation) {
    switch (operation) {
    case VRN_OP_NAME:
    case VRN_OP_SEND:
    case VRN_OP_POSITION_FILE:
    case VRN_OP_POSITION_KEY:
    case VRN_OP_GET_PROPERTY:
    case VRN_OP_GET_PROPERTY_KEY:
    case VRN_OP_BLOB_GET_PROPERTY:
        return true;
    default:
        return false;
    }
}

} // namespace tarvex

TARVEX_API int32_t _drv_OperationTakesText(int32_t operation) {
    return tarvex::OperationTakesText(operation) ? 1 : 0;
}

TARVEX_API int32_t _drv_OperationGivesText(int32_t operation) {
    return tarvex::OperationGivesText(operation) ? 1 : 0;
}

namespace tarvex {
namespace {

std::atomic<uint64_t> operation_count{0};
thread_local int view_engine_depth = 0;

struct PositioningCounts {
    std::mutex mutex;
    std::unordered_map<const FileDecl*, uint64_t> counts;
};
PositioningCounts& Positioning() {
    static PositioningCounts counts;
    return counts;
}

bool StartsSequence(int32_t operation) {
    return (operation >= VRN_OP_SET_FILE && operation <= VRN_OP_SET_KEY_KEY_POINTER) ||
           operation == VRN_OP_RESET_FILE || operation == VRN_OP_RESET_KEY;
}

// When no driver can be reached the string stack is balanced as the driver would have left it, so
// the statement's pop of a result (or its push of an argument) does not shift the caller's stack.
void Refuse(int32_t operation, int32_t code) {
    if (OperationTakesText(operation))
        Vrn$STACKpop();
    if (OperationGivesText(operation))
        Vrn$PushString("", 0);
    Vrn$seterror(code);
}

} // namespace

intptr_t CallFileDriver(int32_t operation, FileDecl* file, std::initializer_list<intptr_t> arguments) {
    if (file == nullptr) {
        Refuse(operation, kFileNotOpen);
        return 0;
    }
    if (file->driver == nullptr) {
        Refuse(operation, kUnsupported);
        Vrn$SetErrorFile(file);
        return 0;
    }
    operation_count.fetch_add(1, std::memory_order_relaxed);
    if (view_engine_depth == 0 && StartsSequence(operation)) {
        PositioningCounts& positioning = Positioning();
        std::lock_guard lock(positioning.mutex);
        positioning.counts[file]++;
    }
    return file->driver(operation, file, arguments.size() ? arguments.begin() : nullptr);
}

uint64_t FileOperationCount() {
    return operation_count.load(std::memory_order_relaxed);
}

uint64_t ExternalPositioningCount(const FileDecl* file) {
    PositioningCounts& positioning = Positioning();
    std::lock_guard lock(positioning.mutex);
    auto found = positioning.counts.find(file);
    return found == positioning.counts.end() ? 0 : found->second;
}

ViewEngineScope::ViewEngineScope() {
    view_engine_depth++;
}
ViewEngineScope::~ViewEngineScope() {
    view_engine_depth--;
}

namespace {

intptr_t OnFile(int32_t operation, FileDecl* file, std::initializer_list<intptr_t> arguments = {}) {
    return CallFileDriver(operation, file, arguments);
}

// An operation on a key goes to the key's owning file, the key first among the arguments.
template <class... Rest> intptr_t OnKey(int32_t operation, KeyDecl* key, Rest... rest) {
    if (key == nullptr || key->file == nullptr) {
        Refuse(operation, kFileNotOpen);
        return 0;
    }
    return CallFileDriver(operation, key->file, {reinterpret_cast<intptr_t>(key), intptr_t(rest)...});
}

int32_t Integer(intptr_t value) {
    return static_cast<int32_t>(value);
}
intptr_t Pointer(const void* address) {
    return reinterpret_cast<intptr_t>(address);
}

} // namespace

} // namespace tarvex

using namespace tarvex;

TARVEX_API void Vrn$FILE_ADDf(FileDecl* file) {
    OnFile(VRN_OP_ADD, file);
}
TARVEX_API int32_t Vrn$FILE_BOF(FileDecl* file) {
    return Integer(OnFile(VRN_OP_BOF, file));
}
TARVEX_API void Vrn$FILE_BUILDf(FileDecl* file) {
    OnFile(VRN_OP_BUILD_FILE, file);
}
TARVEX_API void Vrn$FILE_APPENDf(FileDecl* file) {
    OnFile(VRN_OP_APPEND, file);
}
TARVEX_API void Vrn$FILE_BUILDks(KeyDecl* key) {
    OnKey(VRN_OP_BUILD_DYNAMIC, key);
}
TARVEX_API void Vrn$FILE_BUILDk(KeyDecl* key) {
    OnKey(VRN_OP_BUILD_KEY, key);
}
TARVEX_API void Vrn$FILE_CLOSE(FileDecl* file) {
    OnFile(VRN_OP_CLOSE, file);
}
TARVEX_API void Vrn$FILE_COPY(FileDecl* file) {
    OnFile(VRN_OP_COPY, file);
}
TARVEX_API void Vrn$FILE_CREATE(FileDecl* file) {
    OnFile(VRN_OP_CREATE, file);
}
TARVEX_API void Vrn$FILE_DELETE(FileDecl* file) {
    OnFile(VRN_OP_DELETE, file);
}
TARVEX_API int32_t Vrn$FILE_DUPLICATEf(FileDecl* file) {
    return Integer(OnFile(VRN_OP_DUPLICATE, file));
}
TARVEX_API void Vrn$FILE_EMPTY(FileDecl* file) {
    OnFile(VRN_OP_EMPTY, file);
}
TARVEX_API int32_t Vrn$FILE_CEOF(FileDecl* file) {
    return Integer(OnFile(VRN_OP_EOF, file));
}
TARVEX_API void Vrn$FILE_GETfk(KeyDecl* key) {
    OnKey(VRN_OP_GET_FILE_KEY, key);
}
TARVEX_API void Vrn$FILE_GETfl(FileDecl* file, int32_t pointer) {
    OnFile(VRN_OP_GET_FILE_POINTER, file, {pointer});
}
TARVEX_API void Vrn$FILE_GETkl(KeyDecl* key, int32_t pointer) {
    OnKey(VRN_OP_GET_KEY_POINTER, key, pointer);
}
TARVEX_API void Vrn$FILE_HOLDf(FileDecl* file) {
    OnFile(VRN_OP_HOLD, file);
}
TARVEX_API void Vrn$FILE_HOLDfi(FileDecl* file, int32_t seconds) {
    OnFile(VRN_OP_HOLD_SECONDS, file, {seconds});
}
TARVEX_API void Vrn$FILE_LOCKf(FileDecl* file) {
    OnFile(VRN_OP_LOCK, file);
}
TARVEX_API void Vrn$FILE_LOCKfi(FileDecl* file, int32_t seconds) {
    OnFile(VRN_OP_LOCK_SECONDS, file, {seconds});
}
TARVEX_API void Vrn$FILE_NAME(FileDecl* file) {
    OnFile(VRN_OP_NAME, file);
}
TARVEX_API void Vrn$FILE_NEXT(FileDecl* file) {
    OnFile(VRN_OP_NEXT, file);
}
TARVEX_API void Vrn$FILE_OPEN(FileDecl* file, int32_t access_mode) {
    OnFile(VRN_OP_OPEN, file, {access_mode});
}
TARVEX_API void Vrn$FILE_PACK(FileDecl* file) {
    OnFile(VRN_OP_PACK, file);
}
TARVEX_API int32_t Vrn$FILE_POINTERf(FileDecl* file) {
    return Integer(OnFile(VRN_OP_POINTER_FILE, file));
}
TARVEX_API int32_t Vrn$FILE_POINTERk(KeyDecl* key) {
    return Integer(OnKey(VRN_OP_POINTER_KEY, key));
}
TARVEX_API void Vrn$FILE_FLUSH(FileDecl* file) {
    OnFile(VRN_OP_FLUSH, file);
}
TARVEX_API void Vrn$FILE_PUTf(FileDecl* file) {
    OnFile(VRN_OP_PUT, file);
}
TARVEX_API void Vrn$FILE_PREV(FileDecl* file) {
    OnFile(VRN_OP_PREVIOUS, file);
}
TARVEX_API int32_t Vrn$FILE_RECORDSf(FileDecl* file) {
    return Integer(OnFile(VRN_OP_RECORDS_FILE, file));
}
TARVEX_API int32_t Vrn$FILE_RECORDSk(KeyDecl* key) {
    return Integer(OnKey(VRN_OP_RECORDS_KEY, key));
}
TARVEX_API void Vrn$FILE_BUILDksf(KeyDecl* key) {
    OnKey(VRN_OP_BUILD_DYNAMIC_FILTER, key);
}
TARVEX_API void Vrn$FILE_RELEASE(FileDecl* file) {
    OnFile(VRN_OP_RELEASE, file);
}
TARVEX_API void Vrn$FILE_REMOVE(FileDecl* file) {
    OnFile(VRN_OP_REMOVE, file);
}
TARVEX_API void Vrn$FILE_RENAME(FileDecl* file) {
    OnFile(VRN_OP_RENAME, file);
}
TARVEX_API void Vrn$FILE_SETf(FileDecl* file) {
    OnFile(VRN_OP_SET_FILE, file);
}
TARVEX_API void Vrn$FILE_SETfk(KeyDecl* key) {
    OnKey(VRN_OP_SET_FILE_KEY, key);
}
TARVEX_API void Vrn$FILE_SETfl(FileDecl* file, int32_t pointer) {
    OnFile(VRN_OP_SET_FILE_POINTER, file, {pointer});
}
TARVEX_API void Vrn$FILE_SETk(KeyDecl* key) {
    OnKey(VRN_OP_SET_KEY, key);
}
TARVEX_API void Vrn$FILE_SETkk(KeyDecl* key, KeyDecl* second_key) {
    OnKey(VRN_OP_SET_KEY_KEY, key, Pointer(second_key));
}
TARVEX_API void Vrn$FILE_SETkl(KeyDecl* key, int32_t pointer) {
    OnKey(VRN_OP_SET_KEY_POINTER, key, pointer);
}
TARVEX_API void Vrn$FILE_SETkkl(KeyDecl* key, int32_t pointer) {
    OnKey(VRN_OP_SET_KEY_KEY_POINTER, key, pointer);
}
TARVEX_API void Vrn$FILE_SHARE(FileDecl* file, int32_t access_mode) {
    OnFile(VRN_OP_SHARE, file, {access_mode});
}
TARVEX_API void Vrn$FILE_SKIP(FileDecl* file, int32_t count) {
    OnFile(VRN_OP_SKIP, file, {count});
}
TARVEX_API void Vrn$FILE_UNLOCK(FileDecl* file) {
    OnFile(VRN_OP_UNLOCK, file);
}
TARVEX_API void Vrn$FILE_ADDfu(FileDecl* file, int32_t length) {
    OnFile(VRN_OP_ADD_LENGTH, file, {length});
}
TARVEX_API int32_t Vrn$FILE_BYTES(FileDecl* file) {
    return Integer(OnFile(VRN_OP_BYTES, file));
}
TARVEX_API void Vrn$FILE_GETflu(FileDecl* file, int32_t pointer, int32_t length) {
    OnFile(VRN_OP_GET_FILE_POINTER_LENGTH, file, {pointer, length});
}
TARVEX_API void Vrn$FILE_PUTfl(FileDecl* file, int32_t pointer) {
    OnFile(VRN_OP_PUT_POINTER, file, {pointer});
}
TARVEX_API void Vrn$FILE_PUTflu(FileDecl* file, int32_t pointer, int32_t length) {
    OnFile(VRN_OP_PUT_POINTER_LENGTH, file, {pointer, length});
}
TARVEX_API void Vrn$FILE_STREAM(FileDecl* file) {
    OnFile(VRN_OP_STREAM, file);
}
TARVEX_API int32_t Vrn$FILE_DUPLICATEk(KeyDecl* key) {
    return Integer(OnKey(VRN_OP_DUPLICATE_KEY, key));
}
TARVEX_API void Vrn$FILE_WATCH(FileDecl* file) {
    OnFile(VRN_OP_WATCH, file);
}
TARVEX_API void Vrn$FILE_APPENDfu(FileDecl* file, int32_t length) {
    OnFile(VRN_OP_APPEND_LENGTH, file, {length});
}
TARVEX_API void Vrn$FILE_SEND(FileDecl* file) {
    OnFile(VRN_OP_SEND, file);
}
TARVEX_API void Vrn$FILE_POSITIONf(FileDecl* file) {
    OnFile(VRN_OP_POSITION_FILE, file);
}
TARVEX_API void Vrn$FILE_POSITIONk(KeyDecl* key) {
    OnKey(VRN_OP_POSITION_KEY, key);
}
TARVEX_API void Vrn$FILE_RESETf(FileDecl* file) {
    OnFile(VRN_OP_RESET_FILE, file);
}
TARVEX_API void Vrn$FILE_RESETk(KeyDecl* key) {
    OnKey(VRN_OP_RESET_KEY, key);
}
TARVEX_API void Vrn$FILE_NOMEMO(FileDecl* file) {
    OnFile(VRN_OP_NOMEMO, file);
}
TARVEX_API void Vrn$FILE_REGETf(FileDecl* file) {
    OnFile(VRN_OP_REGET_FILE, file);
}
TARVEX_API void Vrn$FILE_REGETk(KeyDecl* key) {
    OnKey(VRN_OP_REGET_KEY, key);
}
TARVEX_API int32_t Vrn$FILE_NULL(FileDecl* file, intptr_t first, intptr_t second) {
    return Integer(OnFile(VRN_OP_NULL, file, {first, second}));
}
TARVEX_API void Vrn$FILE_SETNULL(FileDecl* file, intptr_t first, intptr_t second) {
    OnFile(VRN_OP_SETNULL, file, {first, second});
}
TARVEX_API void Vrn$FILE_SETNONULL(FileDecl* file, intptr_t first, intptr_t second) {
    OnFile(VRN_OP_SETNONULL, file, {first, second});
}
TARVEX_API void Vrn$FILE_SET_PROPERTY(FileDecl* file, int32_t property) {
    OnFile(VRN_OP_SET_PROPERTY, file, {property});
}
TARVEX_API void Vrn$FILE_GET_PROPERTY(FileDecl* file, int32_t property) {
    OnFile(VRN_OP_GET_PROPERTY, file, {property});
}
TARVEX_API void Vrn$BLOB_YIELD(FileDecl* file, uint16_t blob, intptr_t first, intptr_t second) {
    OnFile(VRN_OP_BLOB_YIELD, file, {blob, first, second});
}
TARVEX_API void Vrn$BLOB_TAKE(FileDecl* file, uint16_t blob, intptr_t first, intptr_t second) {
    OnFile(VRN_OP_BLOB_TAKE, file, {blob, first, second});
}
TARVEX_API int32_t Vrn$BLOB_SIZE(FileDecl* file, uint16_t blob) {
    return Integer(OnFile(VRN_OP_BLOB_SIZE, file, {blob}));
}
TARVEX_API void Vrn$BLOB_SET_PROPERTY(FileDecl* file, uint16_t blob) {
    OnFile(VRN_OP_BLOB_SET_PROPERTY, file, {blob});
}
TARVEX_API void Vrn$BLOB_GET_PROPERTY(FileDecl* file, uint16_t blob) {
    OnFile(VRN_OP_BLOB_GET_PROPERTY, file, {blob});
}
TARVEX_API void Vrn$FILE_BUFFER(FileDecl* file, intptr_t first, intptr_t second, intptr_t third,
                                intptr_t fourth) {
    OnFile(VRN_OP_BUFFER, file, {first, second, third, fourth});
}
TARVEX_API void Vrn$VIEW_SETvl(FileDecl* view, intptr_t value) {
    OnFile(VRN_OP_SET_VIEW, view, {value});
}
TARVEX_API void Vrn$FILE_CLEAR(FileDecl* file, intptr_t value) {
    OnFile(VRN_OP_CLEAR, file, {value});
}
TARVEX_API void Vrn$VIEW_RESETvf(FileDecl* view, intptr_t value) {
    OnFile(VRN_OP_RESET_VIEW_FILE, view, {value});
}
TARVEX_API void Vrn$KEY_SET_PROPERTY(KeyDecl* key, intptr_t property) {
    OnKey(VRN_OP_SET_PROPERTY_KEY, key, property);
}
TARVEX_API void Vrn$KEY_GET_PROPERTY(KeyDecl* key, intptr_t property) {
    OnKey(VRN_OP_GET_PROPERTY_KEY, key, property);
}
TARVEX_API void Vrn$File_Do_Property(FileDecl* file) {
    OnFile(VRN_OP_DO_PROPERTY, file);
}
TARVEX_API void Vrn$Key_Do_Property(KeyDecl* key, intptr_t property) {
    OnKey(VRN_OP_DO_PROPERTY_KEY, key, property);
}
TARVEX_API void Vrn$Blob_Do_Property(FileDecl* file, uint16_t blob) {
    OnFile(VRN_OP_DO_PROPERTY_BLOB, file, {blob});
}
