// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of building windows and reports from their descriptions, on the headless backend:
//
//   open report   declare, open and free the claim-form-sized report of descriptions.dsc (156
//                 bound STRING controls and two accumulated values over FORM, HEADER, DETAIL
//                 and FOOTER bands)
//   open window   the same for its 46-control form window (a LIST, 20 prompts, 20 entries,
//                 5 buttons), native window and controls created
//               peer: the same window built by code: the same native calls with the same
//                 rectangles and texts, prepared beforehand, and no description at all
//   compile       dabc's work for every description in the tree: parse the text and encode the
//                 dump (the cost a program would pay if it shipped the text form)
//
// The goal is an open well under a millisecond, so that building is invisible next to drawing.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/dsc.h"
#include "windows/headless_ui.h"
#include "windows/window_object.h"

namespace {

using namespace tarvex::windows;

constexpr const char* kModule = "LUMAREX$BENCH";

std::vector<void*> Addresses(size_t count) {
    static std::vector<int64_t> slots(256);
    std::vector<void*> addresses;
    for (size_t i = 0; i < count; i++)
        addresses.push_back(&slots[i]);
    return addresses;
}

void OpenAndFree(benchmark::State& state, Opening opening, const char* structure, size_t addresses) {
    std::vector<void*> list = Addresses(addresses);
    size_t controls = 0;
    for (auto _ : state) {
        VrnWindowObject* window = nullptr;
        DeclareWindow(opening, &window, kModule, structure, list);
        Vrn$OPENwindow(window);
        if (!window->open || window->cursor != addresses) {
            state.SkipWithError("the description did not open with all its addresses bound");
            break;
        }
        controls = window->controls.size();
        for (const auto& band : window->bands)
            controls += band->controls.size();
        Vrn$freewindow(&window);
    }
    state.counters["opens/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["controls"] = double(controls);
}

void BM_OpenReport(benchmark::State& state) { OpenAndFree(state, Opening::Report, "P1$REPORT", 158); }
void BM_OpenWindow(benchmark::State& state) { OpenAndFree(state, Opening::Window, "P1$WINDOW", 21); }

// The peer: what the headless backend was asked for when the window was built from its
// description, replayed by code.
void BM_BuildWindowByCode(benchmark::State& state) {
    VrnWindowObject* window = nullptr;
    std::vector<void*> list = Addresses(21);
    DeclareWindow(Opening::Window, &window, kModule, "P1$WINDOW", list);
    Vrn$OPENwindow(window);
    HeadlessUi* ui = HeadlessBackend();
    auto shown = ui->GetWindow(window->handle);
    Vrn$freewindow(&window);
    if (!shown) {
        state.SkipWithError("the window did not open");
        return;
    }
    for (auto _ : state) {
        NativeHandle handle = ui->CreateWindow(shown->spec);
        for (const auto& control : shown->controls)
            benchmark::DoNotOptimize(ui->CreateControl(handle, control.spec));
        ui->DestroyWindow(handle);
    }
    state.counters["opens/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

std::vector<std::string> TreeDescriptions() {
    std::vector<std::string> texts;
    for (const char* folder : {"app/resources", "tools", "runtime/windows", "bench"}) {
        std::filesystem::path root = std::filesystem::path(LUM_SOURCE_DIR) / folder;
        if (!std::filesystem::exists(root))
            continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
            if (entry.path().extension() == ".dsc") {
                std::ifstream in(entry.path(), std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                texts.push_back(text.str());
            }
    }
    return texts;
}

void BM_CompileAllDescriptions(benchmark::State& state) {
    std::vector<std::string> texts = TreeDescriptions();
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const std::string& text : texts) {
            tarvex::windows::Description description;
            tarvex::tools::DscError error;
            if (!tarvex::tools::ParseDsc(text, "bench.dsc", description, error)) {
                state.SkipWithError(error.Text().c_str());
                return;
            }
            bytes += tarvex::tools::EncodeResource(description).size();
        }
    }
    state.counters["files"] = double(texts.size());
    state.counters["dump bytes"] = double(bytes);
}

BENCHMARK(BM_OpenReport)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenWindow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildWindowByCode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompileAllDescriptions)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
