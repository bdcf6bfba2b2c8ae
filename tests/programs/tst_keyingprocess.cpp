// The vokey program keying real rigctld dummies and a pseudo-terminal's modem lines, as a
// user runs it: speech from a WAV file keys and releases both roads, and every way the
// process is ended while keyed releases both before it is gone. The preloaded modem-line
// library answers the pseudo-terminal's modem-line calls and logs each one to a file.
#include "station/KeyingParts.h"

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");

} // namespace

class TestKeyingProcess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void endWhileKeyedReleasesBothRoads_data();
    void endWhileKeyedReleasesBothRoads();
    void speechKeysRadioAndLines();
    void txTimeoutReleasesTheRadio();
    void rtsOfAnotherPortKeysWithoutCat();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    // rigAPort: a rigctld of the test's own instead of the first server.
    bool startVokey(const QString& audio, int gain, int delay, const QString& settings = {},
        quint16 rigAPort = 0);
    QStringList lineCalls() const { return LinesLog::calls(path("lines.log")); }
    QStringList callsAfterLastRaise() const
    {
        return LinesLog::callsAfterLastRaise(path("lines.log"));
    }
    QString messages() const { return textOf(path("messages.log")); }

    KeyingParts m_parts;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ProgramProcess> m_process;
};

void TestKeyingProcess::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    QVERIFY(m_parts.start());
}

void TestKeyingProcess::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(m_parts.newPort());
}

void TestKeyingProcess::cleanup()
{
    m_process.reset();
    m_parts.closePort();
    m_work.reset();
}

bool TestKeyingProcess::startVokey(
    const QString& audio, int gain, int delay, const QString& settings, quint16 rigAPort)
{
    if (!m_parts.writeConfig(path("VOKEY.INI"), gain, delay, settings, rigAPort))
        return false;
    QProcessEnvironment env = ProgramProcess::environment(
        ProgramProcess::Display::Offscreen, m_parts.runtime.path(), path("lines.log"));
    env.insert("VOKEY_MESSAGE_LOG", path("messages.log"));
    m_process = std::make_unique<ProgramProcess>();
    m_process->setProcessEnvironment(env);
    return m_process->startIn(m_work->path(), Vokey, { "--audio-file", audio });
}

void TestKeyingProcess::endWhileKeyedReleasesBothRoads_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestKeyingProcess::endWhileKeyedReleasesBothRoads()
{
    QFETCH(int, signalNumber);
    // Gain 0 keys on every tick, silence included.
    QVERIFY(startVokey(m_parts.silence, 0, 100));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().contains(DtrUp) && lineCalls().contains(RtsUp), 5000);
    QCOMPARE(m_parts.server2->ptt(), 0);

    ::kill(pid_t(m_process->processId()), signalNumber);
    QVERIFY(m_process->waitForFinished(10000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    // rigctld keeps the transmit state of a client that went away: a release seen now was
    // sent by the program before it ended.
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 0, 5000);
    const QStringList after = callsAfterLastRaise();
    QVERIFY2(after.contains(DtrDown) && after.contains(RtsDown), qPrintable(after.join(", ")));
    QVERIFY2(!messages().contains("report|"), qPrintable(messages()));
}

void TestKeyingProcess::speechKeysRadioAndLines()
{
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // Delay 10: released 500 ms after the voice stops.
    QVERIFY(startVokey(m_parts.speech, 5, 10));
    // Silence first: nothing keyed.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path("VOKEY.LOG")), 10000);
    QCOMPARE(m_parts.server1->ptt(), 0);

    // The voice keys rig A and raises both lines ...
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    // The lines are raised right after the radio's keying is handed to its link: on a busy
    // machine the radio may have it first.
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().contains(DtrUp) && lineCalls().contains(RtsUp), 5000);
    QCOMPARE(m_parts.server2->ptt(), 0);
    // ... and when it stops both are released, while the program runs on.
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(DtrDown), 5000);
    const QStringList after = callsAfterLastRaise();
    QVERIFY2(after == QStringList({ DtrDown, RtsDown }), qPrintable(after.join(", ")));
    QCOMPARE(m_process->state(), QProcess::Running);
    QCOMPARE(m_parts.server2->ptt(), 0);
    QVERIFY2(!messages().contains("report|"), qPrintable(messages()));
}

void TestKeyingProcess::txTimeoutReleasesTheRadio()
{
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // Gain 0: the level never falls below it, silence and speech alike, so after the
    // time-out the radio stays released for the rest of the recording.
    QVERIFY(startVokey(m_parts.speech, 0, 10, "TXTIMEOUT=4\n"));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    const QString report = "report||Transmit time-out: released after 4 s";
    QTRY_VERIFY_WITH_TIMEOUT(messages().contains(report), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 0, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(DtrDown), 5000);
    // Through the rest of the speech and the silence after it, nothing keys again.
    for (int i = 0; i < 30; ++i) {
        QTest::qWait(100);
        QCOMPARE(m_parts.server1->ptt(), 0);
    }
    QVERIFY(!callsAfterLastRaise().isEmpty());
    QCOMPARE(messages().count(report), 1);
    QFile log(path("VOKEY.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logText = log.readAll();
    QVERIFY(logText.contains("TXTIMEOUT=4"));
    QVERIFY(logText.contains("Transmit time-out: released after 4 s"));
    QCOMPARE(m_process->state(), QProcess::Running);
}

void TestKeyingProcess::rtsOfAnotherPortKeysWithoutCat()
{
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // Rig A is the dummy radio keying through RTS of a second pseudo-terminal, as a sound
    // interface whose push-to-talk hangs on RTS. rigctld gets the same library: it answers
    // each modem-line call rigctld makes and logs it.
    PtyPair rts;
    rts.CloseSlave();
    QVERIFY(rts.IsOpen());
    const quint16 port = freeLoopbackPort();
    ProgramProcess rigctld;
    rigctld.setProcessEnvironment(ProgramProcess::environment(
        ProgramProcess::Display::Inherited, m_parts.runtime.path(), path("rts.log")));
    rigctld.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QVERIFY(rigctld.startIn(m_work->path(), "rigctld",
        { "-m", "1", "-P", "RTS", "-p", rts.SlavePath(), "-T", "127.0.0.1", "-t",
            QString::number(port) }));
    QTRY_VERIFY_WITH_TIMEOUT(
        [port] {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", port);
            return probe.waitForConnected(500);
        }(),
        10000);
    const auto rtsCalls = [this] { return LinesLog::calls(path("rts.log")); };

    QVERIFY(startVokey(m_parts.speech, 5, 10, {}, port));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path("VOKEY.LOG")), 10000);
    QVERIFY(!rtsCalls().contains(RtsUp));
    // The voice raises RTS (together with the program's own serial lines) ...
    QTRY_VERIFY_WITH_TIMEOUT(rtsCalls().contains(RtsUp), 20000);
    QVERIFY(lineCalls().contains(RtsUp));
    // ... and when it stops RTS falls, while the program runs on.
    QTRY_VERIFY_WITH_TIMEOUT(
        rtsCalls().mid(rtsCalls().lastIndexOf(RtsUp)).contains(RtsDown), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(RtsDown), 5000);
    QCOMPARE(m_process->state(), QProcess::Running);
    QCOMPARE(rigctld.state(), QProcess::Running);
    QVERIFY2(!messages().contains("report|"), qPrintable(messages()));
}

QTEST_MAIN(TestKeyingProcess)
#include "tst_keyingprocess.moc"
