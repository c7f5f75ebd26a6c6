// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the resources inside a built program file. rscgen frames each resource it links in:
// the marker, the resource name and type as NUL-terminated texts, the size as a little-endian u32,
// then the bytes. `dabdump --program` reads descriptions back out of an executable or library
// this way, without loading it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::tools {

constexpr std::string_view kResourceMarker = "@@TARVEX-RESOURCE@@";

struct ProgramResource {
    std::string name;
    std::string type;
    std::span<const uint8_t> bytes;
};

// Every framed resource in the file's bytes, in file order; frames that do not fit are skipped.
std::vector<ProgramResource> FindProgramResources(std::span<const uint8_t> file);

}  // namespace tarvex::tools
