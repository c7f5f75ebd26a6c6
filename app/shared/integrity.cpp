// SPDX-License-Identifier: GPL-3.0-or-later
// RiDeleteRecord and RiUpdateRecord over the sixteen files, with the cascades from a patient to
// its claims and from a claim to its service lines.
#include "shared/integrity.h"

#include <string>

#include "data/dictionary.h"
#include "shared/data_files.h"
#include "shared/standard_messages.h"
#include "tarvex/decimal.hpp"
#include "tarvex/program.hpp"

namespace lumarex {

namespace {

using namespace tarvex;

constexpr int32_t kTransactionSeconds = 2;
constexpr int32_t kNoMoreRecords = 33;
constexpr int32_t kChangedByAnotherStation = 89;

// The key a record's position is kept in: the file's primary key, else its first key.
KeyDecl* AccessKey(FileDecl* file) {
    for (uint8_t i = 0; i < file->key_count; i++)
        if (file->keys[i]->attributes & VRN_KEY_PRIMARY)
            return file->keys[i];
    return file->key_count > 0 ? file->keys[0] : nullptr;
}

// A read or delete that failed inside a cascade: the transaction is rolled back (by
// SaveFileError) and the failure reported.
bool CascadeFailed(int32_t message, const char* file) {
    SaveFileError();
    ShowStandardMessage(message, file);
    return false;
}

// Deletes the service lines of the claim in Invoice's record buffer, in key order.
bool DeleteClaimItems() {
    KeyDecl* key = Item.Key("ITM:INVPATPRVKEY");
    for (;;) {
        CLEAR(Item);
        Item.record.PRV = Invoice.record.PRV;
        Item.record.PAT = Invoice.record.PAT;
        Item.record.INV = Invoice.record.INV;
        SET(key, key);
        NEXT(Item);
        if (ERRORCODE() == kNoMoreRecords)
            return true;
        if (ERRORCODE() != 0)
            return CascadeFailed(35, "Item");
        if (Item.record.PRV != Invoice.record.PRV || Item.record.PAT != Invoice.record.PAT ||
            Item.record.INV != Invoice.record.INV)
            return true;
        DELETE(Item);
        if (ERRORCODE() != 0)
            return CascadeFailed(17, "Item");
    }
}

// Deletes the claims of the patient in Patient's record buffer, each with its service lines.
bool DeletePatientClaims() {
    KeyDecl* key = Invoice.Key("INV:PATPRVINVKEY");
    for (;;) {
        CLEAR(Invoice);
        Invoice.record.PAT = Patient.record.PAT;
        SET(key, key);
        NEXT(Invoice);
        if (ERRORCODE() == kNoMoreRecords)
            return true;
        if (ERRORCODE() != 0)
            return CascadeFailed(35, "Invoice");
        if (Invoice.record.PAT != Patient.record.PAT)
            return true;
        if (!DeleteClaimItems())
            return false;
        DELETE(Invoice);
        if (ERRORCODE() != 0)
            return CascadeFailed(17, "Invoice");
    }
}

} // namespace

int32_t RiDeleteRecord(FileRef file) {
    const std::string label = FileLabel(file);
    KeyDecl* key = AccessKey(file.decl);
    const std::string position = key != nullptr ? POSITION(key) : POSITION(file);
    const bool patient = file.decl == Patient.Decl();
    const bool claim = file.decl == Invoice.Decl();

    ProcedureFiles files;
    if (patient) {
        files.Use(Invoice);
        files.Use(Item);
        LOGOUT(kTransactionSeconds, Patient, Invoice, Item);
    } else if (claim) {
        files.Use(Item);
        LOGOUT(kTransactionSeconds, Invoice, Item);
    } else {
        LOGOUT(kTransactionSeconds, file);
    }
    if (ERRORCODE() != 0) {
        SaveFileError();
        ShowStandardMessage(34, "Delete", label);
        return 1;
    }

    if (key != nullptr)
        REGET(key, position);
    else
        REGET(file, position);
    if (ERRORCODE() != 0) {
        SaveFileError();
        ShowStandardMessage(35, label);
        return 1;
    }
    if (patient && !DeletePatientClaims())
        return 1;
    if (claim && !DeleteClaimItems())
        return 1;
    DELETE(file);
    if (ERRORCODE() == 0)
        COMMIT();
    if (ERRORCODE() != 0) {
        SaveFileError();
        ShowStandardMessage(17, label);
        return 1;
    }
    return 0;
}

int32_t RiUpdateRecord(FileRef file, bool quiet) {
    const std::string label = FileLabel(file);
    LOGOUT(kTransactionSeconds, file);
    if (ERRORCODE() != 0) {
        SaveFileError();
        ShowStandardMessage(34, "Update", label);
        return 1;
    }
    const std::string position = POSITION(file);
    PUT(file);
    if (ERRORCODE() == 0)
        COMMIT();
    if (ERRORCODE() == 0)
        return 0;

    const bool changed_elsewhere = ERRORCODE() == kChangedByAnotherStation;
    SaveFileError();
    if (!changed_elsewhere) {
        ShowStandardMessage(15, label);
        return 1;
    }
    if (quiet)
        ShowStandardMessage(38);
    else
        ShowStandardMessage(15, "Record Changed by Another Station");
    // Show the other station's version.
    REGET(file, position);
    return kRecordChangedElsewhere;
}

} // namespace lumarex
