// Real-time capture through PortAudio from PulseAudio: speech played into the null sink
// `vox_sink` (started by scripts/run-tests) reaches the engine through the sink's monitor
// and shows in the spectrum the render tick reads.
#include "AudioTestSupport.h"
#include "audio/AudioEngine.h"
#include "common/Speech.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <array>

using namespace AudioTest;

namespace {
// The level the render tick derives from bins 5, 8, ..., 386.
int tickLevel(const std::array<float, 513>& m)
{
    int sum = 0;
    for (int i = 0; i < 128; ++i)
        sum += int(double(m[5 + 3 * i]) * 500.0) * 10;
    return int(2.0 * sum / 128.0);
}
}

class TestPulseCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void speechShowsInSpectrum();

private:
    QTemporaryDir m_dir;
    QString m_speech;
};

void TestPulseCapture::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        QSKIP("PULSE_SERVER is not set: these tests need the PulseAudio daemon with the null "
              "sink vox_sink that `make test` (scripts/run-tests) starts");
    for (const char* tool : { "espeak-ng", "sox", "paplay" })
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);

    m_speech = m_dir.filePath("speech.wav");
    QVERIFY(makeSpeechWav(m_speech, { .text = "CQ test, delta lima one" }));
}

void TestPulseCapture::speechShowsInSpectrum()
{
    AudioEngine engine;
    FrameCounter counter;
    QString error;
    const quint32 channel = startCapture(engine, "pulse", &FrameCounter::proc, &counter, &error);
    QVERIFY2(channel != 0, qPrintable(error));
    QCOMPARE(engine.ChannelIsActive(channel), 1);
    // The monitor delivers continuously, speech or not.
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames > 4410, 20000);
    QCOMPARE(engine.ChannelIsActive(channel), 1);

    QProcess player;
    player.start("paplay", { "-d", "vox_sink", m_speech });
    QVERIFY(player.waitForStarted());

    // Poll as the render tick does until the speech shows.
    std::array<float, 513> magnitudes {};
    int loudest = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            if (engine.ChannelIsActive(channel) != 1
                || engine.ChannelGetData(channel, magnitudes.data(), AudioEngine::DataFft1024)
                    != 4096)
                return false;
            loudest = std::max(loudest, tickLevel(magnitudes));
            return loudest >= 10;
        }(),
        20000);
    const float peak = *std::max_element(magnitudes.begin() + 5, magnitudes.begin() + 387);
    QVERIFY(peak > 0.001f);

    QVERIFY(player.waitForFinished(30000));
    QCOMPARE(player.exitCode(), 0);
    QCOMPARE(engine.ChannelIsActive(channel), 1);
    QVERIFY(engine.ChannelStop(channel));
    QVERIFY(engine.RecordFree());
}

QTEST_GUILESS_MAIN(TestPulseCapture)
#include "tst_pulsecapture.moc"
