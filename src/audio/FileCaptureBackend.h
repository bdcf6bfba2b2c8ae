#pragma once

#include "audio/CaptureBackend.h"
#include "audio/WavReader.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// Plays a WAV file (16-bit PCM, 44100 Hz, mono or stereo) into the ring as if it came
// from a sound card: in blocks of 10 ms at real-time pace, then silence for as long as
// the capture runs, or, looping, the file again from its start. The thread sleeps between blocks,
// and reads each block from the file when it is due, so memory stays the same whatever the length
// of the recording.
class FileCaptureBackend final : public CaptureBackend {
public:
    static constexpr std::uint32_t BlockFrames = 441;

    explicit FileCaptureBackend(QString path, bool loop = false);
    ~FileCaptureBackend() override;

    bool start(const CaptureTarget& target) override;
    void stop() override;
    bool isRunning() const override;
    QString errorString() const override { return m_error; }

private:
    void run(CaptureTarget target);

    QString m_path;
    bool m_loop;
    QString m_error;
    WavReader m_reader; // used by the thread while it runs
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopRequested = false;
    std::atomic<bool> m_running { false };
};
