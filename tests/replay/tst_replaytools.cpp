// vokey-replay's picture and Gain/Delay suggestion, run as a user runs them, on generated
// sounds and on espeak-ng speech.

#include "common/ProgramProcess.h"
#include "common/Speech.h"
#include "common/WavWriter.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace {

using Run = ProgramProcess::Finished;

Run run(const QString& program, const QStringList& arguments)
{
    return ProgramProcess::runToEnd(program, arguments, 120000);
}

Run replay(const QStringList& arguments)
{
    return run(QStringLiteral(VOKEY_REPLAY_BINARY), arguments);
}

// Stereo 16-bit 44100 Hz PCM; samples is one channel, duplicated.
bool writeWav(const QString& path, const QList<qint16>& samples)
{
    std::vector<qint16> stereo;
    stereo.reserve(std::size_t(samples.size()) * 2);
    for (qint16 s : samples)
        stereo.insert(stereo.end(), { s, s });
    return ::writeWav(path, stereo);
}

// Uniform noise of the given peak from a fixed generator, so every run sees the same samples.
QList<qint16> noise(int frames, int peak, quint32 seed)
{
    QList<qint16> samples(frames);
    for (qint16& s : samples) {
        seed = seed * 1664525u + 1013904223u;
        s = qint16(int(seed >> 16) % (2 * peak + 1) - peak);
    }
    return samples;
}

QMap<QByteArray, QByteArray> fields(const QByteArray& out)
{
    QMap<QByteArray, QByteArray> map;
    for (const QByteArray& line : out.trimmed().split('\n'))
        map.insert(line.split(' ').value(0), line.split(' ').value(1));
    return map;
}

struct Pixel {
    int x;
    int y;
    QRgb rgb;
};

constexpr QRgb white = 0xffffffff;
constexpr QRgb blue = 0xff3060c0; // audio peak
constexpr QRgb grey = 0xffc8c8c8; // tick level
constexpr QRgb green = 0xff008000; // VOX level
constexpr QRgb red = 0xffe00000; // Gain
constexpr QRgb orange = 0xffff9900; // transmit

} // namespace

class TestReplayTools : public QObject {
    Q_OBJECT

private slots:
    void plotPixels_data();
    void plotPixels();
    void suggestion();
    void failures_data();
    void failures();
    void attackRule_data();
    void attackRule();
    void evaluation();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestReplayTools::plotPixels_data()
{
    QTest::addColumn<QList<qint16>>("samples");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QList<Pixel>>("pixels");

    // 4 s: a half-scale sine on the detector's first bin from 1.0 s to 2.5 s. The axis is
    // 4 s over columns 80..1579, so time t ms is column 80 + t * 3 / 8.
    QList<qint16> tone(4 * 44100, 0);
    for (int i = 44100; i < 110250; ++i)
        tone[i] = qint16(std::lround(16384 * std::sin(2 * M_PI * 5 * i / 1024.0)));
    QTest::newRow("tone burst, Gain 30, Delay 10")
        << tone << QStringList { "--gain", "30", "--delay", "10" }
        << QByteArray("on 1287\noff 3239\n")
        << QList<Pixel> {
               { 267, 400, red }, // 0.5 s: the Gain line, row 490 - 30 * 3
               { 267, 399, white },
               { 267, 110, white }, // silence: no envelope
               { 736, 110, blue }, // 1.75 s: the envelope's middle row
               { 736, 80, blue }, // half scale reaches 30 of the 59 rows above the middle
               { 736, 79, white },
               { 830, 319, green }, // 2.0 s: VOX level 57 on row 490 - 57 * 3
               { 830, 433, grey }, // tick level 19 fills rows 433 .. 489
               { 830, 489, grey },
               { 830, 432, white },
               { 562, 525, orange }, // transmit from 1287 ms: column 80 + 1287 * 3 / 8
               { 561, 525, white },
               { 1294, 525, orange }, // to 3239 ms: the last column 80 + 3238 * 3 / 8
               { 1295, 525, white },
           };

    // 120 s of silence with a 10 ms click at 60.02 s: the axis is 120 s, 80 ms per column,
    // and the click, less than one column wide, still shows in column 80 + 750.
    QList<qint16> click(120 * 44100, 0);
    for (int i = 2646882; i < 2646882 + 441; ++i)
        click[i] = i % 2 ? 20000 : -20000;
    QTest::newRow("click in a long file")
        << click << QStringList { "--gain", "50" } << QByteArray()
        << QList<Pixel> {
               { 830, 110, blue },
               { 830, 74, blue }, // 20000 of 32768 reaches 36 of the 59 rows
               { 830, 73, white },
               { 829, 110, white },
               { 831, 110, white },
               { 830, 340, red },
           };
}

void TestReplayTools::plotPixels()
{
    QFETCH(QList<qint16>, samples);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, out);
    QFETCH(QList<Pixel>, pixels);

    QVERIFY(writeWav(path("in.wav"), samples));
    QFile::remove(path("plot.png"));
    const Run r = replay(options << "--plot" << path("plot.png") << path("in.wav"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.out, out);
    const QImage image(path("plot.png"));
    QCOMPARE(image.size(), QSize(1600, 600));
    for (const Pixel& p : pixels) {
        QVERIFY2(image.pixel(p.x, p.y) == p.rgb,
            qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                           .arg(p.x)
                           .arg(p.y)
                           .arg(image.pixel(p.x, p.y), 8, 16)
                           .arg(p.rgb, 8, 16)));
    }
}

void TestReplayTools::suggestion()
{
    SKIP_WITHOUT_SPEECH_TOOLS();
    // Mono 44100 Hz raw, one second of silence before and after the phrase.
    QVERIFY(makeSpeechWav(path("speech.raw"),
        { .text = "Testing the voice operated switch. One, two, three, four, five.",
            .channels = 1,
            .before = 1,
            .after = 1,
            .raw = true }));
    QFile raw(path("speech.raw"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVERIFY(bytes.size() > 4 * 44100 * 2);

    // The station's hiss: uniform noise of peak 2000 (about -29 dBFS RMS), alone for 10 s and
    // under the speech.
    QList<qint16> speech = noise(int(bytes.size() / 2), 2000, 7);
    for (int i = 0; i < speech.size(); ++i)
        speech[i] = qint16(qBound(
            -32768, speech[i] + qFromLittleEndian<qint16>(bytes.constData() + 2 * i), 32767));
    QVERIFY(writeWav(path("speech.wav"), speech));
    QVERIFY(writeWav(path("noise.wav"), noise(10 * 44100, 2000, 1)));

    const Run r = replay({ "--suggest", "--noise", path("noise.wav"), "--plot",
        path("suggested.png"), path("speech.wav") });
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    qInfo("%s", r.out.constData());
    const QList<QByteArray> lines = r.out.split('\n');
    QVERIFY(lines.value(0).startsWith("gain ") && lines.value(1).startsWith("delay "));
    const auto f = fields(r.out);
    const int gain = f.value("gain").toInt();
    const int delay = f.value("delay").toInt();
    // The noise's highest VOX level plus one, plus one VOX step.
    QCOMPARE(f.value("noise_max_vox_level"), QByteArray("6"));
    QCOMPARE(gain, 10);
    QVERIFY(delay >= 1);
    QVERIFY(f.value("pauses").toInt() >= 1);
    QVERIFY(f.value("speech_covered_percent").toDouble() >= 90);
    QVERIFY(f.value("pauses_bridged_percent").toDouble() >= 95);
    QVERIFY(f.value("keying_delay_ms").toInt() <= 200);

    const auto changes
        = [](const QStringList& arguments) { return replay(arguments).out.count("on "); };
    const QString gainText = QString::number(gain);
    // The noise never keys at the suggested Gain, nor one below it; the Gain of its highest
    // level does.
    QCOMPARE(changes({ "--gain", gainText, path("noise.wav") }), 0);
    QCOMPARE(changes({ "--gain", QString::number(gain - 3), path("noise.wav") }), 0);
    QVERIFY(changes({ "--gain", QString::number(gain - 4), path("noise.wav") }) > 0);
    // The speech keys; a Delay one step shorter drops in a pause.
    const int overs
        = changes({ "--gain", gainText, "--delay", QString::number(delay), path("speech.wav") });
    QVERIFY(overs >= 1);
    QVERIFY(
        changes({ "--gain", gainText, "--delay", QString::number(delay - 1), path("speech.wav") })
        > overs);

    // The picture shows the suggested Gain.
    const QImage image(path("suggested.png"));
    QCOMPARE(image.size(), QSize(1600, 600));
    QCOMPARE(image.pixel(81, 490 - 3 * gain), red);
}

void TestReplayTools::failures_data()
{
    QTest::addColumn<QStringList>("arguments"); // loud.wav: 2 s of a full-scale sine
    QTest::addColumn<QString>("message");
    // A sine of peak 32767 on the first counted bin: tick level 38 (39 would need 32768), VOX
    // level 114, and no Gain stays above it.
    QTest::newRow("noise louder than any Gain") << QStringList { "--suggest", "--noise", "loud.wav",
        "loud.wav" } << "the noise recording reaches VOX level 114: it keys at every Gain";
    QTest::newRow("picture not writable") << QStringList { "--gain", "100", "--plot",
        "no/such/dir/p.png", "loud.wav" } << "no/such/dir/p.png: cannot write";
}

void TestReplayTools::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QList<qint16> loud(2 * 44100);
    for (int i = 0; i < loud.size(); ++i)
        loud[i] = qint16(std::lround(32767 * std::sin(2 * M_PI * 5 * i / 1024.0)));
    QVERIFY(writeWav(path("loud.wav"), loud));
    for (QString& argument : arguments) {
        if (argument.endsWith(".wav") || argument.endsWith(".png"))
            argument = path(argument);
    }
    const Run r = replay(arguments);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
}

void TestReplayTools::attackRule_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<int>("bin"); // of the tone
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("lastRow"); // of the trace at the first tick with transmit on
    // The tone burst of plotPixels (tick level 19 from 1023 ms, VOX level after n ticks of
    // it trunc(19 * n / 16) * 3), Gain 30, Delay 10. The average reaches 30 at the 9th tone
    // tick (1287 ms). Both release Delay 10 after the average fell below the Gain.
    QTest::newRow("average") << "average" << 5 << QByteArray("on 1287\noff 3239\n")
                             << QByteArray("39,1287,19,30,1");
    // On bin 20 (861 Hz, also a counted bin: the same tick levels) the fast rule keys at the
    // first tone tick, 1023 ms: bins 19, 20, 21 at 0.125, 0.25, 0.125 over a silent floor,
    // voice rise trunc(156.25 * 0.5) = 78, nothing in the upper bins, 3 x 78 = 234.
    QTest::newRow("fast") << "fast" << 20 << QByteArray("on 1023\noff 3239\n")
                          << QByteArray("31,1023,19,3,1,234");
    // On bin 5 (215 Hz) the tone is below the voice band: no attack level, keyed by the
    // average as without the fast rule.
    QTest::newRow("fast, below the voice band")
        << "fast" << 5 << QByteArray("on 1287\noff 3239\n") << QByteArray("39,1287,19,30,1,0");
}

void TestReplayTools::attackRule()
{
    QFETCH(QString, attack);
    QFETCH(int, bin);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, lastRow);
    QList<qint16> tone(4 * 44100, 0);
    for (int i = 44100; i < 110250; ++i)
        tone[i] = qint16(std::lround(16384 * std::sin(2 * M_PI * bin * i / 1024.0)));
    QVERIFY(writeWav(path("tone.wav"), tone));
    const Run r = replay({ "--gain", "30", "--delay", "10", "--attack", attack, "--trace",
        path("attack.csv"), path("tone.wav") });
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.out, out);
    QFile trace(path("attack.csv"));
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = trace.readAll().split('\n');
    const auto keyed = std::find_if(rows.begin() + 1, rows.end(),
        [](const QByteArray& row) { return row.split(',').value(4) == "1"; });
    QVERIFY(keyed != rows.end());
    QCOMPARE(*keyed, lastRow);
}

void TestReplayTools::evaluation()
{
    const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (espeak.isEmpty() || sox.isEmpty() || python.isEmpty())
        QSKIP("espeak-ng, sox and python3 are needed to make the corpus");
    // The small corpus: three phrases (every eighth) over the loud hiss, that hiss alone, clicks.
    const Run made = run(python,
        { QStringLiteral(VOKEY_SOURCE_DIR "/scripts/vox-corpus"), "--small", path("corpus") });
    QCOMPARE(made.exitCode, 0);
    const Run r = replay({ "--evaluate", path("corpus/corpus.txt") });
    qInfo("%s", r.out.constData());
    QCOMPARE(r.err, QByteArray());
    // Exit status 0: every goal met.
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = QString::fromUtf8(r.out.trimmed()).split(u'\n');
    QCOMPARE(lines.size(), 1 + 2 * 3 + 1 + 3 + 1 + 4);
    QCOMPARE(lines.count("") + lines.filter("goal met: fast").size(), 2 + 4);
    for (const char* row : { "speech-hiss-high.wav", "noise-hiss-high.wav", "clicks-silence.wav" })
        QCOMPARE(lines.filter(row).size(), 2);
}

QTEST_GUILESS_MAIN(TestReplayTools)
#include "tst_replaytools.moc"
