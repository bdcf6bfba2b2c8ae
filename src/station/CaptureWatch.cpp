#include "CaptureWatch.h"

#include "StationServices.h"

#include "audio/AudioEngine.h"
#include "core/VokeySettings.h"

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

CaptureWatch::CaptureWatch(AudioEngine& audio, VokeySettings& settings, StationServices& services,
    std::function<void()> releaseKeying, int retryMs, QObject* parent)
    : QObject(parent)
    , m_audio(audio)
    , m_settings(settings)
    , m_services(services)
    , m_releaseKeying(std::move(releaseKeying))
    , m_retryMs(retryMs)
{
    setObjectName(QStringLiteral("CaptureWatcher"));
    m_watch = new QTimer(this);
    m_watch->setObjectName(QStringLiteral("CaptureWatch"));
    m_watch->setInterval(retryMs);
    connect(m_watch, &QTimer::timeout, this, [this] { m_services.guarded([this] { watch(); }); });
}

QString CaptureWatch::deviceName(int device) const
{
    if (device == -1)
        return QStringLiteral("Default");
    AudioDeviceInfo info;
    if (!m_audio.RecordGetDeviceInfo(device, &info))
        return QString();
    return QString::fromUtf8(info.name);
}

QString CaptureWatch::name() const
{
    return m_settings.InputDevice < 0 || m_settings.DeviceName.isEmpty()
        ? deviceName(m_settings.InputDevice)
        : m_settings.DeviceName;
}

void CaptureWatch::start()
{
    m_lost = false;
    m_watch->start();
    if (!open(false))
        lose(QStringLiteral("not available (%1)").arg(m_audio.LastError()));
}

void CaptureWatch::stopWatching()
{
    m_watch->stop();
}

void CaptureWatch::stop()
{
    m_watch->stop();
    m_audio.ChannelStop(m_channel);
    m_audio.RecordFree();
    m_channel = 0;
    m_lost = false;
}

void CaptureWatch::findDevice()
{
    // A number that no longer names the chosen device gives way to the device of that name,
    // where there is one.
    if (m_settings.InputDevice < 0)
        return;
    const QString current = deviceName(m_settings.InputDevice);
    if (m_settings.DeviceName.isEmpty()) {
        m_settings.DeviceName = current;
        return;
    }
    if (current == m_settings.DeviceName)
        return;
    AudioDeviceInfo info;
    for (int device = 0; m_audio.RecordGetDeviceInfo(device, &info); ++device) {
        if (QString::fromUtf8(info.name) != m_settings.DeviceName)
            continue;
        m_services.logLine(QStringLiteral("Soundcard \"%1\" is device %2 now (DEVICE=%3)")
                               .arg(m_settings.DeviceName)
                               .arg(device)
                               .arg(m_settings.InputDevice));
        m_settings.InputDevice = device;
        return;
    }
}

bool CaptureWatch::open(bool strict)
{
    findDevice();
    // At power-on the chosen number is taken as it is when its name is gone (the operator
    // chose it); a device found again must be the one of that name, or nothing.
    if (strict && m_settings.InputDevice >= 0 && !m_settings.DeviceName.isEmpty()
        && deviceName(m_settings.InputDevice) != m_settings.DeviceName) {
        m_channel = 0;
        return false;
    }
    if (!m_audio.RecordInit(m_settings.InputDevice))
        return false;
    m_channel = m_audio.RecordStart(AudioEngine::SampleRate, 2, 0, RecordCallback, nullptr);
    return m_channel != 0;
}

bool CaptureWatch::delivers()
{
    const bool delivering = m_audio.ChannelIsActive(m_channel) == AudioEngine::Playing
        && m_audio.ChannelFrames(m_channel) > 0;
    if (delivering && std::exchange(m_lost, false)) {
        const QString device = name();
        m_services.logLine(QStringLiteral("Soundcard \"%1\" capturing again").arg(device));
        emit captureFound(device);
    }
    return delivering;
}

void CaptureWatch::watch()
{
    // A capture that runs, or one opened again that is still waiting for its first frames,
    // is left alone: the render tick sees when it delivers.
    if (m_audio.ChannelIsActive(m_channel) == AudioEngine::Playing)
        return;
    if (!m_lost) {
        lose(QStringLiteral("stopped delivering audio"));
        return;
    }
    m_audio.ChannelStop(m_channel);
    m_audio.RecordFree();
    open(true);
}

void CaptureWatch::lose(const QString& reason)
{
    // No audio, no keying: the ticks count as ones that do not pass. A road still keyed (a
    // long Delay) is released before the capture is closed, which may wait for the sound
    // system for a few seconds.
    std::exception_ptr failure;
    try {
        m_releaseKeying();
    } catch (...) {
        failure = std::current_exception();
    }
    m_audio.ChannelStop(m_channel);
    m_audio.RecordFree();
    m_channel = 0;
    if (!std::exchange(m_lost, true)) {
        const QString device = name();
        m_services.logLine(QStringLiteral("Soundcard \"%1\" %2: trying it again every %3 s")
                               .arg(device, reason)
                               .arg(m_retryMs / 1000));
        emit captureLost(device);
    }
    if (failure)
        std::rethrow_exception(failure);
}
