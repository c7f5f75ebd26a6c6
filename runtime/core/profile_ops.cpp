// SPDX-License-Identifier: GPL-3.0-or-later
// GETINI and PUTINI: profile values read and written on behalf of a program. The arguments come
// from the string stack; the files are read and written by the platform's profile reader and
// writer, which replace a file atomically.
#include <optional>
#include <string>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

constexpr size_t kSectionLimit = 63;
constexpr size_t kEntryLimit = 63;
constexpr size_t kValueLimit = 1023;
constexpr size_t kFileNameLimit = 259;
constexpr int32_t kFileNameTooLong = 206; // "The filename or extension is too long"

// Pops the top entry, clipped and cut to a limit.
std::string PopArgument(size_t limit) {
    std::string text = PopStdString();
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.size() > limit) text.resize(limit);
    return text;
}

// The profile's file name, clipped. A name longer than a file name may be is refused whole
// (empty result, last error 206) rather than cut into the name of another file.
std::optional<std::string> PopFileName() {
    std::string text = PopStdString();
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.size() > kFileNameLimit) {
        platform::SetLastError(kFileNameTooLong);
        return std::nullopt;
    }
    return text;
}

// An empty name is the system's main profile; a name without a folder lies in the current one.
std::string ProfilePath(const std::optional<std::string>& file_name) {
    if (!file_name)
        return {};
    return file_name->empty() ? platform::MainProfilePath() : platform::ResolveFileName(*file_name);
}

}  // namespace
}  // namespace tarvex

using namespace tarvex;

extern "C" {

TARVEX_API void Vrn$GETINI(void) {
    std::string section = PopArgument(kSectionLimit);
    std::string entry = PopArgument(kEntryLimit);
    std::string default_value = PopArgument(kValueLimit);
    std::string path = ProfilePath(PopFileName());
    std::string value = path.empty() ? default_value
                                     : platform::ReadProfileString(path, section, entry, default_value);
    if (value.size() > kValueLimit) value.resize(kValueLimit);
    PushCopy(value);
}

TARVEX_API void Vrn$PUTINI(uint8_t entry_omitted, uint8_t value_omitted) {
    std::string section = PopArgument(kSectionLimit);
    std::string entry = PopArgument(kEntryLimit);
    std::string value = PopArgument(kValueLimit);
    std::optional<std::string> file_name = PopFileName();
    std::string path = ProfilePath(file_name);
    std::optional<std::string_view> key;
    std::optional<std::string_view> new_value;
    if (!entry_omitted) key = entry;
    if (!value_omitted) new_value = value;
    // A profile that cannot be written is reported, never passed over as success.
    if (!file_name) {
        Vrn$seterror(0);  // the name's own error stands
    } else if (path.empty()) {
        platform::SetLastError(3);  // path not found
        Vrn$seterror(0);
    } else if (!platform::WriteProfileString(path, section, key, new_value)) {
        Vrn$seterror(0);
    } else {
        Vrn$clearerror();
    }
}

}  // extern "C"
