// SPDX-License-Identifier: GPL-3.0-or-later
// Which loaded module holds an address, by the module's place in the load order. The resource
// search asks it so that the executable's resources are found before any library's, as a Windows
// program searches its own image first. And whether an address a program hands in to be called
// lies in the code of a loaded module at all.
#include <link.h>

#include "platform/platform.h"

namespace tarvex::platform {

namespace {

struct Search {
    uintptr_t address;
    bool code_only = false;   // only segments that hold code
    int index = 0;
    int found = -1;
};

int FindModule(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (search->code_only && (segment.p_flags & PF_X) == 0))
            continue;
        uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (search->address >= start && search->address < start + segment.p_memsz) {
            search->found = search->index;
            return 1;
        }
    }
    search->index++;
    return 0;
}

}  // namespace

int ModuleOrder(const void* address) {
    Search search{reinterpret_cast<uintptr_t>(address)};
    dl_iterate_phdr(FindModule, &search);
    return search.found;
}

bool IsCodeAddress(const void* address) {
    Search search{reinterpret_cast<uintptr_t>(address), true};
    dl_iterate_phdr(FindModule, &search);
    return search.found >= 0;
}

}  // namespace tarvex::platform
