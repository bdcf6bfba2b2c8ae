#include "replay/ReplayTools.h"

#include "replay/ReplayPlot.h"
#include "replay/ReplaySuggestion.h"

#include <QFileInfo>
#include <QImageWriter>
#include <cstdio>

QString plotTitle(const QString& wavPath, const ReplaySettings& settings, bool suggested)
{
    return QStringLiteral("%1 - %2Gain %3, Delay %4 (%5 ms)")
        .arg(QFileInfo(wavPath).fileName(), suggested ? QStringLiteral("suggested ") : QString())
        .arg(settings.gain)
        .arg(settings.delay)
        .arg(settings.delay * 50);
}

std::optional<QString> savePlot(
    const ReplayPlot& plot, const QString& pngPath, const QString& title, int gain)
{
    QImageWriter writer(pngPath, "png");
    if (!writer.write(plot.render(title, gain)))
        return QStringLiteral("%1: cannot write: %2").arg(pngPath, writer.errorString());
    return std::nullopt;
}

std::optional<QString> printSuggestion(std::span<const std::int16_t> noise,
    std::span<const std::int16_t> speech, const QString& speechPath, const ReplaySettings& settings,
    const QString& plotPath)
{
    const auto replayOf = [](std::span<const std::int16_t> frames) {
        return [frames](const ReplaySettings& s, const ReplayCallbacks& c) {
            return runReplay(frames, s, c);
        };
    };
    const Suggestion suggestion = suggestSettings(replayOf(noise), replayOf(speech), settings);
    if (suggestion.noiseAlwaysKeys) {
        const bool byAttack = suggestion.noiseMaxAttackLevel > suggestion.noiseMaxVoxLevel;
        return QStringLiteral("the noise recording reaches %1 level %2: it keys at every Gain")
            .arg(byAttack ? QStringLiteral("attack") : QStringLiteral("VOX"))
            .arg(byAttack ? suggestion.noiseMaxAttackLevel : suggestion.noiseMaxVoxLevel);
    }
    std::fputs(qPrintable(formatSuggestion(suggestion)), stdout);
    if (plotPath.isEmpty())
        return std::nullopt;
    ReplaySettings suggested = settings;
    suggested.gain = suggestion.gain;
    suggested.delay = suggestion.delay;
    ReplayPlot plot;
    plot.addAudio(speech);
    runReplay(speech, suggested, plot.wrap({}));
    return savePlot(plot, plotPath, plotTitle(speechPath, suggested, true), suggested.gain);
}
