// SPDX-License-Identifier: GPL-3.0-or-later
// A LIST over queues of 10,000, 100,000 and 1,000,000 rows: select row n/2 (it scrolls into view)
// and format the visible page of 20 rows, every column through its picture (a date, a name, an
// amount: the browse format of the authorization list with a balance column).
//
//   list      ListBox::Select and View: the page's cells, with what the backend draws beside them
//             (each cell's colours, icon and tree level, the column layout)
//   peer      the same 60 cells formatted straight from the queue's records through the same
//             compiled pictures, with no list at all: the floor any list pays
//
// The ratio list / peer is the list's own cost; both must stay flat across the sizes. The list's
// own memory (format and columns, not the queue) is reported as a counter beside the time.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "core/queue.h"
#include "tarvex/decimal.h"
#include "tarvex/queue.hpp"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"
#include "windows/list_box.h"
#include "windows/value_text.h"

namespace {

#define LIST_ROW_FIELDS(FIELD)      \
    FIELD(DATE, DATE)               \
    FIELD(SIGNEDBY, STRING(32))     \
    FIELD(BALANCE, DECIMAL(11, 2))
TARVEX_RECORD(ListRow, "ROW", LIST_ROW_FIELDS)

constexpr const char* kFormat = "49C|F~Date~@D2@128L(4)|F~Authorization signed by:~@s32@60R(2)|~Balance~C(0)@n-14.2@";
constexpr int32_t kPageRows = 20;
constexpr int32_t kLineHeight = 13;

// One queue per size, filled once for the whole run.
tarvex::Queue<ListRow>& QueueOf(int64_t rows) {
    static std::map<int64_t, std::unique_ptr<tarvex::Queue<ListRow>>> queues;
    auto& queue = queues[rows];
    if (!queue) {
        queue = std::make_unique<tarvex::Queue<ListRow>>();
        for (int64_t i = 0; i < rows; i++) {
            (*queue)->DATE = int32_t(70000 + i % 20000);
            std::string name = "Signer " + std::to_string(i);
            Vrn$storestr(reinterpret_cast<char*>(&(*queue)->SIGNEDBY), 32, name.c_str(), int32_t(name.size()));
            std::string amount = std::to_string(i % 100000) + ".25";
            Vrn$DPushCString(amount.c_str());
            Vrn$DPopDec(&(*queue)->BALANCE, sizeof (*queue)->BALANCE, 2);
            queue->Add();
        }
    }
    return *queue;
}

void List(benchmark::State& state) {
    tarvex::Queue<ListRow>& queue = QueueOf(state.range(0));
    tarvex::windows::ListBox list;
    list.SetFormat(kFormat, 6);
    list.SetQueue(queue.Declaration());
    list.SetGeometry(kLineHeight * (kPageRows + list.Format().header_lines), kLineHeight);
    int32_t middle = int32_t(state.range(0) / 2);
    int32_t flip = 0;
    size_t cells = 0;
    for (auto _ : state) {
        list.Select(middle + (flip ^= 1));   // a new row each time, so the page really moves
        tarvex::windows::NativeListView view = list.View();
        for (const auto& row : view.rows)
            cells += row.size();
        benchmark::DoNotOptimize(view.cells.data());
    }
    state.counters["page_rows"] = list.PageRows();
    state.counters["list_bytes"] = double(list.OwnMemory());
    state.counters["cells"] = benchmark::Counter(double(cells), benchmark::Counter::kAvgIterations);
}

void Peer(benchmark::State& state) {
    tarvex::Queue<ListRow>& queue = QueueOf(state.range(0));
    const VrnTypeDesc& type = ListRow::Type();
    tarvex::PicDesc pictures[3];
    pictures[0].Init(std::string_view("D2"));
    pictures[1].Init(std::string_view("s32"));
    pictures[2].Init(std::string_view("n-14.2"));
    QueueInstance* instance = queue.Declaration()->instance;
    int32_t middle = int32_t(state.range(0) / 2);
    int32_t flip = 0;
    size_t cells = 0;
    for (auto _ : state) {
        int32_t top = middle + (flip ^= 1) - kPageRows + 1;
        for (int32_t row = top; row < top + kPageRows; row++) {
            uint8_t* record = instance->entries.At(uint32_t(row - 1));
            for (int f = 0; f < 3; f++) {
                const VrnFieldDesc& field = type.fields[f];
                std::string text = tarvex::windows::FormatValue(
                    {record + field.offset, field.type, field.size, field.places}, &pictures[f]);
                cells++;
                benchmark::DoNotOptimize(text.data());
            }
        }
    }
    state.counters["cells"] = benchmark::Counter(double(cells), benchmark::Counter::kAvgIterations);
}

BENCHMARK(List)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Peer)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
