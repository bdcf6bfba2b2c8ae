#include "replay/ReplayRunner.h"

#include "audio/FftAnalyzer.h"
#include "core/VoxDetector.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr qint64 tickMs = 33;
constexpr qint64 sampleRate = 44100;
constexpr qint64 windowFrames = FftAnalyzer::FrameCount;

// The audio window of each tick, read from the source as the ticks move on. Frames before
// the start and after the end of the audio are silence.
class WindowReader {
public:
    explicit WindowReader(const ReplayFrameSource& source)
        : m_source(source)
    {
    }

    // Makes window() hold the frames [end - windowFrames, end).
    void moveTo(qint64 end)
    {
        const qint64 start = end - windowFrames;
        std::array<std::int16_t, 2 * windowFrames> next {};
        // Frames the previous window already holds (silence or audio) are kept.
        const qint64 keepFrom = std::max(start, m_start);
        const qint64 keepTo = std::min(end, m_start + windowFrames);
        if (keepTo > keepFrom)
            std::memcpy(next.data() + 2 * (keepFrom - start),
                m_window.data() + 2 * (keepFrom - m_start),
                sizeof(std::int16_t) * 2 * std::size_t(keepTo - keepFrom));
        while (!m_ended && m_read < start)
            take(m_scratch.data(), std::min(start - m_read, windowFrames));
        if (!m_ended && m_read < end) {
            const qint64 from = std::max(start, m_read);
            take(next.data() + 2 * (from - start), end - from);
        }
        m_window = next;
        m_start = start;
    }

    const std::int16_t* window() const { return m_window.data(); }
    // Whether the whole window lies after the end of the audio.
    bool pastEnd() const { return m_ended && m_start >= m_read; }

private:
    void take(std::int16_t* into, qint64 frames)
    {
        const qint64 got = m_source(into, frames);
        m_read += std::max<qint64>(got, 0);
        if (got < frames)
            m_ended = true;
    }

    const ReplayFrameSource& m_source;
    std::array<std::int16_t, 2 * windowFrames> m_window {};
    std::array<std::int16_t, 2 * windowFrames> m_scratch {};
    qint64 m_start = -windowFrames;
    qint64 m_read = 0; // frames taken from the source
    bool m_ended = false;
};

bool allSilent(const VoxDetector::History& history)
{
    return std::all_of(history.begin(), history.end(), [](int level) { return level == 0; });
}

} // namespace

ReplaySummary runReplay(std::span<const std::int16_t> stereoFrames, const ReplaySettings& settings,
    const ReplayCallbacks& callbacks)
{
    std::size_t position = 0;
    const ReplayFrameSource source = [&](std::int16_t* stereo, qint64 maxFrames) {
        const auto frames
            = std::min<std::size_t>(std::size_t(maxFrames), stereoFrames.size() / 2 - position);
        if (frames > 0)
            std::memcpy(
                stereo, stereoFrames.data() + 2 * position, sizeof(std::int16_t) * 2 * frames);
        position += frames;
        return qint64(frames);
    };
    return runReplay(source, settings, callbacks);
}

ReplaySummary runReplay(const ReplayFrameSource& source, const ReplaySettings& settings,
    const ReplayCallbacks& callbacks)
{
    FftAnalyzer analyzer;
    VoxDetector detector;
    detector.setTxTimeoutMs(qint64(settings.txTimeout) * 1000);
    detector.setAttack(settings.attack);
    WindowReader audio(source);
    std::array<float, VoxDetector::BinCount> magnitudes;
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
        audio.moveTo(end);
        analyzer.analyze(audio.window(), magnitudes.data());
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
            callbacks.ticked(
                { k, now, r.tickLevel, r.voxLevel, detector.isTransmitting(), r.attackLevel });
        summary.ticks = k;
        summary.endMs = now;

        const bool steady = audio.pastEnd() && allSilent(detector.levelHistory());
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
