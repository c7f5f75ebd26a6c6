// SPDX-License-Identifier: GPL-3.0-or-later
// Test helpers: a temporary folder removed with everything in it, an environment variable set for
// the length of a scope, and the current folder changed for the length of a scope.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace tarvex::platform::testing {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvex_platform_XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path_ = made != nullptr ? std::filesystem::canonical(made).string() : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    void MakeFolder(const std::string& relative) const {
        std::filesystem::create_directories(*this / relative);
    }
    void MakeFile(const std::string& relative, const std::string& contents = "") const {
        std::ofstream(*this / relative, std::ios::binary) << contents;
    }

  private:
    std::string path_;
};

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

class ScopedFolder {
  public:
    explicit ScopedFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedFolder() {
        std::error_code ignored;
        std::filesystem::current_path(old_, ignored);
    }

  private:
    std::filesystem::path old_;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace tarvex::platform::testing
