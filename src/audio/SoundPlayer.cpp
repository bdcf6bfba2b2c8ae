#include "audio/SoundPlayer.h"

#include "audio/AudioDiagnostics.h"
#include "audio/WavFile.h"

#include <portaudio.h>

#include <algorithm>
#include <cstring>

SoundPlayer::SoundPlayer() = default;

SoundPlayer::~SoundPlayer()
{
    stop();
    if (m_initialised)
        Pa_Terminate();
}

bool SoundPlayer::play(const QString& path)
{
    stop();
    WavFile wav;
    wav.setAnyRate(true);
    if (!wav.load(path) || wav.frameCount() == 0)
        return false;
    if (!m_initialised) {
        // PortAudio counts its initialisations; the capture side keeps its own.
        silenceAudioDiagnostics();
        m_initialised = Pa_Initialize() == paNoError;
        if (!m_initialised)
            return false;
    }
    m_frames = wav.frames();
    m_position = 0;
    PaStream* stream = nullptr;
    if (Pa_OpenDefaultStream(
            &stream, 0, 2, paInt16, wav.sampleRate(), paFramesPerBufferUnspecified, &callback, this)
        != paNoError)
        return false;
    m_stream = stream;
    Pa_SetStreamFinishedCallback(stream, &finished);
    m_playing = true;
    if (Pa_StartStream(stream) != paNoError) {
        stop();
        return false;
    }
    return true;
}

void SoundPlayer::stop()
{
    if (!m_stream)
        return;
    auto* stream = static_cast<PaStream*>(m_stream);
    // A sound that has run out is already stopped; abort only one still running.
    if (Pa_IsStreamStopped(stream) == 0)
        Pa_AbortStream(stream);
    Pa_CloseStream(stream);
    m_stream = nullptr;
    m_playing = false;
}

bool SoundPlayer::isPlaying() const
{
    return m_playing;
}

int SoundPlayer::callback(const void*, void* output, unsigned long frames,
    const PaStreamCallbackTimeInfo*, unsigned long, void* user)
{
    auto* self = static_cast<SoundPlayer*>(user);
    const std::size_t total = self->m_frames.size() / 2;
    const std::size_t count = std::min<std::size_t>(frames, total - self->m_position);
    auto* out = static_cast<std::int16_t*>(output);
    std::memcpy(
        out, self->m_frames.data() + 2 * self->m_position, count * 2 * sizeof(std::int16_t));
    std::memset(out + 2 * count, 0, (frames - count) * 2 * sizeof(std::int16_t));
    self->m_position += count;
    return self->m_position < total ? paContinue : paComplete;
}

void SoundPlayer::finished(void* user)
{
    static_cast<SoundPlayer*>(user)->m_playing = false;
}
