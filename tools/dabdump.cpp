// SPDX-License-Identifier: GPL-3.0-or-later
// dabdump: prints a DABDUMP resource (module name, NUL, dump) back as .dsc text. A damaged dump
// is reported with the offset where the damage is, and nothing is printed.
//   dabdump FILE.dab
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/dsc.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dabdump FILE.dab\n");
        return 2;
    }
    auto bytes = tarvex::platform::ReadWholeFile(argv[1]);
    if (!bytes) {
        std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
        return 1;
    }
    tarvex::windows::Description description;
    std::string error;
    auto data = reinterpret_cast<const uint8_t*>(bytes->data());
    if (!tarvex::tools::DecodeResource({data, bytes->size()}, description, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::string text = tarvex::tools::PrintDsc(description);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
