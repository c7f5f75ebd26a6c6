// SPDX-License-Identifier: GPL-3.0-or-later
// The 38 standard messages as a golden table (title, text, icon, buttons, default, and the HALT
// that follows the messages that end the program), read back from the headless message boxes;
// the error description and the saved error.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/platform.h"
#include "shared/standard_messages.h"
#include "tarvex/frame.h"

namespace lumarex {
namespace {

namespace platform = tarvex::platform;

constexpr int32_t E = VRN_ICON_EXCLAMATION;
constexpr int32_t Q = VRN_ICON_QUESTION;
constexpr uint32_t OK = VRN_BUTTON_OK;
constexpr uint32_t YES = VRN_BUTTON_YES;
constexpr uint32_t NO = VRN_BUTTON_NO;
constexpr uint32_t CANCEL = VRN_BUTTON_CANCEL;
constexpr uint32_t RETRY = VRN_BUTTON_RETRY;

// Every row is shown with the error "File Not Found" (2) posted, P1 "Patient   " and P2
// "Invoice  " unless it says otherwise; the trailing blanks of the parameters never show.
struct GoldenMessage {
    int32_t number;
    const char* title;
    const char* text;
    int32_t icon;
    uint32_t buttons;
    uint32_t default_button;
    const char* halt = nullptr;  // the HALT text when the message ends the program
    const char* p1 = "Patient   ";
    const char* p2 = "Invoice  ";
    int32_t error = 2;
};

// clang-format off
const GoldenMessage kGolden[] = {
    {1, "Invalid File", "Error: (File Not Found (2)) accessing Patient.  Press OK to end this application.", E, OK, OK, "Invalid File!"},
    {2, "Invalid Key", "Patient key file is invalid.  Do you want to rebuild the key?", Q, YES | NO, YES},
    {3, "Key Rebuild Error", "Error: (File Not Found (2)) repairing key for Patient.  Press OK to end this application.", E, OK, OK, "Error Rebuilding Key!"},
    {4, "File Creation Error", "Error: (File Not Found (2)) creating Patient.  Press OK to end this application.", E, OK, OK, "File Creation Error!"},
    {5, "File Creation Error", "Error: (File Not Found (2)) opening created file:Patient.  Press OK to end this application.", E, OK, OK, "File Creation Error!"},
    {6, "Procedure not defined", "The Procedure Patient has not been defined.", E, OK, OK},
    {7, "Record Read Error", "Unable to read keyed record.  Error: File Not Found (2).  Insert Aborted", E, OK, OK},
    {8, "Range Error", "The value of Patient must be lower than Invoice.", E, OK, OK},
    {9, "Range Error", "The value of Patient must be higher than Invoice.", E, OK, OK},
    {10, "Range Error", "The value of Patient must be between Invoice.", E, OK, OK},
    {11, "Field Contents Error", "The value for Patient must be found in the Invoice file.", E, OK, OK},
    {12, "Referential Integrity Update Error", "This record is referenced from the file Patient.  Linking field(s) have been restricted from change and have been reset to original values.", E, OK, OK},
    {13, "Referential Integrity Delete Error", "This record is referenced from the file Patient.  This record cannot be deleted while these references exist.", E, OK, OK},
    {14, "Record Insert Error", "An error was experienced during the update of record.  Error: File Not Found (2).", E, OK, OK},
    {15, "Update Operation Error", "An error (File Not Found (2)) was experienced when attempting to update a record from the file.  Probable Cause: Patient.", E, OK, OK},
    {15, "Update Operation Error", "This record was changed by another station.", E, OK, OK, nullptr, "Record Changed by Another Station", "", 89},
    {15, "Update Operation Error", "This record was changed by another station.", E, OK, OK, nullptr, "Patient", "", 0},
    {16, "Record Update Error", "An error was experienced changing this record.  Do you want to try to save again?", E, YES | NO | CANCEL, CANCEL},
    {17, "Delete Operation Error", "An error (File Not Found (2)) was experienced when attempting to delete a record from the file Patient.", E, OK, OK},
    {18, "Record Update Error", "An error was experienced deleting this record.  Do you want to try to save again?", E, YES | NO | CANCEL, CANCEL},
    {19, "Invalid Request", "This procedure was called to insert a record, however inserts are not allowed for this procedure.  Press OK to return to the calling procedure", E, OK, OK},
    {20, "Invalid Request", "This procedure was called to change a record, however changes are not allowed for this procedure.  Press OK to return to the calling procedure", E, OK, OK},
    {21, "Invalid Request", "This procedure was called to delete a record, however deletions are not allowed for this procedure.  Press OK to return to the calling procedure", E, OK, OK},
    {22, "File Creation Not Allowed", "The File Patientwas not found, and creation of the file is not allowed.  Press OK to end this application.", E, OK, OK, "File Creation Error!"},
    {23, "Update Cancelled", "Are you sure you want to cancel?", Q, YES | NO, NO},
    {24, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key:Patient", E, OK, OK},
    {25, "Auto Increment Error", "Attempts to automatically number this record have failed.  Error: File Not Found (2).", E, RETRY | CANCEL, CANCEL},
    {26, "File Load Error", "Patient File Load Error.  Error: File Not Found (2).", E, OK, OK},
    {27, "Cancel Request", "Are you certain you want to stop loading Patient?", Q, OK | CANCEL, CANCEL},
    {28, "File Load Error", "Patient File Load Error.  The file you've requested contains no text.", E, OK, OK},
    {29, "End of File Error", "The end of the viewed file was encountered.  Do you want to start again from the beginning?", Q, YES | NO, YES, nullptr, "Down"},
    {29, "Beginning of File Error", "The beginning of the viewed file was encountered.  Do you want to start again from the end of the file?", Q, YES | NO, YES, nullptr, "Up"},
    {30, "File Access Error", "File (Patient) could not be opened.  Error: File Not Found (2).", E, OK, OK},
    {31, "Process PUT Error", "An error was experienced when making changes to the Invoice file.  Error: File Not Found (2)", E, OK, OK, nullptr, "Put"},
    {31, "Process DELETE Error", "An error was experienced when deleting a record from the Invoice file.  Error: File Not Found (2)", E, OK, OK, nullptr, "Delete"},
    {32, "Confirm Delete", "You've selected to delete the highlighted record.  Press OK to confirm deletion of this record.", Q, OK | CANCEL, CANCEL},
    {33, "Update Cancelled", "Do you want to save the changes to this record?", Q, YES | NO | CANCEL, NO},
    {34, "Transaction Framing Error", "Error: (File Not Found (2)) attempting to frame the delete transaction on Invoice.  Delete transaction cancelled.", E, OK, OK, nullptr, "Delete"},
    {35, "Record Retrieval Error", "Error: (File Not Found (2)) attempting to access a record from the Patient file.  Returning to previous window.", E, OK, OK},
    {36, "View Open Error", "Error: (File Not Found (2)) attempting to open the current VIEW. Filter and Range Limits ignored.", E, OK, OK},
    {37, "Record Added", "This record has been added to the file. Do you want to add another record?", Q, YES | NO, YES},
    {38, "Record Was Not Updated", "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or Ctrl+' to recall your changes.", E, OK, OK},
};
// clang-format on

platform::HeadlessMessageBoxes& Boxes() {
    platform::HeadlessMessageBoxes* boxes = platform::Headless();
    EXPECT_NE(boxes, nullptr);
    return *boxes;
}

std::string Describe(const platform::MessageRequest& box) {
    return "[" + box.caption + "|" + box.text + "|" + std::to_string(box.icon) + "|" + std::to_string(box.buttons) +
           "|" + std::to_string(box.default_button) + "]";
}
std::string Describe(const GoldenMessage& row) {
    return "[" + std::string(row.title) + "|" + row.text + "|" + std::to_string(row.icon) + "|" +
           std::to_string(row.buttons) + "|" + std::to_string(row.default_button) + "]";
}

void PostError(int32_t code) {
    if (code == 0)
        Vrn$clearerror();
    else
        Vrn$seterror(code);
}

// Inside a death test: the message that ends the program, then its HALT box, checked as the
// program ends; a mismatch ends the child with another exit code.
const GoldenMessage* halting_row = nullptr;
void CheckBoxesAtExit() {
    auto shown = platform::Headless()->Transcript();
    std::string expected = Describe(*halting_row) + "[Halt|" + halting_row->halt + "|" +
                           std::to_string(VRN_ICON_STOP) + "|1|1]";
    std::string got;
    for (const auto& box : shown)
        got += Describe(box.request);
    if (got != expected) {
        std::fprintf(stderr, "expected %s\ngot      %s\n", expected.c_str(), got.c_str());
        std::_Exit(99);
    }
    std::fputs("boxes ok", stderr);
}

class StandardMessagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        Boxes().ClearTranscript();
        Vrn$clearerror();
    }
};

TEST_F(StandardMessagesTest, GoldenTable) {
    std::set<int32_t> numbers;
    for (const GoldenMessage& row : kGolden) {
        SCOPED_TRACE("message " + std::to_string(row.number) + " P1 " + row.p1);
        numbers.insert(row.number);
        Boxes().ClearTranscript();
        PostError(row.error);
        if (row.halt != nullptr) {
            halting_row = &row;
            EXPECT_EXIT(
                {
                    _atexit(&CheckBoxesAtExit);
                    ShowStandardMessage(row.number, row.p1, row.p2);
                    std::fputs("returned", stderr);
                    std::exit(98);
                },
                ::testing::ExitedWithCode(kHaltExitCode), "boxes ok");
            continue;
        }
        uint32_t answer = ShowStandardMessage(row.number, row.p1, row.p2);
        auto shown = Boxes().Transcript();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(Describe(shown[0].request), Describe(row));
        EXPECT_EQ(answer, row.default_button);
    }
    EXPECT_EQ(numbers.size(), size_t(kStandardMessageCount));
    Boxes().ClearTranscript();
    EXPECT_EQ(ShowStandardMessage(0), 0u);
    EXPECT_EQ(ShowStandardMessage(39), 0u);
    EXPECT_TRUE(Boxes().Transcript().empty());
}

TEST_F(StandardMessagesTest, KeyRebuildAnsweredNoEndsWithInvalidKey) {
    Boxes().QueueAnswer(VRN_BUTTON_YES);
    EXPECT_EQ(ShowStandardMessage(2, "Provider"), uint32_t(VRN_BUTTON_YES));
    static const GoldenMessage no_row = {2, "Invalid Key", "Provider key file is invalid.  Do you want to rebuild the key?",
                                         Q, YES | NO, YES, "Invalid Key!"};
    halting_row = &no_row;
    EXPECT_EXIT(
        {
            Boxes().ClearTranscript();
            _atexit(&CheckBoxesAtExit);
            Boxes().QueueAnswer(VRN_BUTTON_NO);
            ShowStandardMessage(2, "Provider");
            std::exit(98);
        },
        ::testing::ExitedWithCode(kHaltExitCode), "boxes ok");
}

TEST_F(StandardMessagesTest, TheButtonPressedIsReturned) {
    Boxes().QueueAnswer(VRN_BUTTON_RETRY);
    EXPECT_EQ(ShowStandardMessage(25), uint32_t(VRN_BUTTON_RETRY));
    Boxes().QueueAnswer(VRN_BUTTON_YES);
    EXPECT_EQ(ShowStandardMessage(33), uint32_t(VRN_BUTTON_YES));
    Boxes().QueueAnswer(VRN_BUTTON_OK);
    EXPECT_EQ(ShowStandardMessage(27, "Patient"), uint32_t(VRN_BUTTON_OK));
}

TEST_F(StandardMessagesTest, TheSavedErrorIsDescribedOnceThenTheCurrentOne) {
    Vrn$seterror(40);
    SaveFileError();  // rolls back: no transaction, so the error state now says 91
    EXPECT_EQ(Vrn$ERRCODE, 91);
    EXPECT_EQ(ErrorDescription(), "Creates Duplicate Key (40)");
    EXPECT_EQ(ErrorDescription(), "LOGOUT Not Active (91)");
    Vrn$clearerror();
    EXPECT_EQ(ErrorDescription(), " (0)");
}

TEST_F(StandardMessagesTest, AMessageThatDoesNotShowTheSavedErrorStillForgetsIt) {
    Vrn$seterror(89);
    SaveFileError();
    ShowStandardMessage(38);
    Vrn$seterror(35);
    ShowStandardMessage(7);
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].request.text, "Unable to read keyed record.  Error: Record Not Found (35).  Insert Aborted");
}

TEST_F(StandardMessagesTest, ADriversOwnErrorIsDescribedByItsMessageAndCode) {
    Vrn$setfileerror("SQLITE_FULL", "database or disk is full");
    Vrn$seterror(90);
    EXPECT_EQ(ErrorDescription(), "database or disk is full (SQLITE_FULL)");
    Vrn$setfileerror("13", "database or disk is full");
    Vrn$seterror(90);
    SaveFileError();
    Vrn$clearerror();
    ShowStandardMessage(17, "Invoice");
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.text,
              "An error (database or disk is full (13)) was experienced when attempting to delete a record from the "
              "file Invoice.");
}

TEST_F(StandardMessagesTest, AVeryLongErrorTextIsCutToTheDescriptionsLength) {
    Vrn$setfileerror("X", std::string(300, 'w').c_str());
    Vrn$seterror(90);
    EXPECT_EQ(ErrorDescription().size(), 150u);
}

}  // namespace
}  // namespace lumarex
