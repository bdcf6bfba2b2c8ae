// The VOX engine: capture on and off, the 33 ms render tick with the level detector, the
// release timer, mute, the transmit time-out and the lamp.
#include "VoxStation.h"

#include "MessageBoxes.h"

#include "serial/ComPort.h"

#include <QTimer>

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
        StartCapture();
        m_timerRender->start(33);
        ShowMode();
        OpenSerialPort();
    } else {
        setRunning(false);
        m_timerRender->stop();
        m_timerRender->setInterval(33);
        // Nothing keys while the engine is off, so nothing may stay keyed either: a settings
        // dialog can keep it off for minutes. Released now, as the release timer would, on
        // every road while the port is still open.
        if (m_txOn)
            Guarded([this] { TimerDelayTimer(); });
        StopCapture();
        CloseSerialPort();
    }
}

void VoxStation::FindInputDevice()
{
    // Device numbers shift when a USB sound interface is plugged in or out; the name does
    // not. A number that no longer names the chosen device gives way to the device of that
    // name, where there is one.
    if (m_settings.InputDevice < 0)
        return;
    const QString current = GetSoundDevice(m_settings.InputDevice);
    if (m_settings.DeviceName.isEmpty()) {
        m_settings.DeviceName = current;
        return;
    }
    if (current == m_settings.DeviceName)
        return;
    AudioDeviceInfo info;
    for (int device = 0; m_audio->RecordGetDeviceInfo(device, &info); ++device) {
        if (QString::fromUtf8(info.name) != m_settings.DeviceName)
            continue;
        m_log.WriteLine(1,
            QStringLiteral("Soundcard \"%1\" is device %2 now (DEVICE=%3)")
                .arg(m_settings.DeviceName)
                .arg(device)
                .arg(m_settings.InputDevice));
        m_settings.InputDevice = device;
        return;
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
    if (!CaptureDelivers()) {
        // No audio (device unplugged, sound server gone, capture not delivering yet): nothing
        // to draw or measure, but the tick still counts as one that does not pass, or Delay 0
        // would hold transmit.
        ApplyKeying(m_detector.idle(m_clock.elapsed()));
        return;
    }
    std::array<float, FftSnapshotLength> snapshot {};
    m_audio->ChannelGetData(m_recordChannel, snapshot.data(), AudioEngine::DataFft1024);
    emit frameReady(snapshot.data());

    const VoxDetector::TickResult result
        = m_detector.tick(VoxDetector::Snapshot(snapshot.data(), VoxDetector::BinCount), m_gain,
            m_delay, m_muted, m_clock.elapsed());
    m_voxLevel = result.voxLevel;
    m_meterLevel = result.meterLevel;
    emit meterChanged(result.meterLevel);
    ApplyKeying(result);
    emit VoxTicked(result.voxLevel, m_gain, m_txOn);
    RigUpdateStatus();
}

void VoxStation::ApplyKeying(const VoxDetector::TickResult& result)
{
    // Around a system suspend nothing keys: a level left over from before the sleep must not
    // key at the wake.
    if (SleepHoldsKeying(result.passed) && result.action == VoxDetector::TxAction::Key) {
        m_detector.release();
        return;
    }
    if (result.timeOutEnded)
        ShowTimeOut(false);
    switch (result.action) {
    case VoxDetector::TxAction::Key:
        m_timerDelay->stop();
        m_timerDelay->setInterval(result.releaseDelayMs);
        if (result.releaseDelayMs > 0) // an interval of 0 means no timer
            m_timerDelay->start();
        setLamp(true);
        SetTX(true);
        break;
    case VoxDetector::TxAction::Release:
        // Delay 0: the first tick below the threshold releases.
        setLamp(false);
        SetTX(false);
        break;
    case VoxDetector::TxAction::TimeOut: {
        m_timerDelay->stop();
        m_timerDelay->setInterval(0);
        ShowTimeOut(true);
        std::exception_ptr failure;
        try {
            SetTX(false);
        } catch (...) {
            failure = std::current_exception();
        }
        const QString text
            = QStringLiteral("Transmit time-out: released after %1 s").arg(m_settings.TxTimeout);
        m_log.WriteLine(1, text);
        m_errorReport->show(text);
        if (failure)
            std::rethrow_exception(failure);
        break;
    }
    case VoxDetector::TxAction::None:
        break;
    }
}

void VoxStation::ShowTimeOut(bool on)
{
    if (on != m_timeOutShown) {
        m_timeOutShown = on;
        emit timeOutChanged(on);
    }
    // Released by the time-out: the lamp blinks as when muted, until keying may start again.
    if (!m_muted)
        blinkAlarm(on);
}

void VoxStation::blinkAlarm(bool on)
{
    // The lamp blinks red (TimerLed), or is dark green again.
    if (on) {
        setLamp(false);
        setLampAlarm(true);
        m_timerLed->start();
    } else {
        m_timerLed->stop();
        setLampAlarm(false);
        setLamp(false);
    }
}

void VoxStation::setLamp(bool on)
{
    if (on == m_lampOn)
        return;
    m_lampOn = on;
    emit lampChanged(m_lampOn, m_lampAlarm);
}

void VoxStation::setLampAlarm(bool alarm)
{
    if (alarm == m_lampAlarm)
        return;
    m_lampAlarm = alarm;
    emit lampChanged(m_lampOn, m_lampAlarm);
}

void VoxStation::TimerDelayTimer()
{
    m_timerDelay->stop();
    m_timerDelay->setInterval(0);
    m_detector.release();
    setLamp(false);
    SetTX(false);
}

void VoxStation::ReleaseNow()
{
    TimerDelayTimer();
}

void VoxStation::ReleaseBeforeStop()
{
    // A release may wait in the rig link behind a keying still in flight: stopped before it
    // goes out, the radio would transmit for as long as the program stays stopped.
    m_keyingHeld = true;
    const QList<RigId> keyed = KeyedRigs();
    ReleaseNow();
    WaitForRigRelease(keyed, false);
}

void VoxStation::ResumeKeying()
{
    m_keyingHeld = false;
}

void VoxStation::setMuted(bool muted)
{
    // Muting or un-muting also ends a transmit time-out: keying may start again once
    // un-muted.
    m_detector.endTimeOut();
    if (m_timeOutShown) {
        m_timeOutShown = false;
        emit timeOutChanged(false);
    }
    m_muted = muted;
    blinkAlarm(m_muted);
    emit mutedChanged(m_muted);
    m_detector.release();
    SetTX(false);
}

void VoxStation::TimerLedTimer()
{
    setLamp(!m_lampOn);
    if (!m_timerLed->isActive())
        m_timerLed->start();
}
