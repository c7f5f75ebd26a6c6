// SPDX-License-Identifier: GPL-3.0-or-later
// The statement  dest = CLIP(a) & ', ' & b  over STRING(20) a, b and STRING(40) dest, computed on
// the string stack (through the exported operations as compiled code calls them, and through the
// C++ layer) against the same statement written with std::string in the same binary.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "tarvex/string_stack.h"
#include "tarvex/strings.hpp"

namespace {

void FillPadded(char* field, size_t size, const char* text) {
    size_t n = std::strlen(text);
    std::memcpy(field, text, n);
    std::memset(field + n, ' ', size - n);
}

// As compiled code: push a, CLIP, push the literal, concat, push b, concat, pop into dest.
void StackExportedOperations(benchmark::State& state) {
    char a[20], b[20], dest[40];
    FillPadded(a, sizeof a, "Smith");
    FillPadded(b, sizeof b, "John");
    for (auto _ : state) {
        Vrn$PushString(a, sizeof a);
        Vrn$StackCLIP();
        Vrn$PushString(", ", 2);
        Vrn$StackConcat();
        Vrn$PushString(b, sizeof b);
        Vrn$StackConcat();
        Vrn$PopString(dest, sizeof dest);
        benchmark::DoNotOptimize(dest);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(dest, "Smith, John ", 12) != 0) state.SkipWithError("wrong result");
}
BENCHMARK(StackExportedOperations);

void StackCxxLayer(benchmark::State& state) {
    tarvex::String<20> a = "Smith", b = "John";
    tarvex::String<40> dest;
    for (auto _ : state) {
        dest = clip(a) & ", " & b;
        benchmark::DoNotOptimize(dest);
        benchmark::ClobberMemory();
    }
    if (dest.View().substr(0, 12) != "Smith, John ") state.SkipWithError("wrong result");
}
BENCHMARK(StackCxxLayer);

std::string Clip(const std::string& text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The statement as one writes it with std::string: temporaries, then the blank-padded store.
void StdStringExpression(benchmark::State& state) {
    std::string a = "Smith", b = "John", dest;
    a.resize(20, ' ');
    b.resize(20, ' ');
    for (auto _ : state) {
        dest = Clip(a) + ", " + b;
        dest.resize(40, ' ');
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    if (dest.compare(0, 12, "Smith, John ") != 0) state.SkipWithError("wrong result");
}
BENCHMARK(StdStringExpression);

// The hand-tuned std::string form: appends into a destination whose capacity is reused, so the
// loop never allocates.
void StdStringReusedBuffer(benchmark::State& state) {
    std::string a = "Smith", b = "John", dest;
    a.resize(20, ' ');
    b.resize(20, ' ');
    dest.reserve(64);
    for (auto _ : state) {
        size_t end = a.find_last_not_of(' ');
        dest.assign(a, 0, end == std::string::npos ? 0 : end + 1);
        dest.append(", ").append(b);
        dest.resize(40, ' ');
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    if (dest.compare(0, 12, "Smith, John ") != 0) state.SkipWithError("wrong result");
}
BENCHMARK(StdStringReusedBuffer);

}  // namespace

BENCHMARK_MAIN();
