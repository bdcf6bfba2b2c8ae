#pragma once

#include "audio/CaptureBackend.h"

#include <atomic>

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
    static int onAudio(const void* input, void* output, unsigned long frames,
        const PaStreamCallbackTimeInfo* time, unsigned long status, void* self);
    static void onFinished(void* self);

    int m_hostIndex;
    int m_channels = 2;
    void* m_stream = nullptr;
    CaptureTarget m_target;
    std::atomic<bool> m_finished { false };
    QString m_error;
};
