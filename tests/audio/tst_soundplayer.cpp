// Sound playback through PortAudio's default output, which this test's own ALSA configuration
// points at a file-writing PCM: a played WAV file must arrive there frame for frame, whatever
// its rate; a file that cannot be played writes nothing and raises nothing.
#include "AudioTestSupport.h"
#include "audio/SoundPlayer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace AudioTest;

class TestSoundPlayer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void playsTheFileFrameForFrame_data();
    void playsTheFileFrameForFrame();
    void unplayableFilePlaysNothing_data();
    void unplayableFilePlaysNothing();
    void stopEndsTheSound();

private:
    QByteArray output() const;

    QTemporaryDir m_dir;
    QString m_out;
};

namespace {
// The output PCM's rate: files at this rate pass the plug unconverted.
constexpr int OutRate = 22050;
}

void TestSoundPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_out = m_dir.filePath("out.raw");
    const QString conf = m_dir.filePath("asound.conf");
    QFile file(conf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // The system configuration first: PortAudio's device scan needs its definitions.
    file.write(QStringLiteral(R"(</usr/share/alsa/alsa.conf>
pcm.vokey_test_out {
    type file
    slave.pcm "null"
    file "%1"
    format "raw"
}
pcm.!default {
    type plug
    slave {
        pcm "vokey_test_out"
        format S16_LE
        rate %2
        channels 2
    }
}
)")
                   .arg(m_out)
                   .arg(OutRate)
                   .toUtf8());
    file.close();
    // ALSA reads its configuration once per process, at the first device access.
    qputenv("ALSA_CONFIG_PATH", conf.toLocal8Bit());
    // With a PulseAudio server in reach, the system configuration's hook would make it the
    // default output in place of the file; point the hook at no server.
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + m_dir.filePath("no-server")));
}

void TestSoundPlayer::init()
{
    QFile::remove(m_out);
}

QByteArray TestSoundPlayer::output() const
{
    QFile file(m_out);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestSoundPlayer::playsTheFileFrameForFrame_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<QByteArray>("first"); // the first frames as they reach the output
    QTest::newRow("stereo") << 2 << QByteArray::fromHex("0100feff0200fdff");
    QTest::newRow("mono, on both channels") << 1 << QByteArray::fromHex("0100010002000200");
}

void TestSoundPlayer::playsTheFileFrameForFrame()
{
    QFETCH(int, channels);
    QFETCH(QByteArray, first);
    // Half a second of a ramp that no resampling or padding would leave as it is.
    Frames samples;
    for (int i = 0; i < OutRate / 2 * channels; ++i)
        samples.push_back(qint16(i % 2 && channels == 2 ? -(i / 2 + 2) : i / channels + 1));
    const QString wav = m_dir.filePath("ramp.wav");
    QVERIFY(writeWav(wav, samples, OutRate, channels));
    Frames stereo;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        stereo.push_back(samples[i]);
        if (channels == 1)
            stereo.push_back(samples[i]);
    }
    const QByteArray expected(
        reinterpret_cast<const char*>(stereo.data()), qsizetype(stereo.size() * sizeof(qint16)));
    QVERIFY(expected.startsWith(first));

    SoundPlayer player;
    QVERIFY(player.play(wav));
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 20000);
    player.stop();
    const QByteArray played = output();
    // The file's frames in one piece, with nothing but silence before them (the output's
    // priming) and after them (the rest of the last buffer).
    const qsizetype at = played.indexOf(expected);
    QVERIFY2(at >= 0, qPrintable(QString::number(played.size())));
    QCOMPARE(at % 4, 0);
    QCOMPARE(played.count('\0'), played.size() - expected.size() + expected.count('\0'));
}

void TestSoundPlayer::unplayableFilePlaysNothing_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not a WAV file") << QByteArray("just some text, not RIFF at all");
    // 8-bit PCM, mono, 22050 Hz, 4 frames.
    QTest::newRow("8-bit") << QByteArray::fromHex(
        "524946462800000057415645666d7420100000000100010022560000225600"
        "00010008006461746104000000"
        "80808080");
}

void TestSoundPlayer::unplayableFilePlaysNothing()
{
    QFETCH(QByteArray, content);
    const QString path = m_dir.filePath("bad.wav");
    QFile::remove(path);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    SoundPlayer player;
    QVERIFY(!player.play(path));
    QVERIFY(!player.isPlaying());
    QCOMPARE(output(), QByteArray());
}

void TestSoundPlayer::stopEndsTheSound()
{
    // A long sound stopped at once leaves only the part already written.
    const QString wav = m_dir.filePath("long.wav");
    QVERIFY(writeWav(wav, constant(OutRate * 60, 1000, 1000), OutRate, 2));
    SoundPlayer player;
    QVERIFY(player.play(wav));
    player.stop();
    QVERIFY(!player.isPlaying());
    QVERIFY(output().size() < OutRate * 60 * 4);
}

QTEST_MAIN(TestSoundPlayer)
#include "tst_soundplayer.moc"
