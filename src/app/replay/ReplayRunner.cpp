#include "app/replay/ReplayRunner.h"

#include "audio/FftAnalyzer.h"
#include "core/VoxDetector.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr qint64 tickMs = 33;
constexpr qint64 sampleRate = 44100;
constexpr qint64 windowFrames = FftAnalyzer::FrameCount;

// Copies the window of frames [end - windowFrames, end) into window, zeros outside the audio.
void fillWindow(std::span<const std::int16_t> audio, qint64 end, std::int16_t* window)
{
    const qint64 total = qint64(audio.size() / 2);
    const qint64 start = end - windowFrames;
    const qint64 from = std::clamp<qint64>(start, 0, total);
    const qint64 to = std::clamp<qint64>(end, 0, total);
    std::memset(window, 0, sizeof(std::int16_t) * 2 * windowFrames);
    if (to > from)
        std::memcpy(window + 2 * (from - start), audio.data() + 2 * from,
            sizeof(std::int16_t) * 2 * std::size_t(to - from));
}

bool allSilent(const VoxDetector::History& history)
{
    return std::all_of(history.begin(), history.end(), [](int level) { return level == 0; });
}

} // namespace

ReplaySummary runReplay(std::span<const std::int16_t> stereoFrames, const ReplaySettings& settings,
    const ReplayCallbacks& callbacks)
{
    FftAnalyzer analyzer;
    VoxDetector detector;
    detector.setTxTimeoutMs(qint64(settings.txTimeout) * 1000);
    std::array<std::int16_t, 2 * windowFrames> window;
    std::array<float, VoxDetector::BinCount> magnitudes;
    const qint64 totalFrames = qint64(stereoFrames.size() / 2);
    const auto changed = [&](bool on, qint64 timeMs) {
        if (callbacks.txChanged)
            callbacks.txChanged(on, timeMs);
    };

    ReplaySummary summary;
    for (qint64 k = 1;; ++k) {
        const qint64 now = k * tickMs;
        if (const auto due = detector.releaseIfDue(now))
            changed(false, *due);

        const qint64 end = k * tickMs * sampleRate / 1000;
        fillWindow(stereoFrames, end, window.data());
        analyzer.analyze(window.data(), magnitudes.data());
        const bool wasOn = detector.isTransmitting();
        const auto r = detector.tick(magnitudes, settings.gain, settings.delay, false, now);
        if (r.action == VoxDetector::TxAction::Key && !wasOn)
            changed(true, now);
        else if (r.action == VoxDetector::TxAction::Release)
            changed(false, now);
        else if (r.action == VoxDetector::TxAction::TimeOut) {
            if (callbacks.timedOut)
                callbacks.timedOut(now);
            changed(false, now);
        }
        if (callbacks.ticked)
            callbacks.ticked({ k, now, r.tickLevel, r.voxLevel, detector.isTransmitting() });
        summary.ticks = k;
        summary.endMs = now;

        const bool steady = end - windowFrames >= totalFrames && allSilent(detector.levelHistory());
        if (!steady)
            continue;
        if (!detector.isTransmitting())
            break;
        if (r.passed) {
            const qint64 due = detector.releaseDueMs().value_or(now);
            detector.release();
            changed(false, due);
            summary.endMs = due;
            summary.silenceKeys = true;
            break;
        }
    }
    return summary;
}
