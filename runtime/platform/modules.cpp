// SPDX-License-Identifier: GPL-3.0-or-later
// Which loaded module holds an address, by the module's place in the load order. The resource
// search asks it so that the executable's resources are found before any library's, as a Windows
// program searches its own image first.
#include <link.h>

#include "platform/platform.h"

namespace tarvex::platform {

namespace {

struct Search {
    uintptr_t address;
    int index = 0;
    int found = -1;
};

int FindModule(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD)
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

}  // namespace tarvex::platform
