// SPDX-License-Identifier: GPL-3.0-or-later
// lumapp, the billing program. It starts as every program on the runtime does (registers its
// module, checks the runtime's version, installs the fault report), binds its sixteen files,
// then runs the main frame; when the frame closes, the program ends.
//
// Windows need somewhere to be shown: a desktop (Qt), or a script that drives them headless
// (TARVEX_SCRIPT). Without either it says so and ends, rather than wait for a person who cannot
// see it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "procedures/procedures.h"
#include "shared/help_file.h"
#include "tarvex/program.hpp"
#include "tarvex/windows.hpp"
#include "data/move_data.h"
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"
#ifdef LUM_WITH_PGSQL
#include <dlfcn.h>
#endif

namespace {

using namespace tarvex;

// The PGSQL driver's entry, loaded now: null, with the reason on standard error, when it cannot
// be. It is loaded only for a practice whose data is on a server, since libpq brings a score of
// libraries that a start on the SQLite files would load for nothing.
VrnDriverEntry LoadServerDriver() {
#ifdef LUM_WITH_PGSQL
    // It is installed beside the other drivers: looked for there first, then as the system would.
    std::string path = "libpgdrv.so";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&KELSTORE), &info) != 0 && info.dli_fname != nullptr) {
        std::string beside = info.dli_fname;
        if (size_t slash = beside.rfind('/'); slash != std::string::npos)
            path = beside.substr(0, slash + 1) + path;
    }
    void* library = dlopen(path.c_str(), RTLD_NOW);
    if (library == nullptr)
        library = dlopen("libpgdrv.so", RTLD_NOW);
    if (library != nullptr)
        if (auto entry = reinterpret_cast<VrnDriverEntry>(dlsym(library, "PGSQL")))
            return entry;
    std::fprintf(stderr, "lumapp: the PostgreSQL driver cannot be loaded (%s)\n", dlerror());
#else
    std::fprintf(stderr, "lumapp: this build has no PostgreSQL driver\n");
#endif
    return nullptr;
}

// The sixteen files live on the PostgreSQL server that TARVEX_PGSQL names, else in the SQLite
// files. A database named but out of reach ends the program: a clerk's work must not go to files
// on this machine while the practice's data is on the server.
void BindFiles() {
    const lumarex::DataHome files{KELSTORE, VARNEL};
    if (!lumarex::DatabaseNamed()) {
        lumarex::BindDataHome(files, files);
        std::printf("Data: in the SQLite files\n");
        return;
    }
    VrnDriverEntry driver = LoadServerDriver();
    if (driver == nullptr)
        Vrw$Exit(1);
    const lumarex::DataHome server{driver, driver};
    lumarex::BindDataHome(files, server);
    std::printf("Data: on the PostgreSQL server TARVEX_PGSQL names\n");
}

void Initialise(int32_t terminating) {
    if (!terminating) {
        Vrn$init();
        BindFiles();
    }
}

const VrnInitEntry kInitTable[] = {{5, &Initialise, &Initialise}};
VrnModuleDescriptor module_descriptor = {nullptr, kInitTable, kInitTable + 1, 0, {}, nullptr, nullptr, 0, 0};

bool CanShowWindows() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("TARVEX_SCRIPT") || set("DISPLAY") || set("WAYLAND_DISPLAY") ||
           (set("TARVEX_UI") && std::string_view(std::getenv("TARVEX_UI")) == "qt");
}

void Program() {
    if (!CanShowWindows()) {
        std::fprintf(stderr,
                     "lumapp: there is no display to show its windows on.\n"
                     "  Start it on a desktop, or under a virtual display: xvfb-run ./lum run\n"
                     "  or drive it with a script: TARVEX_SCRIPT=steps.txt ./lum run (see the README)\n");
        Vrw$Exit(1);
    }
    lumarex::RequestedAction = lumarex::ActionResult = lumarex::FormNavigation = 0;
    lumarex::InstallHelpFile();   // a help page that cannot be written is said so at F1
    HELP(lumarex::kHelpFile);
    lumarex::MainFrame();
}

}  // namespace

int main() { RunProgram(module_descriptor, &Program); }
