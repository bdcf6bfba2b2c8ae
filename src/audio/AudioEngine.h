#pragma once

#include "audio/CaptureBackend.h"
#include "audio/FftAnalyzer.h"
#include "audio/FrameRing.h"

#include <QString>
#include <chrono>
#include <memory>

class PortAudioSession;

// The program's sound-card engine: recording and output device lists, capture of one
// recording device at 44100 Hz in two 16-bit channels, and on demand the spectrum of the
// latest captured audio. Capture runs on a thread of its own that only fills a lock-free
// ring; everything else is called from one thread (the user-interface thread).
//
// Order of use: RecordInit(device), RecordStart(...) -> channel handle; per tick
// ChannelIsActive and ChannelGetData; ChannelStop, RecordFree to power off; Free at
// the end. No call throws; failures return false, 0 or -1.
//
// Device numbers: recording devices and output devices are numbered separately from 0 in
// PortAudio's order (PortAudio devices with input channels, respectively output channels);
// -1 is PortAudio's default device and is accepted by RecordInit only.
class AudioEngine {
public:
    // ChannelGetData length flag: 512 spectrum magnitudes of the latest 1024 frames.
    static constexpr quint32 DataFft1024 = 0x80000002;
    static constexpr quint32 SampleRate = 44100;

    // ChannelIsActive values.
    enum Activity : int { Stopped = 0, Playing = 1 };

    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Selects the recording device (-1: default). false if the number names no recording
    // device or one is already selected (free it first with RecordFree).
    bool RecordInit(int device);
    // Starts capture on the selected device. freq must be 44100 and chans 2; flags are not
    // used. proc (may be null) is called
    // on the capture thread for every block; see RecordProc. Returns the channel handle,
    // or 0 on failure (the reason is in LastError()).
    quint32 RecordStart(quint32 freq, quint32 chans, quint32 flags, RecordProc proc, void* user);
    // Playing (1) while the channel's capture runs and delivers frames; Stopped (0) for
    // handle 0, an unknown or stopped handle, a capture ended by its callback, a device
    // that failed or went away, or one that delivered nothing for StallTimeout.
    int ChannelIsActive(quint32 handle) const;
    // Frames the channel has captured since it started; 0 for an unknown handle. A capture
    // that runs but has delivered nothing yet (PulseAudio's first 0.8 s) has no audio to
    // measure.
    quint64 ChannelFrames(quint32 handle) const;
    // With length DataFft1024: writes 512 floats to buffer and returns the bytes of audio
    // transformed (4096). The spectrum is that of the latest 1024 captured frames (silence
    // before the first): both channels averaged, scaled to +-1 (sample / 32768), a periodic
    // Hann window, magnitude k = 2 |X[k]| / 1024 for bins k = 0..511 (bin k is
    // k * 44100 / 1024 Hz). A full-scale sine on a bin centre in both channels reads 0.5
    // (0.25 with one channel silent), full-scale DC reads 1.0 in bin 0, silence 0.
    // Returns -1 and leaves buffer untouched for an unknown handle or other lengths.
    // Allocates nothing.
    int ChannelGetData(quint32 handle, void* buffer, quint32 length);
    // Stops and frees the channel. false for an unknown handle.
    bool ChannelStop(quint32 handle);
    // Stops any channel and releases the recording device. false if none was selected.
    bool RecordFree();
    // Releases everything, PortAudio included; the engine may be used again afterwards.
    bool Free();
    // Device lists: true and a filled info while device names a device, false past the
    // last one and for negative numbers.
    bool RecordGetDeviceInfo(int device, AudioDeviceInfo* info);
    bool GetDeviceInfo(int device, AudioDeviceInfo* info);

    // Takes capture from this WAV file instead of a sound card (played at real-time pace,
    // then silence, or looping: the file again and again) from the next RecordInit on. An
    // empty path returns to the sound card.
    void SetFileSource(const QString& wavPath, bool loop = false);
    // Why the last RecordInit or RecordStart failed; empty after a success.
    QString LastError() const { return m_error; }

    // Copies the latest `frames` interleaved stereo frames of the channel (frames at most
    // 32768). false for an unknown handle. For tests and diagnostics.
    bool ChannelGetFrames(quint32 handle, qint16* buffer, quint32 frames) const;

    // A running capture that delivers no frame for this long counts as gone; the first
    // frames may take longer (PulseAudio takes about 0.8 s to deliver).
    static constexpr std::chrono::milliseconds StallTimeout { 1500 };
    static constexpr std::chrono::milliseconds StartTimeout { 5000 };

private:
    bool hasChannel(quint32 handle) const;
    PortAudioSession* session();
    bool fail(const QString& reason);

    std::unique_ptr<PortAudioSession> m_session;
    std::unique_ptr<CaptureBackend> m_backend;
    FrameRing m_ring;
    FftAnalyzer m_analyzer;
    std::unique_ptr<std::int16_t[]> m_window;

    QString m_filePath;
    bool m_fileLoop = false;
    QString m_sourcePath; // the source RecordInit chose: a WAV file, or empty for PortAudio
    QString m_error;
    bool m_recordInit = false;
    int m_hostIndex = -1;
    quint32 m_channel = 0;
    quint32 m_nextHandle = 0;

    // Watchdog state, advanced by ChannelIsActive.
    mutable std::uint64_t m_seenFrames = 0;
    mutable std::chrono::steady_clock::time_point m_lastProgress;
};
