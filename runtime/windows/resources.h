// SPDX-License-Identifier: GPL-3.0-or-later
// The runtime's side of module resources (tarvex/resources.h): the registry of the modules'
// tables, the name rules, and the search for a module's window descriptions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tarvex/resources.h"

namespace tarvex::windows {

// The lookup form of a resource name: a leading '~' dropped, upper-cased, '.' to '_'.
std::string ResourceLookupName(std::string_view name);
// The resource name of a module's descriptions: the part after the '$' in the lookup form, then
// "_RSC" ("LUMAREX$cms1a" -> "CMS1A_RSC").
std::string DescriptionResourceName(std::string_view module);

constexpr const char* kDescriptionType = "DABDUMP";

struct FoundResource {
    std::span<const uint8_t> bytes;
    const VrnResourceTable* module = nullptr;   // the table that held it: later image lookups use it
};

// Searches the modules, the executable first, for resources of that name and type; the first one
// `accept` takes is the result (bytes empty when none does). Names compare in lookup form.
template <typename Accept>
FoundResource SearchResources(std::string_view name, std::string_view type, Accept&& accept);

// The description resource of a module: a DABDUMP resource named after the module whose leading
// string is the module's full name. A resource whose name matches but whose embedded module name
// differs is passed over and the search goes on.
FoundResource FindModuleDescriptions(std::string_view module);

// The registered tables in search order (for the template above).
void ForEachTable(bool (*visit)(const VrnResourceTable*, void*), void* context);

template <typename Accept>
FoundResource SearchResources(std::string_view name, std::string_view type, Accept&& accept) {
    struct Context {
        std::string lookup;
        std::string_view type;
        Accept* accept;
        FoundResource found;
    } context{ResourceLookupName(name), type, &accept, {}};
    ForEachTable(
        [](const VrnResourceTable* table, void* data) {
            auto* c = static_cast<Context*>(data);
            for (uint32_t i = 0; i < table->count; i++) {
                const VrnResource& entry = table->entries[i];
                if (entry.name != c->lookup || entry.type != c->type)
                    continue;
                std::span<const uint8_t> bytes(entry.bytes, entry.size);
                if ((*c->accept)(bytes)) {
                    c->found = {bytes, table};
                    return true;
                }
            }
            return false;
        },
        &context);
    return context.found;
}

}  // namespace tarvex::windows
