// SPDX-License-Identifier: GPL-3.0-or-later
// A private PostgreSQL server for the PGSQL tests: one cluster made with initdb in a temporary
// folder and started with pg_ctl on a Unix socket in that folder (no TCP), as the unprivileged
// user postgres when the tests run as root. It lives for the whole test process and is stopped
// and removed at its end. TARVEX_PGSQL names it. Where no server can start (no server binaries,
// no unprivileged user), Reason() says why and the tests skip with it.
#pragma once

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pgsql_testing {

class Server {
  public:
    // Starts the server; false with Reason() set when it cannot.
    bool Start() {
        std::string bin = ServerBinaries();
        if (bin.empty())
            return Fail("the PostgreSQL server binaries (initdb, pg_ctl) are not installed (Debian: postgresql)");
        std::string pattern = (std::filesystem::temp_directory_path() / "lumpg-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            return Fail("no temporary folder");
        folder_ = pattern;
        std::string as;
        if (geteuid() == 0) {
            // The server refuses to run as root: it runs as postgres, which owns the folder.
            const passwd* user = getpwnam("postgres");
            if (user == nullptr)
                return Fail("running as root and there is no unprivileged user postgres to run the server");
            if (chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0)
                return Fail("the temporary folder cannot be given to postgres");
            as = "runuser -u postgres -- ";
        }
        std::string data = folder_ + "/data";
        if (!Run(as + bin + "/initdb -D '" + data + "' -U lumarex -A trust -E UTF8 --no-locale --no-sync"))
            return Fail("initdb failed: " + log_);
        std::string options = "-k " + folder_ + " -c listen_addresses= -c fsync=off -c full_page_writes=off";
        if (!Run(as + bin + "/pg_ctl -D '" + data + "' -l '" + folder_ + "/server.log' -w -t 60 -o '" + options +
                 "' start"))
            return Fail("pg_ctl start failed: " + log_);
        stop_ = as + bin + "/pg_ctl -D '" + data + "' -m fast -w stop";
        conninfo_ = "host=" + folder_ + " user=lumarex dbname=postgres";
        setenv("TARVEX_PGSQL", conninfo_.c_str(), 1);
        return true;
    }
    // Stops the server and removes its folder.
    void Stop() {
        if (!stop_.empty())
            Run(stop_);
        stop_.clear();
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
        folder_.clear();
    }
    const std::string& Reason() const { return reason_; }
    const std::string& ConnInfo() const { return conninfo_; }
    const std::string& Folder() const { return folder_; }

    // The output of psql running `sql` on the server (the outside judge), rows as "a|b" lines.
    std::string Psql(const std::string& sql) const {
        std::string command = "psql '" + conninfo_ + "' -X -A -t -q -c \"" + sql + "\" 2>&1";
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
                out += buffer;
            pclose(pipe);
        }
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }

  private:
    static std::string ServerBinaries() {
        std::error_code error;
        std::string best;
        for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
            std::string bin = entry.path().string() + "/bin";
            if (std::filesystem::exists(bin + "/initdb") && std::filesystem::exists(bin + "/pg_ctl") && bin > best)
                best = bin;
        }
        return best;
    }
    bool Run(const std::string& command) {
        std::string out;
        if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
                out += buffer;
            int status = pclose(pipe);
            log_ = out;
            return status == 0;
        }
        return false;
    }
    bool Fail(const std::string& reason) {
        reason_ = reason;
        Stop();
        return false;
    }

    std::string folder_;
    std::string stop_;
    std::string conninfo_;
    std::string reason_;
    std::string log_;
};

// The test process's one server, shared by every test file of the process: started by the first
// test that asks and stopped when the process ends. False, with the reason printed once, when no
// server can start.
inline Server& ProcessServer() {
    static Server server;
    return server;
}
inline bool ProcessServerUp(const char* program) {
    static int state = 0; // 0 not started, 1 up, 2 failed
    if (state == 0) {
        state = ProcessServer().Start() ? 1 : 2;
        if (state == 2)
            std::printf("%s: no PostgreSQL server could start: %s\n", program, ProcessServer().Reason().c_str());
        else
            std::atexit([] { ProcessServer().Stop(); });
    }
    return state == 1;
}

} // namespace pgsql_testing
