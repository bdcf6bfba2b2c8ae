// The work of one 33 ms render tick without drawing: the spectrum of the latest 1024
// captured frames from a running capture, then the level arithmetic and keying decision.
// BM_Tick gives the mean; BM_TickPercentiles times 100000 single ticks and reports the
// median, 99th percentile and maximum in microseconds. Each runs with the average attack
// (fast:0) and with the fast attack (fast:1).

#include "audio/AudioEngine.h"
#include "core/VoxDetector.h"

#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// A capture that keeps running during the measurement: 60 s of noise through the file
// source, so the ring is filled and written to concurrently, as with a sound card.
struct RunningCapture {
    QTemporaryDir dir;
    AudioEngine engine;
    quint32 channel = 0;
    std::atomic<quint64> frames { 0 };

    RunningCapture()
    {
        const QString path = dir.filePath("noise.wav");
        if (QProcess::execute("sox",
                { "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", "60", "whitenoise",
                    "vol", "0.3" })
            != 0) {
            std::fprintf(stderr, "bench_tick: cannot make noise with sox\n");
            std::exit(1);
        }
        engine.SetFileSource(path);
        engine.RecordInit(-1);
        channel = engine.RecordStart(44100, 2, 0, &RunningCapture::count, this);
        while (channel && frames < 4096)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!channel) {
            std::fprintf(stderr, "bench_tick: %s\n", qPrintable(engine.LastError()));
            std::exit(1);
        }
    }

    static bool count(quint32, const void*, quint32 length, void* user)
    {
        static_cast<RunningCapture*>(user)->frames += length / 4;
        return true;
    }
};

RunningCapture& capture()
{
    static RunningCapture running;
    return running;
}

// One render tick as the window runs it, minus the drawing.
inline int tick(RunningCapture& c, VoxDetector& detector, qint64 nowMs)
{
    std::array<float, 513> snapshot;
    if (c.engine.ChannelIsActive(c.channel) != 1)
        return -1;
    c.engine.ChannelGetData(c.channel, snapshot.data(), AudioEngine::DataFft1024);
    const auto result = detector.tick(
        VoxDetector::Snapshot(snapshot.data(), VoxDetector::BinCount), 50, 20, false, nowMs);
    return result.voxLevel;
}

VoxDetector::Attack attackOf(const benchmark::State& state)
{
    return state.range(0) ? VoxDetector::Attack::Fast : VoxDetector::Attack::Average;
}

void BM_Tick(benchmark::State& state)
{
    RunningCapture& c = capture();
    VoxDetector detector;
    detector.setAttack(attackOf(state));
    qint64 now = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(tick(c, detector, now += 33));
}
BENCHMARK(BM_Tick)->ArgName("fast")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_TickPercentiles(benchmark::State& state)
{
    RunningCapture& c = capture();
    VoxDetector detector;
    detector.setAttack(attackOf(state));
    constexpr int Ticks = 100000;
    std::vector<double> micros(Ticks);
    qint64 now = 0;
    for (auto _ : state) {
        for (double& us : micros) {
            const auto begin = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(tick(c, detector, now += 33));
            const auto end = std::chrono::steady_clock::now();
            us = std::chrono::duration<double, std::micro>(end - begin).count();
        }
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[Ticks / 2];
    state.counters["p99_us"] = micros[Ticks * 99 / 100];
    state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_TickPercentiles)
    ->ArgName("fast")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}

BENCHMARK_MAIN();
