// Runs the built vokey-replay on speech made at test time with espeak-ng and on malformed files.

#include "common/ProgramProcess.h"
#include "common/Speech.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <algorithm>

namespace {

constexpr int tickMs = 33;
constexpr int historyTicks = 16;
constexpr int windowMs = 24; // 1024 frames at 44100 Hz, rounded up
// Quieter samples cannot move a bin to 1/500 (the smallest step of the level), whatever the
// waveform: 2/1024 * 1024 * 0.5 * 63/32768 < 1/500.
constexpr int audibleAmplitude = 64;

using Run = ProgramProcess::Finished;

Run runReplay(const QStringList& arguments)
{
    return ProgramProcess::runToEnd(QStringLiteral(VOKEY_REPLAY_BINARY), arguments, 60000);
}

struct TxChange {
    bool on;
    int ms;
};

// Parses "on <ms>" / "off <ms>" lines; fails the test on anything else.
QList<TxChange> parseChanges(const QByteArray& out, bool* ok)
{
    QList<TxChange> changes;
    *ok = true;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split(' ');
        bool number = false;
        const int ms = parts.value(1).toInt(&number);
        if (parts.size() != 2 || !number || (parts[0] != "on" && parts[0] != "off"))
            *ok = false;
        changes.append({ parts[0] == "on", ms });
    }
    return changes;
}

QByteArray riffChunk(const char* id, const QByteArray& body)
{
    QByteArray chunk(id, 4);
    char size[4];
    qToLittleEndian<quint32>(quint32(body.size()), size);
    chunk.append(size, 4).append(body);
    if (body.size() % 2)
        chunk.append('\0');
    return chunk;
}

QByteArray riffFile(const QByteArray& chunks)
{
    QByteArray file("RIFF");
    char size[4];
    qToLittleEndian<quint32>(quint32(4 + chunks.size()), size);
    return file.append(size, 4).append("WAVE").append(chunks);
}

QByteArray le16(quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    return QByteArray(b, 2);
}

QByteArray le32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

// WAVE_FORMAT_EXTENSIBLE, stereo 44100 Hz, 16 bits of the given subtype (1 PCM, 3 float).
QByteArray extensibleFmt(quint16 subtype = 1, quint16 channels = 2)
{
    QByteArray fmt = le16(0xFFFE) + le16(channels) + le32(44100) + le32(44100 * 2 * channels)
        + le16(2 * channels) + le16(16);
    fmt += le16(22) + le16(16) + le32(3);
    fmt += le16(subtype) + QByteArray::fromHex("000000001000800000aa00389b71");
    return fmt;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestReplay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void keysDuringSpeech_data();
    void keysDuringSpeech();
    void monoAndOtherLayoutsReplayTheSame_data();
    void monoAndOtherLayoutsReplayTheSame();
    void silenceKeyingStillEnds_data();
    void silenceKeyingStillEnds();
    void txTimeout_data();
    void txTimeout();
    void rejectsBadInput_data();
    void rejectsBadInput();
    void answersVersion();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    int m_speechStartMs = 0;
    int m_speechEndMs = 0;
    int m_fileEndMs = 0;
    QByteArray m_stereoSamples; // interleaved 16-bit little-endian
};

void TestReplay::initTestCase()
{
    SKIP_WITHOUT_SPEECH_TOOLS();
    const QString sox = QStringLiteral("sox");
    QVERIFY(m_dir.isValid());
    // Half a second of silence before, one second after; no dither, so the stereo file is
    // the mono file's samples duplicated. espeak-ng's own file is espeak-mono.wav.
    QVERIFY(makeSpeechWav(path("mono.wav"), { .channels = 1, .before = 0.5, .after = 1 }));
    QVERIFY(runTool(sox,
        { QStringLiteral("-D"), QStringLiteral("-V1"), path("mono.wav"), QStringLiteral("-c"),
            QStringLiteral("2"), path("stereo.wav") }));
    QVERIFY(runTool(sox,
        { QStringLiteral("-D"), QStringLiteral("-V1"), path("mono.wav"), QStringLiteral("-t"),
            QStringLiteral("raw"), path("mono.raw") }));
    QVERIFY(runTool(sox,
        { QStringLiteral("-D"), QStringLiteral("-V1"), path("stereo.wav"), QStringLiteral("-t"),
            QStringLiteral("raw"), path("stereo.raw") }));
    QVERIFY(runTool(sox,
        { QStringLiteral("-V1"), path("mono.wav"), QStringLiteral("-b"), QStringLiteral("8"),
            path("8bit.wav") }));
    QVERIFY(runTool(sox,
        { QStringLiteral("-V1"), path("mono.wav"), QStringLiteral("-e"),
            QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("32"),
            path("float.wav") }));

    QFile raw(path("mono.raw"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray mono = raw.readAll();
    QFile stereoRaw(path("stereo.raw"));
    QVERIFY(stereoRaw.open(QIODevice::ReadOnly));
    m_stereoSamples = stereoRaw.readAll();
    QCOMPARE(m_stereoSamples.size(), 2 * mono.size());

    int first = -1, last = -1;
    for (int i = 0; i < mono.size() / 2; ++i) {
        if (std::abs(qFromLittleEndian<qint16>(mono.constData() + 2 * i)) >= audibleAmplitude) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    QVERIFY(first > 0 && last > first);
    m_speechStartMs = first * 1000 / 44100;
    m_speechEndMs = (last + 1) * 1000 / 44100 + 1;
    m_fileEndMs = int(mono.size() / 2 * 1000 / 44100);
    QVERIFY2(m_speechEndMs - m_speechStartMs > 1000, "espeak-ng made less than a second of speech");
}

void TestReplay::keysDuringSpeech_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("delay");
    // Whether the threshold is low enough that the whole phrase keeps transmit on.
    QTest::addColumn<bool>("wholePhrase");

    QTest::newRow("defaults") << QStringList {} << 1 << 1 << true;
    QTest::newRow("delay 20") << QStringList { "--delay", "20" } << 1 << 20 << true;
    QTest::newRow("delay 0") << QStringList { "--delay=0" } << 1 << 0 << true;
    QTest::newRow("gain 5, delay 10")
        << QStringList { "--gain", "5", "--delay", "10" } << 5 << 10 << true;
    QTest::newRow("gain 15, delay 0, several bursts")
        << QStringList { "--gain", "15", "--delay", "0" } << 15 << 0 << false;
    QTest::newRow("gain 18, delay 2")
        << QStringList { "--gain=18", "--delay", "2" } << 18 << 2 << false;
}

void TestReplay::keysDuringSpeech()
{
    QFETCH(QStringList, options);
    QFETCH(int, gain);
    QFETCH(int, delay);
    QFETCH(bool, wholePhrase);

    const QString trace = path("trace.csv");
    const Run run = runReplay(options + QStringList { "--trace", trace, path("stereo.wav") });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    bool ok = false;
    const QList<TxChange> changes = parseChanges(run.out, &ok);
    QVERIFY2(ok, run.out.constData());
    QVERIFY(changes.size() >= 2);
    if (!wholePhrase)
        QVERIFY2(changes.size() >= 4, "expected transmit to drop between words");

    // on, off, on, off ... in time order, ending released.
    for (int i = 0; i < changes.size(); ++i) {
        QCOMPARE(changes[i].on, i % 2 == 0);
        if (i > 0)
            QVERIFY(changes[i].ms >= changes[i - 1].ms);
    }
    QVERIFY(!changes.last().on);

    // Nothing keys before there is sound, and a release follows the last loud tick by at
    // most the audio window, the 16-tick average dying away, the hang time and one tick.
    const int hangBound = windowMs + historyTicks * tickMs + delay * 50 + tickMs;
    QVERIFY(changes.first().ms >= m_speechStartMs);
    QVERIFY(changes.first().ms <= m_speechEndMs);
    QVERIFY2(changes.last().ms <= m_speechEndMs + hangBound,
        qPrintable(
            QStringLiteral("off %1, speech ends %2").arg(changes.last().ms).arg(m_speechEndMs)));
    if (wholePhrase) {
        QCOMPARE(changes.size(), 2);
        QVERIFY(changes.last().ms > m_speechEndMs);
    }

    // The trace: header, one row per tick in order, levels and ptt consistent with the lines.
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    QCOMPARE(rows.first(), QByteArray("tick,time_ms,tick_level,vox_level,ptt"));
    QCOMPARE(rows.last(), QByteArray());
    const int ticks = int(rows.size()) - 2;
    QVERIFY(ticks * tickMs >= m_speechEndMs);
    QList<int> history(historyTicks, 0);
    int next = 0; // index of the next change to apply
    bool ptt = false;
    for (int k = 1; k <= ticks; ++k) {
        const QList<QByteArray> cells = rows[k].split(',');
        QCOMPARE(cells.size(), 5);
        QCOMPARE(cells[0].toInt(), k);
        QCOMPARE(cells[1].toInt(), k * tickMs);
        history.removeFirst();
        history.append(cells[2].toInt());
        int total = 0;
        for (int level : history)
            total += level;
        const int vox = cells[3].toInt();
        QCOMPARE(vox, total / historyTicks * 3);
        while (next < changes.size() && changes[next].ms <= k * tickMs)
            ptt = changes[next++].on;
        QCOMPARE(cells[4].toInt(), ptt ? 1 : 0);
        if (vox >= gain)
            QCOMPARE(cells[4].toInt(), 1);
    }
    QCOMPARE(next, changes.size());
    QVERIFY(!ptt);
}

void TestReplay::monoAndOtherLayoutsReplayTheSame_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("mono") << QStringLiteral("mono.wav");
    QTest::newRow("extensible, odd LIST and junk chunks") << QStringLiteral("chunks.wav");
}

void TestReplay::monoAndOtherLayoutsReplayTheSame()
{
    QFETCH(QString, file);
    // The same samples with WAVE_FORMAT_EXTENSIBLE, an odd-sized LIST before fmt, an odd
    // chunk between fmt and data and a trailing chunk, all padded as they must be.
    const QByteArray chunks = riffChunk("LIST", QByteArray("INFOISFT\x05\0\0\0vokey", 17))
        + riffChunk("fmt ", extensibleFmt()) + riffChunk("junk", "abc")
        + riffChunk("data", m_stereoSamples) + riffChunk("LIST", "x");
    QVERIFY(writeFile(path("chunks.wav"), riffFile(chunks)));

    const QStringList options { "--gain", "15", "--delay", "3", "--trace" };
    const Run reference = runReplay(options + QStringList { path("a.csv"), path("stereo.wav") });
    const Run other = runReplay(options + QStringList { path("b.csv"), path(file) });
    QCOMPARE(reference.exitCode, 0);
    QCOMPARE(other.exitCode, 0);
    QVERIFY(reference.out.count('\n') >= 4);
    QCOMPARE(other.out, reference.out);
    QFile a(path("a.csv")), b(path("b.csv"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), a.readAll());
}

void TestReplay::silenceKeyingStillEnds_data()
{
    QTest::addColumn<int>("delay");
    QTest::newRow("delay 0") << 0;
    QTest::newRow("delay 1") << 1;
    QTest::newRow("delay 100") << 100;
}

void TestReplay::silenceKeyingStillEnds()
{
    QFETCH(int, delay);
    // Gain 0 keys on silence at every tick; the replay must still end, released.
    const Run run = runReplay({ "--gain", "0", "--delay", QString::number(delay), "--trace",
        path("silence.csv"), path("stereo.wav") });
    QCOMPARE(run.exitCode, 0);
    bool ok = false;
    const QList<TxChange> changes = parseChanges(run.out, &ok);
    QVERIFY(ok);
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[0].on, true);
    QCOMPARE(changes[0].ms, tickMs);
    QFile file(path("silence.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().trimmed().split('\n');
    const int lastTickMs = rows.last().split(',').value(1).toInt();
    // It runs until the audio and the 16-tick history are silent, then goes off after Delay.
    QVERIFY(lastTickMs >= m_speechEndMs + historyTicks * tickMs);
    QVERIFY(lastTickMs >= m_fileEndMs + windowMs - 1);
    QVERIFY(lastTickMs <= m_fileEndMs + windowMs + (historyTicks + 1) * tickMs);
    QCOMPARE(changes[1].on, false);
    QCOMPARE(changes[1].ms, lastTickMs + delay * 50);
}

void TestReplay::txTimeout_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("out"); // empty: checked by its rule
    // Gain 0 keys from the first tick (33 ms) and never falls below: released for good.
    QTest::newRow("1 s, Gain 0") << QStringList { "--gain", "0", "--delay", "0", "--tx-timeout",
        "1" } << QByteArray("on 33\ntimeout 1056\noff 1056\n");
    QTest::newRow("2 s, Gain 0, Delay 100") << QStringList { "--gain=0", "--delay=100",
        "--tx-timeout=2" } << QByteArray("on 33\ntimeout 2046\noff 2046\n");
    // Speech: each over keys again after a pause, and none lasts past the time-out.
    QTest::newRow("1 s, speech") << QStringList { "--gain", "5", "--delay", "20", "--tx-timeout",
        "1" } << QByteArray();
}

void TestReplay::txTimeout()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, out);
    const Run run = runReplay(arguments << path("stereo.wav"));
    QCOMPARE(run.exitCode, 0);
    if (!out.isEmpty()) {
        QCOMPARE(run.out, out);
        return;
    }
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    int timeouts = 0;
    int onAt = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> parts = lines[i].split(' ');
        QCOMPARE(parts.size(), 2);
        const int ms = parts[1].toInt();
        if (parts[0] == "on")
            onAt = ms;
        else if (parts[0] == "timeout") {
            ++timeouts;
            QCOMPARE(lines.value(i + 1), "off " + parts[1]);
        } else {
            QCOMPARE(parts[0], QByteArray("off"));
            QVERIFY2(ms - onAt <= 1000 + tickMs, lines[i].constData());
        }
    }
    QVERIFY(timeouts >= 1);
}

void TestReplay::answersVersion()
{
    // The version is project(VERSION), as vokey and vokey-station give it.
    const Run run = runReplay({ "--version" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("vokey-replay 2.0\n"));
    QCOMPARE(run.err, QByteArray());
}

void TestReplay::rejectsBadInput_data()
{
    QTest::addColumn<QString>("file"); // named in the message when not empty
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("reason"); // part of the message

    QTest::newRow("22050 Hz") << "espeak-mono.wav" << QStringList {} << "22050 Hz";
    QTest::newRow("8-bit") << "8bit.wav" << QStringList {} << "8-bit";
    QTest::newRow("float") << "float.wav" << QStringList {} << "float";
    QTest::newRow("truncated") << "truncated.wav" << QStringList {} << "truncated";
    QTest::newRow("absurd chunk size") << "absurd.wav" << QStringList {} << "truncated";
    QTest::newRow("header only") << "header.wav" << QStringList {} << "truncated";
    QTest::newRow("extensible float") << "xfloat.wav" << QStringList {} << "sample format";
    QTest::newRow("six channels") << "six.wav" << QStringList {} << "channel count 6";
    QTest::newRow("data before fmt") << "order.wav" << QStringList {} << "before fmt";
    QTest::newRow("no data chunk") << "nodata.wav" << QStringList {} << "no data chunk";
    QTest::newRow("text file") << "text.wav" << QStringList {} << "not a WAV file";
    QTest::newRow("missing file") << "missing.wav" << QStringList {} << "No such file";
    QTest::newRow("directory") << "." << QStringList {} << "directory";
    QTest::newRow("gain 101") << "" << QStringList { "--gain", "101" } << "'101'";
    QTest::newRow("gain -1") << "" << QStringList { "--gain=-1" } << "'-1'";
    QTest::newRow("gain not a number") << "" << QStringList { "--gain", "5x" } << "'5x'";
    QTest::newRow("delay empty") << "" << QStringList { "--delay=" } << "delay";
    QTest::newRow("unknown option") << "" << QStringList { "--fast" } << "--fast";
    QTest::newRow("tx-timeout -1") << "" << QStringList { "--tx-timeout", "-1" } << "'-1'";
    QTest::newRow("tx-timeout 1.5") << "" << QStringList { "--tx-timeout=1.5" } << "'1.5'";
    QTest::newRow("two files") << "" << QStringList { "stereo.wav" } << "one WAV file";
    QTest::newRow("suggest without noise") << "" << QStringList { "--suggest" } << "--noise";
    QTest::newRow("unknown attack") << "" << QStringList { "--attack", "slow" } << "'slow'";
    QTest::newRow("noise without suggest")
        << "" << QStringList { "--noise", "stereo.wav" } << "only used with --suggest";
}

void TestReplay::rejectsBadInput()
{
    QFETCH(QString, file);
    QFETCH(QStringList, options);
    QFETCH(QString, reason);

    QFile::remove(path("bad.csv"));
    const QByteArray stereo = [this] {
        QFile f(path("stereo.wav"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QVERIFY(stereo.size() > 100000);
    QVERIFY(writeFile(path("truncated.wav"), stereo.left(stereo.size() / 2)));
    QVERIFY(writeFile(path("header.wav"), stereo.left(40)));
    QVERIFY(writeFile(path("absurd.wav"),
        riffFile(riffChunk("fmt ", extensibleFmt()) + QByteArray("LIST\xf0\xff\xff\xff", 8)
            + riffChunk("data", QByteArray(4096, '\0')))));
    const QByteArray someAudio = riffChunk("data", QByteArray(4096, '\0'));
    QVERIFY(
        writeFile(path("xfloat.wav"), riffFile(riffChunk("fmt ", extensibleFmt(3)) + someAudio)));
    QVERIFY(
        writeFile(path("six.wav"), riffFile(riffChunk("fmt ", extensibleFmt(1, 6)) + someAudio)));
    QVERIFY(writeFile(path("order.wav"), riffFile(someAudio + riffChunk("fmt ", extensibleFmt()))));
    QVERIFY(writeFile(path("nodata.wav"), riffFile(riffChunk("fmt ", extensibleFmt()))));
    QVERIFY(writeFile(path("text.wav"), "Not audio at all, just a line of text.\n"));

    for (QString& option : options) {
        if (option.endsWith(".wav"))
            option = path(option);
    }
    const QString target = file.isEmpty() ? path("stereo.wav") : path(file);
    const Run run = runReplay(options + QStringList { "--trace", path("bad.csv"), target });
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(run.err.endsWith('\n'));
    const QString message = QString::fromLocal8Bit(run.err);
    QVERIFY2(message.contains(reason), qPrintable(message));
    if (!file.isEmpty())
        QVERIFY2(message.contains(target), qPrintable(message));
    QVERIFY(!QFile::exists(path("bad.csv")));
}

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"
