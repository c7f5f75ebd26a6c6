// SPDX-License-Identifier: GPL-3.0-or-later
// QUEUE structures for C++ programs, through the exported queue operations only:
//
//     #define ROW_FIELDS(FIELD)          (each line of the macro ends with a backslash)
//         FIELD(LNAME, STRING(20))
//         FIELD(PAT,   DECIMAL(5, 0))
//         FIELD(BDUE,  DECIMAL(11, 2))
//     TARVEX_RECORD(RowRecord, "ROW", ROW_FIELDS)
//
//     tarvex::Queue<RowRecord> rows;
//     rows->LNAME = "Smith";
//     rows->PAT = 12;
//     rows.Add();                      // ADD(rows)
//     rows.AddAt(1);                   // ADD(rows, 1): first
//     rows.Add("+LNAME, -PAT");        // ADD(rows, +ROW:LNAME, -ROW:PAT) in key order
//     rows.Sort({1, -2});              // SORT by field numbers
//     for (int32_t i = 1; i <= rows.Records(); i++) { rows.GetAt(i); ... }
//     if (rows.Get("LNAME") ... ERRORCODE() ...
//
// The buffer is the record itself (rows->FIELD or rows.Buffer()); every operation leaves its
// outcome in ERRORCODE as the exported operation does. The queue is freed when the object goes.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "tarvex/queue.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace tarvex {

// A queue key: labels as text ("-LNAME, +PAT") or field numbers ({-2, 3}; negative descending).
class QueueKeySpec {
public:
    QueueKeySpec(const char* text) : text_(text ? text : "") {}   // NOLINT: keys read as text
    QueueKeySpec(std::initializer_list<int32_t> numbers) {
        uint32_t at = 0;
        for (int32_t number : numbers) {
            // A key longer than the limit keeps one number too many, so the runtime rejects it.
            if (number == 0 || at == VRN_QUEUE_MAX_KEY_FIELDS + 1) break;
            numbers_[at++] = number;
        }
        numbers_[at] = 0;
    }
    bool IsText() const { return text_ != nullptr; }
    const char* Text() const { return text_; }
    const int32_t* Numbers() const { return numbers_; }

private:
    const char* text_ = nullptr;
    int32_t numbers_[VRN_QUEUE_MAX_KEY_FIELDS + 2] = {};
};

template <class Record>
class Queue {
public:
    Queue() : declaration_{&buffer_, &Record::Type(), nullptr, sizeof(Record)} {
        Vrn$CLEAR(&buffer_, declaration_.type, 0);
    }
    ~Queue() { Vrn$FREEqueue(&declaration_); }
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    Record* operator->() { return &buffer_; }
    const Record* operator->() const { return &buffer_; }
    Record& Buffer() { return buffer_; }
    const Record& Buffer() const { return buffer_; }
    QueueDecl* Declaration() { return &declaration_; }

    void Add() { Vrn$ADDqueue(&declaration_); }
    void AddAt(int32_t position) { Vrn$ADDqueueptr(&declaration_, position); }
    void Add(const QueueKeySpec& key) {
        if (key.IsText()) {
            PushKey(key);
            Vrn$ADDqueueskey(&declaration_);
        } else {
            Vrn$ADDqueuekey(&declaration_, key.Numbers());
        }
    }
    void GetAt(int32_t position) { Vrn$GETqueueptr(&declaration_, position); }
    void Get(const QueueKeySpec& key) {
        if (key.IsText()) {
            PushKey(key);
            Vrn$GETqueueskey(&declaration_);
        } else {
            Vrn$GETqueuekey(&declaration_, key.Numbers());
        }
    }
    void Put() { Vrn$PUTqueue(&declaration_); }
    void Put(const QueueKeySpec& key) {
        if (key.IsText()) {
            PushKey(key);
            Vrn$PUTqueueskey(&declaration_);
        } else {
            Vrn$PUTqueuekey(&declaration_, key.Numbers());
        }
    }
    void Delete() { Vrn$DELETEqueue(&declaration_); }
    void Sort(const QueueKeySpec& key) {
        if (key.IsText()) {
            PushKey(key);
            Vrn$SORTqueueskey(&declaration_);
        } else {
            Vrn$SORTqueuekey(&declaration_, key.Numbers());
        }
    }
    int32_t Records() { return Vrn$RECORDSqueue(&declaration_); }
    int32_t Pointer() { return Vrn$POINTERqueue(&declaration_); }
    uint32_t Changes() { return Vrn$NUMCHANGESqueue(&declaration_); }
    void Free() { Vrn$FREEqueue(&declaration_); }
    void Clear(int32_t value = 0) { Vrn$CLEAR(&buffer_, declaration_.type, value); }
    // WHERE(queue, field): the field's number in the record, or 0.
    template <class Field>
    int32_t Where(const Field& field) {
        return Vrn$WHEREqueue(&declaration_, &field);
    }

private:
    static void PushKey(const QueueKeySpec& key) {
        Vrn$PushString(key.Text(), static_cast<uint32_t>(std::strlen(key.Text())));
    }

    Record buffer_;
    QueueDecl declaration_;
};

}  // namespace tarvex
