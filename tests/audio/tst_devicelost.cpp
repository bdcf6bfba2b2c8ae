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
    void captureStartsOnceTheServerIsBack();

private:
    bool startDaemon();

    QTemporaryDir m_dir;
    QProcess m_daemon;
};

void TestDeviceLost::initTestCase()
{
    QVERIFY(startDaemon());
}

bool TestDeviceLost::startDaemon()
{
    const QString pulseaudio = QStandardPaths::findExecutable("pulseaudio");
    if (pulseaudio.isEmpty()) {
        qWarning("pulseaudio is not installed (scripts/install-deps)");
        return false;
    }
    QDir(m_dir.path()).mkpath("home");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", m_dir.path());
    env.insert("HOME", m_dir.filePath("home"));
    env.remove("PULSE_SERVER");
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A daemon that was killed leaves its socket behind: wait for the new one.
    const QString socket = m_dir.filePath("pulse/native");
    QFile::remove(socket);
    m_daemon.start(pulseaudio,
        { "--daemonize=no", "--exit-idle-time=-1", "-n", "--disallow-exit", "--use-pid-file=no",
            "--log-level=error", "-L", "module-null-sink sink_name=lost_sink rate=44100 channels=2",
            "-L", "module-native-protocol-unix auth-anonymous=1" });
    if (!m_daemon.waitForStarted())
        return false;
    // Only this process's connections go to the private daemon.
    qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(socket) && waited.elapsed() < 20000)
        QTest::qWait(10);
    return QFile::exists(socket);
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

void TestDeviceLost::captureStartsOnceTheServerIsBack()
{
    // The sound server is gone: there is nothing to record from.
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        QVERIFY(m_daemon.waitForFinished());
    }
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
