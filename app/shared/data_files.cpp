// SPDX-License-Identifier: GPL-3.0-or-later
// OpenDataFile and the per-thread use counts of the data files.
#include "shared/data_files.h"

#include <algorithm>
#include <map>

#include "data/dictionary.h"
#include "shared/standard_messages.h"
#include "tarvex/program.hpp"

namespace lumarex {

namespace {

using namespace tarvex;

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kFileLocked = 32;
constexpr int32_t kKeysMustBeRebuilt = 46;
constexpr int32_t kInvalidFile = 47;
constexpr int32_t kAlreadyOpen = 52;

struct FileUses {
    std::map<FileDecl*, int32_t> counts;
    std::vector<FileDecl*> uses; // in the order they were added
};
thread_local FileUses file_uses;

// The labels of the dictionary's files, in dictionary order.
constexpr const char* kLabels[kDictionaryFileCount] = {
    "Provider", "Patient",   "Invoice",   "Cpt48", "Item",  "Icd48", "Insured1", "Insured2",
    "Facility", "Referring", "Rendering", "Auth",  "Payer", "ICD",   "CIQL",     "OIQL"};

} // namespace

std::string DeclaredName(tarvex::FileRef file) {
    const FileDecl* decl = file.decl;
    if (decl == nullptr || decl->name == nullptr)
        return {};
    if (decl->name_length == VRN_LENGTH_CSTRING)
        return decl->name;
    return std::string(decl->name, static_cast<size_t>(std::max(decl->name_length, 0)));
}

std::string FileLabel(tarvex::FileRef file) {
    auto files = DictionaryFiles();
    for (size_t i = 0; i < files.size(); i++)
        if (files[i] == file.decl)
            return kLabels[i];
    return DeclaredName(file);
}

void OpenDataFile(tarvex::FileRef file, bool create_allowed, bool no_create_message, int32_t open_mode,
                  bool force_shared) {
    const int32_t mode = force_shared ? kSharedOpenMode : open_mode;
    const std::string name = DeclaredName(file);
    OPEN(file, mode);
    if (ERRORCODE() == kFileLocked) {
        // Another program left the file marked in use; let the driver recover it and try again.
        SEND(file, "Recover=10");
        OPEN(file, mode);
    }
    switch (ERRORCODE()) {
    case 0:
    case kAlreadyOpen:
        return;
    case kFileNotFound:
        if (no_create_message)
            break;
        if (!create_allowed)
            ShowStandardMessage(22, name); // ends the program
        CREATE(file);
        if (ERRORCODE() != 0)
            ShowStandardMessage(4, name); // ends the program
        OPEN(file, mode);
        if (ERRORCODE() != 0)
            ShowStandardMessage(5, name); // ends the program
        return;
    case kKeysMustBeRebuilt:
        ShowStandardMessage(2, name); // No ends the program
        BUILD(file);
        if (ERRORCODE() != 0)
            ShowStandardMessage(3, name); // ends the program
        OPEN(file, mode);
        break;
    case kInvalidFile:
        ShowStandardMessage(1, name); // ends the program
        break;
    default:
        break;
    }
    if (ERRORCODE() != 0 && ERRORCODE() != kAlreadyOpen) {
        ShowStandardMessage(30, name);
        tarvex::HALT(kHaltExitCode, "Disk Error");
    }
}

void UseDataFile(tarvex::FileRef file) {
    int32_t& count = file_uses.counts[file.decl];
    if (count == 0)
        OpenDataFile(file);
    count++;
    file_uses.uses.push_back(file.decl);
}

int32_t DataFileUseMark() {
    return static_cast<int32_t>(file_uses.uses.size());
}

void ReleaseDataFiles(int32_t mark) {
    while (static_cast<int32_t>(file_uses.uses.size()) > std::max(mark, 0)) {
        FileDecl* file = file_uses.uses.back();
        file_uses.uses.pop_back();
        int32_t& count = file_uses.counts[file];
        if (count > 0 && --count == 0)
            CLOSE(file);
    }
}

int32_t DataFileUseCount(tarvex::FileRef file) {
    auto found = file_uses.counts.find(file.decl);
    return found == file_uses.counts.end() ? 0 : found->second;
}

} // namespace lumarex
