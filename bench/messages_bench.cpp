// Window messages against Qt's own queued calls, measured in the same run.
//
//   Post:  a worker posts messages to a receiver on the user-interface thread, which runs its
//          event loop until all have been handled: messages handled per second.
//   Send:  a worker sends one message at a time and waits for the handler's result: the round
//          trip per send, in microseconds (shown as sends per second for the ratio).
// The peer does the same with QMetaObject::invokeMethod: a queued call for posts, a blocking
// queued call for sends. The ratio is ours / Qt's, higher is better for us; each figure is the
// median of --reps runs.
//
// Flags besides Google Benchmark's own: --posts=100000 --sends=5000 --reps=5

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform_qt/qt_message_pump.h"

namespace {

using Clock = std::chrono::steady_clock;

long gPosts = 100000;
long gSends = 5000;
int gReps = 5;
std::map<std::string, std::vector<double>> gRates;  // per second

qv::QtMessagePump* gPump = nullptr;

void record(benchmark::State& state, const char* name, long count, Clock::time_point t0) {
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    gRates[name].push_back(count / seconds);
    state.SetItemsProcessed(count);
    state.counters["us_each"] = seconds * 1e6 / double(count);
}

// Runs work on a worker thread while this thread, the window's, runs loop until it is quit.
void timeWorker(benchmark::State& state, const char* name, long count, QEventLoop& loop,
                const std::function<void()>& work) {
    const auto t0 = Clock::now();
    std::thread worker(work);
    loop.exec();
    worker.join();
    record(state, name, count, t0);
}

// The worker's messages carry an owned payload, as the jobs' texts and notices do.
void PostOurs(benchmark::State& state) {
    for (auto _ : state) {
        QEventLoop loop;
        long received = 0;
        qv::MessageReceiver window(*gPump, [&](qv::Message& m) -> intptr_t {
            received += *m.payload.get<long>() >= 0;
            if (received == gPosts) loop.quit();
            return 0;
        });
        timeWorker(state, "Post/ours", gPosts, loop, [&] {
            for (long i = 0; i < gPosts; ++i) {
                qv::Message m;
                m.id = qv::kMsgJobPercent;
                m.payload = qv::Payload::make<long>(i);
                gPump->post(window.handle(), std::move(m));
            }
        });
    }
}

void PostQt(benchmark::State& state) {
    for (auto _ : state) {
        QEventLoop loop;
        QObject window;
        long received = 0;
        timeWorker(state, "Post/qt", gPosts, loop, [&] {
            for (long i = 0; i < gPosts; ++i) {
                auto payload = std::make_shared<long>(i);
                QMetaObject::invokeMethod(
                    &window,
                    [&, payload] {
                        received += *payload >= 0;
                        if (received == gPosts) loop.quit();
                    },
                    Qt::QueuedConnection);
            }
        });
    }
}

void SendOurs(benchmark::State& state) {
    for (auto _ : state) {
        QEventLoop loop;
        qv::MessageReceiver window(
            *gPump, [](qv::Message& m) -> intptr_t { return intptr_t(m.wParam) + 1; });
        long wrong = 0;
        timeWorker(state, "Send/ours", gSends, loop, [&] {
            for (long i = 0; i < gSends; ++i) {
                qv::Message m;
                m.id = qv::kMsgJobCloseFile;
                m.wParam = uintptr_t(i);
                wrong += gPump->send(window.handle(), std::move(m)) != i + 1;
            }
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        if (wrong) state.SkipWithError("a send returned the wrong result");
    }
}

void SendQt(benchmark::State& state) {
    for (auto _ : state) {
        QEventLoop loop;
        QObject window;
        long wrong = 0;
        timeWorker(state, "Send/qt", gSends, loop, [&] {
            for (long i = 0; i < gSends; ++i) {
                long result = 0;
                QMetaObject::invokeMethod(
                    &window, [i] { return i + 1; }, Qt::BlockingQueuedConnection, &result);
                wrong += result != i + 1;
            }
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        if (wrong) state.SkipWithError("a call returned the wrong result");
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void printRatios() {
    std::printf("\n%-8s %14s %14s %12s %12s %8s\n", "figure", "ours/s", "qt/s", "ours us", "qt us",
                "ratio");
    for (const char* figure : {"Post", "Send"}) {
        auto ours = gRates.find(std::string(figure) + "/ours");
        auto qt = gRates.find(std::string(figure) + "/qt");
        if (ours == gRates.end() || qt == gRates.end()) continue;
        const double a = median(ours->second), b = median(qt->second);
        std::printf("%-8s %14.0f %14.0f %12.2f %12.2f %8.2f\n", figure, a, b, 1e6 / a, 1e6 / b,
                    a / b);
    }
    std::printf("(medians of %d runs of %ld posts and %ld sends; us: microseconds per message)\n",
                gReps, gPosts, gSends);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--posts=", 0) == 0)
            gPosts = std::max(1L, std::stol(arg.substr(8)));
        else if (arg.rfind("--sends=", 0) == 0)
            gSends = std::max(1L, std::stol(arg.substr(8)));
        else if (arg.rfind("--reps=", 0) == 0)
            gReps = std::max(1, std::stoi(arg.substr(7)));
        else
            rest.push_back(argv[i]);
    }
    int restc = int(rest.size());
    QCoreApplication app(restc, rest.data());
    qv::QtMessagePump pump;
    gPump = &pump;
    benchmark::Initialize(&restc, rest.data());
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> order[] = {
        {"Post/ours", PostOurs}, {"Post/qt", PostQt}, {"Send/ours", SendOurs}, {"Send/qt", SendQt}};
    for (const auto& [name, fn] : order)
        benchmark::RegisterBenchmark(name, fn)
            ->Iterations(1)
            ->Repetitions(gReps)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    return 0;
}
