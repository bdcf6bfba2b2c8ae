// vokey-replay: runs the VOX level detector over a WAV file on a virtual clock and prints
// when transmit would go on and off, so that Gain and Delay settings can be tried on
// recordings, and the detector checked, without a sound card or a radio.

#include "audio/WavFile.h"
#include "audio/WavReader.h"
#include "core/Version.h"
#include "replay/ReplayEvaluation.h"
#include "replay/ReplayPlot.h"
#include "replay/ReplayRunner.h"
#include "replay/ReplayTools.h"

#include <QFile>
#include <QGuiApplication>
#include <QString>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

constexpr int exitError = 2;
constexpr char usage[]
    = "usage: vokey-replay [--gain N] [--delay N] [--tx-timeout S] [--attack RULE]\n"
      "                    [--trace FILE.csv] [--plot FILE.png] FILE.wav\n"
      "       vokey-replay --suggest --noise NOISE.wav [--tx-timeout S] [--attack RULE]\n"
      "                    [--plot FILE.png] SPEECH.wav\n"
      "       vokey-replay --evaluate CORPUS.txt [--tx-timeout S]\n"
      "       vokey-replay --help | --version\n"
      "Replays FILE.wav (16-bit PCM, 44100 Hz, mono or stereo) through the VOX\n"
      "detector, a tick every 33 ms of audio time, and prints 'on <ms>' and\n"
      "'off <ms>' for every change of transmit. Gain (threshold) and Delay\n"
      "(release after N * 50 ms) are 0..100, default 1 and 1. --trace writes\n"
      "tick,time_ms,tick_level,vox_level,ptt for every tick. After the file,\n"
      "ticks go on over silence until transmit is released; if silence keeps\n"
      "keying (Gain 0) the replay stops once the 16-tick history is silent and\n"
      "transmit goes off Delay * 50 ms after that last tick.\n"
      "--tx-timeout releases transmit that has been on for S seconds without a\n"
      "break (default 300, 0 off), printing 'timeout <ms>' before its 'off <ms>';\n"
      "it keys again only after a tick below the Gain.\n"
      "--attack average (the default) keys when the 16-tick VOX level reaches the\n"
      "Gain; --attack fast also keys when the attack level reaches it: 3 times how\n"
      "far the 300-3000 Hz bins rise above their noise floor (the quietest of the\n"
      "last second), at once for a voiced rise, after two ticks for one that also\n"
      "rises above 3000 Hz; the trace then has a sixth column, attack_level.\n"
      "--plot draws the envelope, the tick and VOX levels with the Gain line and the\n"
      "transmit spans over time into a 1600x600 PNG picture.\n"
      "--suggest prints 'gain N' and 'delay N' lines followed by figures: the\n"
      "smallest Gain at which NOISE.wav never keys plus one VOX step (3), and the\n"
      "smallest Delay that bridges 95 % of the pauses shorter than 1.5 s in\n"
      "SPEECH.wav at that Gain; with --plot the picture shows SPEECH.wav at them.\n"
      "keying_delay_ms is for the chosen rule, keying_delay_fast_ms and\n"
      "keying_delay_average_ms for each rule at the same Gain and Delay.\n"
      "--evaluate replays every recording of a corpus file (see scripts/vox-corpus)\n"
      "with both rules at the Gain and Delay --suggest proposes for its noise and\n"
      "prints onset-to-keyed times, speech covered and time keyed on noise and\n"
      "clicks, then the fast rule's goals; exit status 1 when one is not met.\n"
      "Exit status 0, or 2 for bad arguments, a file that cannot be replayed or\n"
      "noise that keys at every Gain.\n";

int fail(const QString& message)
{
    std::fprintf(stderr, "vokey-replay: %s\n", qPrintable(message));
    return exitError;
}

std::optional<int> parseNumber(std::string_view text, int maximum)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < 0
        || value > maximum)
        return std::nullopt;
    return value;
}

// A day of audio: far beyond any recording, and the milliseconds stay in range.
constexpr int MaxTxTimeout = 86400;

struct Arguments {
    ReplaySettings settings;
    QString wavPath;
    QString tracePath;
    QString plotPath;
    QString noisePath;
    QString corpusPath;
    bool suggest = false;
    bool attackGiven = false;
    bool levelsGiven = false; // --gain or --delay
};

// Returns an error message, or nothing when args is complete.
std::optional<QString> parseArguments(int argc, char* argv[], Arguments& args)
{
    bool wavGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> value;
        std::string_view name = arg;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const bool isOption = name == "--gain" || name == "--delay" || name == "--trace"
            || name == "--tx-timeout" || name == "--plot" || name == "--noise" || name == "--attack"
            || name == "--evaluate";
        if (isOption && !value) {
            if (i + 1 >= argc)
                return QStringLiteral("option %1 needs a value").arg(QString::fromUtf8(name));
            value = argv[++i];
        }
        const QString shown = QString::fromUtf8(value.value_or(""));
        if (name == "--gain" || name == "--delay") {
            const auto level = parseNumber(*value, 100);
            if (!level)
                return QStringLiteral("invalid %1 '%2': an integer from 0 to 100 is needed")
                    .arg(QString::fromUtf8(name.substr(2)), shown);
            (name == "--gain" ? args.settings.gain : args.settings.delay) = *level;
            args.levelsGiven = true;
        } else if (name == "--tx-timeout") {
            const auto seconds = parseNumber(*value, MaxTxTimeout);
            if (!seconds)
                return QStringLiteral("invalid tx-timeout '%1': whole seconds from 0 to %2 are "
                                      "needed")
                    .arg(shown)
                    .arg(MaxTxTimeout);
            args.settings.txTimeout = *seconds;
        } else if (name == "--attack") {
            if (*value != "average" && *value != "fast")
                return QStringLiteral("invalid attack '%1': average or fast is needed").arg(shown);
            args.settings.attack
                = *value == "fast" ? VoxDetector::Attack::Fast : VoxDetector::Attack::Average;
            args.attackGiven = true;
        } else if (name == "--evaluate") {
            args.corpusPath = QString::fromLocal8Bit(value->data(), qsizetype(value->size()));
        } else if (name == "--trace" || name == "--plot" || name == "--noise") {
            (name == "--trace"         ? args.tracePath
                    : name == "--plot" ? args.plotPath
                                       : args.noisePath)
                = QString::fromLocal8Bit(value->data(), qsizetype(value->size()));
        } else if (arg == "--suggest") {
            args.suggest = true;
        } else if (arg == "--") {
            if (i + 2 != argc || wavGiven)
                return QStringLiteral("exactly one WAV file is needed");
            args.wavPath = QString::fromLocal8Bit(argv[++i]);
            wavGiven = true;
        } else if (arg.starts_with("-") && arg != "-") {
            return QStringLiteral("unknown option '%1'").arg(QString::fromUtf8(arg));
        } else {
            if (wavGiven)
                return QStringLiteral("exactly one WAV file is needed");
            args.wavPath = QString::fromLocal8Bit(argv[i]);
            wavGiven = true;
        }
    }
    if (!args.corpusPath.isEmpty()) {
        if (wavGiven || args.suggest || args.levelsGiven || args.attackGiven
            || !args.tracePath.isEmpty() || !args.plotPath.isEmpty() || !args.noisePath.isEmpty())
            return QStringLiteral("--evaluate takes only --tx-timeout");
        return std::nullopt;
    }
    if (!wavGiven)
        return QStringLiteral("no WAV file given (see --help)");
    if (args.suggest && args.noisePath.isEmpty())
        return QStringLiteral("--suggest needs --noise NOISE.wav");
    if (!args.suggest && !args.noisePath.isEmpty())
        return QStringLiteral("--noise is only used with --suggest");
    if (args.suggest && (args.levelsGiven || !args.tracePath.isEmpty()))
        return QStringLiteral("--suggest takes no --gain, --delay or --trace");
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vokey-replay %s\n", VokeyVersion);
            return 0;
        }
    }
    Arguments args;
    if (const auto error = parseArguments(argc, argv, args))
        return fail(*error);

    if (!args.corpusPath.isEmpty()) {
        std::vector<CorpusRecording> corpus;
        if (const auto error = readCorpus(args.corpusPath, corpus))
            return fail(*error);
        std::vector<RecordingFigures> figures;
        if (const auto error = evaluateCorpus(corpus, args.settings, figures))
            return fail(*error);
        std::vector<Goal> goals;
        std::fputs(qPrintable(formatEvaluation(figures, goals)), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return fail(QStringLiteral("cannot write to standard output"));
        const bool met
            = std::all_of(goals.begin(), goals.end(), [](const Goal& goal) { return goal.met; });
        return met ? 0 : 1;
    }

    WavReader wav;
    if (!wav.open(args.wavPath))
        return fail(QStringLiteral("%1: %2").arg(args.wavPath, wav.errorString()));
    // The picture and the suggestion look at the whole recording at once.
    WavFile whole;
    if ((!args.plotPath.isEmpty() || args.suggest) && !whole.load(args.wavPath))
        return fail(QStringLiteral("%1: %2").arg(args.wavPath, whole.errorString()));

    // The picture's text needs the fonts of a GUI application; it never shows a window.
    std::optional<QGuiApplication> gui;
    if (!args.plotPath.isEmpty()) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Without a session (a script, cron) the platform plugin warns that there is no
        // runtime directory; nothing here needs one, so that warning is not passed on.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.contains(QLatin1String("XDG_RUNTIME_DIR")))
                    previous(type, context, message);
            });
        static int guiArgc = 1;
        gui.emplace(guiArgc, argv);
        qInstallMessageHandler(previous);
    }

    if (args.suggest) {
        WavFile noise;
        if (!noise.load(args.noisePath))
            return fail(QStringLiteral("%1: %2").arg(args.noisePath, noise.errorString()));
        if (const auto error = printSuggestion(
                noise.frames(), whole.frames(), args.wavPath, args.settings, args.plotPath))
            return fail(*error);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return fail(QStringLiteral("cannot write to standard output"));
        return 0;
    }

    QFile trace(args.tracePath);
    if (!args.tracePath.isEmpty()) {
        if (!trace.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(
                QStringLiteral("%1: cannot write: %2").arg(args.tracePath, trace.errorString()));
        trace.write(args.settings.attack == VoxDetector::Attack::Fast
                ? "tick,time_ms,tick_level,vox_level,ptt,attack_level\n"
                : "tick,time_ms,tick_level,vox_level,ptt\n");
    }

    ReplayCallbacks callbacks;
    callbacks.txChanged = [](bool on, qint64 timeMs) {
        std::printf("%s %lld\n", on ? "on" : "off", static_cast<long long>(timeMs));
    };
    callbacks.timedOut
        = [](qint64 timeMs) { std::printf("timeout %lld\n", static_cast<long long>(timeMs)); };
    if (trace.isOpen()) {
        const bool fast = args.settings.attack == VoxDetector::Attack::Fast;
        callbacks.ticked = [&trace, fast](const ReplayTick& t) {
            char row[112];
            int n = std::snprintf(row, sizeof row, "%lld,%lld,%d,%d,%d",
                static_cast<long long>(t.tick), static_cast<long long>(t.timeMs), t.tickLevel,
                t.voxLevel, t.ptt ? 1 : 0);
            if (fast)
                n += std::snprintf(row + n, sizeof row - std::size_t(n), ",%d", t.attackLevel);
            row[n++] = '\n';
            trace.write(row, n);
        };
    }
    if (gui) {
        ReplayPlot plot;
        plot.addAudio(whole.frames());
        runReplay(whole.frames(), args.settings, plot.wrap(callbacks));
        if (const auto error = savePlot(plot, args.plotPath,
                plotTitle(args.wavPath, args.settings, false), args.settings.gain))
            return fail(*error);
    } else {
        // Read as the ticks need it: memory stays the same whatever the length of the file.
        bool readFailed = false;
        const ReplayFrameSource audio = [&](std::int16_t* stereo, qint64 maxFrames) {
            const qint64 frames = wav.read(stereo, maxFrames);
            readFailed = readFailed || frames < 0;
            return frames;
        };
        runReplay(audio, args.settings, callbacks);
        if (readFailed)
            return fail(QStringLiteral("%1: %2").arg(args.wavPath, wav.errorString()));
    }

    if (trace.isOpen() && (!trace.flush() || trace.error() != QFileDevice::NoError))
        return fail(
            QStringLiteral("%1: cannot write: %2").arg(args.tracePath, trace.errorString()));
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail(QStringLiteral("cannot write to standard output"));
    return 0;
}
