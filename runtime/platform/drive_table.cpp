// SPDX-License-Identifier: GPL-3.0-or-later
// File names: the drive table that maps drive letters to Linux folders, and the resolution of a
// program's Windows-style file name to the Linux path of the file, matching each component that
// exists without regard to case.
//
// Rules: C: is $TARVEX_DRIVE_C (default $XDG_DATA_HOME/lumarex/drive_c, XDG_DATA_HOME defaulting to
// ~/.local/share); Z: is always "/"; any other letter is $TARVEX_DRIVE_<letter> when set. "C:name"
// (drive-relative) is taken from the drive's root, "\name" from the root of the current folder's
// drive, "name" from the current folder, "/name" is a Linux path taken as it is. ".." never climbs
// above the root of the drive it starts on.
#include "platform/ascii.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex::platform {

namespace {

struct DriveTable {
    // Index 0 = A: ... 25 = Z:; an empty root means the letter is not mapped.
    std::array<std::string, 26> roots;
};

std::mutex drive_mutex;
std::shared_ptr<const DriveTable> drive_table;

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string CurrentLinuxFolder() {
    std::string buffer(256, '\0');
    while (true) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            RecordErrno(errno);
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Splits a Linux path into its components, dropping "." and applying ".." lexically.
std::vector<std::string> LinuxComponents(std::string_view path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') {
            i++;
        }
        size_t start = i;
        while (i < path.size() && path[i] != '/') {
            i++;
        }
        std::string_view part = path.substr(start, i - start);
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.emplace_back(part);
    }
    return parts;
}

std::string JoinLinux(const std::vector<std::string>& parts) {
    if (parts.empty()) {
        return "/";
    }
    std::string out;
    for (const auto& part : parts) {
        out += '/';
        out += part;
    }
    return out;
}

// An absolute, lexically normalised folder for a drive root given in the environment.
std::string NormaliseRoot(std::string_view root) {
    if (root.empty()) {
        return {};
    }
    if (root.front() != '/') {
        std::string here = CurrentLinuxFolder();
        if (here.empty()) {
            return {};
        }
        return JoinLinux(LinuxComponents(here + "/" + std::string(root)));
    }
    return JoinLinux(LinuxComponents(root));
}

std::shared_ptr<const DriveTable> LoadDriveTable() {
    auto table = std::make_shared<DriveTable>();
    for (int i = 0; i < 26; i++) {
        std::string variable = "TARVEX_DRIVE_";
        variable += char('A' + i);
        const char* value = std::getenv(variable.c_str());
        if (value != nullptr && *value != '\0') {
            table->roots[i] = NormaliseRoot(value);
        }
    }
    if (table->roots['C' - 'A'].empty()) {
        std::string base;
        const char* xdg = std::getenv("XDG_DATA_HOME");
        if (xdg != nullptr && xdg[0] == '/') {
            base = xdg;
        } else {
            const char* home = std::getenv("HOME");
            base = std::string(home != nullptr && home[0] == '/' ? home : "/") + "/.local/share";
        }
        table->roots['C' - 'A'] = NormaliseRoot(base + "/lumarex/drive_c");
    }
    table->roots['Z' - 'A'] = "/";
    return table;
}

std::shared_ptr<const DriveTable> Drives() {
    std::lock_guard<std::mutex> guard(drive_mutex);
    if (!drive_table) {
        drive_table = LoadDriveTable();
    }
    return drive_table;
}

// The letter index of the mapped drive whose root holds the Linux path (longest root wins, the
// first letter among equals), with the length of that root; Z: holds everything.
int DriveHolding(const DriveTable& table, const std::string& path, size_t* root_length) {
    int best = 'Z' - 'A';
    size_t best_length = 1;
    for (int i = 0; i < 26; i++) {
        const std::string& root = table.roots[i];
        if (root.empty()) {
            continue;
        }
        bool holds = root == "/" || (path.compare(0, root.size(), root) == 0 &&
                                     (path.size() == root.size() || path[root.size()] == '/'));
        if (holds && (root.size() > best_length || (root.size() == best_length && i < best))) {
            best = i;
            best_length = root.size();
        }
    }
    *root_length = best_length == 1 ? 0 : best_length;
    return best;
}

// The name of an entry of the folder that equals the component without regard to case: the exact
// spelling when it exists, else the first match in byte order, so the choice never depends on the
// order in which the folder lists its entries. Empty when nothing matches.
std::string MatchComponent(const std::string& folder, const std::string& component) {
    std::string exact = folder == "/" ? "/" + component : folder + "/" + component;
    struct stat info;
    if (lstat(exact.c_str(), &info) == 0) {
        return component;
    }
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    std::string best;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (EqualNoCase(name, component) && (best.empty() || name < best)) {
            best = name;
        }
    }
    closedir(dir);
    return best;
}

} // namespace

void ReloadDriveTable() {
    auto table = LoadDriveTable();
    std::lock_guard<std::mutex> guard(drive_mutex);
    drive_table = std::move(table);
}

std::string ResolveFileName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return {};
    }
    if (name.front() == '/') {
        return std::string(name);
    }
    auto table = Drives();

    // The starting folder and the floor that ".." cannot climb above.
    std::vector<std::string> base;
    size_t floor = 0;
    std::string_view rest = name;
    if (name.size() >= 2 && name[1] == ':') {
        char letter = name[0];
        if (letter >= 'a' && letter <= 'z') {
            letter = char(letter - 'a' + 'A');
        }
        if (letter < 'A' || letter > 'Z' || table->roots[letter - 'A'].empty()) {
            return {};
        }
        base = LinuxComponents(table->roots[letter - 'A']);
        floor = base.size();
        rest = name.substr(2);
    } else {
        if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) {
            return {}; // a network name (\\server\share) has no Linux folder
        }
        std::string here = CurrentLinuxFolder();
        if (here.empty()) {
            return {};
        }
        size_t root_length = 0;
        int drive = DriveHolding(*table, here, &root_length);
        std::vector<std::string> drive_root = LinuxComponents(table->roots[drive]);
        floor = drive_root.size();
        base = IsSeparator(name[0]) ? drive_root : LinuxComponents(here);
    }

    // Component by component: existing ones take the spelling found on disk, and once one is
    // missing the rest keep the program's spelling.
    std::string folder = JoinLinux(base);
    bool exists = true;
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && IsSeparator(rest[i])) {
            i++;
        }
        size_t start = i;
        while (i < rest.size() && !IsSeparator(rest[i])) {
            i++;
        }
        std::string component(rest.substr(start, i - start));
        if (component.empty() || component == ".") {
            continue;
        }
        if (component == "..") {
            if (base.size() > floor) {
                base.pop_back();
                folder = JoinLinux(base);
                struct stat info;
                exists = stat(folder.c_str(), &info) == 0;
            }
            continue;
        }
        if (exists) {
            std::string found = MatchComponent(folder, component);
            if (found.empty()) {
                exists = false;
            } else {
                component = std::move(found);
            }
        }
        base.push_back(std::move(component));
        folder = JoinLinux(base);
    }
    return folder;
}

std::string WindowsFileName(std::string_view linux_path) {
    if (linux_path.find('\0') != std::string_view::npos) {
        return {};
    }
    std::string absolute;
    if (!linux_path.empty() && linux_path.front() == '/') {
        absolute = JoinLinux(LinuxComponents(linux_path));
    } else {
        std::string here = CurrentLinuxFolder();
        if (here.empty()) {
            return {};
        }
        absolute = JoinLinux(LinuxComponents(here + "/" + std::string(linux_path)));
    }
    auto table = Drives();
    size_t root_length = 0;
    int drive = DriveHolding(*table, absolute, &root_length);
    std::string out;
    out += char('A' + drive);
    out += ':';
    std::string_view tail = std::string_view(absolute).substr(root_length);
    if (tail.empty() || tail == "/") {
        out += '\\';
        return out;
    }
    for (char c : tail) {
        out += c == '/' ? '\\' : c;
    }
    return out;
}

std::string CurrentFolder() {
    std::string here = CurrentLinuxFolder();
    if (here.empty()) {
        return {};
    }
    return WindowsFileName(here);
}

} // namespace tarvex::platform
