// SPDX-License-Identifier: GPL-3.0-or-later
// Scanning a program file for framed resources (program_resources.h).
#include "tools/program_resources.h"

#include <algorithm>
#include <cstring>

namespace tarvex::tools {

std::vector<ProgramResource> FindProgramResources(std::span<const uint8_t> file) {
    std::vector<ProgramResource> found;
    const uint8_t* marker = reinterpret_cast<const uint8_t*>(kResourceMarker.data());
    auto at = file.begin();
    for (;;) {
        at = std::search(at, file.end(), marker, marker + kResourceMarker.size());
        if (at == file.end())
            break;
        size_t pos = size_t(at - file.begin()) + kResourceMarker.size();
        at += 1;
        auto text = [&](std::string& out) {
            const void* nul = pos < file.size() ? std::memchr(file.data() + pos, 0, file.size() - pos) : nullptr;
            if (nul == nullptr)
                return false;
            size_t end = size_t(static_cast<const uint8_t*>(nul) - file.data());
            out.assign(reinterpret_cast<const char*>(file.data() + pos), end - pos);
            pos = end + 1;
            return true;
        };
        ProgramResource resource;
        if (!text(resource.name) || !text(resource.type) || pos + 4 > file.size())
            continue;
        uint32_t size = uint32_t(file[pos]) | uint32_t(file[pos + 1]) << 8 | uint32_t(file[pos + 2]) << 16 |
                        uint32_t(file[pos + 3]) << 24;
        pos += 4;
        if (size > file.size() - pos)
            continue;
        resource.bytes = file.subspan(pos, size);
        found.push_back(std::move(resource));
    }
    return found;
}

}  // namespace tarvex::tools
