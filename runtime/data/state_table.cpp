// SPDX-License-Identifier: GPL-3.0-or-later
// The table of file operations (labels, argument kinds, state rows) and the state services that
// drivers call before and after every operation, so that all drivers refuse the same operations
// with the same codes in the same order.
//
// Columns of a row: class (bits added to the operation-flags word on success), requires (state
// bits that must be present), refuses (state bits that must be absent), sets and clears (applied on
// success), clears on failure. Bit 0x100 is special: in a row it means "the key is built", which a
// key with VRN_KEY_OWN_BUILT_STATE keeps in its own attribute word; in the file's word the same bit
// marks a file in use by a view and the services never change it there.
#include "data/state_table.h"

#include <cstdlib>
#include <cstring>

#include "data/driver_services.h"
#include "tarvex/files.h"

namespace tarvex {

namespace {

// code: label, class, requires, refuses, sets, clears, clears on failure, argument kinds
constexpr OperationRow kOperations[kLastOperation + 1] = {
    /*  0 */ {"(0)", 0, 0, 0, 0, 0, 0, {}},
    /*  1 */ {"ADD", 0x1, 0x41, 0x0, 0x2, 0x1400, 0x0, {}},
    /*  2 */ {"BOF", 0x0, 0x21, 0x0, 0x0, 0x0, 0x0, {}},
    /*  3 */ {"BUILDfile", 0x1, 0xC0, 0x4, 0x0, 0x0, 0x2022, {}},
    /*  4 */ {"APPEND", 0x1, 0x41, 0x0, 0x0, 0x0, 0x0, {}},
    /*  5 */ {"BUILDdyn", 0x1, 0x1, 0x4, 0x100, 0x0, 0x0, {ArgKind::kKey}},
    /*  6 */ {"BUILDkey", 0x1, 0xC0, 0x4, 0x0, 0x0, 0x0, {ArgKind::kKey}},
    /*  7 */ {"CLOSE", 0x3, 0x1, 0x4, 0x0, 0x101, 0x0, {}},
    /*  8 */ {"COMMIT", 0x1, 0x5, 0x0, 0x0, 0x4, 0x0, {}},
    /*  9 */ {"COPY", 0x3, 0x0, 0x1, 0x0, 0x0, 0x0, {}},
    /* 10 */ {"CREATE", 0x3, 0x0, 0x1, 0x0, 0x0, 0x0, {}},
    /* 11 */ {"DELETE", 0x1, 0x43, 0x0, 0x0, 0x2, 0x0, {}},
    /* 12 */ {"DUPLICATE", 0x1, 0x41, 0x0, 0x0, 0x0, 0x0, {}},
    /* 13 */ {"EMPTY", 0x1, 0xC1, 0x4, 0x0, 0x0, 0x0, {}},
    /* 14 */ {"EOF", 0x0, 0x21, 0x0, 0x0, 0x0, 0x0, {}},
    /* 15 */ {"GETfilekey", 0x1, 0x101, 0x0, 0x2, 0xA00, 0x2, {ArgKind::kKey}},
    /* 16 */ {"GETfileptr", 0x1, 0x1, 0x0, 0x2, 0xA00, 0x2, {ArgKind::kInteger}},
    /* 17 */ {"GETkeyptr", 0x1, 0x101, 0x0, 0x2, 0xA00, 0x2, {ArgKind::kKey, ArgKind::kInteger}},
    /* 18 */ {"HOLDfile", 0x1, 0x1, 0x0, 0x800, 0x0, 0x0, {}},
    /* 19 */ {"HOLDfilesec", 0x1, 0x1, 0x0, 0x800, 0x0, 0x0, {ArgKind::kInteger}},
    /* 20 */ {"LOCKfile", 0x1, 0x1, 0x10, 0x90, 0x0, 0x0, {}},
    /* 21 */ {"LOCKfilesec", 0x1, 0x1, 0x10, 0x90, 0x0, 0x0, {ArgKind::kInteger}},
    /* 22 */ {"LOGOUT", 0x1, 0x1, 0x4, 0x4, 0x0, 0x0, {}},
    /* 23 */ {"NAME", 0x8, 0x0, 0x0, 0x0, 0x0, 0x0, {}},
    /* 24 */ {"NEXT", 0x5, 0x21, 0x0, 0x2, 0xA00, 0x2022, {}},
    /* 25 */ {"OPEN", 0x9, 0x0, 0x1, 0x1, 0x0, 0x0, {ArgKind::kInteger}},
    /* 26 */ {"PACK", 0x1, 0xC0, 0x4, 0x0, 0x22, 0x2022, {}},
    /* 27 */ {"POINTERfile", 0x0, 0x3, 0x0, 0x0, 0x0, 0x0, {}},
    /* 28 */ {"POINTERkey", 0x0, 0x103, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey}},
    /* 29 */ {"FLUSH", 0x1, 0x1, 0x0, 0x0, 0x8, 0x0, {}},
    /* 30 */ {"PUT", 0x1, 0x43, 0x0, 0x0, 0x1400, 0x0, {}},
    /* 31 */ {"PREVIOUS", 0x5, 0x21, 0x0, 0x2, 0xA00, 0x2022, {}},
    /* 32 */ {"RECORDSfile", 0x0, 0x1, 0x0, 0x0, 0x0, 0x0, {}},
    /* 33 */ {"RECORDSkey", 0x0, 0x101, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey}},
    /* 34 */ {"BUILDdynfilter", 0x1, 0x1, 0x4, 0x100, 0x0, 0x0, {ArgKind::kKey}},
    /* 35 */ {"(35)", 0, 0, 0, 0, 0, 0, {}},
    /* 36 */ {"RELEASE", 0x1, 0x1, 0x0, 0x0, 0x1000, 0x0, {}},
    /* 37 */ {"REMOVE", 0x3, 0x0, 0x1, 0x0, 0x0, 0x0, {}},
    /* 38 */ {"RENAME", 0x3, 0x0, 0x1, 0x0, 0x0, 0x0, {}},
    /* 39 */ {"(39)", 0, 0, 0, 0, 0, 0, {}},
    /* 40 */ {"ROLLBACK", 0x1, 0x5, 0x0, 0x0, 0x4, 0x0, {}},
    /* 41 */ {"SETfile", 0x5, 0x1, 0x0, 0x2020, 0x0, 0x2020, {}},
    /* 42 */ {"SETfilekey", 0x5, 0x101, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kKey}},
    /* 43 */ {"SETfileptr", 0x5, 0x1, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kInteger}},
    /* 44 */ {"SETkey", 0x5, 0x101, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kKey}},
    /* 45 */ {"SETkeykey", 0x5, 0x101, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kKey, ArgKind::kKey}},
    /* 46 */ {"SETkeyptr", 0x5, 0x101, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kKey, ArgKind::kInteger}},
    /* 47 */ {"SETkeykeyptr", 0x5, 0x101, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kKey, ArgKind::kInteger}},
    /* 48 */ {"SHARE", 0x9, 0x0, 0x1, 0x1, 0x0, 0x0, {ArgKind::kInteger}},
    /* 49 */ {"SKIP", 0x5, 0x21, 0x0, 0x0, 0x2, 0x2022, {ArgKind::kInteger}},
    /* 50 */ {"UNLOCK", 0x1, 0x11, 0x4, 0x0, 0x10, 0x0, {}},
    /* 51 */ {"ADDfilelen", 0x1, 0x1, 0x0, 0x0, 0x1400, 0x0, {ArgKind::kInteger}},
    /* 52 */ {"BYTES", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {}},
    /* 53 */ {"GETfileptrlen", 0x1, 0x1, 0x0, 0x2, 0xA00, 0x2, {ArgKind::kInteger, ArgKind::kInteger}},
    /* 54 */ {"PUTfileptr", 0x1, 0x41, 0x0, 0x0, 0x1400, 0x2, {ArgKind::kInteger}},
    /* 55 */ {"PUTfileptrlen", 0x1, 0x41, 0x0, 0x0, 0x1400, 0x2, {ArgKind::kInteger, ArgKind::kInteger}},
    /* 56 */ {"STREAM", 0x1, 0x1, 0x8, 0x8, 0x0, 0x0, {}},
    /* 57 */ {"DUPLICATEkey", 0x1, 0x101, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey}},
    /* 58 */ {"WATCH", 0x1, 0x1, 0x0, 0x200, 0x0, 0x0, {}},
    /* 59 */ {"APPENDlen", 0x1, 0x41, 0x0, 0x0, 0x1400, 0x0, {ArgKind::kInteger}},
    /* 60 */ {"SEND", 0x9, 0x0, 0x0, 0x0, 0x0, 0x0, {}},
    /* 61 */ {"POSITIONfile", 0x1, 0x3, 0x0, 0x0, 0x0, 0x0, {}},
    /* 62 */ {"POSITIONkey", 0x1, 0x103, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey}},
    /* 63 */ {"RESETfile", 0x5, 0x1, 0x0, 0x2020, 0x0, 0x2020, {}},
    /* 64 */ {"RESETkey", 0x5, 0x101, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kKey}},
    /* 65 */ {"NOMEMO", 0x0, 0x1, 0x0, 0x0, 0x0, 0x0, {}},
    /* 66 */ {"REGETfile", 0x1, 0x1, 0x0, 0x2, 0xA00, 0x0, {}},
    /* 67 */ {"REGETkey", 0x1, 0x101, 0x0, 0x2, 0xA00, 0x0, {ArgKind::kKey}},
    /* 68 */ {"NULL", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kValue, ArgKind::kValue}},
    /* 69 */ {"SETNULL", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kValue, ArgKind::kValue}},
    /* 70 */ {"SETNONULL", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kValue, ArgKind::kValue}},
    /* 71 */ {"SET_PROPERTY", 0x9, 0x0, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger}},
    /* 72 */ {"GET_PROPERTY", 0x1, 0x0, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger}},
    /* 73 */ {"QUERY_KEY", 0x0, 0x101, 0x0, 0x0, 0x0, 0x0, {}},
    /* 74 */ {"QUERY_VIEW", 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, {}},
    /* 75 */
    {"BLOB_YIELD", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger, ArgKind::kValue, ArgKind::kValue}},
    /* 76 */
    {"BLOB_TAKE", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger, ArgKind::kValue, ArgKind::kValue}},
    /* 77 */ {"BLOB_SIZE", 0x0, 0x3, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger}},
    /* 78 */ {"BLOB_SET_PROP", 0x9, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger}},
    /* 79 */ {"BLOB_GET_PROP", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger}},
    /* 80 */
    {"BUFFER",
     0x1,
     0x1,
     0x0,
     0x0,
     0x0,
     0x0,
     {ArgKind::kValue, ArgKind::kValue, ArgKind::kValue, ArgKind::kValue}},
    /* 81 */ {"SETview", 0x5, 0x1, 0x0, 0x20, 0x0, 0x20, {ArgKind::kValue}},
    /* 82 */ {"CLEAR", 0x1, 0x1, 0x0, 0x0, 0x0, 0x0, {ArgKind::kValue}},
    /* 83 */ {"RESETviewfile", 0x5, 0x1, 0x0, 0x2020, 0x0, 0x2020, {ArgKind::kValue}},
    /* 84 */ {"BUILDevent", 0x1, 0xC0, 0x4, 0x0, 0x0, 0x2022, {}},
    /* 85 */ {"SETPROPERTYkey", 0x9, 0x0, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey, ArgKind::kInteger}},
    /* 86 */ {"GETPROPERTYkey", 0x1, 0x0, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey, ArgKind::kInteger}},
    /* 87 */ {"Internal", 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, {}},
    /* 88 */ {"DO_PROPERTY", 0x9, 0x0, 0x0, 0x0, 0x0, 0x0, {}},
    /* 89 */ {"DOPROPERTYkey", 0x9, 0x0, 0x0, 0x0, 0x0, 0x0, {ArgKind::kKey, ArgKind::kInteger}},
    /* 90 */ {"DOPROPERTYblob", 0x9, 0x0, 0x0, 0x0, 0x0, 0x0, {ArgKind::kInteger}},
    /* 91 */ {"Internal", 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, {}},
    /* 92 */ {"INVIEW", 0x1, 0x1, 0x100, 0x100, 0x0, 0x0, {}},
    /* 93 */ {"ENDVIEW", 0x1, 0x1, 0x0, 0x0, 0x100, 0x0, {}},
};

constexpr uint32_t kOpen = VRN_STATE_OPEN;
constexpr uint32_t kRecord = VRN_STATE_RECORD;
constexpr uint32_t kLogout = VRN_STATE_LOGOUT;
constexpr uint32_t kSequence = VRN_STATE_SEQUENCE;
constexpr uint32_t kWritable = VRN_STATE_WRITABLE;
constexpr uint32_t kExclusive = VRN_STATE_EXCLUSIVE;
constexpr uint32_t kBuilt = VRN_STATE_KEY_BUILT;
constexpr uint32_t kWatchPending = VRN_STATE_WATCH_PENDING;
constexpr uint32_t kWatched = VRN_STATE_WATCHED;
constexpr uint32_t kHoldPending = VRN_STATE_HOLD_PENDING;
constexpr uint32_t kHeld = VRN_STATE_HELD;
constexpr uint32_t kBuilding = VRN_STATE_BUILDING;

bool KeyKeepsBuiltState(const KeyDecl* key) {
    return key != nullptr && (key->attributes & VRN_KEY_OWN_BUILT_STATE) != 0;
}

// Operations that may still run while a BUILD is in progress.
bool AllowedWhileBuilding(int32_t operation) {
    switch (operation) {
    case VRN_OP_BUILD_EVENT:
    case VRN_OP_GET_PROPERTY:
    case VRN_OP_GET_PROPERTY_KEY:
    case VRN_OP_CLOSE:
    case VRN_OP_NAME:
        return true;
    default:
        return false;
    }
}

bool TakesPosition(int32_t operation) {
    return operation == VRN_OP_REGET_FILE || operation == VRN_OP_REGET_KEY ||
           operation == VRN_OP_RESET_FILE || operation == VRN_OP_RESET_KEY;
}

bool PositionIsBlank(const char* position, uint32_t length) {
    if (position == nullptr)
        return true;
    for (uint32_t i = 0; i < length; i++) {
        if (position[i] != ' ')
            return false;
    }
    return true;
}

int32_t CheckRow(const KeyDecl* key, int32_t operation, uint32_t state, const char* position,
                 uint32_t position_length) {
    const OperationRow& row = kOperations[operation];
    uint32_t missing = row.requires_bits & ~state & ~kBuilt;
    if (missing == 0 && KeyKeepsBuiltState(key) && (row.requires_bits & kBuilt) != 0 &&
        (key->attributes & VRN_KEY_BUILT) == 0) {
        missing = kBuilt;
    }
    if (missing == 0 && (state & kBuilding) != 0 && !AllowedWhileBuilding(operation))
        return 92;
    int32_t result = 0;
    if (missing != 0) {
        // The first applicable reason decides, so every driver reports the same code.
        if (missing & kOpen)
            return 37;
        if (missing & kBuilt)
            return 46;
        if ((state & kOpen) == 0)
            return 0;
        if (missing & kRecord)
            return 33;
        if (missing & kSequence)
            return 33;
        if (missing & kExclusive)
            return 63;
        if (missing & kWritable)
            return 5;
        return -1;
    }
    uint32_t present = row.refuses & state;
    if (present != 0) {
        if (present & kOpen)
            return 52;
        if (present & kLogout)
            return 56;
        return -1;
    }
    if (TakesPosition(operation) && PositionIsBlank(position, position_length))
        result = 35;
    return result;
}

// Replaces a heap copy by a fresh one from the declaration.
void Refresh(char*& copy, const char* address, int32_t length) {
    char* fresh = _drv_MakeCSTRING(address, length);
    std::free(copy);
    copy = fresh;
}

} // namespace

std::span<const OperationRow> OperationTable() {
    return kOperations;
}

const OperationRow* FindOperation(int32_t operation) {
    if (operation < 0 || operation > kLastOperation)
        return nullptr;
    return &kOperations[operation];
}

} // namespace tarvex

using namespace tarvex;

TARVEX_API int32_t _drv_check_any_state(KeyDecl* key, int32_t operation, uint32_t state,
                                        uint32_t* operation_flags, const char* position,
                                        uint32_t position_length) {
    MarkOperationStart();
    int32_t result = 80;
    if (FindOperation(operation) != nullptr)
        result = CheckRow(key, operation, state, position, position_length);
    if (operation_flags != nullptr)
        *operation_flags = 0;
    return result;
}

TARVEX_API int32_t _drv_check_state(Drv_FCB* fcb, KeyDecl* key, int32_t operation, const char* position,
                                    uint32_t position_length) {
    uint32_t state = fcb != nullptr ? fcb->state : 0;
    int32_t result = _drv_check_any_state(
        key, operation, state, fcb != nullptr ? &fcb->operation_flags : nullptr, position, position_length);
    const OperationRow* row = FindOperation(operation);
    if (result == 0 && fcb != nullptr && fcb->file != nullptr && row != nullptr &&
        (row->requires_bits & kOpen) == 0 && (state & kOpen) == 0) {
        const FileDecl* file = fcb->file;
        if ((fcb->fixed_strings & VRN_FIXED_NAME) == 0)
            Refresh(fcb->name, file->name, file->name_length);
        if ((fcb->fixed_strings & VRN_FIXED_OWNER) == 0)
            Refresh(fcb->owner, file->owner, file->owner_length);
        if ((fcb->fixed_strings & VRN_FIXED_OPTIONS) == 0) {
            Refresh(fcb->options, file->options, file->options_length);
        }
    }
    return result;
}

TARVEX_API void _drv_update_any_state(KeyDecl* key, int32_t operation, uint32_t* state,
                                      uint32_t* operation_flags, int32_t error, int32_t flag) {
    const OperationRow* row = FindOperation(operation);
    if (row == nullptr || state == nullptr)
        return;
    uint32_t s = *state;
    uint32_t flags = operation_flags != nullptr ? *operation_flags : 0;
    if (error == 0) {
        // A read takes a pending WATCH or HOLD: it applies to exactly the next read.
        if (row->clears & kWatchPending)
            s = (s & kWatchPending) ? (s | kWatched) : (s & ~kWatched);
        if (row->clears & kHoldPending)
            s = (s & kHoldPending) ? (s | kHeld) : (s & ~kHeld);
        s |= row->sets & ~kBuilt;
        s &= ~(row->clears & ~kBuilt);
        if (KeyKeepsBuiltState(key)) {
            if (row->sets & kBuilt)
                key->attributes |= VRN_KEY_BUILT;
            if (row->clears & kBuilt)
                key->attributes &= ~VRN_KEY_BUILT;
        }
        flags |= row->op_class;
        if (flag != 0 && (row->op_class & VRN_OPFLAG_NO_RECORD) == 0)
            flags |= VRN_OPFLAG_RESYNC;
    } else {
        if (error == 37 || ((row->op_class & VRN_OPFLAG_RESYNC) != 0 && error != 52))
            flags |= VRN_OPFLAG_RESYNC;
        s &= ~(row->clears_on_failure | kWatchPending | kWatched);
    }
    *state = s;
    if (operation_flags != nullptr)
        *operation_flags = flags;
}

TARVEX_API void _drv_update_state(Drv_FCB* fcb, KeyDecl* key, int32_t operation, int32_t error,
                                  int32_t flag) {
    if (fcb == nullptr)
        return;
    _drv_update_any_state(key, operation, &fcb->state, &fcb->operation_flags, error, flag);
}

TARVEX_API const char* _drv_OperationLabel(int32_t operation) {
    const OperationRow* row = FindOperation(operation);
    return row != nullptr ? row->label : "(?)";
}

TARVEX_API int32_t _drv_OperationTakesKey(int32_t operation) {
    const OperationRow* row = FindOperation(operation);
    return row != nullptr && row->args[0] == ArgKind::kKey ? 1 : 0;
}
