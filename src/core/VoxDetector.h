#pragma once

#include <QtGlobal>
#include <array>
#include <optional>
#include <span>

// The VOX level detector and its keying state, with no timers and no clock of its own.
// Whoever owns it supplies each render tick (the 512 spectrum magnitudes, the control
// positions and the current time in milliseconds) and tells it when transmit was released
// from outside. The main window drives it from its 33 ms render timer and its release timer;
// vokey-replay drives the same object from a virtual clock, so both key identically.
//
// Level of one tick: the 128 bins 5, 8, ..., 386 (every BinStride-th from FirstBin) each add
// trunc(|m| * 500) * 10; the tick level is trunc(2 * sum / 128). The last HistoryLength tick
// levels are kept (index 0 oldest); the VOX level is trunc(sum of history / 16) * 3. With the
// magnitude scale of FftAnalyzer a full-scale sine on bin 5 alone gives tick level 39.
//
// Keying: a tick passes when not muted and voxLevel >= gain (voxLevel is not clamped, so
// Gain 100 keys at any level from 100 up, and Gain 0 keys even on silence). A passing tick
// keys transmit (again, if it is already on) and sets the release to delay * 50 ms after
// that tick. With Delay 0 no timed release is set: transmit is released by the first tick
// that does not pass, so a transmitter is never held on forever.
//
// Use from the main window:
//   render tick:   r = tick(snapshot, GainTrack pos, TrackDelay pos, muted, now)
//                  show r.meterLevel; on TxAction::Key restart TimerDelay with
//                  r.releaseDelayMs (stop it if 0), light the lamp, SetTX(true);
//                  on TxAction::Release lamp off, SetTX(false).
//   TimerDelay:    release(); lamp off; SetTX(false).
//   mute toggled:  release(); SetTX(false).
// Use with a virtual clock (no timers): before each tick at time t call releaseIfDue(t);
// a result means transmit went off at that (due) time.
//
// A tick without audio (the capture channel is not active: device unplugged, sound server
// gone) is given to idle(): it counts as a tick that does not pass, so with Delay 0 it
// releases, and with a Delay the release timer goes on as it does.
//
// Transmit time-out: with setTxTimeoutMs(n > 0), transmit that has been on without a break
// for n ms is released by the next tick (TxAction::TimeOut), and nothing keys again until a
// tick has not passed (the level fell below the gain, or mute blocked it) or endTimeOut() is
// called (mute toggled). Gain 0, which passes on silence, therefore stays released.
//
// Attack (setAttack): how transmit may start.
//   Average (the default): a tick passes when the VOX level reaches the gain, as above.
//   Fast: a tick passes also when its attack level reaches the gain. The attack level looks
//   at how far the spectrum rises above the noise floor, not at the tick level:
//   - the noise floor: every tick, each voice bin (VoiceFirstBin.. + VoiceBins, 301 to 3015
//     Hz) is smoothed (s = (s + m) / 2, the first tick taken as it is) and so is the sum of
//     the upper bins (UpperFirstBin..UpperLastBin, 3058 Hz to 16.6 kHz); the floor of each
//     is its lowest smoothed value over the last FloorTicks ticks before this one (about a
//     second). Steady hum and hiss sit at the floor; a 100 Hz hum does not reach the voice
//     band at all except through its harmonics, which are steady too.
//   - voice rise: trunc(RiseScale * sum over the voice bins of what m lies above
//     VoiceMargin x its floor); upper rise: trunc(RiseScale * VoiceBins / UpperBins * what
//     the upper sum lies above UpperMarginNum / UpperMarginDen x its floor), the same
//     per-bin scale.
//   - voiced: a tick whose voice rise is at least VoicedRatio x its upper rise (a vowel or
//     voiced consonant; a click is white, rising about as much in the upper bins as in the
//     voice band) offers 3 x its voice rise;
//   - sustained: any two ticks in a row offer 3 x the smaller of their rises, where a tick's
//     rise is its voice rise + UpperWeight x its upper rise (an "s" or "f" rises mostly in
//     the upper bins and lasts longer than a tick; a click fills at most one).
//   The attack level is the larger of the two. A tick without audio (idle()) leaves the
//   floor as it is and breaks a run of two: the next tick has no previous rise. Until
//   HistoryLength ticks with audio have been measured the floor is not known and the attack
//   level is 0. Holding and release are unchanged: the Delay counts from the last tick that
//   passed by either level. The floor is followed under either rule, so switching to Fast
//   takes effect at once.
//
// The level history is never cleared: it survives power cycles of the engine, like the
// window that owns the detector. Nothing here allocates; tick() is cheap (the 128 counted
// bins, and for the noise floor the 380 bins from 7 up and a minimum over 32 x 64 values).
class VoxDetector {
public:
    static constexpr int BinCount = 512;
    static constexpr int FirstBin = 5;
    static constexpr int BinStride = 3;
    static constexpr int CountedBins = 128;
    static constexpr int HistoryLength = 16;
    static constexpr int DelayStepMs = 50;
    static constexpr int MaxDelayPosition = 100;
    static constexpr int MeterMax = 100;
    // Largest per-bin value trunc(|m| * 500) taken (magnitudes above 200 count as 200; a
    // real spectrum stays near 1). It keeps the 32-bit sums defined for any input, as does
    // counting NaN as 0.
    static constexpr int MaxBinValue = 100000;

    // Fast attack: the voice band, the upper bins and their noise floor (see above).
    static constexpr int VoiceFirstBin = 7;
    static constexpr int VoiceBins = 64;
    static constexpr int UpperFirstBin = VoiceFirstBin + VoiceBins;
    static constexpr int UpperLastBin = 386;
    static constexpr int UpperBins = UpperLastBin - UpperFirstBin + 1;
    static constexpr int FloorTicks = 32;
    static constexpr float VoiceMargin = 3.0f;
    static constexpr int UpperMarginNum = 6;
    static constexpr int UpperMarginDen = 5;
    // 500 * 20 / 64: a rise of 1/500 in every voice bin gives 20, as a tick level would.
    static constexpr float RiseScale = 156.25f;
    static constexpr int VoicedRatio = 4;
    static constexpr int UpperWeight = 3;

    enum class Attack { Average, Fast };

    using Snapshot = std::span<const float, BinCount>;
    using History = std::array<int, HistoryLength>;

    enum class TxAction {
        None, // nothing to do for transmit this tick
        Key, // key transmit (even if on already) and restart the release timer
        Release, // release transmit now (Delay 0, first tick that did not pass)
        TimeOut, // release transmit now: on for longer than the transmit time-out
    };

    struct TickResult {
        int tickLevel = 0;
        int voxLevel = 0; // unclamped, compared with the gain
        int meterLevel = 0; // min(voxLevel, MeterMax), for the Gain slider's meter
        bool passed = false; // not muted and voxLevel >= gain
        TxAction action = TxAction::None;
        // With Key: the release timer's new interval, delay * 50 ms; 0 means no timer.
        int releaseDelayMs = 0;
        bool timeOutEnded = false; // this tick allows keying again after a time-out
        // Attack Fast only (0 otherwise): the attack level; passed may come from it alone.
        int attackLevel = 0;
    };

    // One render tick. delayPosition is the Delay slider (release after it * 50 ms; taken
    // within 0..MaxDelayPosition), nowMs any monotonic millisecond clock.
    TickResult tick(Snapshot snapshot, int gain, int delayPosition, bool muted, qint64 nowMs);
    // A tick without audio: no level, the history untouched, and it does not pass.
    TickResult idle(qint64 nowMs);

    // The longest continuous transmission in ms; 0 (the default) switches the time-out off.
    void setTxTimeoutMs(qint64 timeoutMs) { m_txTimeoutMs = timeoutMs > 0 ? timeoutMs : 0; }
    qint64 txTimeoutMs() const { return m_txTimeoutMs; }
    // Released by the time-out and not yet allowed to key again.
    bool timedOut() const { return m_timedOut; }
    // Allows keying again after a time-out (mute was toggled).
    void endTimeOut() { m_timedOut = false; }

    // Transmit released from outside: the release timer fired, mute was toggled or the engine
    // went off. A time-out stays in force.
    void release();
    // Virtual clock: if a timed release is due at or before nowMs, releases and returns the
    // time it fell due; otherwise returns nothing.
    std::optional<qint64> releaseIfDue(qint64 nowMs);

    // The attack rule; Average until set. Takes effect from the next tick.
    void setAttack(Attack attack) { m_attack = attack; }
    Attack attack() const { return m_attack; }

    bool isTransmitting() const { return m_transmitting; }
    // When the pending timed release falls due; empty while released or held by Delay 0.
    std::optional<qint64> releaseDueMs() const { return m_releaseDueMs; }
    const History& levelHistory() const { return m_history; }

    // The level arithmetic alone, without touching any state.
    static int tickLevelOf(Snapshot snapshot);
    static int voxLevelOf(const History& history);

private:
    // The keying state after a tick that passed or not.
    void advance(TickResult& result, int delayPosition, qint64 nowMs);

    History m_history {};
    bool m_transmitting = false;
    std::optional<qint64> m_releaseDueMs;
    qint64 m_keyedSinceMs = 0; // start of the current transmission, while m_transmitting
    qint64 m_txTimeoutMs = 0;
    bool m_timedOut = false;
    Attack m_attack = Attack::Average;
    int m_measuredTicks = 0; // ticks with audio so far, counted up to HistoryLength

    // Fast attack: follows the noise floor and returns this tick's attack level (0 until
    // the floor is known).
    int attackLevelOf(Snapshot snapshot);

    using VoiceBand = std::array<float, VoiceBins>;
    VoiceBand m_voiceSmoothed {};
    float m_upperSmoothed = 0;
    std::array<VoiceBand, FloorTicks> m_voiceFloorRing {}; // smoothed values of past ticks
    std::array<float, FloorTicks> m_upperFloorRing {};
    int m_floorNext = 0; // the ring slot the next tick writes
    int m_floorTicks = 0; // slots written, counted up to FloorTicks
    int m_previousRise = 0; // voice rise + UpperWeight x upper rise of the previous tick
};
