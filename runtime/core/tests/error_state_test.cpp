// SPDX-License-Identifier: GPL-3.0-or-later
// The error state: ERRORCODE(), ERROR(), FILEERRORCODE(), FILEERRORMSG(), ERRORFILE() and the
// message table with its overrides.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/environment.h"
#include "core/tests/test_support.h"
#include "platform/platform.h"
#include "tarvex/frame.h"

namespace tarvex {
namespace {

using testing::PopText;

std::string ErrorText() {
    Vrn$StackErrstr();
    return PopText();
}

std::string Blanks(size_t n) { return std::string(n, ' '); }

std::string Padded(std::string text, size_t n) {
    text.resize(n, ' ');
    return text;
}

class ErrorStateTest : public ::testing::Test {
protected:
    void SetUp() override { Vrn$clearerror(); }
    void TearDown() override {
        Vrn$clearerror();
        ResetEnvironment();
    }
};

TEST_F(ErrorStateTest, MessageTableGivesTheTextOfEachCode) {
    struct Row {
        int32_t code;
        const char* text;
    };
    const Row rows[] = {
        {2, "File Not Found"},
        {40, "Creates Duplicate Key"},
        {78, "Invalid Number Of Parameters "},  // the trailing blank belongs to the text
        {89, "Record Changed By Another Station"},
        {93, "BUILD Cancelled"},
        {305, "Access Denied"},
        {350, "Not Supported "},
        {391, "Unknown Error"},
        {403, "Termination caused by signal.  (User break or Floating point)"},
        {501, "Internal error 01"},
        {515, "Internal error 15"},
        {532, "Unable to open MDI window on APPLICATION's thread"},
        {605, "DDE transaction timed out"},
        {802, "Mismatched PUSHSCOPE/POPSCOPE"},
        {0, "Unknown Error Posted"},
        {1234, "Unknown Error Posted : 1234"},
        {314, "Unknown Error Posted : 314"},
        {-7, "Unknown Error Posted : -7"},
    };
    for (const Row& row : rows) EXPECT_STREQ(Vrn$err_message(row.code), row.text) << row.code;
}

TEST_F(ErrorStateTest, OperatingSystemErrorIsReportedAs300Plus) {
    platform::SetLastError(5);
    Vrn$seterror(0);
    EXPECT_EQ(Vrn$ERRCODE, 305);
    EXPECT_EQ(Vrn$DOSerror, 5);
    EXPECT_EQ(ErrorText(), Padded("Access Denied", 80));
}

TEST_F(ErrorStateTest, SetErrorFillsErrorTextAndForgetsTheFile) {
    FileDecl file{};
    Vrn$seterror(35);
    Vrn$SetErrorFile(&file);
    EXPECT_EQ(Vrn$FileError, &file);
    Vrn$seterror(40);
    EXPECT_EQ(Vrn$ERRCODE, 40);
    EXPECT_EQ(Vrn$FileError, nullptr);
    EXPECT_EQ(ErrorText(), Padded("Creates Duplicate Key", 80));
}

TEST_F(ErrorStateTest, ErrorTextIsCutTo79AndLosesLeadingBlanks) {
    std::string long_text(100, 'x');
    for (size_t i = 0; i < long_text.size(); ++i) long_text[i] = static_cast<char>('a' + i % 26);
    ApplyEnvironmentText("VRNMSG35=\"" + long_text + "\"\nVRNMSG33=\"   Busy record\"\n");
    Vrn$seterror(35);
    EXPECT_EQ(ErrorText(), long_text.substr(0, 79) + " ");
    Vrn$seterror(33);
    EXPECT_EQ(ErrorText(), Padded("Busy record", 80));
    // The override replaces the message wherever it is asked for.
    EXPECT_STREQ(Vrn$err_message(33), "   Busy record");
}

TEST_F(ErrorStateTest, DriverErrorWithoutMessageNamesTheDriverCode) {
    Vrn$setfileerror("SQLITE_CORRUPT", nullptr);
    Vrn$FILEERRORCODE();
    EXPECT_EQ(PopText(), Padded("SQLITE_CORRUPT", 81));
    Vrn$FILEERRORMSG();
    EXPECT_EQ(PopText(), Padded("File System Error : SQLITE_CORRUPT", 255));
}

TEST_F(ErrorStateTest, DriverMessageIsCutTo254) {
    std::string message(300, 'm');
    Vrn$setfileerror("11", message.c_str());
    Vrn$FILEERRORMSG();
    EXPECT_EQ(PopText(), std::string(254, 'm') + " ");
}

TEST_F(ErrorStateTest, ClearErrorLeavesEverythingBlankOrEmpty) {
    const char name[] = "C:\\LUMAREX\\DATA\\Patient.kel";
    FileDecl file{};
    file.name = name;
    file.name_length = 27;
    Vrn$setfileerror("E1", "broken");
    Vrn$seterror(90);
    Vrn$SetErrorFile(&file);
    Vrn$clearerror();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(ErrorText(), Blanks(80));
    Vrn$FILEERRORCODE();
    EXPECT_EQ(PopText(), Blanks(81));
    Vrn$FILEERRORMSG();
    EXPECT_EQ(PopText(), Blanks(255));
    Vrn$ERRORFILE();
    EXPECT_EQ(PopText(), "");
}

TEST_F(ErrorStateTest, ErrorFileNamesTheFileInEachLengthConvention) {
    const char fixed[] = "C:\\LUMAREX\\DATA\\Patient.kelXYZ";
    FileDecl file{};
    file.name = fixed;
    file.name_length = 27;
    Vrn$SetErrorFile(&file);
    Vrn$ERRORFILE();
    EXPECT_EQ(PopText(), "C:\\LUMAREX\\DATA\\Patient.kel");

    file.name = "Claims.dat";
    file.name_length = VRN_LENGTH_CSTRING;
    Vrn$ERRORFILE();
    EXPECT_EQ(PopText(), "Claims.dat");

    const char pstring[] = "\x05Items and more";
    file.name = pstring;
    file.name_length = VRN_LENGTH_PSTRING;
    Vrn$ERRORFILE();
    EXPECT_EQ(PopText(), "Items");
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST_F(ErrorStateTest, ReadingTheStateDoesNotClearIt) {
    Vrn$seterror(37);
    (void)ErrorText();
    (void)ErrorText();
    EXPECT_EQ(Vrn$ERRCODE, 37);
    EXPECT_EQ(ErrorText(), Padded("File Not Open", 80));
}

}  // namespace
}  // namespace tarvex
