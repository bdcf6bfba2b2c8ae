#include "core/VoxDetector.h"

#include <algorithm>
#include <cmath>

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

int VoxDetector::attackLevelOf(const History& history)
{
    const int loudestBefore = *std::max_element(history.begin(), history.begin() + BackgroundTicks);
    const int previous = history[HistoryLength - 2];
    const int latest = history[HistoryLength - 1];
    // Both above the loudest background tick, the latest at least (Num / Den) times it.
    const bool rises = previous > loudestBefore && latest > loudestBefore
        && qint64(latest) * RiseDenominator >= qint64(loudestBefore) * RiseNumerator;
    return rises ? latest * 3 : 0;
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
    if (m_attack == Attack::Fast && m_measuredTicks == HistoryLength) {
        result.attackLevel = attackLevelOf(m_history);
        result.passed = result.passed || (!muted && result.attackLevel >= gain);
    }
    advance(result, delayPosition, nowMs);
    return result;
}

VoxDetector::TickResult VoxDetector::idle(qint64 nowMs)
{
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
