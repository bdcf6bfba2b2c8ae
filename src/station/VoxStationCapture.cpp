// The capture device: opened with the engine and closed with it, and a device that comes and
// goes. Capture that stops delivering while the engine runs (a USB sound interface unplugged,
// the sound server restarted) is closed and said once; the engine stays on, and the device
// is opened again every 2 s, by its stored name where one was chosen (the default device only
// when that is the one configured), until it delivers audio again. A device missing at
// power-on is tried the same way.
#include "VoxStation.h"

#include <QTimer>

#include <exception>
#include <utility>

namespace {

// Capture continues whatever arrives; the audio is taken by polling in the render tick.
bool RecordCallback(quint32, const void*, quint32, void*)
{
    return true;
}

} // namespace

QString VoxStation::CaptureName() const
{
    return m_settings.InputDevice < 0 || m_settings.DeviceName.isEmpty()
        ? GetSoundDevice(m_settings.InputDevice)
        : m_settings.DeviceName;
}

void VoxStation::StartCapture()
{
    m_captureLost = false;
    m_captureWatch->start();
    if (!OpenCapture(false))
        LoseCapture(QStringLiteral("not available (%1)").arg(m_audio->LastError()));
}

void VoxStation::StopCapture()
{
    m_captureWatch->stop();
    m_audio->ChannelStop(m_recordChannel);
    m_audio->RecordFree();
    m_recordChannel = 0;
    m_captureLost = false;
}

bool VoxStation::OpenCapture(bool strict)
{
    FindInputDevice();
    // At power-on the chosen number is taken as it is when its name is gone (the operator
    // chose it); a device found again must be the one of that name, or nothing.
    if (strict && m_settings.InputDevice >= 0 && !m_settings.DeviceName.isEmpty()
        && GetSoundDevice(m_settings.InputDevice) != m_settings.DeviceName) {
        m_recordChannel = 0;
        return false;
    }
    if (!m_audio->RecordInit(m_settings.InputDevice))
        return false;
    m_recordChannel = m_audio->RecordStart(AudioEngine::SampleRate, 2, 0, RecordCallback, nullptr);
    return m_recordChannel != 0;
}

bool VoxStation::CaptureDelivers()
{
    const bool delivers = m_audio->ChannelIsActive(m_recordChannel) == AudioEngine::Playing
        && m_audio->ChannelFrames(m_recordChannel) > 0;
    if (delivers && std::exchange(m_captureLost, false)) {
        const QString device = CaptureName();
        m_log.WriteLine(1, QStringLiteral("Soundcard \"%1\" capturing again").arg(device));
        emit captureFound(device);
    }
    return delivers;
}

void VoxStation::WatchCapture()
{
    if (!m_running)
        return;
    // A capture that runs, or one opened again that is still waiting for its first frames,
    // is left alone: the render tick sees when it delivers.
    if (m_audio->ChannelIsActive(m_recordChannel) == AudioEngine::Playing)
        return;
    if (!m_captureLost) {
        LoseCapture(QStringLiteral("stopped delivering audio"));
        return;
    }
    m_audio->ChannelStop(m_recordChannel);
    m_audio->RecordFree();
    OpenCapture(true);
}

void VoxStation::LoseCapture(const QString& reason)
{
    // No audio, no keying: the ticks count as ones that do not pass. A road still keyed (a
    // long Delay) is released before the capture is closed, which may wait for the sound
    // system for a few seconds.
    std::exception_ptr failure;
    if (m_txOn) {
        try {
            TimerDelayTimer();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    m_audio->ChannelStop(m_recordChannel);
    m_audio->RecordFree();
    m_recordChannel = 0;
    if (!std::exchange(m_captureLost, true))
        ReportCaptureLost(reason);
    if (failure)
        std::rethrow_exception(failure);
}

void VoxStation::ReportCaptureLost(const QString& reason)
{
    const QString device = CaptureName();
    m_log.WriteLine(1,
        QStringLiteral("Soundcard \"%1\" %2: trying it again every %3 s")
            .arg(device, reason)
            .arg(DeviceRetryMs / 1000));
    emit captureLost(device);
}
