// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of DECIMAL(19,2) statements on the decimal stack, through the exported operations, against
// the hardware floor for two-place amounts: plain __int128 fixed-point arithmetic with the same
// rounding (half away from zero). After the benchmarks, the same statements are timed in Python's
// C-accelerated decimal module with `python3 -m timeit`, to be read beside them.
//
//   x = a + b;   x = a * b;   x = a / b;   x = ROUND(a * b, 0.01)
//   a = 12345678901234567.89, b = 98765.43, x DECIMAL(19,2)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "tarvex/decimal.h"

namespace {

constexpr uint32_t kSize = 10; // DECIMAL(19,2)
constexpr uint32_t kPlaces = 2;

struct Operands {
    uint8_t a[kSize] = {0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x23, 0x45, 0x67, 0x89}; // 12345678901234567.89
    uint8_t b[kSize] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x87, 0x65, 0x43}; // 98765.43
    uint8_t x[kSize] = {};
};

const uint8_t kCent[] = {1}; // the compiled constant 0.01

void DecimalAdd(benchmark::State& state) {
    Operands v;
    for (auto _ : state) {
        Vrn$DPushDec(v.a, kSize, kPlaces);
        Vrn$DPushDec(v.b, kSize, kPlaces);
        Vrn$DecAdd();
        Vrn$DPopDec(v.x, kSize, kPlaces);
        benchmark::DoNotOptimize(v.x);
    }
}

void DecimalMultiply(benchmark::State& state) {
    Operands v;
    for (auto _ : state) {
        Vrn$DPushDec(v.a, kSize, kPlaces);
        Vrn$DPushDec(v.b, kSize, kPlaces);
        Vrn$DecMul();
        Vrn$DPopDec(v.x, kSize, kPlaces);
        benchmark::DoNotOptimize(v.x);
    }
}

void DecimalDivide(benchmark::State& state) {
    Operands v;
    for (auto _ : state) {
        Vrn$DPushDec(v.a, kSize, kPlaces);
        Vrn$DPushDec(v.b, kSize, kPlaces);
        Vrn$DecDivide();
        Vrn$DPopDec(v.x, kSize, kPlaces);
        benchmark::DoNotOptimize(v.x);
    }
}

void DecimalRoundProduct(benchmark::State& state) {
    Operands v;
    for (auto _ : state) {
        Vrn$DPushDec(v.a, kSize, kPlaces);
        Vrn$DPushDec(v.b, kSize, kPlaces);
        Vrn$DecMul();
        Vrn$DPushConstant(kCent, 1, 2, 0);
        Vrn$DRound();
        Vrn$DPopDec(v.x, kSize, kPlaces);
        benchmark::DoNotOptimize(v.x);
    }
}

// The floor: amounts as __int128 counts of cents. DoNotOptimize on the operands and the result
// makes every iteration load a and b from memory and store x, as a statement on variables does;
// the loop is neither hoisted nor vectorised (checked in the disassembly: one add/adc pair with
// its loads and stores per iteration).
using Cents = __int128;

inline Cents RoundedQuotient(Cents numerator, Cents divisor) {
    Cents quotient = numerator / divisor;
    Cents remainder = numerator % divisor;
    Cents twice = remainder < 0 ? -2 * remainder : 2 * remainder;
    if (twice >= (divisor < 0 ? -divisor : divisor)) {
        quotient += ((numerator < 0) != (divisor < 0)) ? -1 : 1;
    }
    return quotient;
}

struct Int128Operands {
    Cents a = static_cast<Cents>(1234567890123456789LL);
    Cents b = 9876543;
    Cents x = 0;
};

void Int128Add(benchmark::State& state) {
    Int128Operands v;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.a);
        benchmark::DoNotOptimize(v.b);
        v.x = v.a + v.b;
        benchmark::DoNotOptimize(v.x);
    }
}

void Int128Multiply(benchmark::State& state) {
    Int128Operands v;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.a);
        benchmark::DoNotOptimize(v.b);
        v.x = RoundedQuotient(v.a * v.b, 100);
        benchmark::DoNotOptimize(v.x);
    }
}

void Int128Divide(benchmark::State& state) {
    Int128Operands v;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.a);
        benchmark::DoNotOptimize(v.b);
        v.x = RoundedQuotient(v.a * 100, v.b);
        benchmark::DoNotOptimize(v.x);
    }
}

// ROUND(a * b, 0.01) into two places is the rounded product again.
void Int128RoundProduct(benchmark::State& state) {
    Int128Operands v;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.a);
        benchmark::DoNotOptimize(v.b);
        v.x = RoundedQuotient(v.a * v.b, 100);
        benchmark::DoNotOptimize(v.x);
    }
}

BENCHMARK(DecimalAdd);
BENCHMARK(Int128Add);
BENCHMARK(DecimalMultiply);
BENCHMARK(Int128Multiply);
BENCHMARK(DecimalDivide);
BENCHMARK(Int128Divide);
BENCHMARK(DecimalRoundProduct);
BENCHMARK(Int128RoundProduct);

void PythonPeer() {
    if (std::system("python3 -c 'import decimal' > /dev/null 2>&1") != 0) {
        std::printf("python3 not found: no Python decimal figures\n");
        return;
    }
    static const char* const kStatements[][2] = {
        {"x = a + b", "(a + b).quantize(c, ROUND_HALF_UP)"},
        {"x = a * b", "(a * b).quantize(c, ROUND_HALF_UP)"},
        {"x = a / b", "(a / b).quantize(c, ROUND_HALF_UP)"},
        {"x = ROUND(a * b, 0.01)", "(a * b).quantize(c, ROUND_HALF_UP)"},
    };
    std::printf("\nPython decimal (python3 -m timeit), same statements:\n");
    std::fflush(stdout);
    for (const auto& statement : kStatements) {
        std::printf("%-24s ", statement[0]);
        std::fflush(stdout);
        char command[512];
        std::snprintf(command, sizeof command,
                      "python3 -m timeit -s \"from decimal import Decimal as D, ROUND_HALF_UP; "
                      "a = D('12345678901234567.89'); b = D('98765.43'); c = D('0.01')\" \"%s\"",
                      statement[1]);
        if (std::system(command) != 0) {
            std::printf("(timeit failed)\n");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PythonPeer();
    return 0;
}
