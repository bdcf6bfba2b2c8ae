#pragma once

#include "audio/FrameRing.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>

// One entry of a device list: the display name, the driver (host audio system) and
// AudioDeviceInfo::Enabled / Default / Initialized.
struct AudioDeviceInfo {
    enum Flag : quint32 { Enabled = 1, Default = 2, Initialized = 4 };
    QByteArray name;
    QByteArray driver;
    quint32 flags = 0;
};

// Called on the capture thread after each block has reached the ring: the channel handle,
// the block (interleaved stereo 16-bit), its length in bytes and the user value. Returning
// false ends the capture. It must not block, allocate or touch user-interface state.
using RecordProc = bool (*)(quint32 handle, const void* buffer, quint32 length, void* user);

// Where a capture source delivers its frames.
struct CaptureTarget {
    FrameRing* ring = nullptr;
    RecordProc proc = nullptr;
    void* user = nullptr;
    quint32 handle = 0;

    // Capture-thread side: stores the frames, then tells the record callback.
    // Returns the callback's wish to continue.
    bool deliver(const std::int16_t* stereo, std::uint32_t frames) const
    {
        ring->write(stereo, frames);
        return !proc || proc(handle, stereo, frames * 4, user);
    }

    // The same for one-channel sources, widened to stereo in small steps on the stack.
    bool deliverMono(const std::int16_t* mono, std::uint32_t frames) const
    {
        constexpr std::uint32_t Step = 256;
        std::int16_t stereo[2 * Step];
        for (std::uint32_t done = 0; done < frames;) {
            const std::uint32_t run = std::min(Step, frames - done);
            for (std::uint32_t i = 0; i < run; ++i)
                stereo[2 * i] = stereo[2 * i + 1] = mono[done + i];
            if (!deliver(stereo, run))
                return false;
            done += run;
        }
        return true;
    }
};

// A source of 44100 Hz stereo frames: a sound-card input or a WAV file.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // Starts delivering into target. false: nothing runs and errorString() says why.
    virtual bool start(const CaptureTarget& target) = 0;
    // Ends delivery; on return no callback runs any more. Safe to call twice.
    virtual void stop() = 0;
    // True from a successful start while the source runs without error (it may still be
    // waiting for its first frames); false once stopped, ended by the callback, or broken.
    virtual bool isRunning() const = 0;
    virtual QString errorString() const = 0;
};
