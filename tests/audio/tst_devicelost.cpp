// A recording device that goes away during capture (an unplugged USB card, a sound server
// that dies): the channel must turn inactive and everything after it return quietly.
// The device is PulseAudio's, served by a daemon this test starts and then kills.
#include "AudioTestSupport.h"
#include "PulseDaemon.h"
#include "audio/AudioEngine.h"

#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <csignal>

class TestDeviceLost : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stalledDeviceIsInactiveUntilItDeliversAgain();
    void channelTurnsInactiveWhenServerDies();
    void captureStartsOnceTheServerIsBack();

private:
    bool startDaemon();

    QTemporaryDir m_dir;
    PulseDaemon m_daemon;
};

void TestDeviceLost::initTestCase()
{
    QVERIFY(startDaemon());
}

bool TestDeviceLost::startDaemon()
{
    return m_daemon.start(m_dir.path(), "lost_sink");
}

void TestDeviceLost::cleanupTestCase()
{
    ::kill(pid_t(m_daemon.processId()), SIGCONT);
    m_daemon.stop();
}

void TestDeviceLost::stalledDeviceIsInactiveUntilItDeliversAgain()
{
    // A device that stops delivering without reporting an error: the server is frozen.
    AudioEngine engine;
    AudioTest::FrameCounter counter;
    QString error;
    const quint32 channel = AudioTest::startCapture(
        engine, "pulse", &AudioTest::FrameCounter::proc, &counter, &error);
    QVERIFY2(channel != 0, qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames > 4410, 20000);
    QCOMPARE(engine.ChannelIsActive(channel), 1);

    ::kill(pid_t(m_daemon.processId()), SIGSTOP);
    QTRY_COMPARE_WITH_TIMEOUT(engine.ChannelIsActive(channel), 0, 30000);
    ::kill(pid_t(m_daemon.processId()), SIGCONT);
    const quint64 resumedFrom = counter.frames;
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames > resumedFrom, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(engine.ChannelIsActive(channel), 1, 20000);

    QVERIFY(engine.ChannelStop(channel));
    QVERIFY(engine.RecordFree());
}

void TestDeviceLost::channelTurnsInactiveWhenServerDies()
{
    AudioEngine engine;
    AudioTest::FrameCounter counter;
    QString error;
    const quint32 channel = AudioTest::startCapture(
        engine, "pulse", &AudioTest::FrameCounter::proc, &counter, &error);
    QVERIFY2(channel != 0, qPrintable(error));

    // Capturing: frames flow.
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames > 4410, 20000);
    QCOMPARE(engine.ChannelIsActive(channel), 1);
    std::array<float, 513> magnitudes;
    QCOMPARE(engine.ChannelGetData(channel, magnitudes.data(), AudioEngine::DataFft1024), 4096);

    QVERIFY(m_daemon.stop());

    QTRY_COMPARE_WITH_TIMEOUT(engine.ChannelIsActive(channel), 0, 30000);
    // The channel is still there to be read and stopped, as on any power-off.
    QCOMPARE(engine.ChannelGetData(channel, magnitudes.data(), AudioEngine::DataFft1024), 4096);
    QVERIFY(engine.ChannelStop(channel));
    QCOMPARE(engine.ChannelIsActive(channel), 0);
    QVERIFY(engine.RecordFree());
    QVERIFY(engine.Free());
}

void TestDeviceLost::captureStartsOnceTheServerIsBack()
{
    // The sound server is gone: there is nothing to record from.
    QVERIFY(m_daemon.stop());
    AudioEngine engine;
    QVERIFY(!engine.RecordInit(-1));
    QCOMPARE(engine.RecordStart(44100, 2, 0, nullptr, nullptr), 0u);

    // Back again: the next power cycle (free, then initialise) finds the device.
    QVERIFY(startDaemon());
    engine.RecordFree();
    QVERIFY2(engine.RecordInit(-1), qPrintable(engine.LastError()));
    AudioTest::FrameCounter counter;
    const quint32 channel
        = engine.RecordStart(44100, 2, 0, &AudioTest::FrameCounter::proc, &counter);
    QVERIFY2(channel != 0, qPrintable(engine.LastError()));
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames > 4410, 20000);
    QVERIFY(engine.ChannelStop(channel));
    QVERIFY(engine.RecordFree());
}

QTEST_GUILESS_MAIN(TestDeviceLost)
#include "tst_devicelost.moc"
