// Replay speed of vokey-replay's runner in multiples of real time, on speech made by espeak-ng.

#include "audio/WavFile.h"
#include "core/VoxDetector.h"
#include "replay/ReplayRunner.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>

namespace {

// About 12 s of speech at 44100 Hz stereo, made once.
const WavFile& speech()
{
    static const WavFile wav = [] {
        QTemporaryDir dir;
        const QString raw = dir.filePath("espeak.wav");
        const QString wavPath = dir.filePath("speech.wav");
        const QString text = QStringLiteral("CQ contest, CQ contest, this is a test of the voice "
                                            "operated switch. Please copy five nine, "
                                            "number one two three. Over to you, thanks and 73.");
        WavFile result;
        if (QProcess::execute("espeak-ng", { "-w", raw, text }) != 0
            || QProcess::execute("sox",
                   { "-D", "-V1", raw, "-r", "44100", "-c", "2", "-b", "16", wavPath, "pad", "0.5",
                       "1" })
                != 0
            || !result.load(wavPath)) {
            std::fprintf(stderr, "bench_replay: cannot make speech with espeak-ng and sox\n");
            std::exit(1);
        }
        return result;
    }();
    return wav;
}

void setRealTimeCounter(benchmark::State& state, qint64 frames)
{
    const double audioSeconds = double(frames) / WavFile::SampleRate;
    state.counters["audio_s"] = audioSeconds;
    // Audio seconds replayed per second of run time: the multiple of real time.
    state.counters["x_realtime"] = benchmark::Counter(
        audioSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ReplaySpeech(benchmark::State& state)
{
    const WavFile& wav = speech();
    const ReplaySettings settings { int(state.range(0)), 20 };
    qint64 changes = 0;
    ReplayCallbacks callbacks;
    callbacks.txChanged = [&changes](bool, qint64) { ++changes; };
    for (auto _ : state) {
        const ReplaySummary summary = runReplay(wav.frames(), settings, callbacks);
        benchmark::DoNotOptimize(summary);
    }
    setRealTimeCounter(state, wav.frameCount());
    state.counters["tx_changes"] = double(changes) / double(state.iterations());
}
BENCHMARK(BM_ReplaySpeech)->Arg(1)->Arg(15)->Unit(benchmark::kMillisecond);

void BM_LoadAndReplaySpeech(benchmark::State& state)
{
    const WavFile& wav = speech();
    QTemporaryDir dir;
    const QString path = dir.filePath("copy.wav");
    // The same audio written back as a plain 16-bit stereo WAV, to time the file parse too.
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            state.SkipWithError("cannot write the WAV copy");
        const quint32 dataBytes = quint32(wav.frames().size() * 2);
        auto le = [&file](quint32 v, int n) {
            for (int i = 0; i < n; ++i)
                file.putChar(char((v >> (8 * i)) & 0xFF));
        };
        file.write("RIFF");
        le(36 + dataBytes, 4);
        file.write("WAVEfmt ");
        le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
        file.write("data");
        le(dataBytes, 4);
        file.write(reinterpret_cast<const char*>(wav.frames().data()), dataBytes);
    }
    for (auto _ : state) {
        WavFile loaded;
        if (!loaded.load(path)) {
            state.SkipWithError("cannot load the WAV copy");
            break;
        }
        benchmark::DoNotOptimize(runReplay(loaded.frames(), {}, {}));
    }
    setRealTimeCounter(state, wav.frameCount());
}
BENCHMARK(BM_LoadAndReplaySpeech)->Unit(benchmark::kMillisecond);

void BM_DetectorTick(benchmark::State& state)
{
    std::array<float, VoxDetector::BinCount> spectrum {};
    for (int k = 0; k < VoxDetector::BinCount; ++k)
        spectrum[std::size_t(k)] = float(k % 17) / 400.0f;
    VoxDetector detector;
    qint64 now = 0;
    for (auto _ : state) {
        const auto r = detector.tick(spectrum, 40, 20, false, now += 33);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_DetectorTick);

} // namespace

BENCHMARK_MAIN();
