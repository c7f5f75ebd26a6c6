// SPDX-License-Identifier: GPL-3.0-or-later
// Moving the practice's data between the SQLite files and a PostgreSQL database (move_data.h).
#include "data/move_data.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

#include "data/dictionary.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/settings.h"

namespace lumarex {

namespace {

// A second declaration of a dictionary file, on another driver: the same name, record and keys,
// sharing the record buffer, so a record read from the one is written to the other as it stands.
struct Twin {
    FileDecl decl{};
    std::vector<KeyDecl> keys;
    std::vector<KeyDecl*> key_blocks;

    Twin(const FileDecl& source, VrnDriverEntry driver) : decl(source) {
        decl.driver = driver;
        decl.driver_instance = nullptr;
        keys.reserve(source.key_count);
        for (uint32_t k = 0; k < source.key_count; k++) {
            keys.push_back(*source.keys[k]);
            keys.back().file = &decl;
        }
        for (KeyDecl& key : keys)
            key_blocks.push_back(&key);
        decl.keys = key_blocks.data();
    }
    Twin(const Twin&) = delete;
    Twin& operator=(const Twin&) = delete;

    // Makes the copy under another name: the file's name in the staging folder beside it.
    void Stage(std::string name) {
        staged_name = std::move(name);
        decl.name = staged_name.c_str();
        decl.name_length = VRN_LENGTH_CSTRING;
    }
    std::string staged_name;
};

// The folder, beside a data file, that a copy into the SQLite files is made in before it replaces
// the data files.
constexpr const char* kStagingFolder = "lummove.staging";
// How long a data file that a program has open is waited for before the move gives up.
constexpr int32_t kClaimWaitMilliseconds = 2000;

// Where a file's copy is made: the staging folder beside the file (its program name, ending in a
// backslash) and the file's name in it.
struct Staged {
    std::string folder, name;
};
Staged StagedOf(const std::string& name) {
    size_t slash = name.find_last_of("\\/");   // npos + 1 is 0: a name without a folder
    std::string folder = name.substr(0, slash + 1) + kStagingFolder + "\\";
    return {folder, folder + name.substr(slash + 1)};
}

// The host path of a program's file name; empty when it cannot be mapped.
std::filesystem::path HostPath(const std::string& name) {
    std::string path(4096, '\0');
    uint32_t length = _drv_HostPath(name.c_str(), path.data(), uint32_t(path.size()));
    path.resize(length);
    return path;
}

std::string NameOf(const FileDecl& file) {
    char* name = _drv_MakeCSTRING(file.name, file.name_length);
    std::string text = name != nullptr ? name : "";
    std::free(name);
    return text;
}

int32_t Failed(std::string* report, const FileDecl& file, const std::string& what, int32_t code) {
    *report = NameOf(file) + ": " + what + " (error " + std::to_string(code) + ")";
    if (code == 90) {
        Vrn$FILEERRORMSG();
        VrnStringPair pair{nullptr, 0};
        Vrn$PopTemp(&pair);
        std::string message = pair.address != nullptr ? std::string(pair.address, pair.length) : "";
        Vrn$freestr(&pair);
        message.erase(message.find_last_not_of(' ') + 1);   // the error text comes padded
        if (!message.empty())
            *report += ": " + message;
    }
    return code;
}

// The MEMO and BLOB values of the record just read, in the declaration's order.
std::vector<std::string> MemosOf(FileDecl* file) {
    std::vector<std::string> values(file->memo_count);
    for (uint32_t i = 0; i < file->memo_count; i++) {
        int32_t size = Vrn$BLOB_SIZE(file, uint16_t(i + 1));
        values[i].assign(size_t(size > 0 ? size : 0), '\0');
        if (size > 0)
            Vrn$BLOB_YIELD(file, uint16_t(i + 1), reinterpret_cast<intptr_t>(values[i].data()), intptr_t(size));
    }
    return values;
}

// Copies every record of `source` to `target` in record order, its memos with it: 0 or the error
// code.
int32_t CopyRecords(FileDecl* source, FileDecl* target, std::string* report) {
    Vrn$FILE_SETf(source);
    for (;;) {
        Vrn$FILE_NEXT(source);
        if (Vrn$ERRCODE == 33)
            return 0;
        if (Vrn$ERRCODE != 0)
            return Failed(report, *source, "reading", Vrn$ERRCODE);
        std::vector<std::string> memos = MemosOf(source);
        for (uint32_t i = 0; i < target->memo_count && i < memos.size(); i++) {
            Vrn$BLOB_TAKE(target, uint16_t(i + 1), reinterpret_cast<intptr_t>(memos[i].data()),
                          intptr_t(memos[i].size()));
            if (Vrn$ERRCODE != 0)
                return Failed(report, *target, "taking memo " + std::to_string(i + 1), Vrn$ERRCODE);
        }
        Vrn$FILE_ADDf(target);
        if (Vrn$ERRCODE != 0)
            return Failed(report, *target, "writing", Vrn$ERRCODE);
    }
}

// The same number of records, and under every key the same records in the same order.
int32_t Check(FileDecl* source, FileDecl* target, std::string* report) {
    int32_t had = Vrn$FILE_RECORDSf(source), has = Vrn$FILE_RECORDSf(target);
    if (had != has)
        return Failed(report, *target, std::to_string(has) + " records where the source has " + std::to_string(had), 90);
    std::vector<char> expected(source->record_length);
    for (uint32_t k = 0; k < source->key_count; k++) {
        Vrn$FILE_SETk(source->keys[k]);
        Vrn$FILE_SETk(target->keys[k]);
        for (int64_t row = 0;; row++) {
            Vrn$FILE_NEXT(source);
            int32_t source_code = Vrn$ERRCODE;
            std::memcpy(expected.data(), source->record, source->record_length);
            Vrn$FILE_NEXT(target);
            int32_t target_code = Vrn$ERRCODE;
            if (source_code != target_code ||
                (source_code == 0 && (std::memcmp(expected.data(), target->record, source->record_length) != 0 ||
                                      MemosOf(source) != MemosOf(target))))
                return Failed(report, *target, "record " + std::to_string(row + 1) + " in the order of key " +
                                                   std::to_string(k + 1) + " differs from the source",
                              90);
            if (source_code != 0)
                break;
        }
    }
    return 0;
}

// The host path of a staging folder (its program name ends in a backslash).
std::filesystem::path StagingHost(const std::string& folder) {
    return HostPath(folder.substr(0, folder.size() - 1));
}

// Empties the staging folders (an interrupted move may have left one) and removes them.
void DiscardStaging(const std::set<std::string>& folders) {
    for (const std::string& folder : folders)
        if (std::filesystem::path host = StagingHost(folder); !host.empty() && host.filename() == kStagingFolder) {
            std::error_code ignored;
            std::filesystem::remove_all(host, ignored);
        }
}

// Puts the staged copies in place of the data files: every file the drivers made in a staging
// folder replaces its namesake beside the folder in one rename. No program may have the data
// files open meanwhile: each is claimed exclusively before the first rename. A data file's
// leftover journal goes with the file, since it belongs to the file replaced. 0, or the error
// with `report` naming the file.
int32_t PutStagedInPlace(const std::set<std::string>& folders, std::string* report) {
    struct Move {
        std::filesystem::path from, to;
    };
    std::vector<Move> moves;
    for (const std::string& folder : folders) {
        std::filesystem::path host = StagingHost(folder);
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(host, error))
            if (entry.is_regular_file())
                moves.push_back({entry.path(), host.parent_path() / entry.path().filename()});
        if (error) {
            *report = folder + ": reading the staged copies (" + error.message() + ")";
            return 90;
        }
    }
    std::vector<intptr_t> claims;
    auto release = [&] {
        for (intptr_t claim : claims)
            _drv_UnclaimFile(claim);
    };
    for (const Move& move : moves) {
        std::error_code ignored;
        if (!std::filesystem::exists(move.to, ignored))
            continue;
        int32_t error = 0;
        intptr_t claim = _drv_ClaimFile(move.to.c_str(), 1, kClaimWaitMilliseconds, &error);
        if (claim == 0) {
            release();
            *report = move.to.filename().string() + ": in use by a program; nothing was replaced (error " +
                      std::to_string(error) + ")";
            return error != 0 ? error : 32;
        }
        claims.push_back(claim);
    }
    for (size_t i = 0; i < moves.size(); i++) {
        std::error_code error;
        std::filesystem::remove(moves[i].to.string() + "-journal", error);
        std::filesystem::rename(moves[i].from, moves[i].to, error);
        if (error) {
            release();
            *report = moves[i].to.filename().string() + ": replacing the data file (" + error.message() + "); " +
                      std::to_string(i) + " of " + std::to_string(moves.size()) +
                      " files were replaced: move again to replace them all";
            return 90;
        }
    }
    release();
    return 0;
}

} // namespace

bool DatabaseNamed() {
    return Vrn$GetSetting(kDatabaseSetting, nullptr, 0) > 0;
}

const DataHome& BindDataHome(const DataHome& files, const DataHome& server) {
    const DataHome& home = DatabaseNamed() ? server : files;
    BindFileDrivers(home.kelstore, home.varnel);
    return home;
}

int32_t MoveData(const DataHome& from, const DataHome& to, bool replace, std::string* report) {
    BindFileDrivers(from.kelstore, from.varnel);
    return MoveFiles(DictionaryFiles(), to, replace, report);
}

int32_t MoveFiles(std::span<FileDecl* const> files, const DataHome& to, bool replace, std::string* report) {
    report->clear();
    std::vector<std::unique_ptr<Twin>> targets;
    for (FileDecl* file : files)
        targets.push_back(std::make_unique<Twin>(*file, file == Provider.Decl() ? to.varnel : to.kelstore));
    // One driver for every file takes them all into one transaction. The SQLite files cannot
    // share one: the copies are made in a staging folder beside the data and replace the data
    // files only once every one is copied and checked, so a failure leaves the data as it was.
    bool whole = to.kelstore == to.varnel;
    std::set<std::string> staging;
    size_t opened = 0;
    int32_t code = 0;
    auto close_all = [&] {
        for (size_t i = 0; i < opened; i++) {
            Vrn$FILE_CLOSE(files[i]);
            Vrn$FILE_CLOSE(&targets[i]->decl);
        }
    };
    for (; opened < files.size(); opened++) {
        FileDecl* source = files[opened];
        FileDecl* target = &targets[opened]->decl;
        Vrn$FILE_OPEN(source, 0x40); // read-only, deny none
        if (Vrn$ERRCODE != 0) {
            code = Failed(report, *source, "opening the source", Vrn$ERRCODE);
            break;
        }
        Vrn$FILE_OPEN(target, 0x42);
        if (Vrn$ERRCODE == 0) {
            int32_t records = Vrn$FILE_RECORDSf(target);
            Vrn$FILE_CLOSE(target);
            if (records > 0 && !replace) {
                code = Failed(report, *target, "holds " + std::to_string(records) + " records; it is replaced only when asked", 90);
                Vrn$FILE_CLOSE(source);
                break;
            }
        }
        if (!whole) {
            const Staged staged = StagedOf(NameOf(*target));
            const std::string& folder = staged.folder;
            if (staging.insert(folder).second) {
                DiscardStaging({folder});
                Vrn$PushString(folder.data(), uint32_t(folder.size()));
                Vrn$MakeFolder();
                if (Vrn$ERRCODE != 0) {
                    code = Failed(report, *target, "making the folder " + folder, Vrn$ERRCODE);
                    Vrn$FILE_CLOSE(source);
                    break;
                }
            }
            targets[opened]->Stage(staged.name);
        }
        Vrn$FILE_CREATE(target);
        if (Vrn$ERRCODE == 0)
            Vrn$FILE_OPEN(target, 0x42);
        if (Vrn$ERRCODE != 0) {
            code = Failed(report, *target, "making the target", Vrn$ERRCODE);
            Vrn$FILE_CLOSE(source);
            break;
        }
    }
    if (code != 0) {
        close_all();
        DiscardStaging(staging);
        return code;
    }
    if (whole) {
        std::vector<FileDecl*> list;
        for (auto& target : targets)
            list.push_back(&target->decl);
        list.push_back(nullptr);
        Vrn$LOGOUTfiles(30, list.data());
        if (Vrn$ERRCODE != 0)
            code = Failed(report, *list.front(), "starting the transaction", Vrn$ERRCODE);
    }
    for (size_t i = 0; code == 0 && i < files.size(); i++) {
        FileDecl* target = &targets[i]->decl;
        if (!whole)
            Vrn$FILE_STREAM(target);
        code = CopyRecords(files[i], target, report);
        if (!whole) {
            Vrn$FILE_FLUSH(target);
            if (code == 0 && Vrn$ERRCODE != 0)
                code = Failed(report, *target, "writing", Vrn$ERRCODE);
        }
        if (code == 0)
            code = Check(files[i], target, report);
    }
    if (whole) {
        if (code == 0) {
            Vrn$COMMIT();
            if (Vrn$ERRCODE != 0)
                code = Failed(report, targets.front()->decl, "committing", Vrn$ERRCODE);
        } else {
            Vrn$ROLLBACK();
        }
    }
    close_all();
    if (!whole && code == 0)
        code = PutStagedInPlace(staging, report);
    DiscardStaging(staging);
    return code;
}

} // namespace lumarex
