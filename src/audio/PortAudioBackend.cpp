#include "audio/PortAudioBackend.h"

#include "audio/AudioDiagnostics.h"

#include <portaudio.h>

#include <chrono>
#include <future>
#include <thread>

namespace {
constexpr double SampleRate = 44100.0;
// A stream stops within milliseconds, even under a sanitizer; see PortAudioBackend::stop().
constexpr std::chrono::seconds StopLimit { 3 };
// Streams left to their thread by stop(): PortAudio's termination would wait for them again.
std::atomic<int> abandonedStreams { 0 };

int channelsOf(const PaDeviceInfo* info, PortAudioSession::Direction direction)
{
    return direction == PortAudioSession::Direction::Input ? info->maxInputChannels
                                                           : info->maxOutputChannels;
}

QString paError(const char* what, PaError error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QLatin1String(Pa_GetErrorText(error)));
}
}

PortAudioSession::PortAudioSession()
{
    silenceAudioDiagnostics();
    const PaError error = Pa_Initialize();
    m_open = error == paNoError;
    if (!m_open)
        m_error = paError("PortAudio initialisation", error);
}

PortAudioSession::~PortAudioSession()
{
    if (m_open && abandonedStreams.load() == 0)
        Pa_Terminate();
}

int PortAudioSession::hostIndex(Direction direction, int device) const
{
    if (!m_open)
        return -1;
    if (device == -1) {
        const PaDeviceIndex index = direction == Direction::Input ? Pa_GetDefaultInputDevice()
                                                                  : Pa_GetDefaultOutputDevice();
        return index == paNoDevice ? -1 : index;
    }
    if (device < 0)
        return -1;
    const int count = Pa_GetDeviceCount();
    for (int index = 0, seen = 0; index < count; ++index) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        if (info && channelsOf(info, direction) > 0 && seen++ == device)
            return index;
    }
    return -1;
}

bool PortAudioSession::deviceInfo(Direction direction, int device, AudioDeviceInfo* info) const
{
    if (device < 0 || !info)
        return false;
    const int index = hostIndex(direction, device);
    if (index < 0)
        return false;
    const PaDeviceInfo* pa = Pa_GetDeviceInfo(index);
    const PaHostApiInfo* host = Pa_GetHostApiInfo(pa->hostApi);
    info->name = QByteArray(pa->name);
    info->driver = host ? QByteArray(host->name) : QByteArray();
    info->flags = AudioDeviceInfo::Enabled;
    if (index == hostIndex(direction, -1))
        info->flags |= AudioDeviceInfo::Default;
    return true;
}

PortAudioBackend::PortAudioBackend(int hostIndex)
    : m_hostIndex(hostIndex)
{
}

PortAudioBackend::~PortAudioBackend()
{
    stop();
}

bool PortAudioBackend::start(const CaptureTarget& target)
{
    stop();
    const PaDeviceInfo* info = m_hostIndex >= 0 ? Pa_GetDeviceInfo(m_hostIndex) : nullptr;
    if (!info || info->maxInputChannels < 1) {
        m_error = QStringLiteral("no such recording device");
        return false;
    }
    auto shared = std::make_shared<Shared>();
    shared->target = target;
    shared->channels = info->maxInputChannels >= 2 ? 2 : 1;

    PaStreamParameters input {};
    input.device = m_hostIndex;
    input.channelCount = shared->channels;
    input.sampleFormat = paInt16;
    // The tick reads every 33 ms; the larger latency keeps network and plug-in devices
    // (PulseAudio through ALSA) from overrunning without making the level visibly late.
    input.suggestedLatency = info->defaultHighInputLatency;

    PaStream* stream = nullptr;
    PaError error = Pa_OpenStream(&stream, &input, nullptr, SampleRate,
        paFramesPerBufferUnspecified, paNoFlag, &PortAudioBackend::onAudio, shared.get());
    if (error != paNoError) {
        m_error = paError("opening the recording device", error);
        return false;
    }
    Pa_SetStreamFinishedCallback(stream, &PortAudioBackend::onFinished);
    error = Pa_StartStream(stream);
    if (error != paNoError) {
        Pa_CloseStream(stream);
        m_error = paError("starting the recording device", error);
        return false;
    }
    m_stream = stream;
    m_shared = std::move(shared);
    m_error.clear();
    return true;
}

void PortAudioBackend::stop()
{
    if (!m_stream)
        return;
    // From here on no frames reach the target, whatever PortAudio's thread does next.
    m_shared->cut.store(true);
    while (m_shared->delivering.load() > 0)
        std::this_thread::yield();

    // Abort rather than stop: pending input is of no use, and a device that has gone away
    // would never drain. Even abort waits for PortAudio's thread, and with ALSA's PulseAudio
    // plug-in that thread can spin for ever, unable to be cancelled, once the sound server
    // has died. The wait is bounded, so that the program still exits: a stream that does
    // not stop in time is left to its thread, which keeps its own reference to what the
    // callbacks use.
    auto stopped = std::make_shared<std::promise<void>>();
    std::future<void> done = stopped->get_future();
    std::thread closer([stream = m_stream, shared = m_shared, stopped] {
        Pa_AbortStream(stream);
        Pa_CloseStream(stream);
        stopped->set_value();
    });
    if (done.wait_for(StopLimit) == std::future_status::ready) {
        closer.join();
    } else {
        ++abandonedStreams;
        closer.detach();
    }
    m_stream = nullptr;
    m_shared.reset();
}

bool PortAudioBackend::isRunning() const
{
    return m_stream && !m_shared->finished.load(std::memory_order_acquire)
        && Pa_IsStreamActive(m_stream) == 1;
}

int PortAudioBackend::onAudio(const void* input, void*, unsigned long frames,
    const PaStreamCallbackTimeInfo*, unsigned long, void* user)
{
    auto* shared = static_cast<Shared*>(user);
    const auto* samples = static_cast<const std::int16_t*>(input);
    const auto count = std::uint32_t(frames);
    shared->delivering.fetch_add(1);
    int result = paAbort;
    if (!shared->cut.load()) {
        const bool more = !samples
            || (shared->channels == 2 ? shared->target.deliver(samples, count)
                                      : shared->target.deliverMono(samples, count));
        result = more ? paContinue : paComplete;
    }
    shared->delivering.fetch_sub(1);
    return result;
}

void PortAudioBackend::onFinished(void* user)
{
    static_cast<Shared*>(user)->finished.store(true, std::memory_order_release);
}
