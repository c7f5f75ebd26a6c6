// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of pictures: a DECIMAL(19,2) variable formatted with @n-14.2 (pushed on the decimal stack
// and popped through the picture, as compiled code and report controls do) and a day number
// formatted with @d2, each against snprintf producing the same text from the same input: the
// amount's packed digits read into cents by hand, printed with "%lld", the grouping and the
// floating sign placed by hand; the date split into year, month and day by the civil-day algorithm
// and printed with "%2d/%02d/%04d". Before timing, both sides are checked to produce identical
// texts for every input.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/pictures.h"

namespace {

constexpr uint32_t kSize = 10;   // DECIMAL(19,2)
constexpr uint32_t kPlaces = 2;
constexpr uint32_t kAmountWidth = 14;
constexpr uint32_t kDateWidth = 10;

struct Amount {
    uint8_t image[kSize];
    int64_t cents;
};

// Amounts that fit @n-14.2: up to 8 integer digits, both signs.
std::vector<Amount> MakeAmounts() {
    std::vector<Amount> amounts;
    uint64_t seed = 20261207;
    for (int i = 0; i < 256; i++) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        int64_t cents = int64_t((seed >> 20) % 10000000000ULL) >> (i % 8 * 4);
        if (i % 3 == 0) cents = -cents;
        char text[32];
        std::snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "", (long long)(llabs(cents) / 100),
                      (long long)(llabs(cents) % 100));
        Amount amount{{}, cents};
        Vrn$DPushCString(text);
        Vrn$DPopDec(amount.image, kSize, kPlaces);
        amounts.push_back(amount);
    }
    return amounts;
}

// The peer: "%lld", then the grouping commas, the point and the sign placed by hand, right-aligned.
void PeerAmount(int64_t cents, char* out) {
    char digits[24];
    uint64_t magnitude = cents < 0 ? uint64_t(-cents) : uint64_t(cents);
    int n = std::snprintf(digits, sizeof digits, "%03llu", (unsigned long long)magnitude);
    char text[32];
    int length = 0;
    if (cents < 0) text[length++] = '-';
    int integer = n - 2;
    for (int i = 0; i < integer; i++) {
        if (i > 0 && (integer - i) % 3 == 0) text[length++] = ',';
        text[length++] = digits[i];
    }
    text[length++] = '.';
    text[length++] = digits[n - 2];
    text[length++] = digits[n - 1];
    std::memset(out, ' ', kAmountWidth);
    std::memcpy(out + kAmountWidth - length, text, size_t(length));
}

// The peer's reading of a DECIMAL(19,2) image: sign nibble, then 19 BCD digits.
int64_t PeerCents(const uint8_t* image) {
    int64_t cents = image[0] & 0x0F;
    for (uint32_t i = 1; i < kSize; i++) cents = cents * 100 + (image[i] >> 4) * 10 + (image[i] & 0x0F);
    return (image[0] >> 4) != 0 ? -cents : cents;
}

// The peer's date: days to year, month and day, then "%2d/%02d/%04d".
void PeerDate(int32_t day_number, char* out) {
    int64_t z = int64_t(day_number) - 4 + 657437 + 305;   // days since 0000-03-01
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int day = int(doy - (153 * mp + 2) / 5 + 1);
    int month = int(mp < 10 ? mp + 3 : mp - 9);
    int year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
    char text[40];
    std::snprintf(text, sizeof text, "%2d/%02d/%04d", month, day, year);
    std::memcpy(out, text, kDateWidth);
}

std::vector<int32_t> MakeDays() {
    std::vector<int32_t> days;
    for (int32_t d = 4; d <= 2994626; d += 11701) days.push_back(d);
    return days;
}

// Both sides must write the same text, or the figures compare different work.
void CheckSameTexts() {
    for (const Amount& amount : MakeAmounts()) {
        char ours[kAmountWidth], peer[kAmountWidth];
        Vrn$DPushDec(amount.image, kSize, kPlaces);
        Vrn$DPopPict(ours, kAmountWidth, "@n-14.2");
        if (PeerCents(amount.image) != amount.cents) {
            std::fprintf(stderr, "amount %lld: the peer reads %lld\n", (long long)amount.cents,
                         (long long)PeerCents(amount.image));
            std::exit(1);
        }
        PeerAmount(PeerCents(amount.image), peer);
        if (std::memcmp(ours, peer, kAmountWidth) != 0) {
            std::fprintf(stderr, "amount %lld: '%.14s' against '%.14s'\n", (long long)amount.cents, ours, peer);
            std::exit(1);
        }
    }
    for (int32_t day : MakeDays()) {
        char ours[kDateWidth], peer[kDateWidth];
        Vrn$pictstorelong(ours, kDateWidth, "@d2", day);
        PeerDate(day, peer);
        if (std::memcmp(ours, peer, kDateWidth) != 0) {
            std::fprintf(stderr, "day %d: '%.10s' against '%.10s'\n", day, ours, peer);
            std::exit(1);
        }
    }
}

void PictureAmount(benchmark::State& state) {
    std::vector<Amount> amounts = MakeAmounts();
    char out[kAmountWidth];
    size_t i = 0;
    for (auto _ : state) {
        Vrn$DPushDec(amounts[i++ & 255].image, kSize, kPlaces);
        Vrn$DPopPict(out, kAmountWidth, "@n-14.2");
        benchmark::DoNotOptimize(out);
    }
}

void SnprintfAmount(benchmark::State& state) {
    std::vector<Amount> amounts = MakeAmounts();
    char out[kAmountWidth];
    size_t i = 0;
    for (auto _ : state) {
        PeerAmount(PeerCents(amounts[i++ & 255].image), out);
        benchmark::DoNotOptimize(out);
    }
}

void PictureDate(benchmark::State& state) {
    std::vector<int32_t> days = MakeDays();
    char out[kDateWidth];
    size_t i = 0;
    for (auto _ : state) {
        Vrn$pictstorelong(out, kDateWidth, "@d2", days[i++ % days.size()]);
        benchmark::DoNotOptimize(out);
    }
}

void SnprintfDate(benchmark::State& state) {
    std::vector<int32_t> days = MakeDays();
    char out[kDateWidth];
    size_t i = 0;
    for (auto _ : state) {
        PeerDate(days[i++ % days.size()], out);
        benchmark::DoNotOptimize(out);
    }
}

}  // namespace

BENCHMARK(PictureAmount);
BENCHMARK(SnprintfAmount);
BENCHMARK(PictureDate);
BENCHMARK(SnprintfDate);

int main(int argc, char** argv) {
    CheckSameTexts();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
