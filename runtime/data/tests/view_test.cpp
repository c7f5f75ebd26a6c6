// SPDX-License-Identifier: GPL-3.0-or-later
// The view engine over a small keyed driver written for these tests: records in memory, key order
// by the key's fields then the record pointer, the state services around every operation, and
// counters of what reached the data, so a test can see how many rows a view read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/tests/test_support.h"
#include "tarvex/evaluate.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"
#include "tarvex/program.hpp"
#include "tarvex/values.h"
#include "tarvex/views.hpp"

namespace {

using namespace tarvex;

#define ROW_FIELDS(FIELD)                                                                                    \
    FIELD(ID, LONG)                                                                                          \
    FIELD(GRP, LONG)                                                                                         \
    FIELD(NAME, STRING(8))
TARVEX_RECORD(RowRecord, "ROW", ROW_FIELDS)

#define LINE_FIELDS(FIELD)                                                                                   \
    FIELD(OWNER, LONG)                                                                                       \
    FIELD(SEQ, LONG)                                                                                         \
    FIELD(TEXT, STRING(6))
TARVEX_RECORD(LineRecord, "LIN", LINE_FIELDS)

// ---- The keyed memory driver ----------------------------------------------------------------------

struct Store {
    uint32_t record_length = 0;
    std::vector<std::vector<uint8_t>> rows; // pointer = index + 1
    std::vector<bool> live;
    int reads = 0;
    int inview = 0, endview = 0;
};

enum class At { kNone, kEnds, kBefore, kOn };

struct KeyedFcb {
    Drv_FCB base;
    Store* store;
    int key;                    // -1 record order
    At at;
    std::vector<uint8_t> image; // the record whose key values the sequence stands at
    int32_t low, high;          // pointer bounds for kBefore, the pointer for kOn
    int32_t current;
};

std::map<std::string, Store>& Stores() {
    static std::map<std::string, Store> stores;
    return stores;
}
intptr_t query_view_answer = 0;
std::vector<int32_t> delegated_operations;

// Compares two records in the order of key `k`, without the pointer.
int CompareKey(const FileDecl* file, int k, const uint8_t* a, const uint8_t* b) {
    if (k < 0)
        return 0;
    const KeyDecl* key = file->keys[k];
    for (uint8_t i = 0; i < key->component_count; i++) {
        int32_t component = key->components[i];
        const VrnFieldDesc& field = file->record_type->fields[std::abs(component) - 1];
        int order = 0;
        if (field.type == VRN_TYPE_LONG) {
            int32_t x, y;
            std::memcpy(&x, a + field.offset, 4);
            std::memcpy(&y, b + field.offset, 4);
            order = x < y ? -1 : (x > y ? 1 : 0);
        } else {
            for (uint32_t c = 0; c < field.size && order == 0; c++) {
                uint8_t x = a[field.offset + c], y = b[field.offset + c];
                if ((key->attributes & VRN_KEY_NOCASE) != 0) {
                    x = uint8_t(std::toupper(x));
                    y = uint8_t(std::toupper(y));
                }
                order = x < y ? -1 : (x > y ? 1 : 0);
            }
        }
        if (order != 0)
            return component < 0 ? -order : order;
    }
    return 0;
}

int KeyIndex(const FileDecl* file, const KeyDecl* key) {
    for (int i = 0; i < file->key_count; i++) {
        if (file->keys[i] == key)
            return i;
    }
    return -1;
}

// One step of the sequence: the live pointers in order, then the first after (or before) the place.
int32_t Step(FileDecl* file, KeyedFcb* fcb, bool forward) {
    Store& s = *fcb->store;
    std::vector<int32_t> order;
    for (size_t i = 0; i < s.rows.size(); i++) {
        if (s.live[i])
            order.push_back(int32_t(i + 1));
    }
    auto less = [&](int32_t x, int32_t y) {
        int c = CompareKey(file, fcb->key, s.rows[size_t(x - 1)].data(), s.rows[size_t(y - 1)].data());
        return c != 0 ? c < 0 : x < y;
    };
    std::stable_sort(order.begin(), order.end(), less);
    // Position of an entry against the place: <0 before it, 0 on it, >0 after it.
    auto against = [&](int32_t pointer, int32_t bound) {
        int c = CompareKey(file, fcb->key, s.rows[size_t(pointer - 1)].data(), fcb->image.data());
        if (c != 0)
            return c;
        return pointer < bound ? -1 : (pointer > bound ? 1 : 0);
    };
    int32_t found = 0;
    if (fcb->at == At::kNone)
        return 33;
    if (forward) {
        for (int32_t pointer : order) {
            if (fcb->at == At::kEnds || (fcb->at == At::kBefore && against(pointer, fcb->low) >= 0) ||
                (fcb->at == At::kOn && against(pointer, fcb->low) > 0)) {
                found = pointer;
                break;
            }
        }
    } else {
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            int32_t pointer = *it;
            if (fcb->at == At::kEnds || (fcb->at == At::kBefore && against(pointer, fcb->high) <= 0) ||
                (fcb->at == At::kOn && against(pointer, fcb->low) < 0)) {
                found = pointer;
                break;
            }
        }
    }
    if (found == 0) {
        fcb->at = At::kNone;
        return 33;
    }
    s.reads++;
    std::memcpy(file->record, s.rows[size_t(found - 1)].data(), s.record_length);
    fcb->current = found;
    fcb->at = At::kOn;
    fcb->image = s.rows[size_t(found - 1)];
    fcb->low = fcb->high = found;
    return 0;
}

void Place(KeyedFcb* fcb, int key, const uint8_t* image, uint32_t length, int32_t low, int32_t high) {
    fcb->key = key;
    fcb->at = At::kBefore;
    fcb->image.assign(image, image + length);
    fcb->low = low;
    fcb->high = high;
}

// POSITION texts: "P" and the pointer.
int32_t Decode(const std::string& text) {
    if (text.size() < 2 || text[0] != 'P')
        return 0;
    return std::atoi(text.c_str() + 1);
}

intptr_t KeyedDriver(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    auto* fcb = reinterpret_cast<KeyedFcb*>(file->driver_instance);
    KeyDecl* key = _drv_OperationTakesKey(operation) ? reinterpret_cast<KeyDecl*>(arguments[0]) : nullptr;
    std::string text;
    if (operation == VRN_OP_RESET_FILE || operation == VRN_OP_RESET_KEY || operation == VRN_OP_REGET_FILE ||
        operation == VRN_OP_REGET_KEY || operation == VRN_OP_SET_PROPERTY || operation == VRN_OP_SEND)
        text = tarvex::testing::PopText();
    bool pushes = operation == VRN_OP_POSITION_FILE || operation == VRN_OP_POSITION_KEY ||
                  operation == VRN_OP_NAME || operation == VRN_OP_GET_PROPERTY || operation == VRN_OP_SEND;
    if (operation == VRN_OP_QUERY_VIEW) {
        Vrn$clearerror();
        return query_view_answer;
    }
    Drv_FCB* base = fcb != nullptr ? &fcb->base : nullptr;
    int32_t code = _drv_check_state(base, key, operation, text.data(), uint32_t(text.size()));
    if (code != 0) {
        Vrn$seterror(code == -1 ? 80 : code);
        if (pushes)
            Vrn$PushString("", 0);
        _drv_update_state(base, key, operation, Vrn$ERRCODE, 0);
        return 0;
    }
    intptr_t result = 0;
    std::string out;
    int k = key != nullptr ? KeyIndex(file, key) : -1;
    const auto* record = static_cast<const uint8_t*>(file->record);
    switch (operation) {
    case VRN_OP_OPEN: {
        fcb = static_cast<KeyedFcb*>(std::calloc(1, sizeof(KeyedFcb)));
        new (&fcb->image) std::vector<uint8_t>();
        fcb->base.name = _drv_MakeCSTRING(file->name, file->name_length);
        fcb->base.file = file;
        fcb->store = &Stores()[fcb->base.name];
        fcb->store->record_length = file->record_length;
        fcb->key = -1;
        fcb->at = At::kNone;
        if ((arguments[0] & 0x0F) != 0)
            fcb->base.state |= VRN_STATE_WRITABLE;
        file->driver_instance = &fcb->base;
        base = &fcb->base;
        break;
    }
    case VRN_OP_CLOSE:
        std::free(fcb->base.name);
        fcb->image.~vector();
        std::free(fcb);
        file->driver_instance = nullptr;
        Vrn$clearerror();
        return 0;
    case VRN_OP_SET_FILE:
        fcb->key = -1;
        fcb->at = At::kEnds;
        break;
    case VRN_OP_SET_KEY:
        fcb->key = k;
        fcb->at = At::kEnds;
        break;
    case VRN_OP_SET_KEY_KEY:
        Place(fcb, k, record, file->record_length, INT32_MIN, INT32_MAX);
        break;
    case VRN_OP_SET_KEY_KEY_POINTER:
        Place(fcb, k, record, file->record_length, int32_t(arguments[1]), int32_t(arguments[1]));
        break;
    case VRN_OP_SET_FILE_POINTER:
        Place(fcb, -1, record, file->record_length, int32_t(arguments[0]), int32_t(arguments[0]));
        break;
    case VRN_OP_NEXT:
    case VRN_OP_PREVIOUS:
        code = Step(file, fcb, operation == VRN_OP_NEXT);
        break;
    case VRN_OP_POSITION_FILE:
    case VRN_OP_POSITION_KEY:
        out = "P" + std::to_string(fcb->current);
        break;
    case VRN_OP_RESET_FILE:
    case VRN_OP_RESET_KEY: {
        int32_t pointer = Decode(text);
        if (pointer < 1 || size_t(pointer) > fcb->store->rows.size() || !fcb->store->live[size_t(pointer - 1)]) {
            code = 35;
            break;
        }
        Place(fcb, k, fcb->store->rows[size_t(pointer - 1)].data(), file->record_length, pointer, pointer);
        break;
    }
    case VRN_OP_REGET_FILE:
    case VRN_OP_GET_FILE_POINTER: {
        int32_t pointer = operation == VRN_OP_REGET_FILE ? Decode(text) : int32_t(arguments[0]);
        if (pointer < 1 || size_t(pointer) > fcb->store->rows.size() || !fcb->store->live[size_t(pointer - 1)]) {
            code = 35;
            break;
        }
        fcb->store->reads++;
        fcb->current = pointer;
        std::memcpy(file->record, fcb->store->rows[size_t(pointer - 1)].data(), file->record_length);
        break;
    }
    case VRN_OP_GET_FILE_KEY:
        code = 35;
        for (size_t i = 0; i < fcb->store->rows.size(); i++) {
            if (fcb->store->live[i] && CompareKey(file, k, fcb->store->rows[i].data(), record) == 0) {
                fcb->current = int32_t(i + 1);
                std::memcpy(file->record, fcb->store->rows[i].data(), file->record_length);
                code = 0;
                break;
            }
        }
        break;
    case VRN_OP_POINTER_FILE:
        result = fcb->current;
        break;
    case VRN_OP_RECORDS_FILE:
        result = std::count(fcb->store->live.begin(), fcb->store->live.end(), true);
        break;
    case VRN_OP_QUERY_KEY:
        result = fcb->key + 1;
        break;
    case VRN_OP_ADD:
        fcb->store->rows.emplace_back(record, record + file->record_length);
        fcb->store->live.push_back(true);
        fcb->current = int32_t(fcb->store->rows.size());
        break;
    case VRN_OP_PUT:
        fcb->store->rows[size_t(fcb->current - 1)].assign(record, record + file->record_length);
        break;
    case VRN_OP_DELETE:
        fcb->store->live[size_t(fcb->current - 1)] = false;
        break;
    case VRN_OP_INVIEW:
        fcb->store->inview++;
        fcb->base.state |= VRN_STATE_IN_VIEW;
        break;
    case VRN_OP_ENDVIEW:
        fcb->store->endview++;
        fcb->base.state &= ~VRN_STATE_IN_VIEW;
        break;
    case VRN_OP_WATCH:
    case VRN_OP_HOLD:
    case VRN_OP_RELEASE:
        break;
    default:
        code = 80;
        break;
    }
    if (code != 0)
        Vrn$seterror(code);
    else
        Vrn$clearerror();
    if (pushes)
        Vrn$PushString(out.data(), uint32_t(code == 0 ? out.size() : 0));
    _drv_update_state(base, key, operation, code, 0);
    return result;
}

// A driver that runs views itself: it records what it receives and gives the declaration back to
// VIEWDRIVER at CLOSE.
intptr_t OwnViewFunction(int32_t operation, FileDecl* view, const intptr_t*) {
    delegated_operations.push_back(operation);
    if (operation == VRN_OP_CLOSE)
        reinterpret_cast<ViewDecl*>(view)->driver = VIEWDRIVER;
    Vrn$clearerror();
    return 0;
}

// A driver that serves some reads itself and hands the rest, OPEN and CLOSE among them, to the
// generic engine.
intptr_t HandingViewFunction(int32_t operation, FileDecl* view, const intptr_t* arguments) {
    delegated_operations.push_back(operation);
    return VIEWENGINE(operation, view, arguments);
}

// ---- Fixture ---------------------------------------------------------------------------------------

class ViewTest : public ::testing::Test {
  protected:
    tarvex::testing::TemporaryDrive drive;
    File<RowRecord> rows{KeyedDriver, "ROWS", {KEY("ROW:IDKEY", "+ID", OPT | PRIMARY),
                                               KEY("ROW:GRPKEY", "+GRP,+ID", DUP),
                                               KEY("ROW:NAMEKEY", "+NAME", DUP | NOCASE)}};
    File<LineRecord> lines{KeyedDriver, "LINES", {KEY("LIN:OWNERKEY", "+OWNER,+SEQ", DUP)}};
    int32_t wanted_group = 0;

    void SetUp() override {
        Stores().clear();
        query_view_answer = 0;
        delegated_operations.clear();
        Vrn$PushBind2(1);
        Vrn$BindG(Vrn$Group2Ufo(&rows.record, &RowRecord::Type()));
        Vrn$BindG(Vrn$Group2Ufo(&lines.record, &LineRecord::Type()));
        Vrn$PushString("WANTED", 6);
        Vrn$BindV(Vrn$Mem2Ufo(&wanted_group, VRN_TYPE_LONG, 0, 4, 0));
        OPEN(rows);
        OPEN(lines);
        // Rows 1..12 in groups of three (group = (id - 1) / 3 + 1), added out of key order.
        const char* names[] = {"delta", "Alpha", "echo", "bravo", "Golf", "foxtrot",
                               "hotel", "India", "juliet", "kilo", "Lima", "mike"};
        for (int32_t id : {7, 1, 10, 4, 2, 8, 11, 5, 3, 9, 12, 6}) {
            rows.record.ID = id;
            rows.record.GRP = (id - 1) / 3 + 1;
            rows.record.NAME = names[id - 1];
            ADD(rows);
        }
        // Lines: row 1 has two, row 2 one, row 4 two; the others none.
        for (auto [owner, seq, text] : {std::tuple{1, 2, "b"}, {1, 1, "a"}, {2, 1, "c"}, {4, 1, "d"}, {4, 2, "e"}}) {
            lines.record.OWNER = owner;
            lines.record.SEQ = seq;
            lines.record.TEXT = text;
            ADD(lines);
        }
        Vrn$CLEAR(&lines.record, &LineRecord::Type(), 0);
        Stores()["ROWS"].reads = 0;
    }
    void TearDown() override {
        CLOSE(rows);
        CLOSE(lines);
        Vrn$PopBind();
    }

    // Reads the view to its end; the ids (and line texts when joined) it gave.
    std::vector<std::string> ReadAll(View& view, bool backward = false, int limit = 100) {
        std::vector<std::string> out;
        for (int i = 0; i < limit; i++) {
            backward ? PREVIOUS(view) : NEXT(view);
            if (ERRORCODE() != 0)
                break;
            out.push_back(Row());
        }
        return out;
    }
    std::string Row() {
        std::string text = std::to_string(int32_t(rows.record.ID));
        std::string line(lines.record.TEXT.Data(), 6);
        line.erase(line.find_last_not_of(' ') + 1);
        if (!line.empty())
            text += line;
        return text;
    }
};

using Ids = std::vector<std::string>;

// ---- Starting a view ---------------------------------------------------------------------------------

TEST_F(ViewTest, SetOnTheViewIsUnsupportedAndTheViewStartsFromASetOnItsPrimaryFile) {
    View view{VIEW(rows)};
    OPEN(view);
    ASSERT_EQ(ERRORCODE(), 0);
    SET(view.Decl());
    EXPECT_EQ(ERRORCODE(), 80);
    NEXT(view);
    EXPECT_EQ(ERRORCODE(), 33) << "no sequence before a SET on the primary file";

    SET(rows.Key("ROW:NAMEKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"2", "4", "1", "3", "6", "5", "7", "8", "9", "10", "11", "12"}));

    // With the key's values in the buffer the view reads from that key position.
    rows.record.NAME = "JU";
    Vrn$FILE_SETkk(rows.Key("ROW:NAMEKEY"), rows.Key("ROW:NAMEKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"9", "10", "11", "12"}));

    // A primary file SET in record order (its driver answers QUERY_KEY with 0).
    SET(rows);
    EXPECT_EQ(ReadAll(view), (Ids{"7", "1", "10", "4", "2", "8", "11", "5", "3", "9", "12", "6"}));
    CLOSE(view);
}

TEST_F(ViewTest, OperationsBeforeOpenAndASecondOpenAreRefused) {
    View view{VIEW(rows)};
    NEXT(view);
    EXPECT_EQ(ERRORCODE(), 37);
    CLOSE(view);
    EXPECT_EQ(ERRORCODE(), 37);
    OPEN(view);
    EXPECT_EQ(ERRORCODE(), 0);
    OPEN(view);
    EXPECT_EQ(ERRORCODE(), 52);
    CLOSE(view);
    EXPECT_EQ(ERRORCODE(), 0);
    NEXT(view);
    EXPECT_EQ(ERRORCODE(), 37);
}

TEST_F(ViewTest, OpenNeedsAnOpenPrimaryFileAndTakesItsWriteAccess) {
    View view{VIEW(rows)};
    CLOSE(rows);
    OPEN(view);
    EXPECT_EQ(ERRORCODE(), 37);
    OPEN(rows, ReadOnly | DenyNone);
    OPEN(view);
    ASSERT_EQ(ERRORCODE(), 0);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    ASSERT_EQ(ERRORCODE(), 0);
    PUT(view);
    EXPECT_EQ(ERRORCODE(), 5) << "a view over a read-only file is not writable";
    CLOSE(view);
}

// ---- Filters and joins ---------------------------------------------------------------------------

TEST_F(ViewTest, AFilterNoRowPassesEndsAtTheFirstRead) {
    View view{VIEW(rows), "ROW:GRP = 99"};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    EXPECT_EQ(ERRORCODE(), 33);
    // The end drops the sequence until the next SET; then the plan starts again.
    FILTER(view, "ROW:GRP = 4");
    PREVIOUS(view);
    EXPECT_EQ(ERRORCODE(), 33);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view, true), (Ids{"12", "11", "10"}));
    CLOSE(view);
}

TEST_F(ViewTest, AnEmptyFilterRemovesTheFilterAtTheNextRead) {
    View view{VIEW(rows)};
    FILTER(view, "ROW:GRP = 2");
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"4", "5", "6"}));
    FILTER(view, "");
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view).size(), 12u);
    CLOSE(view);
}

TEST_F(ViewTest, OuterJoinsKeepTheParentAndInnerJoinsDropIt) {
    View outer{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID")), "ROW:GRP <= 2"};
    OPEN(outer);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(outer), (Ids{"1a", "1b", "2c", "3", "4d", "4e", "5", "6"}));
    // Backwards the children come in reverse too.
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(outer, true, 4), (Ids{"6", "5", "4e", "4d"}));
    CLOSE(outer);

    View inner{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID").INNER())};
    OPEN(inner);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(inner), (Ids{"1a", "1b", "2c", "4d", "4e"}));
    CLOSE(inner);
}

TEST_F(ViewTest, AJoinByConditionComparesEachChildRow) {
    View view{VIEW(rows).JOIN(JOIN(lines, "LIN:OWNER = ROW:ID AND LIN:SEQ = 2").INNER())};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"1b", "4e"}));
    CLOSE(view);
}

TEST_F(ViewTest, TheDirectionTurnsRoundOnTheCurrentRow) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID"))};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view, false, 4), (Ids{"1a", "1b", "2c", "3"}));
    EXPECT_EQ(ReadAll(view, true, 2), (Ids{"2c", "1b"}));
    EXPECT_EQ(ReadAll(view, false, 2), (Ids{"2c", "3"}));
    SKIP(view, 2);
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Row(), "4e");
    CLOSE(view);
}

// ---- The key requirement: a filtered key scan reads only its range ---------------------------------

TEST_F(ViewTest, AKeyScanIsBoundedByTheFiltersEqualityTermsOnTheKey) {
    View view{VIEW(rows), "ROW:GRP = WANTED AND ROW:NAME <> 'nobody'"};
    wanted_group = 3;
    OPEN(view);
    SET(rows.Key("ROW:GRPKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"7", "8", "9"}));
    // The row the program's SET stood on, the three rows, and one that shows the range ended.
    EXPECT_LE(Stores()["ROWS"].reads, 5);

    Stores()["ROWS"].reads = 0;
    wanted_group = 2;
    CLOSE(view);
    OPEN(view);
    SET(rows.Key("ROW:GRPKEY"));
    EXPECT_EQ(ReadAll(view, true), (Ids{"6", "5", "4"}));
    EXPECT_LE(Stores()["ROWS"].reads, 5);
    CLOSE(view);
}

TEST_F(ViewTest, ABoundedScanStartedBelowItsRangeStillFindsTheRange) {
    // The program SETs the primary file at the start of the key; the filter's range lies further on.
    View view{VIEW(rows), "ROW:GRP = 4"};
    OPEN(view);
    SET(rows.Key("ROW:GRPKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"10", "11", "12"}));
    CLOSE(view);
}

TEST_F(ViewTest, TermsThatCannotFixTheKeyLeaveTheScanWhole) {
    // An OR at the top, or a value that depends on the row, gives no range; the rows are right.
    View either{VIEW(rows), "ROW:GRP = 1 OR ROW:GRP = 4"};
    OPEN(either);
    SET(rows.Key("ROW:GRPKEY"));
    EXPECT_EQ(ReadAll(either), (Ids{"1", "2", "3", "10", "11", "12"}));
    CLOSE(either);
    View self{VIEW(rows), "ROW:GRP = ROW:ID - 2"};
    OPEN(self);
    SET(rows.Key("ROW:GRPKEY"));
    EXPECT_EQ(ReadAll(self), (Ids{"3", "4"}));
    CLOSE(self);
}

TEST_F(ViewTest, ANocaseKeyRangeMatchesWhateverTheCase) {
    View view{VIEW(rows), "UPPER(ROW:NAME) = 'INDIA' AND ROW:NAME = 'India'"};
    OPEN(view);
    SET(rows.Key("ROW:NAMEKEY"));
    EXPECT_EQ(ReadAll(view), (Ids{"8"}));
    EXPECT_LE(Stores()["ROWS"].reads, 3);
    CLOSE(view);
}

// ---- Positions -------------------------------------------------------------------------------------

TEST_F(ViewTest, PositionThenResetReadsTheSameRowAgain) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID"))};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view, false, 2), (Ids{"1a", "1b"}));
    std::string position = POSITION(view);
    EXPECT_EQ(ReadAll(view, false, 3), (Ids{"2c", "3", "4d"}));
    RESET(view, position + std::string(40, ' '));
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(ReadAll(view, false, 2), (Ids{"1b", "2c"}));
    RESET(view, position);
    EXPECT_EQ(ReadAll(view, true, 2), (Ids{"1b", "1a"}));

    // An outer row without a child keeps an empty part.
    ReadAll(view);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view, false, 4).back(), "3");
    std::string lonely = POSITION(view);
    NEXT(view);
    REGET(view, lonely);
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Row(), "3");
    CLOSE(view);
}

TEST_F(ViewTest, AfterFlushResetRereadsTheRowAndTakesANewFilter) {
    View view{VIEW(rows), "ROW:GRP = 1"};
    OPEN(view);
    SET(rows.Key("ROW:GRPKEY"));
    NEXT(view);
    NEXT(view);
    std::string position = POSITION(view);
    ASSERT_EQ(Row(), "2");
    FLUSH(view);
    EXPECT_EQ(ERRORCODE(), 0);
    FILTER(view, "ROW:GRP = 1 AND ROW:ID <> 3");
    rows.record.ID = 77;
    RESET(view, position);
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Row(), "2") << "the row at the position is in the buffer";
    EXPECT_EQ(ReadAll(view), (Ids{"2"}));
    CLOSE(view);
}

TEST_F(ViewTest, PositionsThatCannotBeTakenAreRefused) {
    View view{VIEW(rows)};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    RESET(view, "   ");
    EXPECT_EQ(ERRORCODE(), 35);
    RESET(view, "zz");
    EXPECT_EQ(ERRORCODE(), 81);
    REGET(view, "0003P99");
    EXPECT_EQ(ERRORCODE(), 81);
    RESET(view, "0003P99");
    ASSERT_EQ(ERRORCODE(), 0);
    NEXT(view);
    EXPECT_EQ(ERRORCODE(), 81) << "the part names no record";
    CLOSE(view);
}

TEST_F(ViewTest, AViewKeepsItsPlaceWhenItsFilesAreReadInBetween) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID")), "ROW:GRP <= 2"};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(ReadAll(view, false, 3), (Ids{"1a", "1b", "2c"}));
    // The program reads both files directly, moving their cursors and buffers.
    SET(rows.Key("ROW:NAMEKEY"));
    NEXT(rows);
    SET(lines.Key("LIN:OWNERKEY"));
    NEXT(lines);
    NEXT(lines);
    EXPECT_EQ(ReadAll(view), (Ids{"3", "4d", "4e", "5", "6"}));
    CLOSE(view);
}

TEST_F(ViewTest, ResetViewFileAndSetViewStartWhereTheyWereTold) {
    View view{VIEW(rows), nullptr, "ROW:GRP, ROW:ID"};
    OPEN(view);
    rows.record.ID = 8;
    GET(rows.Key("ROW:IDKEY"));
    RESET(view, rows);
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(ReadAll(view, false, 2), (Ids{"8", "9"}));
    rows.record.GRP = 2;
    rows.record.ID = 6;
    SET(view, 2);
    EXPECT_EQ(ReadAll(view, false, 2), (Ids{"6", "7"}));
    CLOSE(view);
}

// ---- ORDER -----------------------------------------------------------------------------------------

TEST_F(ViewTest, AnOrderUsesAMatchingKeyOrSortsTheRows) {
    View by_key{VIEW(rows), nullptr, "-ROW:GRP, -ROW:ID"};
    OPEN(by_key);
    SET(by_key, 0);
    EXPECT_EQ(ReadAll(by_key, false, 4), (Ids{"12", "11", "10", "9"}));
    CLOSE(by_key);

    // No key serves an expression: the rows are sorted.
    View sorted{VIEW(rows), "ROW:GRP >= 3", "-(ROW:GRP * 100 - ROW:ID)"};
    OPEN(sorted);
    SET(sorted, 0);
    EXPECT_EQ(ReadAll(sorted), (Ids{"10", "11", "12", "7", "8", "9"}));
    // A position inside the sorted rows restores there.
    SET(sorted, 0);
    EXPECT_EQ(ReadAll(sorted, false, 2), (Ids{"10", "11"}));
    std::string position = POSITION(sorted);
    EXPECT_EQ(ReadAll(sorted, false, 2), (Ids{"12", "7"}));
    RESET(sorted, position);
    EXPECT_EQ(ReadAll(sorted, false, 2), (Ids{"11", "12"}));
    EXPECT_EQ(ReadAll(sorted, true, 2), (Ids{"11", "10"}));
    EXPECT_EQ(PROP(sorted, VRN_VIEW_PROP_ORDER, 1), "-(ROW:GRP * 100 - ROW:ID)");
    CLOSE(sorted);
}

// ---- Properties, operations on the primary file, counts --------------------------------------------

TEST_F(ViewTest, PropertiesDescribeTheView) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID")), "ROW:GRP = 1", "ROW:ID"};
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_FILTER), "ROW:GRP = 1");
    OPEN(view);
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_FILES), "2");
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_FILE, 2), std::to_string(reinterpret_cast<uintptr_t>(lines.Decl())));
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_FILE, 3), "");
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_ORDER), "ROW:ID");
    Vrn$PushString("1", 1);
    Vrn$FILE_SET_PROPERTY(view.Decl(), VRN_VIEW_PROP_TRACE_FILES);
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_TRACE_FILES), "1");
    EXPECT_EQ(PROP(view, 12345), "");
    CLOSE(view);
    // A new instance takes the declared texts again.
    FILTER(view, "ROW:GRP = 2");
    CLOSE(view);
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_FILTER), "ROW:GRP = 1");
}

TEST_F(ViewTest, PutAndDeleteActOnThePrimaryFile) {
    View view{VIEW(rows), "ROW:GRP = 2"};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    ASSERT_EQ(Row(), "4");
    rows.record.NAME = "changed";
    PUT(view);
    EXPECT_EQ(ERRORCODE(), 0);
    NEXT(view);
    DELETE(view);
    EXPECT_EQ(ERRORCODE(), 0);
    CLOSE(view);
    rows.record.ID = 4;
    GET(rows.Key("ROW:IDKEY"));
    EXPECT_EQ(std::string(rows.record.NAME.Data(), 7), "changed");
    EXPECT_EQ(RECORDS(rows), 11);
}

TEST_F(ViewTest, WatchArmsThePrimaryFileForTheNextReadOnly) {
    View view{VIEW(rows)};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    WATCH(view);
    NEXT(view);
    EXPECT_NE(rows.Decl()->driver_instance->state & VRN_STATE_WATCHED, 0u);
    NEXT(view);
    EXPECT_EQ(rows.Decl()->driver_instance->state & VRN_STATE_WATCHED, 0u);
    CLOSE(view);
}

TEST_F(ViewTest, GetByPointerReadsThatRecordAndJoinsItsFiles) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID"))};
    OPEN(view);
    // Pointer 5 is the fifth record added: id 2, whose one line is "c".
    GET(view.Decl(), 5);
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Row(), "2c");
    GET(view.Decl(), 99);
    EXPECT_EQ(ERRORCODE(), 35);
    CLOSE(view);
}

TEST_F(ViewTest, RecordsCountsThePlanAndKeepsThePlace) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID").INNER())};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    EXPECT_EQ(RECORDS(view), 5);
    EXPECT_EQ(ReadAll(view), (Ids{"1b", "2c", "4d", "4e"}));
    CLOSE(view);
}

TEST_F(ViewTest, ReadsMarkTheFilesAsInAView) {
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID"))};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    NEXT(view);
    EXPECT_EQ(Stores()["ROWS"].inview, 2);
    EXPECT_EQ(Stores()["LINES"].endview, 2);
    EXPECT_EQ(rows.Decl()->driver_instance->state & VRN_STATE_IN_VIEW, 0u);
    CLOSE(view);
}

TEST_F(ViewTest, APrimaryDriverThatRunsViewsReceivesEveryOperation) {
    query_view_answer = reinterpret_cast<intptr_t>(&OwnViewFunction);
    View view{VIEW(rows)};
    OPEN(view);
    EXPECT_EQ(view.Block()->driver, &OwnViewFunction);
    NEXT(view);
    CLOSE(view);
    EXPECT_EQ(delegated_operations, (std::vector<int32_t>{VRN_OP_OPEN, VRN_OP_NEXT, VRN_OP_CLOSE}));
    EXPECT_EQ(view.Block()->driver, &VIEWDRIVER);
}

TEST_F(ViewTest, AThreadsDelegatedViewStaysWithItsDriverWhenAnotherThreadClosesTheSameView) {
    query_view_answer = reinterpret_cast<intptr_t>(&HandingViewFunction);
    View view{VIEW(rows)};
    OPEN(view);
    std::thread other([&] {
        OPEN(view);
        CLOSE(view); // puts VIEWDRIVER back into the shared declaration
    });
    other.join();
    EXPECT_EQ(view.Block()->driver, &VIEWDRIVER);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    EXPECT_EQ(ERRORCODE(), 0);
    CLOSE(view);
    EXPECT_EQ(delegated_operations,
              (std::vector<int32_t>{VRN_OP_OPEN, VRN_OP_OPEN, VRN_OP_CLOSE, VRN_OP_NEXT, VRN_OP_CLOSE}));
}

TEST_F(ViewTest, UnparsableTextsAndDamagedStructuresAreErrors) {
    View view{VIEW(rows), "ROW:GRP = = 2"};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    EXPECT_NE(ERRORCODE(), 0);
    EXPECT_NE(ERRORCODE(), 33);
    CLOSE(view);

    uint8_t code[] = {1, 0, 0xFF, 0xFF, 0}; // a primary node with a join link
    void* components[] = {rows.Decl()};
    ViewDecl damaged{VIEWDRIVER, code, components, nullptr, nullptr};
    Vrn$FILE_OPEN(reinterpret_cast<FileDecl*>(&damaged), 0x22);
    EXPECT_EQ(ERRORCODE(), 47);
}

TEST_F(ViewTest, TwoThreadsReadTheSameViewEachFromItsOwnPlace) {
    View view{VIEW(rows), "ROW:GRP = WANTED"};
    std::mutex runtime_lock; // the one lock program code runs under
    std::vector<std::string> seen[2];
    auto reader = [&](int which) {
        std::lock_guard first(runtime_lock);
        Vrn$PushBind2(1);
        Vrn$BindG(Vrn$Group2Ufo(&rows.record, &RowRecord::Type()));
        Vrn$PushString("WANTED", 6);
        Vrn$BindV(Vrn$Long2Ufo(which == 0 ? 1 : 4));
        OPEN(view);
        SET(rows.Key("ROW:GRPKEY"));
        for (int i = 0; i < 4; i++) {
            NEXT(view);
            if (ERRORCODE() != 0)
                break;
            seen[which].push_back(Row());
            runtime_lock.unlock();
            std::this_thread::yield();
            runtime_lock.lock();
        }
        CLOSE(view);
        Vrn$PopBind();
    };
    std::thread a(reader, 0), b(reader, 1);
    a.join();
    b.join();
    EXPECT_EQ(seen[0], (Ids{"1", "2", "3"}));
    EXPECT_EQ(seen[1], (Ids{"10", "11", "12"}));
}

TEST_F(ViewTest, TracingWritesTheStructureAndEachOperation) {
    std::filesystem::create_directories(drive.Root() / "WINDOWS");
    {
        std::ofstream profile(drive.Root() / "WINDOWS" / "WIN.INI");
        profile << "[VXVIEW]\nProfile=1\nTraceFile=C:\\VIEWS.LOG\n";
    }
    View view{VIEW(rows).JOIN(JOIN(lines.Key("LIN:OWNERKEY"), "ROW:ID").PROJECT("LIN:TEXT").INNER())};
    OPEN(view);
    SET(rows.Key("ROW:IDKEY"));
    NEXT(view);
    CLOSE(view);
    std::ifstream log(drive.Root() / "VIEWS.LOG");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("JOIN(KEY(LIN:OWNERKEY),FIELD(ROW:ID)),INNER"), std::string::npos) << text;
    EXPECT_NE(text.find("PROJECT(FIELD(LIN:TEXT))"), std::string::npos) << text;
    EXPECT_NE(text.find("NEXT"), std::string::npos);
    EXPECT_NE(text.find("Time Taken: 0.0"), std::string::npos);
}

} // namespace
