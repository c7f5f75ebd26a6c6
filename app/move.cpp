// SPDX-License-Identifier: GPL-3.0-or-later
// lummove: moves the practice's data between its SQLite files and the PostgreSQL database that
// TARVEX_PGSQL names (a libpq connection string):
//
//   lummove to-server [replace]    the sixteen files into the database, in one transaction
//   lummove to-files [replace]     back into the files, made beside them first and put in
//                                  place only once every file is copied and checked
//
// Every file is checked after the copy (record counts, every key's order). A target that holds
// records is replaced only with "replace". Prints what it did, or why it stopped, and ends with
// 0, or 1 on a failure.
#include <cstdio>
#include <cstring>
#include <string>

#include "data/dictionary.h"
#include "data/move_data.h"
#include "kelstore/kelstore.h"
#include "pgsql/pgsql.h"
#include "tarvex/program.hpp"
#include "varnel/varnel.h"

namespace {

int argument_count = 0;
char** arguments = nullptr;

void Initialise(int32_t terminating) {
    if (!terminating)
        Vrn$init();
}

const VrnInitEntry kInitTable[] = {{5, &Initialise, &Initialise}};
VrnModuleDescriptor module_descriptor = {nullptr, kInitTable, kInitTable + 1, 0, {}, nullptr, nullptr, 0, 0};

void Move() {
    const lumarex::DataHome files{KELSTORE, VARNEL};
    const lumarex::DataHome server{PGSQL, PGSQL};
    std::string direction = argument_count > 1 ? arguments[1] : "";
    bool replace = argument_count > 2 && std::strcmp(arguments[2], "replace") == 0;
    if ((direction != "to-server" && direction != "to-files") || argument_count > 3 ||
        (argument_count == 3 && !replace)) {
        std::fprintf(stderr, "usage: lummove to-server|to-files [replace]\n");
        Vrw$Exit(1);
    }
    bool to_server = direction == "to-server";
    std::string report;
    int32_t code = lumarex::MoveData(to_server ? files : server, to_server ? server : files, replace, &report);
    if (code != 0) {
        std::fprintf(stderr, "lummove: stopped: %s\n", report.c_str());
        Vrw$Exit(1);
    }
    std::printf("lummove: the sixteen files were moved %s and checked\n",
                to_server ? "to the database" : "to the files");
}

} // namespace

int main(int argc, char** argv) {
    argument_count = argc;
    arguments = argv;
    tarvex::RunProgram(module_descriptor, &Move);
}
