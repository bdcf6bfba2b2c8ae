// The vokey program without a display (--headless), as it runs on a station computer: speech
// from a WAV file keys the dummy radio and the serial lines, each change is a line on
// standard output, keys typed on a terminal select, mute and exit, and SIGTERM while keyed
// releases both roads and ends with status 0.
#include "rig/RigTestSupport.h"
#include "station/StationTestSupport.h"

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
const QString DtrUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_DTR);
const QString DtrDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_DTR);
const QString RtsDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_RTS);

// Every line the program writes, as the README documents them.
const QRegularExpression Documented(
    QStringLiteral("^(engine (on|off)|mode Soundcard:-?\\d+ .* Serial:.*|selected (A|B|A\\+B|none)"
                   "|rig [AB] (online|offline|name .+|reports (transmit|receive))"
                   "|tx on level \\d+ gain \\d+|tx off|muted|unmuted|timeout (on|off)|error .+"
                   "|exit|exit signal \\d+)$"));

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void speechKeysAndEveryChangeIsALine();
    void keysFromATerminal();
    void sigtermWhileKeyedReleasesBothRoads();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    // Standard input: the pseudo-terminal's other side when `terminal`, else a pipe.
    bool startHeadless(const QString& audio, int gain, int delay, bool terminal);
    QStringList output();
    QStringList lineCalls() const;
    QStringList callsAfterLastRaise() const;
    bool type(char key) { return ::write(m_keysMaster, &key, 1) == 1; }

    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<RigctldServer> m_server1;
    std::unique_ptr<RigctldServer> m_server2;
    QString m_silence;
    QString m_speech;
    int m_master = -1; // the serial port's pseudo-terminal
    QString m_pty;
    int m_keysMaster = -1; // the terminal on standard input
    QStringList m_output;
    std::unique_ptr<QProcess> m_process;
};

void TestHeadless::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    QVERIFY(m_runtime.isValid());
    m_silence = m_runtime.filePath("silence.wav");
    QVERIFY(writeTestWav(m_silence, 0.2));
    if (makeSpeechWav(m_runtime.path(), "speech.wav", 1.0, 3.0))
        m_speech = m_runtime.filePath("speech.wav");
    m_server1 = std::make_unique<RigctldServer>();
    m_server2 = std::make_unique<RigctldServer>();
    QVERIFY(m_server1->start() && m_server2->start());
}

void TestHeadless::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(m_server1->setPtt(false) && m_server2->setPtt(false));
    int slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&m_master, &slave, name, nullptr, nullptr) == 0);
    ::close(slave);
    m_pty = QString::fromLocal8Bit(name);
    m_output.clear();
}

void TestHeadless::cleanup()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_process.reset();
    ::close(m_master);
    if (m_keysMaster >= 0)
        ::close(m_keysMaster);
    m_keysMaster = -1;
    m_work.reset();
}

bool TestHeadless::startHeadless(const QString& audio, int gain, int delay, bool terminal)
{
    QFile config(path("VOKEY.INI"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(
        QStringLiteral("[SETTINGS]\nCOMPORT=%1\nGAIN=%2\nDELAY=%3\n"
                       "[RIG1]\nHOST=127.0.0.1\nPORT=%4\n[RIG2]\nHOST=127.0.0.1\nPORT=%5\n")
            .arg(m_pty)
            .arg(gain)
            .arg(delay)
            .arg(m_server1->port())
            .arg(m_server2->port())
            .toUtf8());
    config.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* display : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        env.remove(display);
    env.insert("XDG_RUNTIME_DIR", m_runtime.path());
    env.insert("VOKEY_LINES_LOG", path("lines.log"));
    env.insert("LD_PRELOAD", VOKEY_LINESLOG_PRELOAD " " VOKEY_MODEMLINES_PRELOAD);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(env);
    m_process->setWorkingDirectory(m_work->path());
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    if (terminal) {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_keysMaster, &slave, name, nullptr, nullptr) != 0)
            return false;
        ::close(slave);
        m_process->setStandardInputFile(QString::fromLocal8Bit(name));
    }
    m_process->start(Vokey, { "--headless", "--audio-file", audio });
    return m_process->waitForStarted(10000);
}

QStringList TestHeadless::output()
{
    if (m_process) {
        while (m_process->canReadLine())
            m_output << QString::fromUtf8(m_process->readLine()).chopped(1);
    }
    return m_output;
}

QStringList TestHeadless::lineCalls() const
{
    QFile file(path("lines.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList TestHeadless::callsAfterLastRaise() const
{
    const QStringList calls = lineCalls();
    qsizetype last = calls.size() - 1;
    while (last >= 0 && !calls[last].startsWith("TIOCMBIS"))
        --last;
    return last < 0 ? QStringList() : calls.mid(last + 1);
}

void TestHeadless::speechKeysAndEveryChangeIsALine()
{
    if (m_speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // Delay 10: released 500 ms after the voice stops.
    QVERIFY(startHeadless(m_speech, 5, 10, false));
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 20000);
    QVERIFY(lineCalls().contains(DtrUp));
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(DtrDown), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("tx off"), 5000);
    QCOMPARE(m_server2->ptt(), 0);

    const QStringList lines = output();
    for (const QString& line : lines)
        QVERIFY2(Documented.match(line).hasMatch(), qPrintable(line));
    // The start, then the voice keying and its release.
    const QStringList expected { "selected A", "engine on",
        "mode Soundcard:-1 Default Serial:" + m_pty, "rig A online", "rig A name Hamlib Dummy",
        "rig B online", "tx off" };
    for (const QString& line : expected)
        QVERIFY2(lines.contains(line), qPrintable(line + " in " + lines.join(" | ")));
    const qsizetype on = lines.indexOf(QRegularExpression("^tx on level \\d+ gain 5$"));
    QVERIFY2(on >= 0, qPrintable(lines.join(" | ")));
    const int level = lines[on].section(' ', 3, 3).toInt();
    QVERIFY(level >= 5);
    QVERIFY(on < lines.indexOf("tx off"));
    QVERIFY(lines.indexOf("engine on") < on);
    QCOMPARE(m_process->state(), QProcess::Running);
}

void TestHeadless::keysFromATerminal()
{
    // Gain 0 keys on every tick, silence included.
    QVERIFY(startHeadless(m_silence, 0, 100, true));
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("rig B online"), 10000);

    QVERIFY(type('b'));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("selected B"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_server2->ptt() == 1 && m_server1->ptt() == 0, 5000);

    QVERIFY(type('m'));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("muted"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_server2->ptt(), 0, 5000);
    QCOMPARE(output().last(), QStringLiteral("tx off"));
    QVERIFY(callsAfterLastRaise().contains(DtrDown));

    // q writes the settings, as Exit does, and ends the program.
    QVERIFY(type('q'));
    QVERIFY(m_process->waitForFinished(10000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    QCOMPARE(output().last(), QStringLiteral("exit"));
    QFile config(path("VOKEY.INI"));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QVERIFY(config.readAll().contains("TXTIMEOUT=300"));
}

void TestHeadless::sigtermWhileKeyedReleasesBothRoads()
{
    QVERIFY(startHeadless(m_silence, 0, 100, false));
    // Without a terminal standard input is not read: this q exits nothing.
    m_process->write("q");
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().contains(DtrUp), 5000);

    ::kill(pid_t(m_process->processId()), SIGTERM);
    QVERIFY(m_process->waitForFinished(10000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    QCOMPARE(output().last(), QStringLiteral("exit signal %1").arg(SIGTERM));
    QVERIFY(!output().contains("exit"));
    // rigctld keeps the transmit state of a client that went away: a release seen now was
    // sent by the program before it ended.
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    const QStringList after = callsAfterLastRaise();
    QVERIFY2(after.contains(DtrDown) && after.contains(RtsDown), qPrintable(after.join(", ")));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
