// SPDX-License-Identifier: GPL-3.0-or-later
// Profile (INI) files: "[Section]" headers and "key=value" lines, read and rewritten the way
// Windows treats them.
//
// Reading: sections and keys compare without regard to (ASCII) case after trimming blanks; the
// first section of a name and the first key in it win; lines whose first non-blank character is
// ';' are comments; a line without '=' is a key with an empty value; lines before the first
// section belong to none. A value is trimmed, and when it is wholly enclosed in double quotes one
// pair is removed, so a value with blanks at its ends can be stored quoted.
//
// Writing changes only the lines concerned and keeps every other byte as it was: a replaced key
// keeps its place and the spelling of its name, a new key goes after the last key of its section,
// a new section goes at the end of the file after a blank line. A value that would not read back
// as written (blanks at its ends, or quotes around it) is written inside double quotes. New lines
// use the line ending the file already uses ("\r\n" or "\n"); a new file uses "\n". Deleting a
// section removes every section of that name with all its lines up to the next section; deleting
// a key removes every line of that key in the section that reads see. Names or values with line
// breaks, and empty keys, are refused. A leading UTF-8 byte-order mark is kept and not read.
#include "platform/ascii.h"
#include "platform/platform.h"

#include <cerrno>

namespace tarvex::platform {

namespace {

enum class LineKind { Blank, Comment, Section, Entry };

struct Line {
    std::string_view content; // without the line ending
    std::string_view eol;     // "\r\n", "\n" or empty for a last line without one
    LineKind kind;
    std::string_view name;  // section name or key, trimmed
    std::string_view value; // trimmed value of an entry
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        Line line{};
        if (newline == std::string_view::npos) {
            line.content = text.substr(start);
            start = text.size();
        } else {
            size_t end = newline;
            if (end > start && text[end - 1] == '\r') {
                end--;
            }
            line.content = text.substr(start, end - start);
            line.eol = text.substr(end, newline + 1 - end);
            start = newline + 1;
        }
        std::string_view trimmed = Trim(line.content);
        if (lines.empty() && trimmed.substr(0, 3) == "\xEF\xBB\xBF") {
            trimmed = Trim(trimmed.substr(3)); // a UTF-8 byte-order mark, kept but not read
        }
        if (trimmed.empty()) {
            line.kind = LineKind::Blank;
        } else if (trimmed.front() == ';') {
            line.kind = LineKind::Comment;
        } else if (trimmed.front() == '[') {
            line.kind = LineKind::Section;
            std::string_view inner = trimmed.substr(1);
            size_t close = inner.rfind(']');
            line.name = Trim(close == std::string_view::npos ? inner : inner.substr(0, close));
        } else {
            line.kind = LineKind::Entry;
            size_t equals = trimmed.find('=');
            if (equals == std::string_view::npos) {
                line.name = trimmed;
            } else {
                line.name = Trim(trimmed.substr(0, equals));
                line.value = Trim(trimmed.substr(equals + 1));
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// The index of the first header of the section, or lines.size().
size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].kind == LineKind::Section && EqualNoCase(lines[i].name, section)) {
            return i;
        }
    }
    return lines.size();
}

// One past the last line of the section whose header is at `header`.
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::Section) {
        i++;
    }
    return i;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string Quote(std::string_view value) {
    bool needs = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                    (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    std::string out;
    if (needs) {
        out += '"';
    }
    out += value;
    if (needs) {
        out += '"';
    }
    return out;
}

bool HasLineBreak(std::string_view text) {
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

std::string_view LineEndingOf(std::string_view text) {
    size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') {
        return "\r\n";
    }
    return "\n";
}

// Appends a line as it was, or with a line ending when it had none and more text follows.
void AppendLine(std::string& out, const Line& line, bool more_follows, std::string_view eol) {
    out += line.content;
    out += line.eol.empty() && more_follows ? eol : line.eol;
}

std::mutex profile_write_mutex;

} // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    section = Trim(section);
    key = Trim(key);
    if (key.empty()) {
        return std::nullopt;
    }
    auto lines = SplitLines(text);
    size_t header = FindSection(lines, section);
    if (header == lines.size()) {
        return std::nullopt;
    }
    size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; i++) {
        if (lines[i].kind == LineKind::Entry && EqualNoCase(lines[i].name, key)) {
            return std::string(Unquote(lines[i].value));
        }
    }
    return std::nullopt;
}

std::optional<std::string> EditProfileText(std::string_view text, std::string_view section,
                                           std::optional<std::string_view> key,
                                           std::optional<std::string_view> value) {
    section = Trim(section);
    if (HasLineBreak(section)) {
        return std::nullopt;
    }
    if (key) {
        key = Trim(*key);
        // A key that would read back as something else (a comment, a header, a split at '=') is
        // refused rather than written wrongly.
        if (key->empty() || HasLineBreak(*key) || key->find('=') != std::string_view::npos ||
            key->front() == ';' || key->front() == '[') {
            return std::nullopt;
        }
    }
    if (value && HasLineBreak(*value)) {
        return std::nullopt;
    }
    auto lines = SplitLines(text);
    std::string_view eol = LineEndingOf(text);
    std::string out;
    out.reserve(text.size() + 64);

    size_t header = FindSection(lines, section);
    if (!key) {
        // Delete every section of the name.
        if (header == lines.size()) {
            return std::string(text);
        }
        size_t i = 0;
        while (i < lines.size()) {
            if (lines[i].kind == LineKind::Section && EqualNoCase(lines[i].name, section)) {
                i = SectionEnd(lines, i);
                continue;
            }
            AppendLine(out, lines[i], i + 1 < lines.size(), eol);
            i++;
        }
        return out;
    }
    if (header == lines.size()) {
        if (!value) {
            return std::string(text);
        }
        out.assign(text);
        if (!out.empty()) {
            if (out.back() != '\n') {
                out += eol;
            }
            if (lines.back().kind != LineKind::Blank) {
                out += eol;
            }
        }
        out += '[';
        out += section;
        out += ']';
        out += eol;
        out += *key;
        out += '=';
        out += Quote(*value);
        out += eol;
        return out;
    }

    constexpr size_t kNone = SIZE_MAX;
    size_t end = SectionEnd(lines, header);
    size_t found = kNone;
    size_t last_entry = header;
    for (size_t i = header + 1; i < end; i++) {
        if (lines[i].kind == LineKind::Entry) {
            last_entry = i;
            if (found == kNone && EqualNoCase(lines[i].name, *key)) {
                found = i;
            }
        }
    }
    if (!value && found == kNone) {
        return std::string(text);
    }
    for (size_t i = 0; i < lines.size(); i++) {
        const Line& line = lines[i];
        bool in_section = i > header && i < end;
        bool this_key = in_section && line.kind == LineKind::Entry && EqualNoCase(line.name, *key);
        if (!value && this_key) {
            continue;
        }
        if (value && i == found) {
            out += line.name; // the key keeps the spelling it has in the file
            out += '=';
            out += Quote(*value);
            out += line.eol.empty() && i + 1 < lines.size() ? eol : line.eol;
            continue;
        }
        if (value && found == kNone && i == last_entry) {
            out += line.content;
            out += line.eol.empty() ? eol : line.eol;
            out += *key;
            out += '=';
            out += Quote(*value);
            out += eol;
            continue;
        }
        AppendLine(out, line, i + 1 < lines.size(), eol);
    }
    return out;
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view default_value) {
    auto text = ReadWholeFile(path);
    if (!text) {
        return std::string(default_value);
    }
    auto value = FindProfileValue(*text, section, key);
    return value ? *value : std::string(default_value);
}

bool WriteProfileString(const std::string& path, std::string_view section,
                        std::optional<std::string_view> key, std::optional<std::string_view> value) {
    // Writers of this process take turns, so two threads changing one file never lose an update.
    std::lock_guard<std::mutex> guard(profile_write_mutex);
    std::string text;
    if (auto existing = ReadWholeFile(path)) {
        text = std::move(*existing);
    } else if (LastError() != WindowsErrorFromErrno(ENOENT)) {
        return false;
    }
    auto edited = EditProfileText(text, section, key, value);
    if (!edited) {
        SetLastError(WindowsErrorFromErrno(EINVAL));
        return false;
    }
    if (*edited == text) {
        return true;
    }
    return WriteFileAtomically(path, *edited);
}

std::string MainProfilePath() {
    return ResolveFileName("C:\\WINDOWS\\WIN.INI");
}

} // namespace tarvex::platform
