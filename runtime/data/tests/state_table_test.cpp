// SPDX-License-Identifier: GPL-3.0-or-later
// The state table and the state services: golden rows, a walk over every row that takes away each
// required bit and adds each refused bit and checks the code, and the update rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/state_table.h"
#include "tarvex/files.h"

namespace tarvex {
namespace {

struct GoldenRow {
    int32_t code;
    const char* label;
    uint32_t op_class, requires_bits, refuses, sets, clears, clears_on_failure;
};

// Rows as the system lists them (a sample over every column pattern).
constexpr GoldenRow kGolden[] = {
    {0, "(0)", 0, 0, 0, 0, 0, 0},
    {1, "ADD", 1, 0x41, 0, 0x2, 0x1400, 0},
    {3, "BUILDfile", 1, 0xC0, 0x4, 0, 0, 0x2022},
    {7, "CLOSE", 3, 0x1, 0x4, 0, 0x101, 0},
    {11, "DELETE", 1, 0x43, 0, 0, 0x2, 0},
    {15, "GETfilekey", 1, 0x101, 0, 0x2, 0xA00, 0x2},
    {20, "LOCKfile", 1, 0x1, 0x10, 0x90, 0, 0},
    {24, "NEXT", 5, 0x21, 0, 0x2, 0xA00, 0x2022},
    {25, "OPEN", 9, 0, 0x1, 0x1, 0, 0},
    {35, "(35)", 0, 0, 0, 0, 0, 0},
    {39, "(39)", 0, 0, 0, 0, 0, 0},
    {47, "SETkeykeyptr", 5, 0x101, 0, 0x2020, 0, 0x2020},
    {50, "UNLOCK", 1, 0x11, 0x4, 0, 0x10, 0},
    {54, "PUTfileptr", 1, 0x41, 0, 0, 0x1400, 0x2},
    {56, "STREAM", 1, 0x1, 0x8, 0x8, 0, 0},
    {62, "POSITIONkey", 1, 0x103, 0, 0, 0, 0},
    {78, "BLOB_SET_PROP", 9, 0x1, 0, 0, 0, 0},
    {81, "SETview", 5, 0x1, 0, 0x20, 0, 0x20},
    {84, "BUILDevent", 1, 0xC0, 0x4, 0, 0, 0x2022},
    {87, "Internal", 0, 0, 0, 0, 0, 0},
    {92, "INVIEW", 1, 0x1, 0x100, 0x100, 0, 0},
    {93, "ENDVIEW", 1, 0x1, 0, 0, 0x100, 0},
};

TEST(StateTable, GoldenRows) {
    ASSERT_EQ(OperationTable().size(), 94u);
    for (const GoldenRow& golden : kGolden) {
        const OperationRow* row = FindOperation(golden.code);
        ASSERT_NE(row, nullptr) << golden.code;
        EXPECT_STREQ(row->label, golden.label) << golden.code;
        EXPECT_EQ(row->op_class, golden.op_class) << golden.label;
        EXPECT_EQ(row->requires_bits, golden.requires_bits) << golden.label;
        EXPECT_EQ(row->refuses, golden.refuses) << golden.label;
        EXPECT_EQ(row->sets, golden.sets) << golden.label;
        EXPECT_EQ(row->clears, golden.clears) << golden.label;
        EXPECT_EQ(row->clears_on_failure, golden.clears_on_failure) << golden.label;
    }
    EXPECT_STREQ(_drv_OperationLabel(94), "(?)");
    EXPECT_STREQ(_drv_OperationLabel(-1), "(?)");
}

// The code a missing bit gives, in the order the check tries them.
int32_t CodeForMissing(uint32_t bit, bool file_open) {
    if (bit == VRN_STATE_OPEN)
        return 37;
    if (!file_open)
        return 0;
    switch (bit) {
    case VRN_STATE_RECORD:
        return 33;
    case VRN_STATE_SEQUENCE:
        return 33;
    case VRN_STATE_EXCLUSIVE:
        return 63;
    case VRN_STATE_WRITABLE:
        return 5;
    default:
        return -1;
    }
}

int32_t CodeForRefused(uint32_t bit) {
    if (bit == VRN_STATE_OPEN)
        return 52;
    if (bit == VRN_STATE_LOGOUT)
        return 56;
    return -1;
}

const char kPosition[] = "17";

TEST(StateTable, EveryRefusalOfEveryRow) {
    int refusals = 0;
    for (int32_t code = 0; code <= kLastOperation; code++) {
        const OperationRow& row = OperationTable()[size_t(code)];
        uint32_t required = row.requires_bits & ~VRN_STATE_KEY_BUILT;
        // With everything it needs and nothing it refuses, the operation goes ahead.
        uint32_t flags = 0xFFFF;
        EXPECT_EQ(_drv_check_any_state(nullptr, code, required, &flags, kPosition, 2), 0) << row.label;
        EXPECT_EQ(flags, 0u) << row.label;
        for (uint32_t bit = 1; bit <= 0x4000; bit <<= 1) {
            if ((required & bit) == 0)
                continue;
            uint32_t state = required & ~bit;
            // The file stays open when another bit is taken away, so only that bit is missing.
            bool open = (state & VRN_STATE_OPEN) != 0 || bit == VRN_STATE_OPEN;
            if (bit != VRN_STATE_OPEN && (required & VRN_STATE_OPEN) == 0)
                open = false;
            EXPECT_EQ(_drv_check_any_state(nullptr, code, state, &flags, kPosition, 2),
                      CodeForMissing(bit, open))
                << row.label << " without " << std::hex << bit;
            refusals++;
            // A row that does not need the file open still refuses an open file that lacks the bit.
            if ((required & VRN_STATE_OPEN) == 0) {
                EXPECT_EQ(_drv_check_any_state(nullptr, code, state | VRN_STATE_OPEN, &flags, kPosition, 2),
                          CodeForMissing(bit, true))
                    << row.label << " open without " << std::hex << bit;
                refusals++;
            }
        }
        for (uint32_t bit = 1; bit <= 0x4000; bit <<= 1) {
            if ((row.refuses & bit) == 0)
                continue;
            EXPECT_EQ(_drv_check_any_state(nullptr, code, required | bit, &flags, kPosition, 2),
                      CodeForRefused(bit))
                << row.label << " with " << std::hex << bit;
            refusals++;
        }
        // A key that keeps its built state and is not built: 46 wherever the row needs a built key.
        if (row.requires_bits & VRN_STATE_KEY_BUILT) {
            KeyDecl key{};
            key.attributes = VRN_KEY_OWN_BUILT_STATE;
            EXPECT_EQ(_drv_check_any_state(&key, code, required, &flags, kPosition, 2), 46) << row.label;
            key.attributes |= VRN_KEY_BUILT;
            EXPECT_EQ(_drv_check_any_state(&key, code, required, &flags, kPosition, 2), 0) << row.label;
            key.attributes = 0; // a key without its own state is always taken as built
            EXPECT_EQ(_drv_check_any_state(&key, code, required, &flags, kPosition, 2), 0) << row.label;
            refusals++;
        }
        // While a BUILD runs, all but five operations give 92.
        bool allowed = code == 84 || code == 72 || code == 86 || code == 7 || code == 23;
        EXPECT_EQ(_drv_check_any_state(nullptr, code, required | VRN_STATE_BUILDING, &flags, kPosition, 2),
                  allowed ? 0 : 92)
            << row.label;
    }
    EXPECT_GT(refusals, 120);
}

TEST(StateTable, CodesOutsideTheTable) {
    uint32_t flags = 5;
    EXPECT_EQ(_drv_check_any_state(nullptr, -1, 0, &flags, nullptr, 0), 80);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(_drv_check_any_state(nullptr, 94, 1, nullptr, nullptr, 0), 80);
    uint32_t state = 0x23;
    flags = 0;
    _drv_update_any_state(nullptr, 94, &state, &flags, 0, 1);
    _drv_update_any_state(nullptr, -5, &state, &flags, 33, 1);
    EXPECT_EQ(state, 0x23u);
    EXPECT_EQ(flags, 0u);
}

TEST(StateTable, MissingBitsInTheirOrder) {
    // DELETE needs open, record and writable: the first missing one in the check's order decides.
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_DELETE, 0, nullptr, nullptr, 0), 37);
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_DELETE, VRN_STATE_OPEN, nullptr, nullptr, 0), 33);
    EXPECT_EQ(
        _drv_check_any_state(nullptr, VRN_OP_DELETE, VRN_STATE_OPEN | VRN_STATE_RECORD, nullptr, nullptr, 0),
        5);
    // BUILD needs exclusive before writable; a closed file passes (the driver answers itself).
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_BUILD_FILE, VRN_STATE_OPEN, nullptr, nullptr, 0), 63);
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_BUILD_FILE, VRN_STATE_OPEN | VRN_STATE_EXCLUSIVE, nullptr,
                                   nullptr, 0),
              5);
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_BUILD_FILE, 0, nullptr, nullptr, 0), 0);
    // A refused bit counts only when nothing is missing.
    EXPECT_EQ(
        _drv_check_any_state(nullptr, VRN_OP_UNLOCK, VRN_STATE_OPEN | VRN_STATE_LOGOUT, nullptr, nullptr, 0),
        -1);
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_UNLOCK,
                                   VRN_STATE_OPEN | VRN_STATE_LOCKED | VRN_STATE_LOGOUT, nullptr, nullptr, 0),
              56);
}

TEST(StateTable, BlankPositionGives35) {
    const uint32_t open_state = VRN_STATE_OPEN;
    for (int32_t code : {VRN_OP_REGET_FILE, VRN_OP_REGET_KEY, VRN_OP_RESET_FILE, VRN_OP_RESET_KEY}) {
        EXPECT_EQ(_drv_check_any_state(nullptr, code, open_state, nullptr, nullptr, 0), 35) << code;
        EXPECT_EQ(_drv_check_any_state(nullptr, code, open_state, nullptr, "", 0), 35) << code;
        EXPECT_EQ(_drv_check_any_state(nullptr, code, open_state, nullptr, "     ", 5), 35) << code;
        EXPECT_EQ(_drv_check_any_state(nullptr, code, open_state, nullptr, "   1 ", 5), 0) << code;
        // A closed file reports 37 before the position is looked at.
        EXPECT_EQ(_drv_check_any_state(nullptr, code, 0, nullptr, "", 0), 37) << code;
    }
    // Other operations never look at the position.
    EXPECT_EQ(_drv_check_any_state(nullptr, VRN_OP_SET_FILE, open_state, nullptr, "", 0), 0);
}

struct UpdateCase {
    const char* name;
    uint32_t before;
    int32_t operation;
    int32_t error;
    uint32_t after;
};

constexpr uint32_t O = VRN_STATE_OPEN, R = VRN_STATE_RECORD, SEQ = VRN_STATE_SEQUENCE,
                   SS = VRN_STATE_SEQUENCE_START, WP = VRN_STATE_WATCH_PENDING, W = VRN_STATE_WATCHED,
                   HP = VRN_STATE_HOLD_PENDING, H = VRN_STATE_HELD, WR = VRN_STATE_WRITABLE,
                   LG = VRN_STATE_LOGOUT, V = VRN_STATE_IN_VIEW;

constexpr UpdateCase kUpdates[] = {
    {"OPEN sets open", 0, VRN_OP_OPEN, 0, O},
    {"SET starts a sequence", O, VRN_OP_SET_FILE, 0, O | SEQ | SS},
    {"NEXT makes a record current", O | SEQ | SS, VRN_OP_NEXT, 0, O | SEQ | SS | R},
    {"failed NEXT ends the sequence", O | SEQ | SS | R, VRN_OP_NEXT, 33, O},
    {"GET under WATCH is watched", O | WP, VRN_OP_GET_FILE_KEY, 0, O | R | W},
    {"GET without WATCH clears watched", O | R | W, VRN_OP_GET_FILE_KEY, 0, O | R},
    {"GET under HOLD is held", O | HP, VRN_OP_GET_FILE_POINTER, 0, O | R | H},
    {"PUT ends watched and held", O | R | WR | W | H, VRN_OP_PUT, 0, O | R | WR},
    {"ADD ends watched and held", O | WR | W | H, VRN_OP_ADD, 0, O | R | WR},
    {"APPEND leaves watched", O | R | WR | W, VRN_OP_APPEND, 0, O | R | WR | W},
    {"APPEND with a length ends it", O | R | WR | W, VRN_OP_APPEND_LENGTH, 0, O | R | WR},
    {"DELETE drops the record, leaves watched", O | R | WR | W, VRN_OP_DELETE, 0, O | WR | W},
    {"any failure ends watch pending and watched", O | R | WP | W, VRN_OP_BYTES, 90, O | R},
    {"RELEASE ends held", O | R | H, VRN_OP_RELEASE, 0, O | R},
    {"LOCK sets locked and exclusive", O, VRN_OP_LOCK, 0, O | VRN_STATE_LOCKED | VRN_STATE_EXCLUSIVE},
    {"COMMIT ends logout", O | LG, VRN_OP_COMMIT, 0, O},
    {"CLOSE keeps the view bit", O | R | V, VRN_OP_CLOSE, 0, R | V},
    {"INVIEW never sets the bit itself", O, VRN_OP_INVIEW, 0, O},
    {"ENDVIEW never clears it", O | V, VRN_OP_ENDVIEW, 0, O | V},
    {"failed GET drops the record", O | R, VRN_OP_GET_FILE_KEY, 35, O},
    {"failed REGET keeps the record", O | R, VRN_OP_REGET_FILE, 35, O | R},
};

TEST(StateTable, UpdateRules) {
    for (const UpdateCase& c : kUpdates) {
        uint32_t state = c.before;
        uint32_t flags = 0;
        _drv_update_any_state(nullptr, c.operation, &state, &flags, c.error, 0);
        EXPECT_EQ(state, c.after) << c.name << std::hex << " got " << state;
    }
}

TEST(StateTable, OperationFlagsWord) {
    uint32_t state = O, flags = 0;
    _drv_update_any_state(nullptr, VRN_OP_SET_FILE, &state, &flags, 0, 0);
    EXPECT_EQ(flags, 5u);
    _drv_update_any_state(nullptr, VRN_OP_NAME, &state, &flags, 0, 1); // the flag is ignored for class 8
    EXPECT_EQ(flags, 5u | 8u);
    flags = 0;
    _drv_update_any_state(nullptr, VRN_OP_GET_FILE_KEY, &state, &flags, 0, 1);
    EXPECT_EQ(flags, 1u | 2u);
    flags = 0;
    _drv_update_any_state(nullptr, VRN_OP_NEXT, &state, &flags, 37, 0); // 37 always
    EXPECT_EQ(flags, 2u);
    flags = 0;
    _drv_update_any_state(nullptr, VRN_OP_NEXT, &state, &flags, 33, 0); // class without 0x2
    EXPECT_EQ(flags, 0u);
    _drv_update_any_state(nullptr, VRN_OP_CREATE, &state, &flags, 5, 0); // class 3
    EXPECT_EQ(flags, 2u);
    flags = 0;
    _drv_update_any_state(nullptr, VRN_OP_CREATE, &state, &flags, 52, 0); // but not for 52
    EXPECT_EQ(flags, 0u);
}

TEST(StateTable, KeyBuiltBit) {
    KeyDecl key{};
    key.attributes = VRN_KEY_OWN_BUILT_STATE;
    uint32_t state = O, flags = 0;
    _drv_update_any_state(&key, VRN_OP_BUILD_DYNAMIC, &state, &flags, 0, 0);
    EXPECT_EQ(key.attributes & VRN_KEY_BUILT, VRN_KEY_BUILT);
    EXPECT_EQ(state & VRN_STATE_KEY_BUILT, 0u); // never in the file's word
    EXPECT_EQ(_drv_check_any_state(&key, VRN_OP_SET_KEY, state, &flags, nullptr, 0), 0);
    _drv_update_any_state(&key, VRN_OP_CLOSE, &state, &flags, 0, 0);
    EXPECT_EQ(key.attributes & VRN_KEY_BUILT, 0u);
    EXPECT_EQ(state, 0u);
    // A key without its own state is left alone.
    KeyDecl plain{};
    state = O;
    _drv_update_any_state(&plain, VRN_OP_BUILD_DYNAMIC, &state, &flags, 0, 0);
    EXPECT_EQ(plain.attributes, 0u);
}

TEST(StateTable, CheckStateRefreshesCopiesOfAClosedFile) {
    char name[] = "C:\\DATA\\ONE.KEL     ";
    FileDecl file{};
    file.name = name;
    file.name_length = int32_t(std::strlen(name));
    file.options = "/A/B";
    file.options_length = VRN_LENGTH_CSTRING;
    Drv_FCB fcb{};
    fcb.file = &file;
    fcb.owner = static_cast<char*>(std::malloc(4));
    std::strcpy(fcb.owner, "old");
    EXPECT_EQ(_drv_check_state(&fcb, nullptr, VRN_OP_CREATE, nullptr, 0), 0);
    ASSERT_NE(fcb.name, nullptr);
    EXPECT_STREQ(fcb.name, "C:\\DATA\\ONE.KEL");
    EXPECT_EQ(fcb.owner, nullptr); // the declaration has none
    EXPECT_STREQ(fcb.options, "/A/B");
    // A variable NAME changed while closed is seen; a fixed copy is kept.
    std::memcpy(name, "C:\\DATA\\TWO", 11);
    fcb.fixed_strings = VRN_FIXED_OPTIONS;
    file.options = "/C";
    EXPECT_EQ(_drv_check_state(&fcb, nullptr, VRN_OP_REMOVE, nullptr, 0), 0);
    EXPECT_STREQ(fcb.name, "C:\\DATA\\TWO.KEL");
    EXPECT_STREQ(fcb.options, "/A/B");
    // No refresh once open, nor when the check refuses.
    fcb.state = O;
    std::memcpy(name, "C:\\DATA\\SIX", 11);
    EXPECT_EQ(_drv_check_state(&fcb, nullptr, VRN_OP_NAME, nullptr, 0), 0);
    EXPECT_EQ(_drv_check_state(&fcb, nullptr, VRN_OP_CREATE, nullptr, 0), 52);
    EXPECT_STREQ(fcb.name, "C:\\DATA\\TWO.KEL");
    std::free(fcb.name);
    std::free(fcb.owner);
    std::free(fcb.options);
    // A null block is a closed file; the update does nothing with it.
    EXPECT_EQ(_drv_check_state(nullptr, nullptr, VRN_OP_NEXT, nullptr, 0), 37);
    _drv_update_state(nullptr, nullptr, VRN_OP_OPEN, 0, 0);
}

} // namespace
} // namespace tarvex

// Drivers learn from the table which operations hand them a key as the first argument.
TEST(StateTableKeys, OperationsThatTakeAKey) {
    EXPECT_EQ(_drv_OperationTakesKey(VRN_OP_SET_KEY), 1);
    EXPECT_EQ(_drv_OperationTakesKey(VRN_OP_GET_FILE_KEY), 1);
    EXPECT_EQ(_drv_OperationTakesKey(VRN_OP_REGET_KEY), 1);
    EXPECT_EQ(_drv_OperationTakesKey(VRN_OP_ADD), 0);
    EXPECT_EQ(_drv_OperationTakesKey(VRN_OP_SET_FILE), 0);
    EXPECT_EQ(_drv_OperationTakesKey(-1), 0);
    EXPECT_EQ(_drv_OperationTakesKey(94), 0);
}
