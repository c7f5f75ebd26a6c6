// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of queues against the standard library doing the same work on the same records:
//
//   keyed ADD   N records with random keys, each inserted after its equal keys
//               peer: a heap copy of the record, std::upper_bound and std::vector<Record*>::insert
//   SORT        1,000,000 records by (NAME ascending, NUM ascending), stably
//               peer: std::stable_sort of a std::vector<Record*>
//   GET by key  1,000,000 lookups of existing keys, each copying the entry into the buffer
//               peer: std::lower_bound over the sorted std::vector<Record*> and a copy
//
// Both sides compare NAME with the runtime's collation (Vrn$comparestr) and NUM as a LONG, so the
// figures compare the containers and algorithms, not two different string orders.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "tarvex/queue.hpp"
#include "tarvex/type_descriptor.h"

namespace {

#define BENCH_ROW_FIELDS(FIELD) \
    FIELD(NAME, STRING(20))     \
    FIELD(NUM, LONG)            \
    FIELD(AMOUNT, DECIMAL(11, 2))
TARVEX_RECORD(BenchRow, "ROW", BENCH_ROW_FIELDS)

const int32_t kKey[] = {1, 2, 0};
constexpr int64_t kMillion = 1000000;

// Random rows: 20,000 different names, numbers 0..99, so many keys repeat.
std::vector<BenchRow> MakeRows(int64_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<BenchRow> rows(static_cast<size_t>(count));
    for (BenchRow& row : rows) {
        char name[21];
        std::snprintf(name, sizeof name, "NAME%08u", static_cast<unsigned>(random() % 20000) * 7919u);
        row.NAME = name;
        row.NUM = static_cast<int32_t>(random() % 100);
    }
    return rows;
}

// The key order both sides use.
bool Less(const BenchRow* a, const BenchRow* b) {
    int32_t names = Vrn$comparestr(a->NAME.Data(), 20, b->NAME.Data(), 20);
    if (names != 0) return names < 0;
    return static_cast<int32_t>(a->NUM) < static_cast<int32_t>(b->NUM);
}

struct PeerQueue {
    std::vector<BenchRow*> entries;
    ~PeerQueue() {
        for (BenchRow* row : entries) std::free(row);
    }
    BenchRow* Copy(const BenchRow& row) {
        auto* copy = static_cast<BenchRow*>(std::malloc(sizeof(BenchRow)));
        std::memcpy(static_cast<void*>(copy), &row, sizeof(BenchRow));
        return copy;
    }
};

void QueueKeyedAdd(benchmark::State& state) {
    std::vector<BenchRow> rows = MakeRows(state.range(0), 1);
    for (auto _ : state) {
        tarvex::Queue<BenchRow> queue;
        for (const BenchRow& row : rows) {
            queue.Buffer() = row;
            Vrn$ADDqueuekey(queue.Declaration(), kKey);
        }
        benchmark::DoNotOptimize(queue.Records());
        state.PauseTiming();
        queue.Free();
        state.ResumeTiming();
    }
}

void PeerKeyedAdd(benchmark::State& state) {
    std::vector<BenchRow> rows = MakeRows(state.range(0), 1);
    for (auto _ : state) {
        PeerQueue peer;
        for (const BenchRow& row : rows) {
            BenchRow* copy = peer.Copy(row);
            auto at = std::upper_bound(peer.entries.begin(), peer.entries.end(), copy, Less);
            peer.entries.insert(at, copy);
        }
        benchmark::DoNotOptimize(peer.entries.data());
        state.PauseTiming();
        {
            PeerQueue gone;
            gone.entries.swap(peer.entries);
        }
        state.ResumeTiming();
    }
}

void QueueSort(benchmark::State& state) {
    std::vector<BenchRow> rows = MakeRows(state.range(0), 2);
    tarvex::Queue<BenchRow> queue;
    for (auto _ : state) {
        state.PauseTiming();
        queue.Free();
        for (const BenchRow& row : rows) {
            queue.Buffer() = row;
            queue.Add();
        }
        state.ResumeTiming();
        Vrn$SORTqueuekey(queue.Declaration(), kKey);
    }
}

void PeerSort(benchmark::State& state) {
    std::vector<BenchRow> rows = MakeRows(state.range(0), 2);
    PeerQueue peer;
    for (const BenchRow& row : rows) peer.entries.push_back(peer.Copy(row));
    const std::vector<BenchRow*> arrival = peer.entries;
    for (auto _ : state) {
        state.PauseTiming();
        peer.entries = arrival;
        state.ResumeTiming();
        std::stable_sort(peer.entries.begin(), peer.entries.end(), Less);
        benchmark::DoNotOptimize(peer.entries.data());
    }
}

// Lookups of the keys of the rows themselves, in a shuffled order.
std::vector<BenchRow> Probes(const std::vector<BenchRow>& rows) {
    std::vector<BenchRow> probes = rows;
    std::shuffle(probes.begin(), probes.end(), std::mt19937(3));
    return probes;
}

void QueueGetByKey(benchmark::State& state) {
    std::vector<BenchRow> rows = MakeRows(state.range(0), 4);
    std::vector<BenchRow> probes = Probes(rows);
    tarvex::Queue<BenchRow> queue;
    for (const BenchRow& row : rows) {
        queue.Buffer() = row;
        queue.Add();
    }
    Vrn$SORTqueuekey(queue.Declaration(), kKey);
    for (auto _ : state) {
        for (const BenchRow& probe : probes) {
            queue.Buffer() = probe;
            Vrn$GETqueuekey(queue.Declaration(), kKey);
        }
        benchmark::DoNotOptimize(queue.Pointer());
    }
}

void PeerGetByKey(benchmark::State& state) {
    std::vector<BenchRow> rows = MakeRows(state.range(0), 4);
    std::vector<BenchRow> probes = Probes(rows);
    PeerQueue peer;
    for (const BenchRow& row : rows) peer.entries.push_back(peer.Copy(row));
    std::stable_sort(peer.entries.begin(), peer.entries.end(), Less);
    BenchRow buffer;
    for (auto _ : state) {
        for (const BenchRow& probe : probes) {
            buffer = probe;
            auto at = std::lower_bound(peer.entries.begin(), peer.entries.end(), &buffer, Less);
            if (at != peer.entries.end() && !Less(&buffer, *at)) buffer = **at;
        }
        benchmark::DoNotOptimize(&buffer);
    }
}

}  // namespace

// Keyed ADD moves on average half the pointer array per insertion on both sides (about half a
// minute for a million), so it runs once per size.
BENCHMARK(QueueKeyedAdd)->Arg(100000)->Arg(kMillion)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(PeerKeyedAdd)->Arg(100000)->Arg(kMillion)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(QueueSort)->Arg(kMillion)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(PeerSort)->Arg(kMillion)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(QueueGetByKey)->Arg(kMillion)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PeerGetByKey)->Arg(kMillion)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
