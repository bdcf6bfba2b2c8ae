#pragma once

#include "replay/ReplayRunner.h"

#include <QString>
#include <functional>
#include <optional>

// Suggests Gain and Delay from two recordings made at the operator's station: one of the
// noise alone (fan, receiver hiss, the shack with nobody speaking) and one of speech.
//
// Gain: the smallest Gain at which the noise never keys (one above its highest VOX level;
// with attack Fast, above its highest attack level too) plus one VOX step (VOX levels move in
// steps of 3) as a margin, at most 100.
// Speech ticks: the speech recording's ticks whose tick level is above every tick level of
// the noise recording, i.e. the ticks that can only be voice.
// Delay: at the suggested Gain, a pause is the time from a tick that passes to the next tick
// that passes, when at least one tick between them does not pass and it is shorter than
// MaxPauseMs (longer pauses end an over). A pause of p ms is bridged by Delay d when
// d * 50 > p; the suggestion is the smallest Delay that bridges BridgedPercent of them
// (0 when there are none).
// The figures come from a replay of the speech at the suggested Gain and Delay with the
// chosen attack; the keying delay also with each attack at that Gain and Delay.
struct Suggestion {
    int gain = 0;
    int delay = 0;
    int noiseMaxVoxLevel = 0;
    int noiseMaxTickLevel = 0;
    bool noiseAlwaysKeys = false; // the noise reaches a VOX level no Gain stays above
    int speechTicks = 0;
    std::optional<qint64> keyingDelayMs; // first speech tick to keying; empty if never keyed
    int coveredTicks = 0; // speech ticks with transmit on
    int pauses = 0;
    int bridgedPauses = 0; // at the suggested Delay
    VoxDetector::Attack attack = VoxDetector::Attack::Average; // the chosen rule
    int noiseMaxAttackLevel = 0; // attack Fast only
    std::optional<qint64> keyingDelayFastMs; // with each attack, same Gain and Delay
    std::optional<qint64> keyingDelayAverageMs;
};

// Replays one recording with the given settings and callbacks.
using ReplayFunction = std::function<ReplaySummary(const ReplaySettings&, const ReplayCallbacks&)>;

struct SuggestionRules {
    static constexpr int VoxStep = 3;
    static constexpr int MaxPauseMs = 1500;
    static constexpr int BridgedPercent = 95;
};

// settings.txTimeout and settings.attack apply to every replay; gain and delay are ignored.
Suggestion suggestSettings(
    const ReplayFunction& noise, const ReplayFunction& speech, const ReplaySettings& settings);

// "gain N" and "delay N" lines, then the figures, one "name value" per line.
QString formatSuggestion(const Suggestion& suggestion);
