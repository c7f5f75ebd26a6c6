// SPDX-License-Identifier: GPL-3.0-or-later
// dabdump: prints a DABDUMP resource (module name, NUL, dump) back as .dsc text. A damaged dump
// is reported with the offset where the damage is, and nothing is printed.
//   dabdump FILE.dab                     a resource file, as dabc writes it
//   dabdump --program PROGRAM            lists the resources linked into a built program
//   dabdump --program PROGRAM MODULE     prints the description of that module from the program
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/dsc.h"
#include "tools/program_resources.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

int Print(std::span<const uint8_t> resource, const std::string& where) {
    tarvex::windows::Description description;
    std::string error;
    if (!tarvex::tools::DecodeResource(resource, description, error)) {
        std::fprintf(stderr, "%s: %s\n", where.c_str(), error.c_str());
        return 1;
    }
    std::string text = tarvex::tools::PrintDsc(description);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool program = argc >= 3 && std::string(argv[1]) == "--program";
    if (!(argc == 2 && argv[1][0] != '-') && !(program && argc <= 4)) {
        std::fprintf(stderr, "usage: dabdump FILE.dab | dabdump --program PROGRAM [MODULE]\n");
        return 2;
    }
    std::string path = program ? argv[2] : argv[1];
    auto bytes = tarvex::platform::ReadWholeFile(path);
    if (!bytes) {
        std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
        return 1;
    }
    if (!program)
        return Print(Bytes(*bytes), path);

    auto resources = tarvex::tools::FindProgramResources(Bytes(*bytes));
    for (const auto& resource : resources) {
        bool description = resource.type == "DABDUMP";
        std::string module;
        if (description) {
            auto nul = std::find(resource.bytes.begin(), resource.bytes.end(), 0);
            module.assign(resource.bytes.begin(), nul);
        }
        if (argc == 3) {
            std::printf("%-24s %-8s %10zu %s\n", resource.name.c_str(), resource.type.c_str(),
                        resource.bytes.size(), module.c_str());
        } else if (description && module == argv[3]) {
            return Print(resource.bytes, path + ": " + resource.name);
        }
    }
    if (argc == 4) {
        std::fprintf(stderr, "%s: no description of module %s\n", path.c_str(), argv[3]);
        return 1;
    }
    return 0;
}
