#pragma once

#include "audio/CaptureBackend.h"

#include <atomic>
#include <memory>

struct PaStreamCallbackTimeInfo;

// One reference to the PortAudio library (initialised on construction, terminated on
// destruction) and this program's view of its device list: input devices and output
// devices are each numbered from 0 in PortAudio's order; -1 is PortAudio's default.
class PortAudioSession {
public:
    enum class Direction { Input, Output };

    PortAudioSession();
    ~PortAudioSession();
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;

    bool isOpen() const { return m_open; }
    QString errorString() const { return m_error; }

    // PortAudio's index of device number `device` (-1: the default), or -1 when there is none.
    int hostIndex(Direction direction, int device) const;
    // false for a number past the last device (and for -1, which has no entry of its own).
    bool deviceInfo(Direction direction, int device, AudioDeviceInfo* info) const;

private:
    bool m_open = false;
    QString m_error;
};

// Capture from one PortAudio input device at 44100 Hz, 16-bit, stereo (a one-channel
// device is widened to stereo). Frames go from PortAudio's callback straight to the ring.
class PortAudioBackend final : public CaptureBackend {
public:
    explicit PortAudioBackend(int hostIndex);
    ~PortAudioBackend() override;

    bool start(const CaptureTarget& target) override;
    void stop() override;
    bool isRunning() const override;
    QString errorString() const override { return m_error; }

private:
    // What PortAudio's thread sees. It lives as long as the thread that stops the stream, so
    // a stream left behind (see stop()) never reaches a destroyed backend.
    struct Shared {
        CaptureTarget target;
        int channels = 2;
        std::atomic<bool> finished { false };
        std::atomic<bool> cut { false }; // set by stop(): no more frames are delivered
        std::atomic<int> delivering { 0 };
    };

    static int onAudio(const void* input, void* output, unsigned long frames,
        const PaStreamCallbackTimeInfo* time, unsigned long status, void* shared);
    static void onFinished(void* shared);

    int m_hostIndex;
    void* m_stream = nullptr;
    std::shared_ptr<Shared> m_shared;
    QString m_error;
};
