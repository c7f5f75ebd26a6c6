// SPDX-License-Identifier: GPL-3.0-or-later
// lumapp, for now a demonstration of the runtime: the billing program's procedures do not exist
// yet. It starts as the program will (registers its module, checks the runtime's version), then
// computes string expressions on the runtime's string stack from its command line:
//
//   lumapp Smith "John Q" /V
//
// prints each parameter as COMMAND(n) gives it, with UPPER, CENTER and a comparison, and the
// value of the /V flag.
#include <cstdio>
#include <string>

#include "tarvex/tarvex.h"

namespace {

void Initialise(int32_t terminating) {
    if (!terminating) Vrn$init();
}

const VrnInitEntry kInitTable[] = {{5, &Initialise, &Initialise}};
VrnModuleDescriptor module_descriptor = {nullptr, kInitTable, kInitTable + 1, 0, {}, nullptr, nullptr, 0, 0};

// Pops the top of the string stack into a printable text.
std::string Pop() {
    VrnStringPair pair{nullptr, 0};
    Vrn$PopTemp(&pair);
    std::string text(pair.address ? pair.address : "", pair.length);
    Vrn$freestr(&pair);
    return text;
}

void PushText(const std::string& text) { Vrn$PushString(text.data(), static_cast<uint32_t>(text.size())); }

}  // namespace

int main() {
    __sysinit(&module_descriptor, 0);
    if (!__checkversion(VRN_VERSION_CODE, VRN_VERSION_MINOR, 0)) Vrw$Exit(0);

    std::printf("Lumarex runtime demonstration: the billing program is not built yet.\n");
    std::printf("Runtime version word: 0x%07x\n", __getversion());
    PushText("");
    Vrn$COMMAND();
    std::string tail = Pop();
    std::printf("COMMAND('')  = '%s'\n", tail.c_str());
    for (int n = 1;; ++n) {
        Vrn$PushLong(n);
        Vrn$COMMAND();
        std::string parameter = Pop();
        if (parameter.empty()) break;
        PushText(parameter);
        Vrn$StackUPPER();
        std::string upper = Pop();
        PushText(parameter);
        Vrn$StackCENTER(20);
        std::string centred = Pop();
        PushText(parameter);
        PushText("M");
        int32_t order = Vrn$StackCompare();
        std::printf("COMMAND('%d') = '%s'  UPPER = '%s'  CENTER(,20) = '%s'  %s 'M'\n", n, parameter.c_str(),
                    upper.c_str(), centred.c_str(), order < 0 ? "<" : order > 0 ? ">" : "=");
    }
    PushText("/V");
    Vrn$COMMAND();
    std::printf("COMMAND('/V') = '%s'\n", Pop().c_str());
    Wsl$CloseDown();
    Vrw$Exit(0);
}
