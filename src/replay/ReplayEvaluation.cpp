#include "replay/ReplayEvaluation.h"

#include "audio/WavFile.h"
#include "replay/ReplaySuggestion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace {

constexpr double sampleRate = 44100.0;
constexpr double never = std::numeric_limits<double>::infinity();

std::optional<CorpusRecording::Kind> kindOf(const QString& text)
{
    if (text == u"speech")
        return CorpusRecording::Kind::Speech;
    if (text == u"noise")
        return CorpusRecording::Kind::Noise;
    if (text == u"clicks")
        return CorpusRecording::Kind::Clicks;
    return std::nullopt;
}

QString kindName(CorpusRecording::Kind kind)
{
    switch (kind) {
    case CorpusRecording::Kind::Speech:
        return QStringLiteral("speech");
    case CorpusRecording::Kind::Noise:
        return QStringLiteral("noise");
    case CorpusRecording::Kind::Clicks:
        return QStringLiteral("clicks");
    }
    return {};
}

// Onset-to-keyed times with a missed phrase as infinity.
std::vector<double> onsetTimes(const RuleFigures& f)
{
    std::vector<double> times;
    for (const auto& t : f.onsetToKeyedMs)
        times.push_back(t.value_or(never));
    return times;
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString msText(double ms)
{
    return std::isinf(ms) ? QStringLiteral("never") : QString::number(ms, 'f', 0);
}

struct Totals {
    std::vector<double> onsets;
    double phraseMs = 0;
    double coveredMs = 0;
    double noiseKeyedMs = 0;
    double clicksKeyedMs = 0;
    int phrases = 0;

    void add(const CorpusRecording& r, const RuleFigures& f)
    {
        const std::vector<double> times = onsetTimes(f);
        onsets.insert(onsets.end(), times.begin(), times.end());
        phrases += int(times.size());
        phraseMs += f.phraseMs;
        coveredMs += f.coveredMs;
        if (r.kind == CorpusRecording::Kind::Noise)
            noiseKeyedMs += f.keyedMs;
        if (r.kind == CorpusRecording::Kind::Clicks)
            clicksKeyedMs += f.keyedMs;
    }
    double maxOnset() const
    {
        return onsets.empty() ? 0 : *std::max_element(onsets.begin(), onsets.end());
    }
    int missed() const
    {
        return int(
            std::count_if(onsets.begin(), onsets.end(), [](double t) { return std::isinf(t); }));
    }
    int above(double ms) const
    {
        return int(std::count_if(onsets.begin(), onsets.end(), [ms](double t) { return t > ms; }));
    }
};

} // namespace

std::optional<QString> readCorpus(const QString& corpusPath, std::vector<CorpusRecording>& out)
{
    QFile file(corpusPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("%1: %2").arg(corpusPath, file.errorString());
    const QDir dir = QFileInfo(corpusPath).absoluteDir();
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto bad = [&](const QString& why) {
            return QStringLiteral("%1:%2: %3").arg(corpusPath).arg(lineNumber).arg(why);
        };
        const std::optional<CorpusRecording::Kind> kind = kindOf(fields.value(0));
        if (!kind)
            return bad(QStringLiteral("the kind is speech, noise or clicks"));
        if (fields.size() < 4)
            return bad(QStringLiteral("KIND FILE NOISE SPEECH are needed"));
        CorpusRecording r;
        r.kind = *kind;
        r.file = dir.filePath(fields[1]);
        r.noise = dir.filePath(fields[2]);
        r.speech = dir.filePath(fields[3]);
        for (qsizetype i = 4; i < fields.size(); ++i) {
            const QStringList pair = fields[i].split(u'-');
            bool okOnset = false, okEnd = false;
            const qint64 onset = pair.value(0).toLongLong(&okOnset);
            const qint64 end = pair.value(1).toLongLong(&okEnd);
            if (pair.size() != 2 || !okOnset || !okEnd || onset < 0 || end <= onset)
                return bad(QStringLiteral("phrase '%1' is not ONSET-END").arg(fields[i]));
            r.phrases.emplace_back(onset, end);
        }
        if (r.kind == CorpusRecording::Kind::Speech && r.phrases.empty())
            return bad(QStringLiteral("a speech recording lists its phrases"));
        out.push_back(r);
    }
    if (out.empty())
        return QStringLiteral("%1: no recordings").arg(corpusPath);
    return std::nullopt;
}

RuleFigures figuresOf(const std::vector<std::pair<bool, qint64>>& changes,
    const std::vector<std::pair<qint64, qint64>>& phrases)
{
    // Transmit spans [on, off) in ms; the changes alternate, starting with on.
    std::vector<std::pair<double, double>> spans;
    RuleFigures f;
    for (std::size_t i = 0; i + 1 < changes.size(); i += 2) {
        spans.emplace_back(double(changes[i].second), double(changes[i + 1].second));
        f.keyedMs += double(changes[i + 1].second - changes[i].second);
    }
    for (const auto& [onsetSample, endSample] : phrases) {
        const double onset = double(onsetSample) * 1000.0 / sampleRate;
        const double end = double(endSample + 1) * 1000.0 / sampleRate;
        f.phraseMs += end - onset;
        std::optional<double> keyed;
        for (const auto& [on, off] : spans) {
            f.coveredMs += std::max(0.0, std::min(off, end) - std::max(on, onset));
            if (keyed)
                continue;
            if (on <= onset && onset < off)
                keyed = 0.0;
            else if (on >= onset && on < end)
                keyed = on - onset;
        }
        f.onsetToKeyedMs.push_back(keyed);
    }
    return f;
}

std::optional<QString> evaluateCorpus(const std::vector<CorpusRecording>& corpus,
    const ReplaySettings& settings, std::vector<RecordingFigures>& out)
{
    std::map<QString, std::unique_ptr<WavFile>> files;
    for (const CorpusRecording& r : corpus) {
        for (const QString& path : { r.file, r.noise, r.speech }) {
            if (files.count(path))
                continue;
            auto wav = std::make_unique<WavFile>();
            if (!wav->load(path))
                return QStringLiteral("%1: %2").arg(path, wav->errorString());
            files.emplace(path, std::move(wav));
        }
    }
    const auto replayOf = [&files](const QString& path) {
        const WavFile* wav = files.at(path).get();
        return [wav](const ReplaySettings& s, const ReplayCallbacks& c) {
            return runReplay(wav->frames(), s, c);
        };
    };

    for (const CorpusRecording& r : corpus) {
        RecordingFigures figures;
        figures.recording = r;
        ReplaySettings average = settings;
        average.attack = VoxDetector::Attack::Average;
        const Suggestion suggestion
            = suggestSettings(replayOf(r.noise), replayOf(r.speech), average);
        if (suggestion.noiseAlwaysKeys)
            return QStringLiteral("%1: the noise keys at every Gain").arg(r.noise);
        figures.gain = suggestion.gain;
        figures.delay = suggestion.delay;
        ReplaySettings fast = average;
        fast.attack = VoxDetector::Attack::Fast;
        figures.fastGain = suggestSettings(replayOf(r.noise), replayOf(r.speech), fast).gain;

        for (const auto attack : { VoxDetector::Attack::Average, VoxDetector::Attack::Fast }) {
            ReplaySettings run = average;
            run.gain = figures.gain;
            run.delay = figures.delay;
            run.attack = attack;
            std::vector<std::pair<bool, qint64>> changes;
            ReplayCallbacks callbacks;
            callbacks.txChanged = [&changes](bool on, qint64 ms) { changes.emplace_back(on, ms); };
            replayOf(r.file)(run, callbacks);
            (attack == VoxDetector::Attack::Fast ? figures.fast : figures.average)
                = figuresOf(changes, r.phrases);
        }
        out.push_back(std::move(figures));
    }
    return std::nullopt;
}

QString formatEvaluation(const std::vector<RecordingFigures>& figures, std::vector<Goal>& goals)
{
    QStringList lines;
    lines << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                 .arg(QStringLiteral("recording"), -28)
                 .arg(QStringLiteral("kind"), -6)
                 .arg(QStringLiteral("gain"), 4)
                 .arg(QStringLiteral("delay"), 5)
                 .arg(QStringLiteral("rule"), -7)
                 .arg(QStringLiteral("phrases"), 7)
                 .arg(QStringLiteral("median_ms"), 9)
                 .arg(QStringLiteral("max_ms"), 6)
                 .arg(QStringLiteral("covered_%"), 9)
                 .arg(QStringLiteral("keyed_s"), 7);
    Totals average, fast;
    bool clicksNoWorse = true;
    int fastGainDiffers = 0;
    for (const RecordingFigures& f : figures) {
        const bool speech = f.recording.kind == CorpusRecording::Kind::Speech;
        for (const bool isFast : { false, true }) {
            const RuleFigures& rule = isFast ? f.fast : f.average;
            (isFast ? fast : average).add(f.recording, rule);
            const std::vector<double> times = onsetTimes(rule);
            const double maxMs = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
            lines << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                         .arg(QFileInfo(f.recording.file).fileName(), -28)
                         .arg(kindName(f.recording.kind), -6)
                         .arg(f.gain, 4)
                         .arg(f.delay, 5)
                         .arg(isFast ? QStringLiteral("fast") : QStringLiteral("average"), -7)
                         .arg(speech ? QString::number(times.size()) : QStringLiteral("-"), 7)
                         .arg(speech ? msText(medianOf(times)) : QStringLiteral("-"), 9)
                         .arg(speech ? msText(maxMs) : QStringLiteral("-"), 6)
                         .arg(speech ? QString::number(100 * rule.coveredMs / rule.phraseMs, 'f', 1)
                                     : QStringLiteral("-"),
                             9)
                         .arg(rule.keyedMs / 1000, 7, 'f', 3);
        }
        if (f.recording.kind == CorpusRecording::Kind::Clicks && f.fast.keyedMs > f.average.keyedMs)
            clicksNoWorse = false;
        if (f.fastGain != f.gain)
            ++fastGainDiffers;
    }
    lines << QString();
    for (const bool isFast : { false, true }) {
        const Totals& t = isFast ? fast : average;
        lines << QStringLiteral("corpus %1: phrases %2, onset to keyed median %3 ms, max %4 ms, "
                                "above 100 ms %5, missed %6, speech covered %7 %, noise keyed "
                                "%8 s, clicks keyed %9 s")
                     .arg(isFast ? QStringLiteral("fast") : QStringLiteral("average"))
                     .arg(t.phrases)
                     .arg(msText(medianOf(t.onsets)))
                     .arg(msText(t.maxOnset()))
                     .arg(t.above(EvaluationGoals::MaxOnsetMs))
                     .arg(t.missed())
                     .arg(t.phraseMs > 0 ? 100 * t.coveredMs / t.phraseMs : 0, 0, 'f', 1)
                     .arg(t.noiseKeyedMs / 1000, 0, 'f', 3)
                     .arg(t.clicksKeyedMs / 1000, 0, 'f', 3);
    }
    lines << QStringLiteral("suggested Gain with --attack fast differs on %1 of %2 recordings")
                 .arg(fastGainDiffers)
                 .arg(figures.size());

    const double median = medianOf(fast.onsets);
    goals = {
        { QStringLiteral("fast: onset to keyed median at most %1 ms (%2 ms)")
                .arg(EvaluationGoals::MaxMedianMs)
                .arg(msText(median)),
            !fast.onsets.empty() && median <= EvaluationGoals::MaxMedianMs },
        { QStringLiteral("fast: no over keyed later than %1 ms after its onset (max %2 ms)")
                .arg(EvaluationGoals::MaxOnsetMs)
                .arg(msText(fast.maxOnset())),
            fast.above(EvaluationGoals::MaxOnsetMs) == 0 },
        { QStringLiteral("fast: 0 s keyed on the noise-only recordings (%1 s)")
                .arg(fast.noiseKeyedMs / 1000, 0, 'f', 3),
            fast.noiseKeyedMs == 0 },
        { QStringLiteral("fast: no more keyed time on clicks than average (%1 s, average %2 s)")
                .arg(fast.clicksKeyedMs / 1000, 0, 'f', 3)
                .arg(average.clicksKeyedMs / 1000, 0, 'f', 3),
            clicksNoWorse },
    };
    lines << QString();
    for (const Goal& goal : goals)
        lines << QStringLiteral("goal %1: %2")
                     .arg(goal.met ? QStringLiteral("met") : QStringLiteral("NOT met"), goal.text);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
