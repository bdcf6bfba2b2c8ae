#pragma once

#include "core/VoxDetector.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>

// Runs the level detector over recorded audio on a virtual clock, as fast as the machine
// allows and with the same result on every run.
//
// Timing: tick k = 1, 2, 3, ... happens at k * 33 ms of audio time and sees the 1024 frames
// that end (exclusive) at frame floor(k * 33 * 44100 / 1000), silence before the start and
// after the end of the audio. A timed release due at or before a tick's time happens before
// that tick, at its due time (the last passing tick's time + delay * 50 ms). With Delay 0
// transmit goes off at the first tick that does not pass.
//
// End: after the audio, ticks go on over silence until transmit is released, once the audio
// window and the 16-tick level history hold nothing but silence (from then on every tick is
// the same). If such a tick still passes the keying test - silence keys, as with Gain 0 -
// it would key forever: the replay stops at that tick, and transmit goes off at its due time
// from that tick (delay * 50 ms later; with Delay 0 at that tick), as when the program is
// switched off with a release pending. So every replay ends released and terminates.
//
// Transmit time-out: transmit on without a break for txTimeout seconds of audio time is
// released at the tick that finds it so (timedOut, then txChanged off), and keys again only
// after a tick that does not pass; 0 switches it off.
//
// Attack: the detector's rule for starting transmit (VoxDetector::Attack).
struct ReplaySettings {
    int gain = 1;
    int delay = 1;
    int txTimeout = 300;
    VoxDetector::Attack attack = VoxDetector::Attack::Average;
};

struct ReplayTick {
    qint64 tick = 0;
    qint64 timeMs = 0;
    int tickLevel = 0;
    int voxLevel = 0;
    bool ptt = false; // transmit after this tick
    int attackLevel = 0; // attack Fast only

    // The level compared with the Gain: the higher of the two.
    int keyLevel() const { return std::max(voxLevel, attackLevel); }
};

struct ReplayCallbacks {
    // Transmit went on or off at timeMs; calls alternate, starting with on.
    std::function<void(bool on, qint64 timeMs)> txChanged;
    // After each tick (may be empty).
    std::function<void(const ReplayTick&)> ticked;
    // The time-out released transmit at timeMs (may be empty); txChanged(false) follows.
    std::function<void(qint64 timeMs)> timedOut;
};

struct ReplaySummary {
    qint64 ticks = 0;
    qint64 endMs = 0; // time of the last tick or of the final release, whichever is later
    bool silenceKeys = false; // stopped because silence kept passing the keying test
};

// stereoFrames: interleaved left/right 16-bit samples at 44100 Hz.
ReplaySummary runReplay(std::span<const std::int16_t> stereoFrames, const ReplaySettings& settings,
    const ReplayCallbacks& callbacks);

// Audio handed over in order, as the ticks need it, so that a recording of any length is
// replayed in the same memory: fills at most maxFrames interleaved stereo frames and
// returns how many; fewer than asked (0, or -1 for a read error) ends the audio.
using ReplayFrameSource = std::function<qint64(std::int16_t* stereo, qint64 maxFrames)>;
ReplaySummary runReplay(const ReplayFrameSource& source, const ReplaySettings& settings,
    const ReplayCallbacks& callbacks);
