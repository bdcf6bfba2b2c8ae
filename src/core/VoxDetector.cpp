#include "core/VoxDetector.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Magnitudes as the fast attack adds them: NaN and negatives count as 0, and anything
// above 200 as 200 (the tick level's limit), so the sums stay finite.
float finiteMagnitude(float m)
{
    return m > 0 ? std::min(m, 200.0f) : 0.0f; // false for NaN
}

// A rise in level units, kept within the range that 3 x it and a sum of two stay in int.
int riseLevel(float value)
{
    return value > 0 ? int(std::min(value, 1.0e8f)) : 0;
}

} // namespace

int VoxDetector::tickLevelOf(Snapshot snapshot)
{
    qint32 sum = 0;
    for (int i = 0; i < CountedBins; ++i) {
        const float m = std::fabs(snapshot[FirstBin + i * BinStride]);
        // The level's constants were tuned on an extended-precision product; for a 32-bit m
        // it is exact (24 + 9 significant bits), so every platform truncates the same value.
        const long double product = static_cast<long double>(m) * 500.0L;
        int value = 0;
        if (product >= MaxBinValue)
            value = MaxBinValue;
        else if (product > 0) // false for NaN
            value = static_cast<int>(product); // truncates toward zero
        sum += value * 10;
    }
    const qint32 doubled = 2 * sum;
    return static_cast<int>(std::trunc(double(doubled) / 128.0));
}

int VoxDetector::voxLevelOf(const History& history)
{
    qint32 total = 0;
    for (const int level : history)
        total += level;
    return static_cast<int>(std::trunc(double(total) / HistoryLength)) * 3;
}

int VoxDetector::attackLevelOf(Snapshot snapshot)
{
    // The floors of the ticks before this one.
    VoiceBand voiceFloor;
    voiceFloor.fill(std::numeric_limits<float>::max());
    float upperFloor = std::numeric_limits<float>::max();
    for (int t = 0; t < m_floorTicks; ++t) {
        const VoiceBand& past = m_voiceFloorRing[std::size_t(t)];
        for (int b = 0; b < VoiceBins; ++b)
            voiceFloor[std::size_t(b)] = std::min(voiceFloor[std::size_t(b)], past[std::size_t(b)]);
        upperFloor = std::min(upperFloor, m_upperFloorRing[std::size_t(t)]);
    }

    float upper = 0;
    for (int k = UpperFirstBin; k <= UpperLastBin; ++k)
        upper += finiteMagnitude(snapshot[std::size_t(k)]);
    float voiceExcess = 0;
    for (int b = 0; b < VoiceBins; ++b) {
        const float m = finiteMagnitude(snapshot[std::size_t(VoiceFirstBin + b)]);
        voiceExcess += std::max(0.0f, m - VoiceMargin * voiceFloor[std::size_t(b)]);
    }
    const float upperExcess = std::max(0.0f, upper - upperFloor * UpperMarginNum / UpperMarginDen);

    // Follow the floor with this tick.
    const bool first = m_floorTicks == 0;
    VoiceBand& slot = m_voiceFloorRing[std::size_t(m_floorNext)];
    for (int b = 0; b < VoiceBins; ++b) {
        const float m = finiteMagnitude(snapshot[std::size_t(VoiceFirstBin + b)]);
        float& s = m_voiceSmoothed[std::size_t(b)];
        s = first ? m : (s + m) / 2;
        slot[std::size_t(b)] = s;
    }
    m_upperSmoothed = first ? upper : (m_upperSmoothed + upper) / 2;
    m_upperFloorRing[std::size_t(m_floorNext)] = m_upperSmoothed;
    m_floorNext = (m_floorNext + 1) % FloorTicks;
    m_floorTicks = std::min(m_floorTicks + 1, FloorTicks);

    const int voiceRise = riseLevel(voiceExcess * RiseScale);
    const int upperRise = riseLevel(upperExcess * RiseScale * VoiceBins / UpperBins);
    const int rise = voiceRise + UpperWeight * upperRise;
    const int previous = m_previousRise;
    m_previousRise = rise;
    if (m_measuredTicks < HistoryLength)
        return 0;
    const int voiced = voiceRise >= VoicedRatio * upperRise ? 3 * voiceRise : 0;
    const int sustained = 3 * std::min(previous, rise);
    return std::max(voiced, sustained);
}

VoxDetector::TickResult VoxDetector::tick(
    Snapshot snapshot, int gain, int delayPosition, bool muted, qint64 nowMs)
{
    TickResult result;
    result.tickLevel = tickLevelOf(snapshot);
    std::move(m_history.begin() + 1, m_history.end(), m_history.begin());
    m_history.back() = result.tickLevel;
    result.voxLevel = voxLevelOf(m_history);
    result.meterLevel = std::min(result.voxLevel, MeterMax);
    result.passed = !muted && result.voxLevel >= gain;
    if (m_measuredTicks < HistoryLength)
        ++m_measuredTicks;
    const int attackLevel = attackLevelOf(snapshot);
    if (m_attack == Attack::Fast) {
        result.attackLevel = attackLevel;
        result.passed = result.passed || (!muted && attackLevel >= gain);
    }
    advance(result, delayPosition, nowMs);
    return result;
}

VoxDetector::TickResult VoxDetector::idle(qint64 nowMs)
{
    m_previousRise = 0;
    TickResult result;
    advance(result, 0, nowMs);
    return result;
}

void VoxDetector::advance(TickResult& result, int delayPosition, qint64 nowMs)
{
    if (m_timedOut) {
        // Released by the time-out: a tick that does not pass allows keying again.
        if (!result.passed) {
            m_timedOut = false;
            result.timeOutEnded = true;
        }
    } else if (result.passed) {
        const int delayMs = std::clamp(delayPosition, 0, MaxDelayPosition) * DelayStepMs;
        if (!m_transmitting)
            m_keyedSinceMs = nowMs;
        m_transmitting = true;
        m_releaseDueMs = delayMs > 0 ? std::optional<qint64>(nowMs + delayMs) : std::nullopt;
        result.action = TxAction::Key;
        result.releaseDelayMs = delayMs;
    } else if (m_transmitting && !m_releaseDueMs) {
        // Held by Delay 0: there is no timer to end it, so the first quiet tick does.
        m_transmitting = false;
        result.action = TxAction::Release;
    }
    if (m_transmitting && m_txTimeoutMs > 0 && nowMs - m_keyedSinceMs >= m_txTimeoutMs) {
        release();
        m_timedOut = true;
        result.action = TxAction::TimeOut;
        result.releaseDelayMs = 0;
    }
}

void VoxDetector::release()
{
    m_transmitting = false;
    m_releaseDueMs.reset();
}

std::optional<qint64> VoxDetector::releaseIfDue(qint64 nowMs)
{
    if (!m_releaseDueMs || *m_releaseDueMs > nowMs)
        return std::nullopt;
    const qint64 due = *m_releaseDueMs;
    release();
    return due;
}
