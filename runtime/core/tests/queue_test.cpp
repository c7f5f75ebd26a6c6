// SPDX-License-Identifier: GPL-3.0-or-later
// Queues: positions and POINTER, keyed ADD/GET/PUT with equal keys in arrival order, text and
// numeric keys, the stable sort against std::stable_sort, the change counter, the size classes up
// to the 1,000,000-entry limit, the error codes, and the C++ layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/queue.h"
#include "tarvex/frame.h"
#include "tarvex/queue.hpp"
#include "tarvex/string_stack.h"
#include "core/tests/test_support.h"

namespace {

#define QUEUE_ROW_FIELDS(FIELD)      \
    FIELD(NAME, STRING(10))          \
    FIELD(NUM, LONG)                 \
    FIELD(SEQ, LONG)                 \
    FIELD(AMOUNT, DECIMAL(7, 2))
TARVEX_RECORD(QueueRow, "ROW", QUEUE_ROW_FIELDS)

using Rows = tarvex::Queue<QueueRow>;

#define SMALL_ROW_FIELDS(FIELD) FIELD(N, LONG)
TARVEX_RECORD(SmallRow, "S", SMALL_ROW_FIELDS)

void Fill(Rows& rows, const char* name, int32_t num, int32_t seq) {
    rows->NAME = name;
    rows->NUM = num;
    rows->SEQ = seq;
}

std::string Name(const QueueRow& row) {
    std::string text(row.NAME.View());
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The SEQ values of all entries in queue order (reads every entry through GET by position).
std::vector<int32_t> Sequence(Rows& rows) {
    std::vector<int32_t> out;
    for (int32_t i = 1; i <= rows.Records(); i++) {
        rows.GetAt(i);
        out.push_back(rows->SEQ);
    }
    return out;
}

TEST(QueueDescriptor, RecordMacroDescribesEveryField) {
    const VrnTypeDesc& type = QueueRow::Type();
    EXPECT_EQ(sizeof(QueueRow), 22u);
    EXPECT_EQ(type.size, 22u);
    ASSERT_EQ(type.field_count, 4u);
    EXPECT_STREQ(type.prefix, "ROW");
    struct Expected {
        const char* label;
        uint32_t offset, size;
        uint8_t type, places;
    } expected[] = {
        {"ROW:NAME", 0, 10, VRN_TYPE_STRING, 0},
        {"ROW:NUM", 10, 4, VRN_TYPE_LONG, 0},
        {"ROW:SEQ", 14, 4, VRN_TYPE_LONG, 0},
        {"ROW:AMOUNT", 18, 4, VRN_TYPE_DECIMAL, 2},
    };
    for (uint32_t i = 0; i < 4; i++) {
        SCOPED_TRACE(expected[i].label);
        EXPECT_STREQ(type.fields[i].label, expected[i].label);
        EXPECT_EQ(type.fields[i].offset, expected[i].offset);
        EXPECT_EQ(type.fields[i].size, expected[i].size);
        EXPECT_EQ(type.fields[i].type, expected[i].type);
        EXPECT_EQ(type.fields[i].places, expected[i].places);
        EXPECT_EQ(type.fields[i].dimension, 1u);
    }
}

TEST(QueueKeys, EqualKeysKeepArrivalOrderAndKeyedGetFindsTheFirst) {
    Rows rows;
    const char* names[] = {"A", "B", "C"};
    for (int32_t i = 0; i < 3; i++) {
        Fill(rows, names[i], 7, i);
        rows.Add({2});
        EXPECT_EQ(Vrn$ERRCODE, 0);
        EXPECT_EQ(rows.Pointer(), i + 1);
    }
    for (int32_t i = 1; i <= 3; i++) {
        rows.GetAt(i);
        EXPECT_EQ(Name(rows.Buffer()), names[i - 1]);
    }
    Fill(rows, "", 7, -1);
    rows.Get({2});
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Name(rows.Buffer()), "A");
    EXPECT_EQ(rows.Pointer(), 1);
}

TEST(QueuePositions, AddByPositionZeroOrBeyondAppendsAndOnePutsFirst) {
    Rows rows;
    Fill(rows, "x", 0, 1);
    rows.Add();
    Fill(rows, "x", 0, 2);
    rows.AddAt(0);
    EXPECT_EQ(rows.Pointer(), 2);
    Fill(rows, "x", 0, 3);
    rows.AddAt(99);
    EXPECT_EQ(rows.Pointer(), 3);
    Fill(rows, "x", 0, 4);
    rows.AddAt(1);
    EXPECT_EQ(rows.Pointer(), 1);
    Fill(rows, "x", 0, 5);
    rows.AddAt(3);
    EXPECT_EQ(rows.Pointer(), 3);
    Fill(rows, "x", 0, 6);
    rows.AddAt(-4);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{4, 1, 5, 2, 3, 6}));
}

TEST(QueuePositions, GetOutsideTheEntriesPosts30) {
    Rows rows;
    for (int32_t i = 1; i <= 3; i++) {
        Fill(rows, "x", 0, i);
        rows.Add();
    }
    rows.GetAt(2);
    rows.GetAt(4);
    EXPECT_EQ(Vrn$ERRCODE, 30);
    EXPECT_EQ(rows.Pointer(), 2);
    EXPECT_EQ(rows->SEQ, 2);   // the buffer is untouched
    rows.GetAt(0);
    EXPECT_EQ(Vrn$ERRCODE, 30);
    EXPECT_EQ(rows.Pointer(), 0);
    rows.GetAt(-1);
    EXPECT_EQ(Vrn$ERRCODE, 30);
    rows.GetAt(3);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(rows->SEQ, 3);
}

TEST(QueuePositions, PutAndDeleteWorkAtPointer) {
    Rows rows;
    for (int32_t i = 1; i <= 4; i++) {
        Fill(rows, "x", 0, i);
        rows.Add();
    }
    rows.GetAt(2);
    rows->SEQ = 20;
    rows.Put();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    rows.GetAt(3);
    rows.Delete();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(rows.Pointer(), 3);   // keeps its value
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{1, 20, 4}));
    rows.GetAt(3);
    rows.Delete();
    rows.Delete();   // POINTER 3 is now beyond the last entry
    EXPECT_EQ(Vrn$ERRCODE, 30);
    rows.Put();
    EXPECT_EQ(Vrn$ERRCODE, 30);
    EXPECT_EQ(rows.Records(), 2);
    rows.GetAt(0);
    rows.Delete();
    EXPECT_EQ(Vrn$ERRCODE, 30);
    rows.Put();
    EXPECT_EQ(Vrn$ERRCODE, 30);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{1, 20}));
}

TEST(QueueKeys, KeyedPutMovesTheEntryAndPointerFollows) {
    Rows rows;
    for (int32_t i = 1; i <= 5; i++) {
        Fill(rows, "x", i * 10, i);
        rows.Add("NUM");
    }
    rows.GetAt(2);   // NUM 20
    rows->NUM = 45;
    rows.Put("NUM");
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(rows.Pointer(), 4);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{1, 3, 4, 2, 5}));
    // To an equal key: after the entries already there.
    rows.GetAt(1);
    rows->NUM = 40;
    rows.Put({2});
    EXPECT_EQ(rows.Pointer(), 3);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{3, 4, 1, 2, 5}));
}

TEST(QueueKeys, TextKeyMixesDirectionsAndUnknownLabelPosts75) {
    Rows rows;
    struct {
        const char* name;
        int32_t num;
    } input[] = {{"Baker", 2}, {"Adams", 1}, {"Baker", 1}, {"Clark", 5}, {"Adams", 3}};
    for (int32_t i = 0; i < 5; i++) {
        Fill(rows, input[i].name, input[i].num, i);
        rows.Add();
    }
    rows.Sort("-ROW:NAME, +NUM");
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{3, 2, 0, 1, 4}));
    uint32_t changes = rows.Changes();
    rows.Sort("NUM, NOSUCH");
    EXPECT_EQ(Vrn$ERRCODE, 75);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{3, 2, 0, 1, 4}));
    EXPECT_EQ(rows.Changes(), changes);
    // Separators: any run of commas, blanks and tabs; labels without regard to case.
    rows.Sort(" ,\tnum ,, -name");
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{2, 1, 0, 4, 3}));
    rows.Sort("-");
    EXPECT_EQ(Vrn$ERRCODE, 75);
}

TEST(QueueKeys, FieldNumbersOutOfRangePost75AndChangeNothing) {
    Rows rows;
    Fill(rows, "x", 1, 1);
    rows.Add();
    int32_t bad[] = {2, 5, -1, 0};
    Vrn$ADDqueuekey(rows.Declaration(), bad);
    EXPECT_EQ(Vrn$ERRCODE, 75);
    EXPECT_EQ(rows.Records(), 1);
    int32_t minimum[] = {INT32_MIN, 0};
    Vrn$SORTqueuekey(rows.Declaration(), minimum);
    EXPECT_EQ(Vrn$ERRCODE, 75);
    // Sixteen key fields are allowed, seventeen are not.
    rows.Add({1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4});
    EXPECT_EQ(Vrn$ERRCODE, 0);
    rows.Add({1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1});
    EXPECT_EQ(Vrn$ERRCODE, 75);
    EXPECT_EQ(rows.Records(), 2);
}

TEST(QueueKeys, KeyedGetWithoutMatchOrWithoutKeyFieldsPosts30) {
    Rows rows;
    for (int32_t i = 1; i <= 5; i++) {
        Fill(rows, "x", i * 2, i);
        rows.Add({2});
    }
    rows.GetAt(4);
    rows->NUM = 5;
    rows.Get({2});
    EXPECT_EQ(Vrn$ERRCODE, 30);
    EXPECT_EQ(rows.Pointer(), 4);
    rows.Get("");
    EXPECT_EQ(Vrn$ERRCODE, 30);
    for (int32_t num : {2, 4, 6, 8, 10}) {
        rows->NUM = num;
        rows.Get("NUM");
        EXPECT_EQ(Vrn$ERRCODE, 0);
        EXPECT_EQ(rows->SEQ, num / 2);
    }
    rows->NUM = 11;
    rows.Get("NUM");
    EXPECT_EQ(Vrn$ERRCODE, 30);
    rows->NUM = 1;
    rows.Get("NUM");
    EXPECT_EQ(Vrn$ERRCODE, 30);
}

TEST(QueueKeys, DecimalAndDescendingKeysOrderByValue) {
    Rows rows;
    const char* amounts[] = {"12.50", "-3.00", "0", "-12.75", "100.01", "-0.01"};
    for (int32_t i = 0; i < 6; i++) {
        Fill(rows, "x", 0, i);
        rows->AMOUNT = tarvex::Dec(amounts[i]);
        rows.Add("AMOUNT");
    }
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{3, 1, 5, 2, 0, 4}));
    rows.Sort({-4});
    EXPECT_EQ((Sequence(rows)), (std::vector<int32_t>{4, 0, 2, 5, 1, 3}));
}

TEST(QueueSort, SortOfOrderedEntriesMovesNone) {
    Rows rows;
    for (int32_t i = 0; i < 300; i++) {
        Fill(rows, "x", i / 7, i);
        rows.Add();
    }
    const QueueInstance* instance = rows.Declaration()->instance;
    std::vector<const uint8_t*> before;
    for (uint32_t i = 0; i < instance->entries.Count(); i++) before.push_back(instance->entries.At(i));
    rows.GetAt(17);
    rows.Sort("NUM");
    EXPECT_EQ(rows.Pointer(), 17);
    for (uint32_t i = 0; i < instance->entries.Count(); i++) EXPECT_EQ(instance->entries.At(i), before[i]);
}

// Differential: SORT and keyed ADD against std::stable_sort on the same rows, many equal keys.
TEST(QueueSort, SortAndKeyedAddMatchStableSortOverManyEqualKeys) {
    std::mt19937 random(42);
    for (int32_t count : {0, 1, 2, 3, 12, 13, 25, 100, 1000, 20000}) {
        SCOPED_TRACE(count);
        Rows sorted, inserted;
        std::vector<std::pair<int32_t, int32_t>> reference;   // (NUM, SEQ)
        for (int32_t i = 0; i < count; i++) {
            int32_t num = static_cast<int32_t>(random() % 5);
            Fill(sorted, "x", num, i);
            sorted.Add();
            Fill(inserted, "x", num, i);
            inserted.Add("-NUM");
            reference.emplace_back(num, i);
        }
        sorted.Sort({-2});
        std::stable_sort(reference.begin(), reference.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        std::vector<int32_t> expected;
        for (const auto& row : reference) expected.push_back(row.second);
        EXPECT_EQ(Sequence(sorted), expected);
        EXPECT_EQ(Sequence(inserted), expected);
        // A keyed GET finds the first of each run of equal keys.
        for (int32_t num = 0; num < 5; num++) {
            auto first = std::find_if(reference.begin(), reference.end(), [&](const auto& row) { return row.first == num; });
            sorted->NUM = num;
            sorted.Get({-2});
            if (first == reference.end()) {
                EXPECT_EQ(Vrn$ERRCODE, 30);
            } else {
                EXPECT_EQ(Vrn$ERRCODE, 0);
                EXPECT_EQ(sorted->SEQ, first->second);
                EXPECT_EQ(sorted.Pointer(), first - reference.begin() + 1);
            }
        }
    }
}

TEST(QueueState, ChangeCounterMovesWithChangesOnly) {
    Rows rows;
    Fill(rows, "x", 1, 1);
    uint32_t start = rows.Changes();
    rows.Add();
    uint32_t after_add = rows.Changes();
    EXPECT_NE(after_add, start);
    rows.GetAt(1);
    rows.Get("NUM");
    EXPECT_EQ(rows.Records(), 1);
    EXPECT_EQ(rows.Changes(), after_add);
    rows.Put();
    EXPECT_EQ(rows.Changes(), after_add + 1);
    rows.Sort("NUM");
    EXPECT_EQ(rows.Changes(), after_add + 2);
    rows.Delete();
    EXPECT_EQ(rows.Changes(), after_add + 3);
    rows.GetAt(5);   // a failed operation changes nothing
    rows.Put();
    EXPECT_EQ(rows.Changes(), after_add + 3);
}

TEST(QueueState, FreeReturnsTheDeclarationToNotCreated) {
    Rows rows;
    QueueDecl* queue = rows.Declaration();
    EXPECT_EQ(queue->instance, nullptr);
    EXPECT_EQ(rows.Records(), 0);   // creates it
    EXPECT_NE(queue->instance, nullptr);
    for (int32_t i = 0; i < 3; i++) rows.Add();
    rows.GetAt(2);
    rows.Free();
    EXPECT_EQ(queue->instance, nullptr);
    EXPECT_EQ(rows.Records(), 0);
    EXPECT_EQ(rows.Pointer(), 0);
    Vrn$FREEqueue(nullptr);   // ignored
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

TEST(QueueState, NullDeclarationPosts7) {
    Vrn$ADDqueue(nullptr);
    EXPECT_EQ(Vrn$ERRCODE, 7);
    Vrn$clearerror();
    EXPECT_EQ(Vrn$RECORDSqueue(nullptr), 0);
    EXPECT_EQ(Vrn$ERRCODE, 7);
    uint32_t depth = Vrw$StackDepth();
    tarvex::testing::PushText("NUM");
    Vrn$SORTqueueskey(nullptr);   // the key text is still taken off the stack
    EXPECT_EQ(Vrn$ERRCODE, 7);
    EXPECT_EQ(Vrw$StackDepth(), depth);
}

TEST(QueueState, NewAndDisposeOwnTheirBlockOnly) {
    QueueDecl* queue = Vrn$NEWqueue(&QueueRow::Type());
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->record_length, sizeof(QueueRow));
    auto* row = static_cast<QueueRow*>(queue->buffer);
    EXPECT_EQ(row->NAME.View(), "          ");   // cleared to blanks and zeros
    row->NUM = 3;
    Vrn$ADDqueue(queue);
    Vrn$ADDqueue(queue);
    EXPECT_EQ(Vrn$RECORDSqueue(queue), 2);
    Vrn$DISPOSEqueue(queue);   // ASan reports a leak or a double free if this is wrong

    Rows rows;
    rows.Add();
    Vrn$DISPOSEqueue(rows.Declaration());   // not made by NEWqueue: only freed
    EXPECT_EQ(rows.Declaration()->instance, nullptr);
    EXPECT_EQ(Vrn$NEWqueue(nullptr), nullptr);
    EXPECT_EQ(Vrn$ERRCODE, 75);
}

TEST(QueueState, WhereFindsTheFieldOfTheBuffer) {
    Rows rows;
    EXPECT_EQ(rows.Where(rows->NAME), 1);
    EXPECT_EQ(rows.Where(rows->SEQ), 3);
    EXPECT_EQ(rows.Where(rows->AMOUNT), 4);
    int outside = 0;
    EXPECT_EQ(rows.Where(outside), 0);
}

// The size classes observed through the capacity, up to the limit; one more entry is error 8.
TEST(QueueCapacity, GrowsThroughTheSizeClassesAndStopsAtTheLimit) {
    tarvex::Queue<SmallRow> rows;
    std::vector<uint32_t> seen{tarvex::QueueCapacity(rows.Declaration())};
    for (int32_t i = 0; i < VRN_QUEUE_MAX_ENTRIES; i++) {
        rows->N = i;
        rows.Add();
        uint32_t capacity = tarvex::QueueCapacity(rows.Declaration());
        if (capacity != seen.back()) seen.push_back(capacity);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 2, 4, 8, 16, 32, 64, 128, 256, 1024, 2048, 4096, 8192, 16000,
                                           32000, 65000, 130000, 250000, 500000, 1000000}));
    EXPECT_EQ(Vrn$ERRCODE, 0);
    rows.Add();
    EXPECT_EQ(Vrn$ERRCODE, 8);
    rows.AddAt(1);
    EXPECT_EQ(Vrn$ERRCODE, 8);
    EXPECT_EQ(rows.Records(), VRN_QUEUE_MAX_ENTRIES);
    EXPECT_EQ(rows.Pointer(), VRN_QUEUE_MAX_ENTRIES);
    rows.Sort({-1});
    rows.GetAt(1);
    EXPECT_EQ(rows->N, VRN_QUEUE_MAX_ENTRIES - 1);
    rows.Delete();
    rows.Add();   // room again
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

TEST(QueueDescriptor, CapacityOfQueueNotCreatedIsZero) {
    QueueDecl empty{nullptr, nullptr, nullptr, 0};
    EXPECT_EQ(tarvex::QueueCapacity(&empty), 0u);
    // A queue without a descriptor still stores records; any key is invalid.
    Vrn$ADDqueue(&empty);
    EXPECT_EQ(Vrn$RECORDSqueue(&empty), 1);
    int32_t key[] = {1, 0};
    Vrn$SORTqueuekey(&empty, key);
    EXPECT_EQ(Vrn$ERRCODE, 75);
    Vrn$FREEqueue(&empty);
}

}  // namespace
