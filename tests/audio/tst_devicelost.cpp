// A recording device that goes away during capture (an unplugged USB card, a sound server
// that dies): the channel must turn inactive and everything after it return quietly.
// The device is PulseAudio's, served by a daemon this test starts and then kills.
#include "AudioTestSupport.h"
#include "audio/AudioEngine.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
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

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

void TestDeviceLost::initTestCase()
{
    const QString pulseaudio = QStandardPaths::findExecutable("pulseaudio");
    QVERIFY2(!pulseaudio.isEmpty(), "pulseaudio is not installed (scripts/install-deps)");
    QDir(m_dir.path()).mkpath("home");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", m_dir.path());
    env.insert("HOME", m_dir.filePath("home"));
    env.remove("PULSE_SERVER");
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(pulseaudio,
        { "--daemonize=no", "--exit-idle-time=-1", "-n", "--disallow-exit", "--use-pid-file=no",
            "--log-level=error", "-L", "module-null-sink sink_name=lost_sink rate=44100 channels=2",
            "-L", "module-native-protocol-unix auth-anonymous=1" });
    QVERIFY(m_daemon.waitForStarted());
    const QString socket = m_dir.filePath("pulse/native");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 20000);
    // Only this process's connections go to the private daemon.
    qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
}

void TestDeviceLost::cleanupTestCase()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_daemon.processId()), SIGCONT);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
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

    m_daemon.kill();
    QVERIFY(m_daemon.waitForFinished());

    QTRY_COMPARE_WITH_TIMEOUT(engine.ChannelIsActive(channel), 0, 30000);
    // The channel is still there to be read and stopped, as on any power-off.
    QCOMPARE(engine.ChannelGetData(channel, magnitudes.data(), AudioEngine::DataFft1024), 4096);
    QVERIFY(engine.ChannelStop(channel));
    QCOMPARE(engine.ChannelIsActive(channel), 0);
    QVERIFY(engine.RecordFree());
    QVERIFY(engine.Free());
}

QTEST_GUILESS_MAIN(TestDeviceLost)
#include "tst_devicelost.moc"
