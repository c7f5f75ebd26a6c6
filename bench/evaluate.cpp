// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of a view filter: the claim data form's service-line filter, parsed once and evaluated a
// million times over bound record buffers, against the floor of a hand-written C++ function that
// makes the same comparisons on the same buffers (packed decimals decoded to integers, the code
// read as a number as the filter reads it).
//
//   BM_ServiceLineFilter   Vrn$EvalR of the parsed filter, one row per iteration
//   BM_HandWrittenFloor    the same decisions in plain C++
//   BM_ParseServiceLine    Vrn$ParseCString + Vrn$FreeParsed of the filter (parse cost, for scale)
//
// The rows cycle through charge lines, payment lines and lines of other claims, so both sides take
// every branch of the AND chain.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarvex/decimal.h"
#include "tarvex/evaluate.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/values.h"

namespace {

#define BENCH_ITEM_FIELDS(FIELD) \
    FIELD(PRV, DECIMAL(3, 0))    \
    FIELD(PAT, DECIMAL(7, 0))    \
    FIELD(INV, DECIMAL(7, 0))    \
    FIELD(CPT, STRING(7))        \
    FIELD(FEE, DECIMAL(9, 2))
TARVEX_RECORD(BenchItem, "ITM", BENCH_ITEM_FIELDS)

constexpr const char* kServiceLines =
    "ITM:PAT = BRW2::Sort1:Reset:INV:PAT AND ITM:PRV = BRW2::Sort1:Reset:INV:PRV AND ITM:INV = "
    "BRW2::Sort1:Reset:INV:INV AND (ITM:FEE > -.01 AND ITM:CPT<>000001  AND ITM:CPT<>000002 AND "
    "ITM:CPT<>000003 AND ITM:CPT<>000004 AND ITM:CPT<>000005 )";

constexpr int64_t kMillion = 1000000;

template <class Field>
void SetDecimal(Field& field, const char* text, uint32_t places) {
    Vrn$DPushCString(text);
    Vrn$DPopDec(&field, sizeof field, places);
}

template <class Field>
void SetString(Field& field, const char* text) {
    Vrn$storestr(reinterpret_cast<char*>(&field), sizeof field, text, static_cast<int32_t>(std::strlen(text)));
}

// The bound world: the record buffer the view reads rows into, and the browse's reset variables.
struct World {
    BenchItem buffer{};
    tarvex::Decimal<7, 0> reset_pat;
    tarvex::Decimal<3, 0> reset_prv;
    tarvex::Decimal<7, 0> reset_inv;
    std::vector<BenchItem> rows;

    World() {
        SetDecimal(reset_pat, "1042", 0);
        SetDecimal(reset_prv, "3", 0);
        SetDecimal(reset_inv, "5001", 0);
        struct Line {
            const char* pat;
            const char* inv;
            const char* cpt;
            const char* fee;
        };
        const Line lines[] = {
            {"1042", "5001", "99213", "75.00"}, {"1042", "5001", "00004", "-20.00"},
            {"1042", "5001", "G0008", "0.00"},  {"1042", "5002", "99214", "110.00"},
            {"1042", "5001", "00001", "-55.00"}, {"1043", "5001", "99213", "75.00"},
            {"1042", "5001", "36415", "12.50"}, {"1042", "5001", "99215", "-0.01"},
        };
        for (const Line& line : lines) {
            BenchItem row{};
            SetDecimal(row.PRV, "3", 0);
            SetDecimal(row.PAT, line.pat, 0);
            SetDecimal(row.INV, line.inv, 0);
            SetString(row.CPT, line.cpt);
            SetDecimal(row.FEE, line.fee, 2);
            rows.push_back(row);
        }
        Vrn$PushBind2(0);
        Vrn$BindG(Vrn$Group2Ufo(&buffer, &BenchItem::Type()));
        Bind("BRW2::Sort1:Reset:INV:PAT", &reset_pat, sizeof reset_pat);
        Bind("BRW2::Sort1:Reset:INV:PRV", &reset_prv, sizeof reset_prv);
        Bind("BRW2::Sort1:Reset:INV:INV", &reset_inv, sizeof reset_inv);
    }
    ~World() { Vrn$PopBind(); }

    static void Bind(const char* name, void* address, uint32_t size) {
        Vrn$PushCString(name);
        Vrn$BindV(Vrn$Mem2Ufo(address, VRN_TYPE_DECIMAL, 0, size, 0));
    }
};

// ---- The floor ---------------------------------------------------------------------------------------

// A packed decimal (sign in the first high nibble) as an integer count of its smallest unit.
int64_t PackedValue(const void* image, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(image);
    int64_t value = bytes[0] & 0x0F;
    for (size_t i = 1; i < size; i++) value = value * 100 + (bytes[i] >> 4) * 10 + (bytes[i] & 0x0F);
    return (bytes[0] & 0xF0) ? -value : value;
}

// The code as a number, as the filter reads a text against a number: leading digits, else 0.
double CodeValue(const char* text, size_t size) {
    while (size > 0 && text[size - 1] == ' ') size--;
    double value = 0;
    std::from_chars(text, text + size, value);
    return value;
}

bool HandWrittenServiceLine(const World& world) {
    const BenchItem& item = world.buffer;
    if (PackedValue(&item.PAT, sizeof item.PAT) != PackedValue(&world.reset_pat, sizeof world.reset_pat)) return false;
    if (PackedValue(&item.PRV, sizeof item.PRV) != PackedValue(&world.reset_prv, sizeof world.reset_prv)) return false;
    if (PackedValue(&item.INV, sizeof item.INV) != PackedValue(&world.reset_inv, sizeof world.reset_inv)) return false;
    if (PackedValue(&item.FEE, sizeof item.FEE) <= -1) return false;   // FEE > -.01 in cents
    double code = CodeValue(reinterpret_cast<const char*>(&item.CPT), sizeof item.CPT);
    return code != 1 && code != 2 && code != 3 && code != 4 && code != 5;
}

// ---- Benchmarks --------------------------------------------------------------------------------------

void BM_ServiceLineFilter(benchmark::State& state) {
    World world;
    VrnParsed* tree = Vrn$ParseCString(kServiceLines);
    if (!tree) {
        state.SkipWithError("the filter does not parse");
        return;
    }
    size_t next = 0;
    int64_t selected = 0;
    for (auto _ : state) {
        world.buffer = world.rows[next];
        next = (next + 1) % world.rows.size();
        selected += Vrn$EvalR(tree);
    }
    benchmark::DoNotOptimize(selected);
    state.counters["selected"] = static_cast<double>(selected);
    state.SetItemsProcessed(state.iterations());
    Vrn$FreeParsed(tree);
}
BENCHMARK(BM_ServiceLineFilter)->Iterations(kMillion);

void BM_HandWrittenFloor(benchmark::State& state) {
    World world;
    size_t next = 0;
    int64_t selected = 0;
    for (auto _ : state) {
        world.buffer = world.rows[next];
        next = (next + 1) % world.rows.size();
        benchmark::DoNotOptimize(world.buffer);
        selected += HandWrittenServiceLine(world) ? 1 : 0;
    }
    benchmark::DoNotOptimize(selected);
    state.counters["selected"] = static_cast<double>(selected);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandWrittenFloor)->Iterations(kMillion);

void BM_ParseServiceLine(benchmark::State& state) {
    World world;
    for (auto _ : state) {
        VrnParsed* tree = Vrn$ParseCString(kServiceLines);
        benchmark::DoNotOptimize(tree);
        Vrn$FreeParsed(tree);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseServiceLine);

}  // namespace

BENCHMARK_MAIN();
