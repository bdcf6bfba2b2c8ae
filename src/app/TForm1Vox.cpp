// The VOX engine of the window: capture on and off, the 33 ms render tick with the level
// detector, the release timer, mute and the spectrum picture.
#include "TForm1.h"

#include "ExitSignals.h"
#include "MessageBoxes.h"
#include "OpenDevice.h"

#include "serial/ComPort.h"
#include "widgets/FftBarPainter.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TLed.h"
#include "widgets/TPaintBox.h"

#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <exception>

namespace {

// Capture continues whatever arrives; the audio is taken by polling in the render tick.
bool RecordCallback(quint32, const void*, quint32, void*)
{
    return true;
}

constexpr quint32 SupportedVersion = 0x0204;
constexpr int FftSnapshotLength = 513;

// Lamp colours, 0x00BBGGRR.
constexpr TColor LitGreen1 = 0x008000, LitGreen2 = 0x00FF00;
constexpr TColor Dark = 0, DarkGreen = 0x008000;
constexpr TColor MutedRed1 = 0x000080, MutedRed2 = 0x0000FF;

} // namespace

void TForm1::PowerOn()
{
    if (!m_running) {
        m_running = true;
        if ((m_audio->GetVersion() >> 16) != SupportedVersion) {
            m_messages.fatal(
                QString(), QStringLiteral("An incorrect version of BASS.DLL was loaded"));
            releaseBeforeExit();
            std::_Exit(EXIT_FAILURE);
        }
        m_audio->SetConfig(AudioEngine::ConfigFloatDsp, 1);
        FindInputDevice();
        m_audio->RecordInit(m_settings.InputDevice);
        m_recordChannel
            = m_audio->RecordStart(AudioEngine::SampleRate, 2, 0, RecordCallback, nullptr);
        m_timerRender->start(33);
        ShowMode();
        OpenSerialPort();
    } else {
        m_running = false;
        m_timerRender->stop();
        m_timerRender->setInterval(33);
        // Nothing keys while the engine is off, so nothing may stay keyed either: a settings
        // dialog can keep it off for minutes. Released now, as the release timer would, on
        // every road while the port is still open.
        if (m_txOn)
            guarded([this] { TimerDelayTimer(); });
        m_audio->ChannelStop(m_recordChannel);
        m_audio->Stop();
        m_audio->RecordFree();
        CloseSerialPort();
    }
}

void TForm1::FindInputDevice()
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

void TForm1::PowerCycle()
{
    // Stop, then start with the new settings. An engine that is off (a start-up that
    // ended early) is only started: two toggles would open and close the port for nothing.
    if (m_running)
        PowerOn();
    PowerOn();
}

void TForm1::TimerRenderTimer()
{
    m_spectrum->BinStride = SpectrumStride;
    if (m_audio->ChannelIsActive(m_recordChannel) != AudioEngine::Playing) {
        // No audio (device unplugged, sound server gone): nothing to draw or measure, but
        // the tick still counts as one that does not pass, or Delay 0 would hold transmit.
        ApplyKeying(m_detector.idle(m_clock.elapsed()));
        return;
    }
    std::array<float, FftSnapshotLength> snapshot {};
    m_audio->ChannelGetData(m_recordChannel, snapshot.data(), AudioEngine::DataFft1024);
    RenderFrame(snapshot.data());

    const VoxDetector::TickResult result
        = m_detector.tick(VoxDetector::Snapshot(snapshot.data(), VoxDetector::BinCount),
            m_gainTrack->value(), m_trackDelay->value(), m_muted, m_clock.elapsed());
    m_gainTrack->setSelEnd(result.meterLevel);
    ApplyKeying(result);
    emit VoxTicked(result.voxLevel, m_gainTrack->value(), m_txOn);
    RigUpdateStatus();
}

void TForm1::ApplyKeying(const VoxDetector::TickResult& result)
{
    if (result.timeOutEnded)
        ShowTimeOut(false);
    switch (result.action) {
    case VoxDetector::TxAction::Key:
        m_timerDelay->stop();
        m_timerDelay->setInterval(result.releaseDelayMs);
        if (result.releaseDelayMs > 0) // an interval of 0 means no timer
            m_timerDelay->start();
        m_ledOn->setOn(true);
        SetTX(true);
        break;
    case VoxDetector::TxAction::Release:
        // Delay 0: the first tick below the threshold releases.
        m_ledOn->setOn(false);
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

void TForm1::ShowTimeOut(bool on)
{
    // Released by the time-out: the lamp blinks as when muted, until keying may start again.
    if (m_muted)
        return;
    if (on) {
        m_ledOn->setOn(false);
        m_ledOn->setColors(MutedRed1, MutedRed2, Dark, MutedRed1);
        m_timerLed->start();
    } else {
        m_timerLed->stop();
        m_ledOn->setColors(LitGreen1, LitGreen2, Dark, DarkGreen);
        m_ledOn->setOn(false);
    }
}

void TForm1::TimerDelayTimer()
{
    m_timerDelay->stop();
    m_timerDelay->setInterval(0);
    m_detector.release();
    m_ledOn->setOn(false);
    SetTX(false);
}

void TForm1::MuteButtonClick()
{
    // Toggling mute also ends a transmit time-out: keying may start again once un-muted.
    m_detector.endTimeOut();
    if (m_muted) {
        m_muted = false;
        m_ledOn->setOn(true);
        m_ledOn->setColors(LitGreen1, LitGreen2, Dark, DarkGreen);
        m_muteButton->setText(QStringLiteral("Mute"));
        m_timerLed->stop();
        m_ledOn->setOn(false);
    } else {
        m_muted = true;
        m_ledOn->setOn(false);
        m_ledOn->setColors(MutedRed1, MutedRed2, Dark, MutedRed1);
        m_timerLed->start();
        m_muteButton->setText(QStringLiteral("Muted"));
    }
    m_detector.release();
    SetTX(false);
}

void TForm1::TimerLedTimer()
{
    m_ledOn->setOn(!m_ledOn->isOn());
    if (!m_timerLed->isActive())
        m_timerLed->start();
}

void TForm1::TrackDelayChange()
{
    m_trackDelay->setSelEnd(m_trackDelay->value());
    m_trackDelay->setSelStart(m_trackDelay->minimum());
}

void TForm1::RenderFrame(const float* snapshot)
{
    m_spectrum->RenderFrame(
        m_paintFrame->surface(), snapshot, m_spectrumOffsetX, m_spectrumOffsetY);
    m_paintFrame->update();
}

namespace {

// The two messages of a serial port that fails to open or close; the engine stays as it was
// switched.
template <typename Operation> void serialStep(IMessageBoxes& messages, Operation operation)
{
    try {
        operation();
    } catch (const EComPort&) {
        messages.message(QStringLiteral("Defined COM Port not available"));
    } catch (const std::exception&) {
        messages.message(QStringLiteral("Serial port Error"));
    }
}

} // namespace

void TForm1::OpenSerialPort()
{
    if (!m_comPort->Connected())
        serialStep(m_messages, [this] { m_comPort->OpenPort(); });
    // A crash must still be able to drop DTR and RTS of the open port.
    if (m_comPort->Connected()) {
        const QString port = m_comPort->Port();
        ExitSignals::setSerialHandle(
            FindOpenDeviceDescriptor(port.startsWith('/') ? port : "/dev/" + port));
    }
}

void TForm1::CloseSerialPort()
{
    ExitSignals::setSerialHandle(-1);
    serialStep(m_messages, [this] { m_comPort->ClosePort(); });
}
