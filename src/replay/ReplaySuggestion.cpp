#include "replay/ReplaySuggestion.h"

#include <QStringList>
#include <algorithm>
#include <vector>

namespace {

constexpr int delayStepMs = 50;
constexpr qint64 tickMs = 33;
constexpr int maxGain = 100;
constexpr int maxDelay = 100;

struct Levels {
    int maxTick = 0;
    int maxVox = 0;
    int maxAttack = 0;
};

Levels levelsOf(const ReplayFunction& replay, const ReplaySettings& settings)
{
    Levels levels;
    ReplayCallbacks callbacks;
    callbacks.ticked = [&levels](const ReplayTick& tick) {
        levels.maxTick = std::max(levels.maxTick, tick.tickLevel);
        levels.maxVox = std::max(levels.maxVox, tick.voxLevel);
        levels.maxAttack = std::max(levels.maxAttack, tick.attackLevel);
    };
    replay(settings, callbacks);
    return levels;
}

// Delay needed for each pause between passing ticks.
std::vector<int> pauseDelays(const ReplayFunction& speech, const ReplaySettings& settings)
{
    std::vector<int> delays;
    std::optional<qint64> lastPass;
    ReplayCallbacks callbacks;
    callbacks.ticked = [&](const ReplayTick& tick) {
        if (tick.keyLevel() < settings.gain)
            return;
        if (lastPass) {
            const qint64 pause = tick.timeMs - *lastPass;
            if (pause > tickMs && pause < SuggestionRules::MaxPauseMs)
                delays.push_back(int(pause / delayStepMs + 1));
        }
        lastPass = tick.timeMs;
    };
    speech(settings, callbacks);
    return delays;
}

struct Figures {
    int speechTicks = 0;
    int coveredTicks = 0;
    std::optional<qint64> keyingDelayMs;
};

// Speech ticks (above every noise tick) and how transmit covers them at the given settings.
Figures figuresOf(const ReplayFunction& speech, const ReplaySettings& run, int noiseMaxTickLevel)
{
    Figures f;
    std::optional<qint64> firstSpeechMs;
    ReplayCallbacks callbacks;
    callbacks.ticked = [&](const ReplayTick& tick) {
        if (tick.tickLevel <= noiseMaxTickLevel)
            return;
        ++f.speechTicks;
        if (!firstSpeechMs)
            firstSpeechMs = tick.timeMs;
        if (tick.ptt) {
            ++f.coveredTicks;
            if (!f.keyingDelayMs)
                f.keyingDelayMs = tick.timeMs - *firstSpeechMs;
        }
    };
    speech(run, callbacks);
    return f;
}

} // namespace

Suggestion suggestSettings(
    const ReplayFunction& noise, const ReplayFunction& speech, const ReplaySettings& settings)
{
    Suggestion s;
    const Levels noiseLevels = levelsOf(noise, settings);
    s.noiseMaxTickLevel = noiseLevels.maxTick;
    s.noiseMaxVoxLevel = noiseLevels.maxVox;
    s.attack = settings.attack;
    s.noiseMaxAttackLevel = noiseLevels.maxAttack;
    const int noiseMaxKeyLevel = std::max(noiseLevels.maxVox, noiseLevels.maxAttack);
    s.noiseAlwaysKeys = noiseMaxKeyLevel >= maxGain;
    s.gain = std::min(maxGain, noiseMaxKeyLevel + 1 + SuggestionRules::VoxStep);

    ReplaySettings run = settings;
    run.gain = s.gain;
    run.delay = 0;
    std::vector<int> delays = pauseDelays(speech, run);
    std::sort(delays.begin(), delays.end());
    s.pauses = int(delays.size());
    if (!delays.empty()) {
        const std::size_t needed
            = (delays.size() * SuggestionRules::BridgedPercent + 99) / 100; // rounded up
        s.delay = std::min(maxDelay, delays[std::max<std::size_t>(needed, 1) - 1]);
    }
    s.bridgedPauses = int(std::count_if(
        delays.begin(), delays.end(), [&s](int needed) { return needed <= s.delay; }));

    run.delay = s.delay;
    const Figures figures = figuresOf(speech, run, s.noiseMaxTickLevel);
    s.speechTicks = figures.speechTicks;
    s.coveredTicks = figures.coveredTicks;
    s.keyingDelayMs = figures.keyingDelayMs;
    for (const auto attack : { VoxDetector::Attack::Average, VoxDetector::Attack::Fast }) {
        ReplaySettings other = run;
        other.attack = attack;
        const std::optional<qint64> delayMs = attack == settings.attack
            ? figures.keyingDelayMs
            : figuresOf(speech, other, s.noiseMaxTickLevel).keyingDelayMs;
        (attack == VoxDetector::Attack::Fast ? s.keyingDelayFastMs : s.keyingDelayAverageMs)
            = delayMs;
    }
    return s;
}

QString formatSuggestion(const Suggestion& s)
{
    const auto percent = [](int part, int whole) {
        return whole == 0 ? QStringLiteral("none") : QString::number(100.0 * part / whole, 'f', 1);
    };
    const auto ms = [](const std::optional<qint64>& value) {
        return value ? QString::number(*value) : QStringLiteral("never");
    };
    QStringList lines;
    lines << QStringLiteral("gain %1").arg(s.gain) << QStringLiteral("delay %1").arg(s.delay)
          << QStringLiteral("delay_ms %1").arg(s.delay * delayStepMs)
          << QStringLiteral("noise_max_vox_level %1").arg(s.noiseMaxVoxLevel)
          << QStringLiteral("noise_max_tick_level %1").arg(s.noiseMaxTickLevel)
          << QStringLiteral("speech_ticks %1").arg(s.speechTicks)
          << QStringLiteral("keying_delay_ms %1").arg(ms(s.keyingDelayMs))
          << QStringLiteral("speech_covered_percent %1").arg(percent(s.coveredTicks, s.speechTicks))
          << QStringLiteral("pauses %1").arg(s.pauses)
          << QStringLiteral("pauses_bridged_percent %1").arg(percent(s.bridgedPauses, s.pauses))
          << QStringLiteral("attack %1")
                 .arg(s.attack == VoxDetector::Attack::Fast ? QStringLiteral("fast")
                                                            : QStringLiteral("average"));
    if (s.attack == VoxDetector::Attack::Fast)
        lines << QStringLiteral("noise_max_attack_level %1").arg(s.noiseMaxAttackLevel);
    lines << QStringLiteral("keying_delay_fast_ms %1").arg(ms(s.keyingDelayFastMs))
          << QStringLiteral("keying_delay_average_ms %1").arg(ms(s.keyingDelayAverageMs));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
