// SPDX-License-Identifier: GPL-3.0-or-later
// dabc: compiles one module's .dsc description text into its DABDUMP resource bytes (the module
// name, a NUL, the dump). Errors are printed as file:line:column: message and fail the build.
//   dabc INPUT.dsc -o OUTPUT.dab
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/dsc.h"

int main(int argc, char** argv) {
    std::string input, output;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (input.empty() && !arg.empty() && arg[0] != '-')
            input = arg;
        else {
            std::fprintf(stderr, "dabc: unexpected argument %s\n", arg.c_str());
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        std::fprintf(stderr, "usage: dabc INPUT.dsc -o OUTPUT.dab\n");
        return 2;
    }
    auto text = tarvex::platform::ReadWholeFile(input);
    if (!text) {
        std::fprintf(stderr, "%s: cannot be read\n", input.c_str());
        return 1;
    }
    tarvex::windows::Description description;
    tarvex::tools::DscError error;
    if (!tarvex::tools::ParseDsc(*text, input, description, error)) {
        std::fprintf(stderr, "%s\n", error.Text().c_str());
        return 1;
    }
    std::vector<uint8_t> bytes = tarvex::tools::EncodeResource(description);
    if (!tarvex::platform::WriteFileAtomically(output, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
        std::fprintf(stderr, "%s: cannot be written\n", output.c_str());
        return 1;
    }
    return 0;
}
