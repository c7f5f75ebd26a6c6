// SPDX-License-Identifier: GPL-3.0-or-later
// File statements through the exported dispatchers and the test driver: the behaviour a program
// sees (codes in ERRORCODE, records in the buffer), written with the C++ file layer.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "data/tests/file_test_driver.h"
#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace tarvex::testing {
namespace {

TEST(FileOperations, NextNeedsASequence) {
    MemoryFile people("C:\\DATA\\NEXT.TST");
    AddRows(people, {{1, "Ann"}, {2, "Bob"}});
    OPEN(people);
    ASSERT_EQ(ERRORCODE(), 0);
    NEXT(people);
    EXPECT_EQ(ERRORCODE(), 33); // no SET yet
    SET(people);
    NEXT(people);
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(people.record.NAME.View(), "Ann         ");
    NEXT(people);
    EXPECT_EQ(int32_t(people.record.ID), 2);
    NEXT(people);
    EXPECT_EQ(ERRORCODE(), 33); // end of file
    int reads = people.Store().reads;
    NEXT(people);
    EXPECT_EQ(ERRORCODE(), 33); // the sequence ended: refused by the state check
    EXPECT_EQ(people.Store().reads, reads);
    SET(people);
    NEXT(people);
    EXPECT_EQ(ERRORCODE(), 0);
}

TEST(FileOperations, PutNeedsARecordAndWriteAccess) {
    MemoryFile people("C:\\DATA\\PUT.TST");
    AddRows(people, {{1, "Ann"}});
    OPEN(people, ReadWrite | DenyNone);
    PUT(people);
    EXPECT_EQ(ERRORCODE(), 33);
    CLOSE(people);
    OPEN(people, ReadOnly | DenyNone);
    people.record.ID = 1;
    GET(people.Key("TST:IDKEY"));
    ASSERT_EQ(ERRORCODE(), 0);
    people.record.NAME = "Changed";
    PUT(people);
    EXPECT_EQ(ERRORCODE(), 5);
    EXPECT_EQ(people.Store().rows[0].NAME.View(), "Ann         ");
}

TEST(FileOperations, OpenTwiceCloseTwice) {
    MemoryFile people("C:\\DATA\\OPEN.TST");
    OPEN(people);
    EXPECT_EQ(ERRORCODE(), 0);
    OPEN(people);
    EXPECT_EQ(ERRORCODE(), 52);
    CLOSE(people);
    EXPECT_EQ(ERRORCODE(), 0);
    CLOSE(people);
    EXPECT_EQ(ERRORCODE(), 37);
}

TEST(FileOperations, WhileBuildingOnlyNameAndClose) {
    MemoryFile people("C:\\DATA\\BUILD.TST");
    OPEN(people);
    people.Fcb()->state |= VRN_STATE_BUILDING; // what a driver does while its BUILD runs
    SET(people);
    EXPECT_EQ(ERRORCODE(), 92);
    EXPECT_EQ(NAME(people), "C:\\DATA\\BUILD.TST");
    EXPECT_EQ(ERRORCODE(), 0);
    CLOSE(people);
    EXPECT_EQ(ERRORCODE(), 0);
}

TEST(FileOperations, BlankPositionNeverReachesTheData) {
    MemoryFile people("C:\\DATA\\POS.TST");
    AddRows(people, {{1, "Ann"}, {2, "Bob"}});
    OPEN(people);
    for (const char* position : {"", "    "}) {
        REGET(people, position);
        EXPECT_EQ(ERRORCODE(), 35);
        RESET(people, position);
        EXPECT_EQ(ERRORCODE(), 35);
    }
    EXPECT_EQ(people.Store().reads, 0);
    REGET(people, "2");
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(int32_t(people.record.ID), 2);
    EXPECT_EQ(POSITION(people), "2");
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(FileOperations, WatchAppliesToTheNextReadOnly) {
    MemoryFile people("C:\\DATA\\WATCH.TST");
    AddRows(people, {{1, "Ann"}, {2, "Bob"}});
    OPEN(people);
    const uint32_t watched = VRN_STATE_WATCHED;
    WATCH(people);
    people.record.ID = 1;
    GET(people.Key(0));
    EXPECT_EQ(people.Fcb()->state & watched, watched);
    APPEND(people); // a plain APPEND leaves it
    EXPECT_EQ(people.Fcb()->state & watched, watched);
    PUT(people); // PUT ends it
    EXPECT_EQ(people.Fcb()->state & watched, 0u);
    WATCH(people);
    GET(people.Key(0));
    DELETE(people); // DELETE leaves it
    EXPECT_EQ(people.Fcb()->state & watched, watched);
    GET(people, 1); // a read without WATCH clears it
    EXPECT_EQ(people.Fcb()->state & watched, 0u);
    WATCH(people);
    GET(people, 1);
    GET(people, 99); // any failure ends it
    EXPECT_EQ(ERRORCODE(), 35);
    EXPECT_EQ(people.Fcb()->state & watched, 0u);
}

TEST(FileOperations, DispatchOnAKeyGoesToItsOwningFile) {
    MemoryFile people("C:\\DATA\\KEY.TST");
    AddRows(people, {{7, "Gus"}});
    OPEN(people);
    people.record.ID = 7;
    Vrn$FILE_GETfk(people.Key("tst:idkey"));
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(people.record.NAME.View(), "Gus         ");
    EXPECT_EQ(RECORDS(people), 1);
    EXPECT_EQ(POINTER(people), 1);
    // Operations the driver does not support end with 80.
    Vrn$FILE_NOMEMO(people.Decl());
    EXPECT_EQ(ERRORCODE(), 80);
}

TEST(FileOperations, MissingFileOrDriver) {
    Vrn$FILE_NEXT(nullptr);
    EXPECT_EQ(ERRORCODE(), 37);
    Vrn$FILE_GETfk(nullptr);
    EXPECT_EQ(ERRORCODE(), 37);
    KeyDecl orphan{};
    EXPECT_EQ(Vrn$FILE_RECORDSk(&orphan), 0);
    EXPECT_EQ(ERRORCODE(), 37);
    FileDecl no_driver{};
    Vrn$FILE_OPEN(&no_driver, 0x22);
    EXPECT_EQ(ERRORCODE(), 80);
    EXPECT_EQ(Vrn$FileError, &no_driver);
    // The string stack stays balanced: a text argument is taken, a text result is given (empty).
    ASSERT_EQ(Vrw$StackDepth(), 0u);
    Vrn$PushCString("12");
    Vrn$FILE_RESETk(nullptr);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
    EXPECT_EQ(POSITION(FileRef(&no_driver)), "");
    EXPECT_EQ(ERRORCODE(), 80);
    EXPECT_EQ(SEND(FileRef(nullptr), "CMD"), "");
    EXPECT_EQ(ERRORCODE(), 37);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

// A driver that records what it was called with.
struct Call {
    int32_t operation;
    FileDecl* file;
    std::vector<intptr_t> arguments;
};
std::vector<Call> calls;
size_t argument_count = 0;
intptr_t RecordingDriver(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    Call call{operation, file, {}};
    for (size_t i = 0; i < argument_count && arguments != nullptr; i++)
        call.arguments.push_back(arguments[i]);
    calls.push_back(call);
    Vrn$clearerror();
    return 4321;
}

TEST(FileOperations, ArgumentListsAndResults) {
    FileDecl file{};
    file.driver = RecordingDriver;
    KeyDecl key{};
    key.file = &file;
    KeyDecl second{};
    struct Expect {
        const char* name;
        std::function<intptr_t()> call;
        int32_t operation;
        std::vector<intptr_t> arguments;
        intptr_t result; // -1: the export returns nothing
    };
    const intptr_t k = reinterpret_cast<intptr_t>(&key);
    const std::vector<Expect> cases = {
        {"OPEN",
         [&] {
             Vrn$FILE_OPEN(&file, 0x42);
             return intptr_t(-1);
         },
         25,
         {0x42},
         -1},
        {"GETkl",
         [&] {
             Vrn$FILE_GETkl(&key, 9);
             return intptr_t(-1);
         },
         17,
         {k, 9},
         -1},
        {"SETkk",
         [&] {
             Vrn$FILE_SETkk(&key, &second);
             return intptr_t(-1);
         },
         45,
         {k, reinterpret_cast<intptr_t>(&second)},
         -1},
        {"GETflu",
         [&] {
             Vrn$FILE_GETflu(&file, 3, 40);
             return intptr_t(-1);
         },
         53,
         {3, 40},
         -1},
        {"BLOB_TAKE",
         [&] {
             Vrn$BLOB_TAKE(&file, 65535, 1, 2);
             return intptr_t(-1);
         },
         76,
         {65535, 1, 2},
         -1},
        {"BUFFER",
         [&] {
             Vrn$FILE_BUFFER(&file, 1, 2, 3, 4);
             return intptr_t(-1);
         },
         80,
         {1, 2, 3, 4},
         -1},
        {"RECORDSk", [&] { return intptr_t(Vrn$FILE_RECORDSk(&key)); }, 33, {k}, 4321},
        {"BOF", [&] { return intptr_t(Vrn$FILE_BOF(&file)); }, 2, {}, 4321},
        {"BLOB_SIZE", [&] { return intptr_t(Vrn$BLOB_SIZE(&file, 3)); }, 77, {3}, 4321},
        {"KEY_GET_PROPERTY",
         [&] {
             Vrn$KEY_GET_PROPERTY(&key, 0x7A01);
             return intptr_t(-1);
         },
         86,
         {k, 0x7A01},
         -1},
        {"VIEW_RESETvf",
         [&] {
             Vrn$VIEW_RESETvf(&file, 5);
             return intptr_t(-1);
         },
         83,
         {5},
         -1},
        {"SKIP",
         [&] {
             Vrn$FILE_SKIP(&file, -2);
             return intptr_t(-1);
         },
         49,
         {-2},
         -1},
    };
    for (const Expect& c : cases) {
        calls.clear();
        argument_count = c.arguments.size();
        intptr_t result = c.call();
        ASSERT_EQ(calls.size(), 1u) << c.name;
        EXPECT_EQ(calls[0].operation, c.operation) << c.name;
        EXPECT_EQ(calls[0].file, &file) << c.name;
        EXPECT_EQ(calls[0].arguments, c.arguments) << c.name;
        if (c.result != -1) {
            EXPECT_EQ(result, c.result) << c.name;
        }
    }
}

} // namespace
} // namespace tarvex::testing
