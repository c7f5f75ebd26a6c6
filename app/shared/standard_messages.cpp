// SPDX-License-Identifier: GPL-3.0-or-later
// The standard messages as one table, and the saved file error they describe. A text names its
// parameters in braces: {err} the error description, {P1} and {P2} the clipped text parameters,
// {p1} the first parameter in lower case.
#include "shared/standard_messages.h"

#include <string>

#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace lumarex {

namespace {

using tarvex::CString;
using tarvex::String;

// A text parameter as a string expression.
tarvex::StringTextNode Text(std::string_view text) {
    return tarvex::StringTextNode{{}, text.data(), static_cast<uint32_t>(text.size())};
}

// ---- The saved error -----------------------------------------------------------------------------

struct SavedError {
    bool saved = false;
    int32_t error_code = 0;
    CString<255> error;
    CString<255> file_error_code; // a driver's code is text ("SQLITE_FULL" as well as "28")
    CString<255> file_error;
};
// One for the program: only the thread that holds the runtime lock runs program code.
SavedError saved_error;

// ---- The table -----------------------------------------------------------------------------------

enum class Choice {
    kAlways,        // title and text as given
    kErrorIs0Or89,  // the text when the error is 0 or 89, else the other text
    kP1IsDown,      // title and text when P1 is "Down", else the other ones
    kP1IsPut,       // title and text when P1 is "Put", else the other ones
};
enum class Halt { kNever, kAfterwards, kOnNo };

constexpr int32_t E = VRN_ICON_EXCLAMATION;
constexpr int32_t Q = VRN_ICON_QUESTION;
constexpr uint32_t OK = VRN_BUTTON_OK;
constexpr uint32_t YES = VRN_BUTTON_YES;
constexpr uint32_t NO = VRN_BUTTON_NO;
constexpr uint32_t CANCEL = VRN_BUTTON_CANCEL;
constexpr uint32_t RETRY = VRN_BUTTON_RETRY;

struct StandardMessage {
    int32_t number;
    const char* title;
    const char* text;
    int32_t icon;
    uint32_t buttons;
    uint32_t default_button;
    Halt halt = Halt::kNever;
    const char* halt_text = nullptr;
    Choice choice = Choice::kAlways;
    const char* other_title = nullptr;
    const char* other_text = nullptr;
};

// clang-format off
const StandardMessage kMessages[kStandardMessageCount] = {
    {1, "Invalid File", "Error: ({err}) accessing {P1}.  Press OK to end this application.", E, OK, OK,
     Halt::kAfterwards, "Invalid File!"},
    {2, "Invalid Key", "{P1} key file is invalid.  Do you want to rebuild the key?", Q, YES | NO, YES,
     Halt::kOnNo, "Invalid Key!"},
    {3, "Key Rebuild Error", "Error: ({err}) repairing key for {P1}.  Press OK to end this application.", E, OK, OK,
     Halt::kAfterwards, "Error Rebuilding Key!"},
    {4, "File Creation Error", "Error: ({err}) creating {P1}.  Press OK to end this application.", E, OK, OK,
     Halt::kAfterwards, "File Creation Error!"},
    {5, "File Creation Error", "Error: ({err}) opening created file:{P1}.  Press OK to end this application.", E, OK, OK,
     Halt::kAfterwards, "File Creation Error!"},
    {6, "Procedure not defined", "The Procedure {P1} has not been defined.", E, OK, OK},
    // The program passes no title for this one; the box is named after what failed.
    {7, "Record Read Error", "Unable to read keyed record.  Error: {err}.  Insert Aborted", E, OK, OK},
    {8, "Range Error", "The value of {P1} must be lower than {P2}.", E, OK, OK},
    {9, "Range Error", "The value of {P1} must be higher than {P2}.", E, OK, OK},
    {10, "Range Error", "The value of {P1} must be between {P2}.", E, OK, OK},
    {11, "Field Contents Error", "The value for {P1} must be found in the {P2} file.", E, OK, OK},
    {12, "Referential Integrity Update Error", "This record is referenced from the file {P1}.  Linking field(s) have been restricted from change and have been reset to original values.", E, OK, OK},
    {13, "Referential Integrity Delete Error", "This record is referenced from the file {P1}.  This record cannot be deleted while these references exist.", E, OK, OK},
    {14, "Record Insert Error", "An error was experienced during the update of record.  Error: {err}.", E, OK, OK},
    {15, "Update Operation Error", "This record was changed by another station.", E, OK, OK,
     Halt::kNever, nullptr, Choice::kErrorIs0Or89, nullptr,
     "An error ({err}) was experienced when attempting to update a record from the file.  Probable Cause: {P1}."},
    {16, "Record Update Error", "An error was experienced changing this record.  Do you want to try to save again?", E, YES | NO | CANCEL, CANCEL},
    {17, "Delete Operation Error", "An error ({err}) was experienced when attempting to delete a record from the file {P1}.", E, OK, OK},
    {18, "Record Update Error", "An error was experienced deleting this record.  Do you want to try to save again?", E, YES | NO | CANCEL, CANCEL},
    {19, "Invalid Request", "This procedure was called to insert a record, however inserts are not allowed for this procedure.  Press OK to return to the calling procedure", E, OK, OK},
    {20, "Invalid Request", "This procedure was called to change a record, however changes are not allowed for this procedure.  Press OK to return to the calling procedure", E, OK, OK},
    {21, "Invalid Request", "This procedure was called to delete a record, however deletions are not allowed for this procedure.  Press OK to return to the calling procedure", E, OK, OK},
    {22, "File Creation Not Allowed", "The File {P1}was not found, and creation of the file is not allowed.  Press OK to end this application.", E, OK, OK,
     Halt::kAfterwards, "File Creation Error!"},
    {23, "Update Cancelled", "Are you sure you want to cancel?", Q, YES | NO, NO},
    {24, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key:{P1}", E, OK, OK},
    {25, "Auto Increment Error", "Attempts to automatically number this record have failed.  Error: {err}.", E, RETRY | CANCEL, CANCEL},
    {26, "File Load Error", "{P1} File Load Error.  Error: {err}.", E, OK, OK},
    {27, "Cancel Request", "Are you certain you want to stop loading {P1}?", Q, OK | CANCEL, CANCEL},
    {28, "File Load Error", "{P1} File Load Error.  The file you've requested contains no text.", E, OK, OK},
    {29, "End of File Error", "The end of the viewed file was encountered.  Do you want to start again from the beginning?", Q, YES | NO, YES,
     Halt::kNever, nullptr, Choice::kP1IsDown, "Beginning of File Error",
     "The beginning of the viewed file was encountered.  Do you want to start again from the end of the file?"},
    {30, "File Access Error", "File ({P1}) could not be opened.  Error: {err}.", E, OK, OK},
    {31, "Process PUT Error", "An error was experienced when making changes to the {P2} file.  Error: {err}", E, OK, OK,
     Halt::kNever, nullptr, Choice::kP1IsPut, "Process DELETE Error",
     "An error was experienced when deleting a record from the {P2} file.  Error: {err}"},
    {32, "Confirm Delete", "You've selected to delete the highlighted record.  Press OK to confirm deletion of this record.", Q, OK | CANCEL, CANCEL},
    {33, "Update Cancelled", "Do you want to save the changes to this record?", Q, YES | NO | CANCEL, NO},
    {34, "Transaction Framing Error", "Error: ({err}) attempting to frame the {p1} transaction on {P2}.  {P1} transaction cancelled.", E, OK, OK},
    {35, "Record Retrieval Error", "Error: ({err}) attempting to access a record from the {P1} file.  Returning to previous window.", E, OK, OK},
    {36, "View Open Error", "Error: ({err}) attempting to open the current VIEW. Filter and Range Limits ignored.", E, OK, OK},
    {37, "Record Added", "This record has been added to the file. Do you want to add another record?", Q, YES | NO, YES},
    {38, "Record Was Not Updated", "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or Ctrl+' to recall your changes.", E, OK, OK},
};
// clang-format on

// The code the next description will show.
int32_t DescribedErrorCode() {
    return saved_error.saved ? saved_error.error_code : tarvex::ERRORCODE();
}

// Fills a text's braces; only {err} builds (and so forgets) the error description.
std::string Fill(const char* pattern, std::string_view p1, std::string_view p2) {
    CString<256> first, second, first_lower;
    first = clip(Text(p1));
    second = clip(Text(p2));
    first_lower = lower(first);
    std::string text;
    for (const char* at = pattern; *at != '\0'; at++) {
        std::string_view rest(at);
        if (rest.starts_with("{err}")) {
            text += ErrorDescription();
            at += 4;
        } else if (rest.starts_with("{P1}")) {
            text += first.View();
            at += 3;
        } else if (rest.starts_with("{P2}")) {
            text += second.View();
            at += 3;
        } else if (rest.starts_with("{p1}")) {
            text += first_lower.View();
            at += 3;
        } else {
            text += *at;
        }
    }
    return text;
}

} // namespace

void SaveFileError() {
    saved_error.saved = true;
    saved_error.error_code = tarvex::ERRORCODE();
    saved_error.error = tarvex::ERROR();
    saved_error.file_error_code = tarvex::FILEERRORCODE();
    saved_error.file_error = tarvex::FILEERRORMSG();
    Vrn$ROLLBACK();
}

std::string ErrorDescription() {
    int32_t code = tarvex::ERRORCODE();
    CString<255> text, file_code, file_text;
    if (saved_error.saved) {
        code = saved_error.error_code;
        text = saved_error.error;
        file_code = saved_error.file_error_code;
        file_text = saved_error.file_error;
    } else {
        text = tarvex::ERROR();
        file_code = tarvex::FILEERRORCODE();
        file_text = tarvex::FILEERRORMSG();
    }
    saved_error = SavedError{};
    CString<16> number(std::to_string(code).c_str());
    String<150> description;
    if (code == 90)
        description = clip(file_text) & " (" & clip(file_code) & ")";
    else
        description = clip(text) & " (" & number & ")";
    CString<151> clipped;
    clipped = clip(description);
    return std::string(clipped.View());
}

uint32_t ShowStandardMessage(int32_t number, std::string_view p1, std::string_view p2) {
    if (number < 1 || number > kStandardMessageCount)
        return 0;
    const StandardMessage& message = kMessages[number - 1];
    CString<256> first;
    first = clip(Text(p1));
    bool first_choice = true;
    switch (message.choice) {
    case Choice::kAlways:
        break;
    case Choice::kErrorIs0Or89:
        first_choice = DescribedErrorCode() == 0 || DescribedErrorCode() == 89;
        break;
    case Choice::kP1IsDown:
        first_choice = first == "Down";
        break;
    case Choice::kP1IsPut:
        first_choice = first == "Put";
        break;
    }
    const char* title = first_choice || message.other_title == nullptr ? message.title : message.other_title;
    const char* pattern = first_choice || message.other_text == nullptr ? message.text : message.other_text;
    CString<1024> text(Fill(pattern, p1, p2).c_str());
    // A message that does not describe the saved error still answers for it: kept, it would be
    // shown by some later, unrelated message as that message's cause.
    saved_error = SavedError{};
    uint32_t answer = tarvex::MESSAGE(text, title, message.icon, message.buttons, message.default_button);
    if (message.halt == Halt::kAfterwards || (message.halt == Halt::kOnNo && answer == VRN_BUTTON_NO))
        tarvex::HALT(kHaltExitCode, message.halt_text);
    return answer;
}

} // namespace lumarex
