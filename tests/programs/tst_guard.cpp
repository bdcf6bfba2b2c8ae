// Whatever ends the program while keyed, both roads are released within a second: the
// window and the headless station keyed on Gain 0 (every tick keys, silence included), then
// killed by a signal or, for the window, by the loss of its X server. What the program
// cannot release itself (SIGKILL, a crash, Qt's exit(1) when the display goes) vokey-guard,
// which it started first, releases: a fresh connection to each rigctld and DTR and RTS
// dropped on its copy of the port's descriptor. The preloaded logger is inherited by the
// guard, so its modem-line calls are in the same file.
#include "station/KeyingParts.h"

#include "common/ProcessState.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Whether DTR and RTS were both cleared after they were last raised: the crash handler clears
// both in one call, the program and the guard one line at a time.
bool linesDropped(const QStringList& calls)
{
    int cleared = 0;
    for (const QString& call : calls) {
        if (call.startsWith(QLatin1String("TIOCMBIC ")))
            cleared |= call.mid(9).toInt();
    }
    return (cleared & (TIOCM_DTR | TIOCM_RTS)) == (TIOCM_DTR | TIOCM_RTS);
}

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
// Rig B is not keyed: not the guard's to release.
const QString GuardReport = QStringLiteral("vokey-guard: the program ended while keyed; released "
                                           "rig A and the serial lines");
// Ends the program in place of a signal: the X server it runs on is killed.
constexpr int LoseDisplay = 0;

} // namespace

class TestGuard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyEndReleasesBothRoads_data();
    void everyEndReleasesBothRoads();
    void rigOnIpv6LoopbackReleased();
    void killedGuardIsReplaced();
    void hungProgramReleasedByTheGuard();
    void loggersRigIsLeftAlone();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    QString standardError() const { return textOf(path("stderr.log")); }
    bool startXvfb(QString* display);
    bool start(bool headless, const QString& display, quint16 rigAPort = 0,
        const QString& rigAHost = QStringLiteral("127.0.0.1"));

    KeyingParts m_parts;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ProgramProcess> m_process;
    std::unique_ptr<QProcess> m_xvfb;
};

void TestGuard::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    QVERIFY(QFileInfo::exists(QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey-guard")));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    QVERIFY(m_parts.start());
}

void TestGuard::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(m_parts.newPort());
}

void TestGuard::cleanup()
{
    m_process.reset();
    // Ended, not killed: an X server killed leaves its display's lock and socket behind, and
    // the servers of suites running beside this one race for that display.
    if (m_xvfb && m_xvfb->state() != QProcess::NotRunning) {
        m_xvfb->terminate();
        if (!m_xvfb->waitForFinished(10000))
            m_xvfb->kill();
        m_xvfb->waitForFinished(10000);
    }
    m_xvfb.reset();
    m_parts.closePort();
    m_work.reset();
}

bool TestGuard::startXvfb(QString* display)
{
    // A private server on a display number of its own choosing, written to its output.
    m_xvfb = std::make_unique<QProcess>();
    m_xvfb->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_xvfb->start(QStringLiteral("Xvfb"), { "-displayfd", "1", "-nolisten", "tcp" });
    if (!m_xvfb->waitForStarted(10000)
        || !waitUntil([this] { return m_xvfb->canReadLine(); }, 20000))
        return false;
    *display = ':' + QString::fromUtf8(m_xvfb->readLine()).trimmed();
    return true;
}

bool TestGuard::start(
    bool headless, const QString& display, quint16 rigAPort, const QString& rigAHost)
{
    if (!m_parts.writeConfig(path("VOKEY.INI"), 0, 100, {}, rigAPort, rigAHost))
        return false;
    QProcessEnvironment env = ProgramProcess::environment(
        ProgramProcess::Display::None, m_parts.runtime.path(), path("lines.log"));
    if (!headless && display.isEmpty())
        env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!display.isEmpty()) {
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", display);
    }
    m_process = std::make_unique<ProgramProcess>();
    m_process->setProcessEnvironment(env);
    m_process->setStandardOutputFile(path("stdout.log"));
    // The guard writes its report to the program's standard error, after the program is gone.
    m_process->setStandardErrorFile(path("stderr.log"));
    // The crashes leave no core file behind.
    m_process->setChildProcessModifier([] {
        const rlimit none {};
        ::setrlimit(RLIMIT_CORE, &none);
    });
    QStringList arguments { "--audio-file", m_parts.silence };
    if (headless)
        arguments.prepend("--headless");
    return m_process->startIn(m_work->path(), Vokey, arguments);
}

void TestGuard::everyEndReleasesBothRoads_data()
{
    QTest::addColumn<bool>("headless");
    QTest::addColumn<int>("signalNumber");
    // "guard": the program cannot release; "program": it releases and says goodbye, the
    // guard stays silent; "either": the program may handle the signal or die of it.
    QTest::addColumn<QString>("releasedBy");
    for (bool headless : { false, true }) {
        const QString program = headless ? "headless, " : "window, ";
        QTest::newRow(qPrintable(program + "SIGKILL")) << headless << SIGKILL << "guard";
        QTest::newRow(qPrintable(program + "SIGSEGV")) << headless << SIGSEGV << "guard";
        QTest::newRow(qPrintable(program + "SIGABRT")) << headless << SIGABRT << "guard";
        QTest::newRow(qPrintable(program + "SIGQUIT")) << headless << SIGQUIT << "either";
        QTest::newRow(qPrintable(program + "SIGTERM")) << headless << SIGTERM << "program";
    }
    QTest::newRow("window, X server killed") << false << LoseDisplay << "guard";
}

void TestGuard::everyEndReleasesBothRoads()
{
    QFETCH(bool, headless);
    QFETCH(int, signalNumber);
    QFETCH(QString, releasedBy);
    QString display;
    if (signalNumber == LoseDisplay)
        QVERIFY(startXvfb(&display));
    QVERIFY(start(headless, display));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(LinesLog::calls(path("lines.log")).contains(DtrUp)
            && LinesLog::calls(path("lines.log")).contains(RtsUp),
        5000);

    if (signalNumber == LoseDisplay)
        m_xvfb->terminate(); // its clients lose their connection as when it dies
    else
        ::kill(pid_t(m_process->processId()), signalNumber);
    QVERIFY(m_process->waitForFinished(10000));
    const auto released = [this] {
        return m_parts.server1->ptt() == 0
            && linesDropped(LinesLog::callsAfterLastRaise(path("lines.log")));
    };
    // Within a second of the program's end.
    QElapsedTimer sinceEnd;
    sinceEnd.start();
    QTRY_VERIFY_WITH_TIMEOUT(released(), 1000);
    QVERIFY2(sinceEnd.elapsed() <= 1000, qPrintable(QString::number(sinceEnd.elapsed())));
    QCOMPARE(m_parts.server2->ptt(), 0);

    if (releasedBy == "guard")
        QTRY_VERIFY2_WITH_TIMEOUT(
            standardError().contains(GuardReport), qPrintable(standardError()), 5000);
    if (releasedBy == "program") {
        QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_process->exitCode(), 0);
        QVERIFY2(!standardError().contains("vokey-guard"), qPrintable(standardError()));
    }
}

void TestGuard::rigOnIpv6LoopbackReleased()
{
    // Rig A written as the rig settings ask for an IPv6 address, then SIGKILL while keyed.
    RigctldServer ipv6;
    ipv6.listenOn(QStringLiteral("::1"));
    if (!ipv6.start())
        QSKIP("no IPv6 loopback here");
    QVERIFY(start(true, {}, ipv6.port(), QStringLiteral("[::1]")));
    QTRY_COMPARE_WITH_TIMEOUT(ipv6.ptt(), 1, 20000);
    ::kill(pid_t(m_process->processId()), SIGKILL);
    QVERIFY(m_process->waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(ipv6.ptt(), 0, 5000);
    QTRY_VERIFY2_WITH_TIMEOUT(
        standardError().contains(GuardReport), qPrintable(standardError()), 5000);
}

void TestGuard::killedGuardIsReplaced()
{
    // SIGKILL to the guard (an OOM kill, an operator tidying up) while keyed: another takes
    // its place at once and is told the keying, so a SIGKILL of the program afterwards is
    // still released.
    QVERIFY(start(true, {}));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    const qint64 program = m_process->processId();
    // One look at the processes each time: the one killed may still be there.
    const auto guards = [program] { return childProcesses(program, "vokey-guard"); };
    QTRY_COMPARE_WITH_TIMEOUT(guards().size(), 1, 5000);
    const qint64 first = guards().value(0);
    QVERIFY(first > 0);
    QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
    const auto replaced = [&] {
        const QList<qint64> now = guards();
        return now.size() == 1 && now[0] != first;
    };
    QTRY_VERIFY_WITH_TIMEOUT(replaced(), 5000);
    // Said as an error line.
    QTRY_VERIFY_WITH_TIMEOUT(
        textOf(path("stdout.log"))
            .contains(QRegularExpression(
                "\\nerror The transmit guard ended( \\(signal 9\\))?; a new one was started\\n")),
        5000);
    ::kill(pid_t(program), SIGKILL);
    QVERIFY(m_process->waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_parts.server1->ptt() == 0
            && linesDropped(LinesLog::callsAfterLastRaise(path("lines.log"))),
        5000);
    QTRY_VERIFY2_WITH_TIMEOUT(
        standardError().contains(GuardReport), qPrintable(standardError()), 5000);
}

void TestGuard::hungProgramReleasedByTheGuard()
{
    // SIGSTOP while keyed (a debugger, a stalled disk, a deadlock do the same): the program's
    // heartbeat stops, and the guard releases both roads; continued, the program says so and
    // does not key the over again (Gain 0: every tick passes, none lets keying start anew).
    QVERIFY(start(true, {}));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(LinesLog::calls(path("lines.log")).contains(RtsUp), 5000);
    const pid_t program = pid_t(m_process->processId());
    QCOMPARE(::kill(program, SIGSTOP), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_parts.server1->ptt() == 0
            && linesDropped(LinesLog::callsAfterLastRaise(path("lines.log"))),
        5000);
    QTRY_VERIFY2_WITH_TIMEOUT(standardError().contains("vokey-guard: the program did not answer "
                                                       "for 2 s while keyed; released rig A and "
                                                       "the serial lines"),
        qPrintable(standardError()), 5000);
    QCOMPARE(::kill(program, SIGCONT), 0);
    QTRY_VERIFY_WITH_TIMEOUT(textOf(path("stdout.log"))
                                 .contains("error The program did not answer for 2 s while "
                                           "keyed: the transmit guard released every road\n"),
        5000);
    QCOMPARE(m_parts.server1->ptt(), 0);
}

void TestGuard::loggersRigIsLeftAlone()
{
    // Mid-over on rig A, a logger keys rig B through the same rigctld (the test's own client):
    // the over is not cut and rig B is not taken; SIGKILL then releases rig A alone.
    QVERIFY(start(true, {}));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QVERIFY(m_parts.server2->setPtt(true));
    QTRY_VERIFY_WITH_TIMEOUT(textOf(path("stdout.log")).contains("rig B reports transmit\n"), 5000);
    QVERIFY(!textOf(path("stdout.log")).contains("selected B"));
    QCOMPARE(m_parts.server1->ptt(), 1);
    ::kill(pid_t(m_process->processId()), SIGKILL);
    QVERIFY(m_process->waitForFinished(10000));
    QTRY_VERIFY2_WITH_TIMEOUT(
        standardError().contains(GuardReport), qPrintable(standardError()), 5000);
    QCOMPARE(m_parts.server1->ptt(), 0);
    QCOMPARE(m_parts.server2->ptt(), 1);
}

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
