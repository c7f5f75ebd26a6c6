// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the runtime's tests: moving texts on and off the string stack, and a
// temporary drive C: for tests that touch files.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/string_stack.h"

namespace tarvex::testing {

// Bytes as upper-case hex, two digits each: storage images in test messages and comparisons.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0xF];
    }
    return hex;
}

// Pushes a private copy, so the text may go out of scope before the pop.
inline void PushText(std::string_view text) { PushCopy(text); }
inline std::string PopText() { return PopStdString(); }

// A fresh folder that drive C: maps to for the life of the object; the current folder moves there.
class TemporaryDrive {
public:
    TemporaryDrive() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumtest-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        setenv("TARVEX_DRIVE_C", root_.c_str(), 1);
        platform::ReloadDriveTable();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
    }
    ~TemporaryDrive() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TemporaryDrive(const TemporaryDrive&) = delete;
    TemporaryDrive& operator=(const TemporaryDrive&) = delete;
    const std::filesystem::path& Root() const { return root_; }

private:
    std::filesystem::path root_;
    std::filesystem::path previous_;
};

}  // namespace tarvex::testing
