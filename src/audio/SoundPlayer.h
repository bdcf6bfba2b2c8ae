#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <vector>

struct PaStreamCallbackTimeInfo;

// Plays a WAV file (16-bit PCM, mono or stereo, any rate the output accepts) through
// PortAudio's default output, in the background. A file that cannot be read or played plays
// nothing and reports nothing. A new play() or stop() ends the sound that is playing.
// Owned and called on one thread; the sound itself runs on PortAudio's thread.
class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts the file and returns at once; false when nothing plays.
    bool play(const QString& path);
    void stop();
    // True from a successful play() until the last frame has gone to the output.
    bool isPlaying() const;

private:
    static int callback(const void* input, void* output, unsigned long frames,
        const PaStreamCallbackTimeInfo* timeInfo, unsigned long flags, void* user);
    static void finished(void* user);

    bool m_initialised = false;
    void* m_stream = nullptr;
    std::vector<std::int16_t> m_frames; // interleaved stereo
    std::size_t m_position = 0; // in frames, advanced on PortAudio's thread
    std::atomic<bool> m_playing { false };
};
