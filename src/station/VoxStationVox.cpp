// The VOX engine: capture on and off, the 33 ms render tick with the level detector, the
// release timer, mute, the transmit time-out and the lamp.
#include "VoxStation.h"

#include "CaptureWatch.h"
#include "SerialLine.h"
#include "StationServices.h"
#include "TransmitLamp.h"

#include "audio/AudioEngine.h"

#include <QTimer>

#include <array>
#include <exception>

namespace {

constexpr int FftSnapshotLength = 513;

} // namespace

void VoxStation::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    emit runningChanged(running);
}

void VoxStation::setPowered(bool on)
{
    if (on == m_running)
        return;
    if (on) {
        setRunning(true);
        m_capture->start();
        m_timerRender->start(33);
        ShowMode();
        m_serial->open();
    } else {
        setRunning(false);
        m_timerRender->stop();
        m_timerRender->setInterval(33);
        // Nothing keys while the engine is off, so nothing may stay keyed either: a settings
        // dialog can keep it off for minutes. Released now, as the release timer would, on
        // every road while the port is still open.
        if (TxOn())
            Guarded([this] { TimerDelayTimer(); });
        m_capture->stop();
        m_serial->close();
    }
}

void VoxStation::PowerCycle()
{
    // Stop, then start with the new settings. An engine that is off (a start-up that
    // ended early) is only started: two toggles would open and close the port for nothing.
    setPowered(false);
    setPowered(true);
}

void VoxStation::TimerRenderTimer()
{
    emit ticked();
    if (!m_capture->delivers()) {
        // No audio (device unplugged, sound server gone, capture not delivering yet): nothing
        // to draw or measure, but the tick still counts as one that does not pass, or Delay 0
        // would hold transmit.
        ApplyKeying(m_detector.idle(m_clock.elapsed()));
        return;
    }
    std::array<float, FftSnapshotLength> snapshot {};
    m_audio->ChannelGetData(m_capture->channel(), snapshot.data(), AudioEngine::DataFft1024);
    emit frameReady(snapshot.data());

    const VoxDetector::TickResult result
        = m_detector.tick(VoxDetector::Snapshot(snapshot.data(), VoxDetector::BinCount), m_gain,
            m_delay, m_muted, m_clock.elapsed());
    m_voxLevel = result.voxLevel;
    m_meterLevel = result.meterLevel;
    emit meterChanged(result.meterLevel);
    ApplyKeying(result);
    emit VoxTicked(result.voxLevel, m_gain, TxOn());
    m_monitor->RigUpdateStatus();
}

void VoxStation::ApplyKeying(const VoxDetector::TickResult& result)
{
    // Around a system suspend nothing keys: a level left over from before the sleep must not
    // key at the wake. After the wake, a tick that does not pass lets keying start again.
    if (!result.passed)
        m_keyer->lift(KeyingHold::Woken);
    if (result.action == VoxDetector::TxAction::Key
        && m_keyer->heldBy({ KeyingHold::Asleep, KeyingHold::Woken })) {
        m_detector.release();
        return;
    }
    if (result.timeOutEnded)
        m_lamp->showTimeOut(false, m_muted);
    switch (result.action) {
    case VoxDetector::TxAction::Key:
        m_timerDelay->stop();
        m_timerDelay->setInterval(result.releaseDelayMs);
        if (result.releaseDelayMs > 0) // an interval of 0 means no timer
            m_timerDelay->start();
        m_lamp->set(true);
        SetTX(true);
        break;
    case VoxDetector::TxAction::Release:
        // Delay 0: the first tick below the threshold releases.
        m_lamp->set(false);
        SetTX(false);
        break;
    case VoxDetector::TxAction::TimeOut: {
        m_timerDelay->stop();
        m_timerDelay->setInterval(0);
        // Released by the time-out: the lamp blinks as when muted.
        m_lamp->showTimeOut(true, m_muted);
        std::exception_ptr failure;
        try {
            SetTX(false);
        } catch (...) {
            failure = std::current_exception();
        }
        m_services->report(
            QStringLiteral("Transmit time-out: released after %1 s").arg(m_settings.TxTimeout));
        if (failure)
            std::rethrow_exception(failure);
        break;
    }
    case VoxDetector::TxAction::None:
        break;
    }
}

bool VoxStation::LampOn() const
{
    return m_lamp->on();
}

bool VoxStation::LampAlarm() const
{
    return m_lamp->alarm();
}

void VoxStation::TimerDelayTimer()
{
    m_timerDelay->stop();
    m_timerDelay->setInterval(0);
    m_detector.release();
    m_lamp->set(false);
    SetTX(false);
}

void VoxStation::setMuted(bool muted)
{
    // Muting or un-muting also ends a transmit time-out: keying may start again once
    // un-muted.
    m_detector.endTimeOut();
    m_muted = muted;
    m_lamp->showMuted(muted);
    emit mutedChanged(m_muted);
    m_detector.release();
    SetTX(false);
}

void VoxStation::SetGain(int gain)
{
    if (gain == m_gain)
        return;
    m_gain = gain;
    emit gainChanged(gain);
}

void VoxStation::SetDelay(int delay)
{
    if (delay == m_delay)
        return;
    m_delay = delay;
    emit delayChanged(delay);
}

void VoxStation::SetFastAttack(bool fast)
{
    if (fast == FastAttack())
        return;
    m_detector.setAttack(fast ? VoxDetector::Attack::Fast : VoxDetector::Attack::Average);
    emit fastAttackChanged(fast);
}
