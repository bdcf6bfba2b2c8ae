#include "audio/AudioEngine.h"

#include "audio/FileCaptureBackend.h"
#include "audio/PortAudioBackend.h"

namespace {
using Direction = PortAudioSession::Direction;
constexpr quint32 FirstHandle = 0x10000;
}

AudioEngine::AudioEngine()
    : m_window(new std::int16_t[2 * FftAnalyzer::FrameCount])
{
}

AudioEngine::~AudioEngine()
{
    Free();
}

bool AudioEngine::fail(const QString& reason)
{
    m_error = reason;
    return false;
}

PortAudioSession* AudioEngine::session()
{
    // A session that failed to start is tried again: the sound server or the card may be
    // back by now.
    if (!m_session || !m_session->isOpen())
        m_session = std::make_unique<PortAudioSession>();
    return m_session->isOpen() ? m_session.get() : nullptr;
}

bool AudioEngine::RecordInit(int device)
{
    if (m_recordInit)
        return fail(QStringLiteral("a recording device is already initialised"));
    m_sourcePath = m_filePath;
    if (m_sourcePath.isEmpty()) {
        PortAudioSession* pa = session();
        if (!pa)
            return fail(m_session->errorString());
        m_hostIndex = pa->hostIndex(Direction::Input, device);
        if (m_hostIndex < 0)
            return fail(QStringLiteral("no recording device %1").arg(device));
    }
    m_recordInit = true;
    m_error.clear();
    return true;
}

quint32 AudioEngine::RecordStart(quint32 freq, quint32 chans, quint32, RecordProc proc, void* user)
{
    if (!m_recordInit) {
        fail(QStringLiteral("no recording device initialised"));
        return 0;
    }
    if (freq != SampleRate || chans != 2) {
        fail(QStringLiteral("capture runs at 44100 Hz in 2 channels only"));
        return 0;
    }
    if (m_channel)
        ChannelStop(m_channel);

    std::unique_ptr<CaptureBackend> backend;
    if (m_sourcePath.isEmpty())
        backend = std::make_unique<PortAudioBackend>(m_hostIndex);
    else
        backend = std::make_unique<FileCaptureBackend>(m_sourcePath, m_fileLoop);

    m_ring.reset();
    m_nextHandle = m_nextHandle + 1 < FirstHandle ? FirstHandle : m_nextHandle + 1;
    // The channel exists before its first block arrives, so a record callback may already
    // read it; nothing here changes while the capture thread runs.
    m_backend = std::move(backend);
    m_channel = m_nextHandle;
    if (!m_backend->start(CaptureTarget { &m_ring, proc, user, m_channel })) {
        fail(m_backend->errorString());
        m_backend.reset();
        m_channel = 0;
        return 0;
    }
    m_seenFrames = 0;
    m_lastProgress = std::chrono::steady_clock::now();
    m_error.clear();
    return m_channel;
}

bool AudioEngine::hasChannel(quint32 handle) const
{
    return handle != 0 && handle == m_channel && m_backend;
}

int AudioEngine::ChannelIsActive(quint32 handle) const
{
    if (!hasChannel(handle) || !m_backend->isRunning())
        return Stopped;
    // A device that is unplugged may leave its stream nominally running but silent
    // forever; the frame count tells.
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t frames = m_ring.framesWritten();
    if (frames != m_seenFrames) {
        m_seenFrames = frames;
        m_lastProgress = now;
        return Playing;
    }
    const auto limit = frames == 0 ? StartTimeout : StallTimeout;
    return now - m_lastProgress > limit ? Stopped : Playing;
}

quint64 AudioEngine::ChannelFrames(quint32 handle) const
{
    return hasChannel(handle) ? m_ring.framesWritten() : 0;
}

int AudioEngine::ChannelGetData(quint32 handle, void* buffer, quint32 length)
{
    if (!hasChannel(handle) || length != DataFft1024 || !buffer)
        return -1;
    m_ring.readLatest(m_window.get(), FftAnalyzer::FrameCount);
    m_analyzer.analyze(m_window.get(), static_cast<float*>(buffer));
    return FftAnalyzer::FrameCount * 2 * int(sizeof(std::int16_t));
}

bool AudioEngine::ChannelGetFrames(quint32 handle, qint16* buffer, quint32 frames) const
{
    if (!hasChannel(handle) || !buffer || frames > FrameRing::Capacity / 2)
        return false;
    m_ring.readLatest(buffer, frames);
    return true;
}

bool AudioEngine::ChannelStop(quint32 handle)
{
    if (!hasChannel(handle))
        return false;
    m_backend->stop();
    m_backend.reset();
    m_channel = 0;
    return true;
}

bool AudioEngine::RecordFree()
{
    if (m_channel)
        ChannelStop(m_channel);
    // Letting go of PortAudio here means the next initialisation scans the devices
    // again, so a card plugged in meanwhile shows up after a power cycle; also when this
    // one found no device to record from.
    m_session.reset();
    if (!m_recordInit)
        return false;
    m_recordInit = false;
    m_hostIndex = -1;
    return true;
}

bool AudioEngine::Free()
{
    RecordFree();
    m_session.reset();
    return true;
}

bool AudioEngine::RecordGetDeviceInfo(int device, AudioDeviceInfo* info)
{
    PortAudioSession* pa = device >= 0 ? session() : nullptr;
    if (!pa || !pa->deviceInfo(Direction::Input, device, info))
        return false;
    if (m_recordInit && m_sourcePath.isEmpty()
        && pa->hostIndex(Direction::Input, device) == m_hostIndex)
        info->flags |= AudioDeviceInfo::Initialized;
    return true;
}

bool AudioEngine::GetDeviceInfo(int device, AudioDeviceInfo* info)
{
    PortAudioSession* pa = device >= 0 ? session() : nullptr;
    return pa && pa->deviceInfo(Direction::Output, device, info);
}

void AudioEngine::SetFileSource(const QString& wavPath, bool loop)
{
    m_filePath = wavPath;
    m_fileLoop = loop;
}
