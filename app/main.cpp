// SPDX-License-Identifier: GPL-3.0-or-later
// lumapp, for now a demonstration of the runtime: the billing program's procedures do not exist
// yet. It starts as the program will (registers its module, checks the runtime's version,
// installs the fault report), then computes string expressions on the runtime's string stack from
// its command line:
//
//   lumapp Smith "John Q" /V
//
// prints each parameter as COMMAND(n) gives it, with UPPER, CENTER and a comparison, and the
// value of the /V flag.
#include <cstdio>

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

void Print(const char* label, const CString<256>& value) { std::printf("%-16s '%s'\n", label, value.Data()); }

void Demonstrate() {
    std::printf("Lumarex runtime demonstration: the billing program is not built yet.\n");
    std::printf("Runtime version word: 0x%07x\n", __getversion());
    CString<256> text;
    text = COMMAND("");
    Print("COMMAND('')", text);
    for (int32_t n = 1; n < 100; ++n) {
        CString<256> parameter;
        Vrn$PushLong(n);
        Vrn$COMMAND();
        parameter.Store();
        if (parameter.Length() == 0) break;
        std::printf("COMMAND('%d')     '%s'\n", n, parameter.Data());
        text = upper(parameter);
        Print("  UPPER", text);
        text = "[" & center(parameter, 20) & "]";
        Print("  CENTER(,20)", text);
        std::printf("  %-14s %s\n", "vs 'M'", parameter < "M" ? "sorts before M" : "sorts at or after M");
    }
    text = COMMAND("/V");
    Print("COMMAND('/V')", text);
}

}  // namespace

int main() { RunProgram(module_descriptor, &Demonstrate); }
