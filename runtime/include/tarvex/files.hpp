// SPDX-License-Identifier: GPL-3.0-or-later
// File statements for C++ programs. A FILE is declared in one place, with its driver, its name,
// its keys and its record:
//
//     #define PATIENT_FIELDS(FIELD) FIELD(PAT, LONG) FIELD(LNAME, STRING(28)) FIELD(FNAME, STRING(20))
//     TARVEX_RECORD(PatientRecord, "PAT", PATIENT_FIELDS)
//
//     tarvex::File<PatientRecord> Patient{KELSTORE, "C:\\LUMAREX\\DATA\\Patient.kel", {
//         tarvex::KEY("PAT:PATKEY", "+PAT", tarvex::OPT | tarvex::NOCASE | tarvex::PRIMARY),
//         tarvex::KEY("PAT:NAMEKEY", "+LNAME,+FNAME", tarvex::DUP | tarvex::OPT | tarvex::NOCASE)}};
//
// and used as the 4GL writes it:
//
//     OPEN(Patient, 0x22);
//     if (ERRORCODE()) ...
//     Patient.record.LNAME = "Smith";
//     SET(Patient.Key("PAT:NAMEKEY"));
//     for (NEXT(Patient); ERRORCODE() == 0; NEXT(Patient)) ...
//     WATCH(Patient); GET(Patient.Key("PAT:PATKEY")); PUT(Patient);
//     LOGOUT(2, Patient); DELETE(Patient); COMMIT();
//
// Every statement calls one exported operation of tarvex/files.h; results are in ERRORCODE().
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/files.h"
#include "tarvex/program.hpp"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace tarvex {

// Key attributes, as a KEY or INDEX declaration writes them.
inline constexpr uint32_t DUP = VRN_KEY_DUP;
inline constexpr uint32_t OPT = VRN_KEY_OPT;
inline constexpr uint32_t NOCASE = VRN_KEY_NOCASE;
inline constexpr uint32_t PRIMARY = VRN_KEY_PRIMARY;

// Access modes of OPEN and SHARE.
inline constexpr int32_t ReadOnly = 0x00, WriteOnly = 0x01, ReadWrite = 0x02;
inline constexpr int32_t DenyAll = 0x10, DenyWrite = 0x20, DenyRead = 0x30, DenyNone = 0x40;

// A KEY or INDEX of a file: its label, its components ("+LNAME,-BDATE": field labels with or
// without the record's prefix, "+" ascending (the default) or "-" descending) and its attributes.
struct KeySpec {
    std::string label;
    std::string components;
    uint32_t attributes = 0;
    const char* name = nullptr; // external index NAME, or null
};
inline KeySpec KEY(std::string label, std::string components, uint32_t attributes = 0) {
    return {std::move(label), std::move(components), attributes, nullptr};
}
inline KeySpec INDEX(std::string label, std::string components, uint32_t attributes = 0) {
    return {std::move(label), std::move(components), attributes | VRN_KEY_INDEX, nullptr};
}

// A NAME given as a fixed-length constant: the declaration holds the text's address and its byte
// count (no terminator), as for File<R> f{driver, FixedName("C:\\DATA\\A.KEL"), {...}}.
struct FixedName {
    const char* text;
    int32_t length;
    template <size_t N>
    constexpr FixedName(const char (&literal)[N]) : text(literal), length(static_cast<int32_t>(N - 1)) {} // NOLINT
};

// A FILE: its declaration block, its keys and its record buffer. It stays where it was made
// (the runtime and the driver hold its address), so it can be neither copied nor moved.
template <class Record> class File {
  public:
    File(VrnDriverEntry driver, const char* name, std::initializer_list<KeySpec> keys = {},
         uint8_t attributes = VRN_FILE_THREAD)
        : specs_(keys) {
        std::memset(&decl_, 0, sizeof(decl_));
        std::memset(static_cast<void*>(&record), 0, sizeof(Record));
        Vrn$CLEAR(&record, &Record::Type(), 0);
        decl_.driver = driver;
        decl_.name = name;
        decl_.name_length = VRN_LENGTH_CSTRING;
        decl_.attributes = attributes;
        decl_.record_length = sizeof(Record);
        decl_.record_type = &Record::Type();
        decl_.record = &record;
        components_.resize(specs_.size());
        key_blocks_.resize(specs_.size());
        for (size_t i = 0; i < specs_.size(); i++) {
            components_[i] = ParseComponents(specs_[i].components);
            KeyDecl& key = key_blocks_[i];
            std::memset(&key, 0, sizeof(key));
            key.name = specs_[i].name;
            key.label = specs_[i].label.c_str();
            key.label_length = static_cast<int32_t>(specs_[i].label.size());
            key.attributes = specs_[i].attributes;
            key.component_count = static_cast<uint8_t>(components_[i].size());
            key.components = components_[i].data();
            key.file = &decl_;
            key_pointers_.push_back(&key);
        }
        decl_.key_count = static_cast<uint8_t>(key_pointers_.size());
        decl_.keys = key_pointers_.data();
    }
    File(VrnDriverEntry driver, FixedName name, std::initializer_list<KeySpec> keys = {},
         uint8_t attributes = VRN_FILE_THREAD)
        : File(driver, name.text, keys, attributes) {
        decl_.name_length = name.length;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    Record record;

    FileDecl* Decl() { return &decl_; }
    // The key with that label (compared without regard to case), or null.
    KeyDecl* Key(std::string_view label) {
        for (KeyDecl& key : key_blocks_) {
            if (EqualNoCase(std::string_view(key.label, size_t(key.label_length)), label))
                return &key;
        }
        return nullptr;
    }
    KeyDecl* Key(size_t index) { return index < key_blocks_.size() ? &key_blocks_[index] : nullptr; }

  private:
    static bool EqualNoCase(std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); i++) {
            char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
            char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
            if (x != y)
                return false;
        }
        return true;
    }
    // "+LNAME,-BDATE" -> {2, -5}; an unknown label gives 0, which a driver refuses.
    static std::vector<int32_t> ParseComponents(std::string_view text) {
        std::vector<int32_t> out;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find_first_of(", ", at);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view part = text.substr(at, end - at);
            at = end + 1;
            if (part.empty())
                continue;
            int32_t sign = 1;
            if (part[0] == '+' || part[0] == '-') {
                sign = part[0] == '-' ? -1 : 1;
                part.remove_prefix(1);
            }
            uint32_t number =
                Vrn$FieldByLabel(&Record::Type(), part.data(), static_cast<uint32_t>(part.size()));
            out.push_back(sign * static_cast<int32_t>(number));
        }
        return out;
    }

    FileDecl decl_;
    std::vector<KeySpec> specs_;
    std::vector<std::vector<int32_t>> components_;
    std::vector<KeyDecl> key_blocks_;
    std::vector<KeyDecl*> key_pointers_;
};

// What a file statement takes: a File<...> or a bare declaration block.
struct FileRef {
    FileDecl* decl;
    FileRef(FileDecl* d) : decl(d) {}                                          // NOLINT: a block names a file
    template <class Record> FileRef(File<Record>& file) : decl(file.Decl()) {} // NOLINT: so does a File
};

namespace files_detail {
inline std::string PopText() {
    VrnStringPair pair{nullptr, 0};
    Vrn$PopTemp(&pair);
    std::string text(pair.address != nullptr ? pair.address : "", pair.length);
    Vrn$freestr(&pair);
    return text;
}
} // namespace files_detail

inline void OPEN(FileRef file, int32_t access_mode = ReadWrite | DenyNone) {
    Vrn$FILE_OPEN(file.decl, access_mode);
}
inline void SHARE(FileRef file, int32_t access_mode = ReadWrite | DenyNone) {
    Vrn$FILE_SHARE(file.decl, access_mode);
}
inline void CLOSE(FileRef file) {
    Vrn$FILE_CLOSE(file.decl);
}
inline void CREATE(FileRef file) {
    Vrn$FILE_CREATE(file.decl);
}
inline void BUILD(FileRef file) {
    Vrn$FILE_BUILDf(file.decl);
}
inline void EMPTY(FileRef file) {
    Vrn$FILE_EMPTY(file.decl);
}
// SET(file): record order from the start; SET(key): key order from the start (or, with the key's
// fields filled in the record, from there).
inline void SET(FileRef file) {
    Vrn$FILE_SETf(file.decl);
}
inline void SET(KeyDecl* key) {
    Vrn$FILE_SETk(key);
}
inline void SET(FileRef file, int32_t pointer) {
    Vrn$FILE_SETfl(file.decl, pointer);
}
// SET(key, start_key): key order, starting at the record whose `start_key` fields equal the
// record buffer's (or the next one after them).
inline void SET(KeyDecl* key, KeyDecl* start_key) {
    Vrn$FILE_SETkk(key, start_key);
}
// CLEAR(file): blanks and zeroes the file's record buffer.
template <class Record> void CLEAR(File<Record>& file) {
    Vrn$CLEAR(&file.record, &Record::Type(), 0);
}
inline void NEXT(FileRef file) {
    Vrn$FILE_NEXT(file.decl);
}
inline void PREVIOUS(FileRef file) {
    Vrn$FILE_PREV(file.decl);
}
inline void SKIP(FileRef file, int32_t count) {
    Vrn$FILE_SKIP(file.decl, count);
}
inline void GET(KeyDecl* key) {
    Vrn$FILE_GETfk(key);
}
inline void GET(FileRef file, int32_t pointer) {
    Vrn$FILE_GETfl(file.decl, pointer);
}
inline void ADD(FileRef file) {
    Vrn$FILE_ADDf(file.decl);
}
inline void APPEND(FileRef file) {
    Vrn$FILE_APPENDf(file.decl);
}
inline void PUT(FileRef file) {
    Vrn$FILE_PUTf(file.decl);
}
inline void DELETE(FileRef file) {
    Vrn$FILE_DELETE(file.decl);
}
inline void WATCH(FileRef file) {
    Vrn$FILE_WATCH(file.decl);
}
inline void HOLD(FileRef file) {
    Vrn$FILE_HOLDf(file.decl);
}
inline void RELEASE(FileRef file) {
    Vrn$FILE_RELEASE(file.decl);
}
inline void LOCK(FileRef file) {
    Vrn$FILE_LOCKf(file.decl);
}
inline void LOCK(FileRef file, int32_t seconds) {
    Vrn$FILE_LOCKfi(file.decl, seconds);
}
inline void UNLOCK(FileRef file) {
    Vrn$FILE_UNLOCK(file.decl);
}
inline void STREAM(FileRef file) {
    Vrn$FILE_STREAM(file.decl);
}
inline void FLUSH(FileRef file) {
    Vrn$FILE_FLUSH(file.decl);
}
inline int32_t RECORDS(FileRef file) {
    return Vrn$FILE_RECORDSf(file.decl);
}
inline int32_t RECORDS(KeyDecl* key) {
    return Vrn$FILE_RECORDSk(key);
}
inline int32_t POINTER(FileRef file) {
    return Vrn$FILE_POINTERf(file.decl);
}
inline int32_t BYTES(FileRef file) {
    return Vrn$FILE_BYTES(file.decl);
}
inline bool DUPLICATE(KeyDecl* key) {
    return Vrn$FILE_DUPLICATEk(key) != 0;
}
inline std::string NAME(FileRef file) {
    Vrn$FILE_NAME(file.decl);
    return files_detail::PopText();
}
inline std::string POSITION(FileRef file) {
    Vrn$FILE_POSITIONf(file.decl);
    return files_detail::PopText();
}
inline std::string POSITION(KeyDecl* key) {
    Vrn$FILE_POSITIONk(key);
    return files_detail::PopText();
}
inline void RESET(FileRef file, std::string_view position) {
    Vrn$PushString(position.data(), static_cast<uint32_t>(position.size()));
    Vrn$FILE_RESETf(file.decl);
}
inline void RESET(KeyDecl* key, std::string_view position) {
    Vrn$PushString(position.data(), static_cast<uint32_t>(position.size()));
    Vrn$FILE_RESETk(key);
}
inline void REGET(FileRef file, std::string_view position) {
    Vrn$PushString(position.data(), static_cast<uint32_t>(position.size()));
    Vrn$FILE_REGETf(file.decl);
}
inline void REGET(KeyDecl* key, std::string_view position) {
    Vrn$PushString(position.data(), static_cast<uint32_t>(position.size()));
    Vrn$FILE_REGETk(key);
}
inline std::string SEND(FileRef file, std::string_view command) {
    Vrn$PushString(command.data(), static_cast<uint32_t>(command.size()));
    Vrn$FILE_SEND(file.decl);
    return files_detail::PopText();
}

// LOGOUT(seconds, File1, File2, ...): a transaction over the files; LOGOUT(seconds) over the
// driver's log files.
template <class... Files> void LOGOUT(int32_t seconds, Files&&... files) {
    FileDecl* list[] = {FileRef(files).decl..., nullptr};
    Vrn$LOGOUTfiles(seconds, list);
}
inline void COMMIT() {
    Vrn$COMMIT();
}
inline void ROLLBACK() {
    Vrn$ROLLBACK();
}

// Files by name.
inline void REMOVE(std::string_view name) {
    Vrn$PushString(name.data(), static_cast<uint32_t>(name.size()));
    Vrn$RemoveFile();
}
inline void RENAME(std::string_view name, std::string_view new_name) {
    Vrn$PushString(new_name.data(), static_cast<uint32_t>(new_name.size()));
    Vrn$PushString(name.data(), static_cast<uint32_t>(name.size()));
    Vrn$RenameFile();
}
// MKDIR(folder): creates the folder and any missing folders above it.
inline void MKDIR(std::string_view folder) {
    Vrn$PushString(folder.data(), static_cast<uint32_t>(folder.size()));
    Vrn$MakeFolder();
}
inline void COPY(std::string_view name, std::string_view new_name) {
    Vrn$PushString(new_name.data(), static_cast<uint32_t>(new_name.size()));
    Vrn$PushString(name.data(), static_cast<uint32_t>(name.size()));
    Vrn$CopyFile();
}

} // namespace tarvex
