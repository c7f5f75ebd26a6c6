// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the description loader: the input is a dump, registered as the description resource of
// a module; every structure the decoder finds in it is declared and opened (as a window or a
// report by its kind) with a short address list, then freed, and a structure name that is not
// there is asked for too. A damaged dump must build nothing, never crash or hang; whatever opens
// must hold only addresses from its list. Run-time errors return here (the runtime is closed
// down first), so a short address list exercises the path that takes a half-built window down.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tarvex/frame.h"
#include "tarvex/resources.h"
#include "tarvex/windows.h"
#include "windows/description.h"
#include "windows/window_object.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

int32_t slots[8];

void Open(const std::string& structure, bool report) {
    VrnWindowObject* window = nullptr;
    if (report)
        Vrn$propen(&window, "FUZZ$dump", structure.c_str(), &slots[0], &slots[1], &slots[2], &slots[3], nullptr);
    else
        Vrn$pwopen(&window, "FUZZ$dump", structure.c_str(), &slots[0], &slots[1], &slots[2], &slots[3], nullptr);
    Vrn$OPENwindow(window);
    Check(window->cursor <= window->addresses.size());
    Check(window->open || (window->controls.empty() && window->bands.empty() && window->handle == 0));
    Vrn$freewindow(&window);
    Check(window == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        Wsl$CloseDown();
        return true;
    }();
    (void)ready;
    std::vector<uint8_t> resource = {'F', 'U', 'Z', 'Z', '$', 'd', 'u', 'm', 'p', 0};
    resource.insert(resource.end(), data, data + size);
    VrnResource entry = {"DUMP_RSC", "DABDUMP", resource.data(), uint32_t(resource.size())};
    VrnResourceTable table = {&entry, 1};
    WslUtil$RegisterResources(&table);

    std::vector<tarvex::windows::Record> structures;
    std::string error;
    if (tarvex::windows::DecodeDump({data, size}, structures, error)) {
        for (size_t i = 0; i < structures.size() && i < 4; i++)
            Open(std::string(structures[i].TextAt(tarvex::windows::kStructName)),
                 structures[i].code == static_cast<uint8_t>(tarvex::windows::Kind::Report));
    } else {
        Check(structures.empty() && !error.empty());
    }
    Open("P1$WINDOW", false);
    Open("P1$REPORT", true);

    WslUtil$UnregisterResources(&table);
    if (auto* boxes = tarvex::platform::Headless())
        boxes->ClearTranscript();
    return 0;
}
