// SPDX-License-Identifier: GPL-3.0-or-later
// The registry of module resource tables and the resource search. Tables register from their
// module's static initialisers, in any order; each is ranked by its module's place in the load
// order, so the executable's table is searched first whatever order the initialisers ran in.
#include "windows/resources.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "windows/description.h"

namespace tarvex::windows {

namespace {

struct Registered {
    const VrnResourceTable* table;
    int order;          // the module's place in the load order; unknown modules go last
    uint64_t sequence;  // registration order among tables of one module
};

struct Registry {
    std::mutex mutex;
    std::vector<Registered> tables;
    uint64_t next_sequence = 0;
};

// Never destroyed: modules may withdraw their tables from their own destructors at exit.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

std::string ResourceLookupName(std::string_view name) {
    if (!name.empty() && name[0] == '~')
        name.remove_prefix(1);
    std::string out(name);
    for (char& c : out) {
        if (c == '.')
            c = '_';
        else if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return out;
}

std::string DescriptionResourceName(std::string_view module) {
    size_t dollar = module.find('$');
    if (dollar != std::string_view::npos)
        module.remove_prefix(dollar + 1);
    return ResourceLookupName(module) + "_RSC";
}

void ForEachTable(bool (*visit)(const VrnResourceTable*, void*), void* context) {
    Registry& registry = TheRegistry();
    std::vector<Registered> tables;
    {
        std::lock_guard lock(registry.mutex);
        tables = registry.tables;
    }
    for (const Registered& entry : tables)
        if (visit(entry.table, context))
            return;
}

FoundResource FindModuleDescriptions(std::string_view module) {
    return SearchResources(DescriptionResourceName(module), kDescriptionType,
                           [module](std::span<const uint8_t> bytes) {
                               std::string_view embedded;
                               std::span<const uint8_t> dump;
                               return SplitResource(bytes, embedded, dump) && embedded == module;
                           });
}

}  // namespace tarvex::windows

using namespace tarvex::windows;

TARVEX_API void WslUtil$RegisterResources(const VrnResourceTable* table) {
    if (table == nullptr)
        return;
    Registry& registry = TheRegistry();
    int order = tarvex::platform::ModuleOrder(table);
    std::lock_guard lock(registry.mutex);
    Registered entry{table, order < 0 ? INT32_MAX : order, registry.next_sequence++};
    auto at = std::upper_bound(registry.tables.begin(), registry.tables.end(), entry,
                               [](const Registered& a, const Registered& b) {
                                   return a.order != b.order ? a.order < b.order : a.sequence < b.sequence;
                               });
    registry.tables.insert(at, entry);
}

TARVEX_API void WslUtil$UnregisterResources(const VrnResourceTable* table) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::erase_if(registry.tables, [table](const Registered& entry) { return entry.table == table; });
}

TARVEX_API const void* WslUtil$LoadNamedResource(const char* name, const char* type, uint32_t* size) {
    if (size != nullptr)
        *size = 0;
    if (name == nullptr || type == nullptr)
        return nullptr;
    FoundResource found = SearchResources(name, type, [](std::span<const uint8_t>) { return true; });
    if (found.module == nullptr)
        return nullptr;
    if (size != nullptr)
        *size = uint32_t(found.bytes.size());
    return found.bytes.data();
}

TARVEX_API void WslUtil$FreeResourcePtr(const void*) {}
