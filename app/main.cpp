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
#include <string_view>

#include "procedures/procedures.h"
#include "tarvex/program.hpp"
#include "data/move_data.h"
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"
#ifdef LUM_WITH_PGSQL
#include "pgsql/pgsql.h"
#endif

namespace {

using namespace tarvex;

// The sixteen files live on the PostgreSQL server that TARVEX_PGSQL names, else in the SQLite
// files (a build without the PGSQL driver has only those).
void BindFiles() {
    const lumarex::DataHome files{KELSTORE, VARNEL};
#ifdef LUM_WITH_PGSQL
    const lumarex::DataHome server{PGSQL, PGSQL};
#else
    const lumarex::DataHome& server = files;
#endif
    bool on_server = &lumarex::BindDataHome(files, server) != &files;
    std::printf("Data: %s\n", on_server ? "on the PostgreSQL server TARVEX_PGSQL names" : "in the SQLite files");
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
    lumarex::MainFrame();
}

}  // namespace

int main() { RunProgram(module_descriptor, &Program); }
