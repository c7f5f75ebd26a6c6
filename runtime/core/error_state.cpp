// SPDX-License-Identifier: GPL-3.0-or-later
// The error state: one instance per process. A failing operation posts its code through
// Vrn$seterror and returns normally; the program reads the state through ERRORCODE() and ERROR().
// The state is shared by every thread without a lock, so ERRORCODE() after an operation reports
// the last error of any thread, as programs of this kind expect.
#include "core/error_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/environment.h"
#include "core/error_messages.h"
#include "core/string_stack.h"
#include "core/thread_state.h"
#include "platform/platform.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

extern "C" {
TARVEX_API int32_t Vrn$ERRCODE = 0;
TARVEX_API char Vrn$ERRSTR[80] = {};
TARVEX_API int32_t Vrn$DOSerror = 0;
TARVEX_API FileDecl* Vrn$FileError = nullptr;
}

namespace tarvex {
namespace {

constexpr int32_t kUnknownError = 81;
constexpr int32_t kFileSystemError = 90;
constexpr size_t kMessageBufferSize = 256;
struct MessageBuffer {
    char text[kMessageBufferSize];
};

// Zero until the first driver error or Vrn$clearerror: FILEERRORCODE() is then empty.
char file_error_code[kFileErrorCodeSize] = {};
char file_error_message[kFileErrorMessageSize] = {};

// Copies text into a fixed field and pads it with blanks.
void StoreBlankPadded(char* field, size_t size, std::string_view text) {
    size_t n = std::min(size, text.size());
    std::memcpy(field, text.data(), n);
    std::memset(field + n, ' ', size - n);
}

}  // namespace

std::string_view FileErrorCode() { return {file_error_code, kFileErrorCodeSize}; }
std::string_view FileErrorMessage() { return {file_error_message, kFileErrorMessageSize}; }

std::string ErrorMessageText(int32_t code) {
    if (code == 0) code = kUnknownError;
    if (const char* text = FindMessageOverride(code)) return text;
    if (const char* text = BuiltInMessage(code)) return text;
    return ErrorMessageText(kUnknownError) + " : " + std::to_string(code);
}

}  // namespace tarvex

using namespace tarvex;

extern "C" {

TARVEX_API void Vrn$seterror(int32_t code) {
    Vrn$DOSerror = platform::LastError();
    if (code == 0) code = Vrn$DOSerror + 300;
    const char* message = Vrn$err_message(code);
    Vrn$FileError = nullptr;
    std::memset(Vrn$ERRSTR, ' ', sizeof Vrn$ERRSTR);
    Vrn$ERRCODE = code;
    while (*message == ' ') ++message;
    size_t n = std::min(std::strlen(message), sizeof Vrn$ERRSTR - 1);
    std::memcpy(Vrn$ERRSTR, message, n);
    // Building the message may have touched the system's last error; take it again.
    Vrn$DOSerror = platform::LastError();
}

TARVEX_API void Vrn$clearerror(void) {
    Vrn$ERRCODE = 0;
    Vrn$FileError = nullptr;
    std::memset(Vrn$ERRSTR, ' ', sizeof Vrn$ERRSTR);
    std::memset(file_error_code, ' ', sizeof file_error_code);
    std::memset(file_error_message, ' ', sizeof file_error_message);
}

TARVEX_API const char* Vrn$err_message(int32_t code) {
    // Each thread has its own buffer, so one thread's lookup never changes another's text.
    char* buffer = PerThread<MessageBuffer>().text;
    std::string text = ErrorMessageText(code);
    size_t n = std::min(text.size(), kMessageBufferSize - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return buffer;
}

TARVEX_API void Vrn$SetErrorFile(FileDecl* file) { Vrn$FileError = file; }

TARVEX_API void Vrn$setfileerror(const char* driver_code, const char* driver_message) {
    std::string_view code = driver_code ? std::string_view(driver_code) : std::string_view();
    StoreBlankPadded(file_error_code, sizeof file_error_code, code);
    std::string message;
    if (driver_message == nullptr) {
        message = ErrorMessageText(kFileSystemError) + " : " + std::string(code);
    } else {
        message = std::string(driver_message).substr(0, kFileErrorMessageSize - 1);
    }
    StoreBlankPadded(file_error_message, sizeof file_error_message, message);
}

TARVEX_API void Vrn$StackErrstr(void) {
    PushCopy({Vrn$ERRSTR, sizeof Vrn$ERRSTR});  // a copy: a later error must not change it
}

TARVEX_API void Vrn$FILEERRORCODE(void) {
    if (file_error_code[0] == '\0') {
        Vrn$PushNull();
        return;
    }
    PushCopy(FileErrorCode());
}

TARVEX_API void Vrn$FILEERRORMSG(void) {
    if (file_error_code[0] == '\0') {
        Vrn$PushNull();
        return;
    }
    PushCopy(FileErrorMessage());
}

TARVEX_API void Vrn$ERRORFILE(void) {
    const FileDecl* file = Vrn$FileError;
    if (file == nullptr || file->name == nullptr) {
        Vrn$PushNull();
        return;
    }
    if (file->name_length == VRN_LENGTH_CSTRING) {
        Vrn$PushCString(file->name);
    } else if (file->name_length == VRN_LENGTH_PSTRING) {
        // A length-prefixed name: the first byte is the count.
        auto count = static_cast<unsigned char>(file->name[0]);
        PushCopy({file->name + 1, count});
    } else if (file->name_length > 0) {
        PushCopy({file->name, static_cast<size_t>(file->name_length)});
    } else {
        Vrn$PushNull();
    }
}

}  // extern "C"
