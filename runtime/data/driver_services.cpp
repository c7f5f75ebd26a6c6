// SPDX-License-Identifier: GPL-3.0-or-later
// Services the runtime offers every file driver: heap copies of declaration strings, the walk over
// a driver-options string, file-name completion, reserved words and type names, and copying or
// renaming the files of a table.
#include "data/driver_services.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/char_tables.h"
#include "platform/platform.h"
#include "tarvex/files.h"

namespace tarvex {

namespace {

// ---- Options cursor ------------------------------------------------------------------------------

struct OptionsCursor {
    std::mutex mutex;
    bool active = false;
    const Drv_FCB* fcb = nullptr;
    const char* source = nullptr; // the block's string when the walk began
    std::string text;             // our own copy: the block may be freed between calls
    size_t offset = 0;
};

OptionsCursor& Cursor() {
    static OptionsCursor cursor;
    return cursor;
}

// The end of the option that starts at `begin` (the separator's offset, or the text's end).
size_t OptionEnd(std::string_view text, size_t begin, char separator) {
    bool quoted = false;
    for (size_t i = begin; i < text.size(); i++) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (!quoted && text[i] == separator)
            return i;
    }
    return text.size();
}

// ---- Names ------------------------------------------------------------------------------------------

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The extension to use: "." before the default unless it has one.
std::string DottedExtension(const char* extension) {
    if (extension == nullptr || *extension == '\0')
        return {};
    return extension[0] == '.' ? std::string(extension) : "." + std::string(extension);
}

// The offset of the extension's "." in a name, or npos (a "." after the last separator).
size_t ExtensionDot(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return dot;
    size_t separator = name.find_last_of("\\/");
    if (separator != std::string_view::npos && separator > dot)
        return std::string_view::npos;
    return dot;
}

// Removes "." and ".." components from an absolute folder ("\A\.\B\..\" -> "\A\").
std::string NormaliseFolder(std::string_view folder) {
    std::vector<std::string_view> parts;
    size_t at = 0;
    while (at < folder.size()) {
        while (at < folder.size() && IsSeparator(folder[at]))
            at++;
        size_t end = at;
        while (end < folder.size() && !IsSeparator(folder[end]))
            end++;
        std::string_view part = folder.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end;
    }
    std::string out = "\\";
    for (std::string_view part : parts) {
        out.append(part);
        out += '\\';
    }
    return out;
}

int32_t StoreName(const std::string& name, char* out) {
    if (name.size() >= VRN_MAX_PATH)
        return 45;
    std::memcpy(out, name.c_str(), name.size() + 1);
    return 0;
}

// The file name part of a path (after its last separator).
std::string_view FileNamePart(std::string_view path) {
    size_t separator = path.find_last_of("\\/");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

constexpr const char* kReservedWords[] = {
    "ACCEPT",  "AND",      "BEGIN", "BREAK", "BY",        "CASE",    "COMPILE",  "CYCLE",
    "DO",      "EJECT",    "ELSE",  "ELSIF", "EMBED",     "END",     "ENDEMBED", "EXECUTE",
    "EXIT",    "FUNCTION", "GOTO",  "IF",    "INCLUDE",   "LOOP",    "MEMBER",   "NOT",
    "OF",      "OMIT",     "OR",    "OROF",  "PROCEDURE", "PROGRAM", "RETURN",   "ROUTINE",
    "SECTION", "THEN",     "TIMES", "TO",    "UNTIL",     "WHILE",   "XOR"};

constexpr const char* kTypeNames[] = {
    "END",     "BYTE",  "SHORT",   "USHORT",   "DATE",     "TIME",    "LONG",    "ULONG",
    "SREAL",   "REAL",  "DECIMAL", "PDECIMAL", "DUM1",     "BFLOAT4", "BFLOAT8", "ANY",
    "TEMPUFO", "(17)",  "STRING",  "CSTRING",  "PSTRING",  "MEMO",    "GROUP",   "CLASS",
    "ARRAY",   "FIELD", "QUEUE",   "BLOB",     "STACKSTR", "PICTURE", "STDNUM"};

} // namespace

} // namespace tarvex

using namespace tarvex;

TARVEX_API char* _drv_MakeCSTRING(const char* address, int32_t length) {
    if (address == nullptr || length == 0 || length < VRN_LENGTH_PSTRING)
        return nullptr;
    size_t size;
    if (length == VRN_LENGTH_CSTRING) {
        size = std::strlen(address);
    } else if (length == VRN_LENGTH_PSTRING) {
        int8_t prefix = static_cast<int8_t>(address[0]);
        size = prefix > 0 ? size_t(prefix) : 0;
        address++;
    } else {
        size = size_t(length);
        while (size > 0 && address[size - 1] == ' ')
            size--;
    }
    char* copy = static_cast<char*>(std::malloc(size + 1));
    if (copy == nullptr)
        return nullptr;
    if (size)
        std::memcpy(copy, address, size);
    copy[size] = '\0';
    return copy;
}

TARVEX_API char* _drv_Strup(char* text) {
    if (text == nullptr)
        return nullptr;
    char* to = text;
    for (const char* from = text; *from != '\0'; from++) {
        if (std::isspace(static_cast<unsigned char>(*from)))
            continue;
        *to++ = ToUpper(*from);
    }
    *to = '\0';
    return text;
}

TARVEX_API int32_t _drv_NextDrvStr(Drv_FCB* fcb, uint32_t* size, char* buffer) {
    OptionsCursor& cursor = Cursor();
    std::lock_guard lock(cursor.mutex);
    const char* source = fcb != nullptr ? fcb->options : nullptr;
    if (!cursor.active || cursor.fcb != fcb || cursor.source != source) {
        cursor.active = source != nullptr;
        cursor.fcb = fcb;
        cursor.source = source;
        cursor.text = source != nullptr ? source : "";
        cursor.offset = 0;
    }
    std::string_view text = cursor.text;
    if (!cursor.active || cursor.offset >= text.size()) {
        if (buffer != nullptr && size != nullptr && *size > 0)
            buffer[0] = '\0';
        if (size != nullptr)
            *size = 0;
        cursor.active = false;
        cursor.fcb = nullptr;
        cursor.source = nullptr;
        cursor.text.clear();
        cursor.offset = 0;
        return 0;
    }
    size_t begin = cursor.offset;
    char separator = ',';
    if (text[begin] == '/') {
        separator = '/';
        begin++;
    }
    size_t end = OptionEnd(text, begin, separator);
    std::string_view option = text.substr(begin, end - begin);
    uint32_t capacity = size != nullptr ? *size : 0;
    if (buffer == nullptr || capacity == 0 || option.size() > capacity - 1) {
        uint32_t missing = buffer == nullptr || capacity == 0 ? uint32_t(option.size())
                                                              : uint32_t(option.size() - (capacity - 1));
        if (size != nullptr)
            *size = capacity + missing;
        return 8;
    }
    std::memcpy(buffer, option.data(), option.size());
    buffer[option.size()] = '\0';
    *size = uint32_t(option.size());
    cursor.offset = end < text.size() ? end + 1 : end;
    // A "/" that ends a slash option also begins the next one.
    if (separator == '/' && end < text.size())
        cursor.offset = end;
    return 0;
}

TARVEX_API int32_t _drv_ChkName(const char* name, char* out, const char* default_extension, int32_t replace) {
    if (out == nullptr)
        return 45;
    out[0] = '\0';
    if (name == nullptr)
        return 45;
    std::string_view text = name;
    // Characters no file name may hold: they would name hidden, odd or several files on Linux.
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("*?<>|\"", c) != nullptr)
            return 45;
    }
    std::string extension = DottedExtension(default_extension);
    size_t colon = text.find(':');
    bool unresolved = (colon != std::string_view::npos && colon != 1) || text.starts_with("\\\\");
    if (unresolved) {
        std::string result(text);
        size_t dot = ExtensionDot(text);
        if (dot == std::string_view::npos) {
            result += extension;
        } else if (replace) {
            result = result.substr(0, dot) + extension;
        }
        return StoreName(result, out);
    }
    if (text.size() >= VRN_MAX_PATH)
        return 45;
    // Split into drive, folder, file name and extension.
    std::string drive;
    if (text.size() >= 2 && text[1] == ':') {
        drive = std::string(1, char(std::toupper(static_cast<unsigned char>(text[0])))) + ":";
        text.remove_prefix(2);
    }
    size_t separator = text.find_last_of("\\/");
    std::string folder =
        separator == std::string_view::npos ? "" : std::string(text.substr(0, separator + 1));
    std::string_view file = separator == std::string_view::npos ? text : text.substr(separator + 1);
    std::string file_name(file);
    std::string file_extension;
    size_t dot = file.rfind('.');
    if (dot != std::string_view::npos) {
        file_name = std::string(file.substr(0, dot));
        file_extension = std::string(file.substr(dot)); // "." alone: an explicit empty extension
    }
    // A bare drive or folder, or a name of blanks, names no file.
    if (file_name.find_first_not_of(' ') == std::string::npos)
        return 45;
    std::string current = platform::CurrentFolder();
    if (drive.empty()) {
        if (current.size() < 2 || current[1] != ':') {
            int32_t error = platform::LastError();
            return error != 0 ? error : 3;
        }
        drive = current.substr(0, 2);
    }
    if (folder.empty() || !IsSeparator(folder[0])) {
        // Relative to the drive's current folder: the process's one when it lies on that drive,
        // else the drive's root. The folder is computed, never entered, so other threads keep
        // their current folder.
        std::string base = "\\";
        if (current.size() >= 2 && EqualNoCase(current.substr(0, 2), drive))
            base = current.substr(2) + "\\";
        std::string absolute = NormaliseFolder(base + folder);
        std::string linux_folder = platform::ResolveFileName(drive + absolute);
        if (linux_folder.empty())
            return 3;
        if (!platform::IsDirectory(linux_folder))
            return 3; // "Path Not Found"
        folder = absolute;
    } else {
        folder = NormaliseFolder(folder);
    }
    if (file_extension.empty() || replace)
        file_extension = extension;
    return StoreName(drive + folder + file_name + file_extension, out);
}

TARVEX_API int32_t _drv_IsReservedWord(const char* text) {
    if (text == nullptr)
        return 0;
    std::string upper(text);
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    // The list is sorted: the search stops at the first word that sorts above the text.
    for (const char* word : kReservedWords) {
        int order = std::strcmp(word, upper.c_str());
        if (order == 0)
            return 1;
        if (order > 0)
            return 0;
    }
    return 0;
}

TARVEX_API const char* _drv_GetTypeName(int32_t type) {
    if (type < 0 || type >= int32_t(std::size(kTypeNames)))
        return "UNKNOWN";
    return kTypeNames[type];
}

TARVEX_API int32_t _drv_PathIsDirectory(const char* path) {
    if (path == nullptr || *path == '\0')
        return 0;
    return platform::IsDirectory(platform::ResolveFileName(path)) ? 1 : 0;
}

TARVEX_API uint32_t _drv_HostPath(const char* name, char* path, uint32_t size) {
    if (path == nullptr || size == 0) return 0;
    path[0] = '\0';
    if (name == nullptr || *name == '\0') return 0;
    std::string host = platform::ResolveFileName(name);
    if (host.empty() || host.size() >= size) return 0;
    std::memcpy(path, host.c_str(), host.size() + 1);
    return static_cast<uint32_t>(host.size());
}

TARVEX_API intptr_t _drv_ClaimFile(const char* host_path, int32_t exclusive, int32_t wait_milliseconds,
                                   int32_t* error) {
    int32_t ignored = 0;
    int32_t& code = error != nullptr ? *error : ignored;
    code = 0;
    if (host_path == nullptr || *host_path == '\0') {
        code = 45;
        return 0;
    }
    return platform::ClaimFile(host_path, exclusive != 0, wait_milliseconds, &code);
}

TARVEX_API void _drv_UnclaimFile(intptr_t claim) {
    platform::UnclaimFile(claim);
}

TARVEX_API int32_t _drv_CopyFile(const char* source, const char* destination) {
    if (source == nullptr || destination == nullptr)
        return 45;
    if (EqualNoCase(source, destination))
        return 0;
    std::string from = platform::ResolveFileName(source);
    std::string to = platform::ResolveFileName(destination);
    if (from.empty() || to.empty())
        return 45;
    if (from == to)
        return 0;
    int32_t error = platform::CopyFileReplacing(from, to);
    return error == 161 ? 45 : error;
}

namespace {

int32_t MoveOrCopy(const std::string& source, const std::string& target, bool rename) {
    if (!rename)
        return _drv_CopyFile(source.c_str(), target.c_str());
    std::string from = platform::ResolveFileName(source);
    std::string to = platform::ResolveFileName(target);
    if (from.empty() || to.empty())
        return 2; // ENOENT, as the C library reports a bad name
    return platform::RenameFileNoReplace(from, to);
}

} // namespace

TARVEX_API int32_t _drv_CopyOrRenameFile(const char* source, const char* destination, int32_t rename) {
    if (source == nullptr || destination == nullptr)
        return 45;
    std::string_view dest = destination;
    // First the destination as a folder.
    std::string target(dest);
    if (!dest.empty() && dest.back() == ':')
        target += ".\\";
    else if (dest.empty() || !IsSeparator(dest.back()))
        target += '\\';
    target += FileNamePart(source);
    std::string folder = platform::ResolveFileName(dest.empty() ? "." : dest);
    if (!folder.empty() && platform::IsDirectory(folder)) {
        // An existing folder is never taken for a file name as well: a copy that failed into it
        // must not land beside it under the folder's name.
        return MoveOrCopy(source, target, rename != 0);
    }
    // Then as a file name, completed with the source's extension.
    std::string_view source_text = source;
    size_t dot = ExtensionDot(source_text);
    std::string extension = dot == std::string_view::npos ? "" : std::string(source_text.substr(dot));
    char completed[VRN_MAX_PATH];
    int32_t error = _drv_ChkName(destination, completed, extension.empty() ? nullptr : extension.c_str(), 0);
    if (error != 0)
        return error;
    return MoveOrCopy(source, completed, rename != 0);
}

TARVEX_API int32_t _drv_CopyOrRenameFiles(const char* table, const char* destination, const char* extensions,
                                          int32_t rename) {
    if (table == nullptr || destination == nullptr || extensions == nullptr)
        return 45;
    std::string_view list = extensions;
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find('.', at);
        if (end == std::string_view::npos)
            end = list.size();
        std::string extension(list.substr(at, end - at));
        at = end + 1;
        if (extension.empty())
            continue;
        char name[VRN_MAX_PATH];
        int32_t error = _drv_ChkName(table, name, extension.c_str(), 1);
        if (error == 0)
            error = _drv_CopyOrRenameFile(name, destination, rename);
        if (error != 0)
            return error;
    }
    return 0;
}
