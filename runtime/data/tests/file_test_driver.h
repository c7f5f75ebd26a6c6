// SPDX-License-Identifier: GPL-3.0-or-later
// A small file driver for the tests, written against the public headers only, as any driver would
// be: records in memory (one store per file name), the state services before and after every
// operation, the register at OPEN and CLOSE, transactions with a snapshot for ROLLBACK. Knobs let a
// test make LOGOUT or LOCK fail, or declare the driver unable to log.
#pragma once

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tarvex/files.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace tarvex::testing {

#define TEST_FIELDS(FIELD)                                                                                   \
    FIELD(ID, LONG)                                                                                          \
    FIELD(NAME, STRING(12))
TARVEX_RECORD(TestRecord, "TST", TEST_FIELDS)

struct MemoryStore {
    std::vector<TestRecord> rows;
    std::vector<TestRecord> snapshot; // taken at LOGOUT
    int reads = 0;                    // record reads that reached the data
    int commits = 0, rollbacks = 0, unlocks = 0, logouts = 0;
    int lock_flag_seen = -1; // Drv_FCB.logout_lock during the last LOCK
};

// COMMIT, ROLLBACK and CLOSE of every memory file, in call order ("COMMIT C:\A.TST").
inline std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}

struct DriverKnobs {
    bool can_log = true;
    bool lock_before_logout = false;
    bool unlock_after = false;
    int32_t fail_logout = 0; // error the LOGOUT operation posts, 0 none
    int32_t fail_lock = 0;   // error LOCK posts, 0 none
};

struct MemoryFcb {
    Drv_FCB base; // first, as the contract asks
    MemoryStore* store;
    int32_t current;  // 1-based row of the current record, 0 none
    int32_t sequence; // row before which NEXT reads, 0 = before the first
};

inline std::map<std::string, MemoryStore>& Stores() {
    static std::map<std::string, MemoryStore> stores;
    return stores;
}
inline std::map<const FileDecl*, DriverKnobs>& Knobs() {
    static std::map<const FileDecl*, DriverKnobs> knobs;
    return knobs;
}

inline std::string PopString() {
    VrnStringPair pair{nullptr, 0};
    Vrn$PopTemp(&pair);
    std::string text(pair.address ? pair.address : "", pair.length);
    Vrn$freestr(&pair);
    return text;
}

inline intptr_t MemoryDriver(int32_t operation, FileDecl* file, const intptr_t* arguments);

inline void Post(int32_t code) {
    if (code == 0)
        Vrn$clearerror();
    else
        Vrn$seterror(code);
}

inline intptr_t MemoryDriver(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    MemoryFcb* fcb = reinterpret_cast<MemoryFcb*>(file->driver_instance);
    KeyDecl* key = _drv_OperationTakesKey(operation) ? reinterpret_cast<KeyDecl*>(arguments[0]) : nullptr;
    std::string position;
    if (operation == VRN_OP_RESET_FILE || operation == VRN_OP_RESET_KEY || operation == VRN_OP_REGET_FILE ||
        operation == VRN_OP_REGET_KEY || operation == VRN_OP_SEND || operation == VRN_OP_SET_PROPERTY) {
        position = PopString();
    }
    Drv_FCB* base = fcb ? &fcb->base : nullptr;
    int32_t code = _drv_check_state(base, key, operation, position.data(), uint32_t(position.size()));
    if (code != 0) {
        Post(code == -1 ? 31 : code);
        if (operation == VRN_OP_NAME || operation == VRN_OP_POSITION_FILE || operation == VRN_OP_SEND) {
            Vrn$PushString("", 0);
        }
        _drv_update_state(base, key, operation, Vrn$ERRCODE, 0);
        return 0;
    }
    auto* record = static_cast<TestRecord*>(file->record);
    intptr_t result = 0;
    int32_t error = 0;
    DriverKnobs& knobs = Knobs()[file];
    switch (operation) {
    case VRN_OP_OPEN:
    case VRN_OP_SHARE: {
        auto* block = static_cast<MemoryFcb*>(std::calloc(1, sizeof(MemoryFcb)));
        block->base.name = _drv_MakeCSTRING(file->name, file->name_length);
        block->base.owner = _drv_MakeCSTRING(file->owner, file->owner_length);
        block->base.options = _drv_MakeCSTRING(file->options, file->options_length);
        block->base.file = file;
        block->base.driver_name = "MEMORY";
        block->base.record_type = file->record_type;
        block->base.key_count = file->key_count;
        int32_t mode = int32_t(arguments[0]);
        block->base.state = 0;
        if ((mode & 0x0F) != 0)
            block->base.state |= VRN_STATE_WRITABLE;
        if ((mode & 0xF0) == 0x10)
            block->base.state |= VRN_STATE_EXCLUSIVE;
        block->store = &Stores()[block->base.name ? block->base.name : ""];
        file->driver_instance = &block->base;
        fcb = block;
        base = &block->base;
        Vrn$activate_drv(file, mode, knobs.can_log, 1, 1, knobs.lock_before_logout, knobs.unlock_after);
        break;
    }
    case VRN_OP_CLOSE:
        Events().push_back(std::string("CLOSE ") + fcb->base.name);
        Vrn$deactivate_drv(file);
        std::free(fcb->base.name);
        std::free(fcb->base.owner);
        std::free(fcb->base.options);
        std::free(fcb);
        file->driver_instance = nullptr;
        Vrn$clearerror();
        return 0;
    case VRN_OP_NAME:
        Vrn$PushCString(fcb && fcb->base.name ? fcb->base.name : "");
        break;
    case VRN_OP_SET_FILE:
    case VRN_OP_SET_KEY:
        fcb->sequence = 0;
        break;
    case VRN_OP_NEXT:
        if (fcb->sequence >= int32_t(fcb->store->rows.size())) {
            error = 33;
        } else {
            fcb->store->reads++;
            *record = fcb->store->rows[size_t(fcb->sequence)];
            fcb->current = ++fcb->sequence;
        }
        break;
    case VRN_OP_PREVIOUS:
        if (fcb->sequence <= 1) {
            error = 33;
        } else {
            fcb->store->reads++;
            fcb->current = --fcb->sequence;
            *record = fcb->store->rows[size_t(fcb->current - 1)];
        }
        break;
    case VRN_OP_GET_FILE_KEY: {
        error = 35;
        for (size_t i = 0; i < fcb->store->rows.size(); i++) {
            if (int32_t(fcb->store->rows[i].ID) == int32_t(record->ID)) {
                fcb->store->reads++;
                *record = fcb->store->rows[i];
                fcb->current = int32_t(i + 1);
                error = 0;
                break;
            }
        }
        break;
    }
    case VRN_OP_GET_FILE_POINTER:
        if (arguments[0] < 1 || arguments[0] > intptr_t(fcb->store->rows.size())) {
            error = 35;
        } else {
            fcb->store->reads++;
            fcb->current = int32_t(arguments[0]);
            *record = fcb->store->rows[size_t(fcb->current - 1)];
        }
        break;
    case VRN_OP_REGET_FILE:
    case VRN_OP_RESET_FILE: {
        int32_t at = std::atoi(position.c_str());
        if (at < 1 || at > int32_t(fcb->store->rows.size())) {
            error = 35;
        } else if (operation == VRN_OP_REGET_FILE) {
            fcb->store->reads++;
            fcb->current = at;
            *record = fcb->store->rows[size_t(at - 1)];
        } else {
            fcb->sequence = at - 1;
        }
        break;
    }
    case VRN_OP_POSITION_FILE:
        Vrn$PushCString(std::to_string(fcb->current).c_str());
        break;
    case VRN_OP_ADD:
    case VRN_OP_APPEND:
        fcb->store->rows.push_back(*record);
        fcb->current = int32_t(fcb->store->rows.size());
        break;
    case VRN_OP_PUT:
        fcb->store->rows[size_t(fcb->current - 1)] = *record;
        break;
    case VRN_OP_DELETE:
        fcb->store->rows.erase(fcb->store->rows.begin() + (fcb->current - 1));
        fcb->current = 0;
        break;
    case VRN_OP_RECORDS_FILE:
        result = intptr_t(fcb->store->rows.size());
        break;
    case VRN_OP_POINTER_FILE:
        result = fcb->current;
        break;
    case VRN_OP_LOCK:
    case VRN_OP_LOCK_SECONDS:
        fcb->store->lock_flag_seen = fcb->base.logout_lock;
        error = knobs.fail_lock;
        break;
    case VRN_OP_UNLOCK:
        fcb->store->unlocks++;
        break;
    case VRN_OP_LOGOUT:
        error = knobs.fail_logout;
        if (error == 0) {
            fcb->store->snapshot = fcb->store->rows;
            fcb->store->logouts++;
        }
        break;
    case VRN_OP_COMMIT:
        Events().push_back(std::string("COMMIT ") + fcb->base.name);
        fcb->store->commits++;
        break;
    case VRN_OP_ROLLBACK:
        Events().push_back(std::string("ROLLBACK ") + fcb->base.name);
        fcb->store->rows = fcb->store->snapshot;
        fcb->store->rollbacks++;
        break;
    case VRN_OP_WATCH:
    case VRN_OP_HOLD:
    case VRN_OP_RELEASE:
    case VRN_OP_STREAM:
    case VRN_OP_FLUSH:
    case VRN_OP_BUILD_FILE:
    case VRN_OP_BUILD_DYNAMIC:
    case VRN_OP_BUILD_KEY:
    case VRN_OP_SET_PROPERTY:
        break;
    default:
        error = 80;
        break;
    }
    Post(error);
    _drv_update_state(base, key, operation, error, 0);
    return result;
}

// A file over the memory driver, named so that each test gets its own store.
struct MemoryFile : File<TestRecord> {
    explicit MemoryFile(const char* name, uint8_t attributes = 0)
        : File<TestRecord>(MemoryDriver, name, {KEY("TST:IDKEY", "+ID", OPT | PRIMARY)}, attributes) {
        Stores().erase(name);
        Knobs().erase(Decl());
    }
    ~MemoryFile() {
        if (Decl()->driver_instance != nullptr)
            Vrn$FILE_CLOSE(Decl());
    }
    MemoryStore& Store() { return Stores()[Decl()->name]; }
    DriverKnobs& Knob() { return Knobs()[Decl()]; }
    Drv_FCB* Fcb() { return Decl()->driver_instance; }
};

inline void AddRows(MemoryFile& file, std::initializer_list<std::pair<int32_t, const char*>> rows) {
    for (auto [id, name] : rows) {
        TestRecord row;
        row.ID = id;
        row.NAME = name;
        file.Store().rows.push_back(row);
    }
}

} // namespace tarvex::testing
