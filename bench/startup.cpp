// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up against a minimal Qt program, in the same run: from the process's start to the main
// frame open and idle, for lumapp headless, lumapp on Qt's offscreen platform, and
// startup_qt_frame (bench/startup/qt_frame.cpp: a maximized QMainWindow with the frame's title and
// menu texts) on the same platform.
//
// Each start is timed to three marks on the program's standard error, taken here as each line
// arrives: the frame open ("opened: <title>", once the frame with its menu is built and shown), the
// frame idle (the program's event loop has answered the first thing a person does, choosing the
// menu item kItem as soon as the frame is there), and the process's end (the person then closes
// the frame). lumapp is driven by its script runner (TARVEX_SCRIPT) over a data folder of its own
// (TARVEX_DRIVE_C): it answers the item, which is not built yet, with its message box, and the
// script's step that waits for that box marks it idle. The minimal program chooses the same item
// itself once its frame is shown and writes "answered: <item>" when its loop delivers the choice.
// The figure is the time to idle.
//
// Goal: lumapp on Qt at most 1.5 times the minimal program.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "main_frame_menu.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr const char* kItem = "Provider Manager";   // a frame menu item not built yet
constexpr const char* kMenu = "&Managers";

// A data folder and a script of their own for the benchmark's runs, removed at the end.
struct Workplace {
    fs::path root;
    Workplace() {
        char name[] = "/tmp/lum_bench_startup.XXXXXX";
        root = mkdtemp(name) != nullptr ? fs::path(name) : fs::path();
        std::ofstream script(root / "first_choice.txt");
        script << "wait \"" << kFrameTitle << "\"\n"
               << "choose \"" << kFrameTitle << "\" \"" << kMenu << "|" << kItem << "\"\n"
               << "message \"has not been defined\"\n"
               << "close \"" << kFrameTitle << "\"\n"
               << "closed \"" << kFrameTitle << "\"\n";
        fs::create_directories(root / "drive_c");
    }
    ~Workplace() {
        std::error_code ignored;
        if (!root.empty())
            fs::remove_all(root, ignored);
    }
};

Workplace* workplace = nullptr;

struct Run {
    double opened_ms = -1, idle_ms = -1, exit_ms = -1;
    int status = -1;
    std::string output;   // standard error, for the reason of a failure
};

// Starts `program` with the environment changed as `changes` says (an empty value removes the
// variable) and times the marks on its standard error until it ends.
Run Start(const std::string& program, const std::string& argument, const std::string& idle_mark,
          const std::map<std::string, std::string>& changes) {
    std::vector<std::string> variables;
    for (char** e = environ; *e != nullptr; e++) {
        std::string variable = *e;
        if (changes.count(variable.substr(0, variable.find('='))) == 0)
            variables.push_back(variable);
    }
    for (const auto& [name, value] : changes)
        if (!value.empty())
            variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    Run run;
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 2);
    // In the benchmark's own folder: the program keeps its profile in its working folder.
    posix_spawn_file_actions_addchdir_np(&actions, workplace->root.c_str());
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()), nullptr};
    if (argument.empty())
        argv[1] = nullptr;
    pid_t pid = 0;
    int64_t start = Now();
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    if (spawned != 0) {
        close(pipe_ends[0]);
        run.output = program + ": " + std::strerror(spawned);
        return run;
    }
    const std::string opened = std::string("opened: ") + kFrameTitle;
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        double at = double(Now() - start) / 1e6;
        pending.append(buffer, size_t(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::string line = pending.substr(0, end);
            run.output += line + "\n";
            if (line == opened && run.opened_ms < 0)
                run.opened_ms = at;
            if (line.rfind(idle_mark, 0) == 0 && run.idle_ms < 0)
                run.idle_ms = at;
        }
    }
    close(pipe_ends[0]);
    waitpid(pid, &run.status, 0);
    run.exit_ms = double(Now() - start) / 1e6;
    return run;
}


// One program as the benchmark starts it.
struct Contender {
    const char* name;
    std::string program;
    std::string argument;
    std::string idle_mark;   // the start of the line that marks it idle
    std::map<std::string, std::string> environment;
    std::vector<double> opened, idle, ended;   // ms from the start, one a run
};

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::map<std::string, std::string> LumappEnvironment(const char* ui) {
    return {{"TARVEX_UI", ui},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"TARVEX_SCRIPT", (workplace->root / "first_choice.txt").string()},
            {"TARVEX_DRIVE_C", (workplace->root / "drive_c").string()},
            {"TARVEX_TRANSCRIPT", ""},
            {"TARVEX_TEST", ""}};
}

std::vector<Contender> contenders;   // lumapp on Qt, the minimal Qt program, lumapp headless

// The machine is shared, so each iteration starts all three in turn (each first in its turn) and
// the figures are medians: all see the same load. One round first, outside the timing: the data
// folder made and the libraries in the page cache, as on any start but the first after boot.
void BM_StartToIdle(benchmark::State& state) {
    const std::string answered = "step 3: message";   // the script's third step saw the box
    contenders = {{"lumapp on Qt", LUMAPP_PATH, "", answered, LumappEnvironment("qt"), {}, {}, {}},
                  {"minimal Qt program", QT_FRAME_PATH, kItem, "answered: ", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, {}, {}},
                  {"lumapp headless", LUMAPP_PATH, "", answered, LumappEnvironment("headless"), {}, {}, {}}};
    auto failed = [](const Run& run) {
        return run.opened_ms < 0 || run.idle_ms < 0 || !WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0;
    };
    for (Contender& c : contenders)
        if (Run first = Start(c.program, c.argument, c.idle_mark, c.environment); failed(first)) {
            state.SkipWithError((std::string(c.name) + ": the frame did not open and answer: " + first.output).c_str());
            return;
        }
    size_t round = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < contenders.size(); i++) {
            Contender& c = contenders[(round + i) % contenders.size()];
            Run run = Start(c.program, c.argument, c.idle_mark, c.environment);
            if (failed(run)) {
                state.SkipWithError((std::string(c.name) + ": a start failed: " + run.output).c_str());
                return;
            }
            c.opened.push_back(run.opened_ms);
            c.idle.push_back(run.idle_ms);
            c.ended.push_back(run.exit_ms);
        }
        round++;
        state.SetIterationTime(contenders[0].idle.back() / 1e3);
    }
    state.counters["idle_ms"] = Median(contenders[0].idle);
    state.counters["qt_idle_ms"] = Median(contenders[1].idle);
    state.counters["headless_idle_ms"] = Median(contenders[2].idle);
    state.counters["ratio"] = Median(contenders[0].idle) / Median(contenders[1].idle);
}

}  // namespace

BENCHMARK(BM_StartToIdle)->Iterations(20)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Workplace place;
    workplace = &place;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (contenders.size() == 3 && !contenders[1].idle.empty()) {
        std::printf("medians of %zu starts, ms from the start to: frame opened / frame idle / process ended\n",
                    contenders[0].idle.size());
        for (const Contender& c : contenders)
            std::printf("  %-20s %7.1f %7.1f %7.1f\n", c.name, Median(c.opened), Median(c.idle), Median(c.ended));
        std::printf("start to frame opened: lumapp on Qt / minimal Qt program: ratio %.2f\n",
                    Median(contenders[0].opened) / Median(contenders[1].opened));
        std::printf("start to frame idle: lumapp on Qt / minimal Qt program: ratio %.2f (goal <= 1.5)\n",
                    Median(contenders[0].idle) / Median(contenders[1].idle));
    }
    return 0;
}
