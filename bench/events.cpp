// SPDX-License-Identifier: GPL-3.0-or-later
// The event loop against its peers, in the same run:
//  (a) POST plus one ACCEPT pass on one thread, against Qt's own loop delivering a posted custom
//      event to a QObject (QCoreApplication::postEvent and processEvents);
//  (b) two program threads handing the runtime lock to each other at event boundaries (each pass
//      POSTs to the other thread's window and waits for its own next event), against a plain
//      std::mutex and condition variable ping-pong between two threads.
// The ratios (ours / peer) are printed at the end.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "tarvex/windows.hpp"

namespace {

constexpr int32_t kPing = 0x400;   // a program's own event number
double rates[4];                   // posted ours, posted Qt, handovers ours, handovers peer

void PostAndAccept(benchmark::State& state) {
    tarvex::Window window("LUMAREX$BENCHEV", "P1$PING");
    window.Open();
    int64_t seen = 0;
    tarvex::Accept accept;
    accept.Next();   // EVENT:OpenWindow
    for (auto _ : state) {
        tarvex::POST(kPing);
        accept.Next();
        seen += tarvex::EVENT() == kPing;
    }
    if (seen != int64_t(state.iterations()))
        state.SkipWithError("an event was lost");
    state.counters["events/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

class Receiver : public QObject {
public:
    int64_t received = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            received++;
            return true;
        }
        return QObject::event(event);
    }
};

void QtPostAndProcess(benchmark::State& state) {
    int argc = 1;
    char name[] = "bench_events";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Receiver receiver;
    for (auto _ : state) {
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
    }
    if (receiver.received != int64_t(state.iterations()))
        state.SkipWithError("an event was lost");
    state.counters["events/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

std::atomic<int64_t> handovers_left{0};
std::atomic<int32_t> partner_thread{0};

// The second thread's procedure: each ping it gets goes back to the first thread.
void Partner() {
    tarvex::Window window("LUMAREX$BENCHEV", "P1$PING");
    window.Open();
    partner_thread = tarvex::THREAD();
    for (tarvex::Accept accept; accept.Next();) {
        if (tarvex::EVENT() != kPing)
            continue;
        tarvex::POST(kPing, 0, 1);
        if (handovers_left.fetch_sub(1) <= 1)
            break;
    }
}

void LockHandover(benchmark::State& state) {
    tarvex::Window window("LUMAREX$BENCHEV", "P1$PING");
    window.Open();
    int64_t count = state.max_iterations;
    handovers_left = count;
    partner_thread = 0;
    tarvex::START(Partner, 0);
    tarvex::Accept accept;
    accept.Next();   // EVENT:OpenWindow
    Vrn$UNLOCKTHREAD();
    while (partner_thread == 0)
        std::this_thread::yield();
    Vrn$LOCKTHREAD();
    int64_t pings = 0;
    for (auto _ : state) {
        tarvex::POST(kPing, 0, partner_thread);
        accept.Next();   // waits: the partner runs, and pings back
        pings += tarvex::EVENT() == kPing;
    }
    if (pings != count)
        state.SkipWithError("a handover was lost");
    // Two handovers a round trip.
    state.counters["handovers/s"] = benchmark::Counter(2.0 * double(count), benchmark::Counter::kIsRate);
    Vrn$UNLOCKTHREAD();
    while (Vrn$THREAD() == 1 && handovers_left > 0)
        std::this_thread::yield();
    Vrn$LOCKTHREAD();
}

void MutexPingPong(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable changed;
    int turn = 0;   // 0: this thread's, 1: the partner's
    bool done = false;
    std::thread partner([&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return turn == 1 || done; });
            if (done)
                return;
            turn = 0;
            changed.notify_all();
        }
    });
    for (auto _ : state) {
        std::unique_lock lock(mutex);
        turn = 1;
        changed.notify_all();
        changed.wait(lock, [&] { return turn == 0; });
    }
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    changed.notify_all();
    partner.join();
    state.counters["handovers/s"] =
        benchmark::Counter(2.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

class Rates : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            std::string name = run.benchmark_name();
            int slot = name.rfind("PostAndAccept", 0) == 0       ? 0
                       : name.rfind("QtPostAndProcess", 0) == 0 ? 1
                       : name.rfind("LockHandover", 0) == 0     ? 2
                       : name.rfind("MutexPingPong", 0) == 0    ? 3
                                                                : -1;
            auto counter = run.counters.find(slot < 2 ? "events/s" : "handovers/s");
            if (slot >= 0 && counter != run.counters.end())
                rates[slot] = counter->second.value;
        }
    }
};

}  // namespace

BENCHMARK(PostAndAccept)->Iterations(1000000)->UseRealTime();
BENCHMARK(QtPostAndProcess)->Iterations(1000000)->UseRealTime();
BENCHMARK(LockHandover)->Iterations(100000)->UseRealTime();
BENCHMARK(MutexPingPong)->Iterations(100000)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Rates reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (rates[1] > 0)
        std::printf("POST + ACCEPT pass: %.0f events/s, Qt %.0f events/s: ratio %.2f (goal >= 1)\n", rates[0], rates[1],
                    rates[0] / rates[1]);
    if (rates[3] > 0)
        std::printf("lock handovers: %.0f /s, mutex ping-pong %.0f /s: ratio %.2f (goal >= 0.5)\n", rates[2], rates[3],
                    rates[2] / rates[3]);
    return 0;
}
