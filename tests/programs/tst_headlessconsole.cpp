// The headless station against what a console does to it: a terminal stopped with Ctrl-S, a
// pipe nobody reads, a pipe whose reader went away, and a shell's job control (Ctrl-Z, bg,
// fg, a key typed at the shell). Whatever holds the console, both roads are released on
// time and SIGTERM still ends the program. Last, --help and --version of both programs.
#include "common/ProcessState.h"
#include "station/KeyingParts.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
const QString Station = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey-station");
constexpr int TxTimeout = 3; // the release that falls due while the console holds still
constexpr int ExitMs = 2000; // SIGTERM ends the program within this

enum class Hold { CtrlS, FullPipe, ClosedPipe, CtrlZ, BgKey, BgTerm, WindowCtrlZ };

// The child of `parent` that runs the station, or 0.
pid_t stationOf(pid_t parent)
{
    const QStringList pids = QDir("/proc").entryList({ "[0-9]*" }, QDir::Dirs);
    for (const QString& pid : pids) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        if ((s.contains("(vokey-station)") || s.contains("(vokey)"))
            && s.mid(s.lastIndexOf(')') + 4).split(' ')[0].toInt() == parent)
            return pid_t(pid.toInt());
    }
    return 0;
}

} // namespace

class TestHeadlessConsole : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!RigctldServer::available())
            QSKIP("rigctld is needed");
        QVERIFY(m_parts.start());
    }
    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QVERIFY(m_parts.newPort());
        QVERIFY(m_parts.writeConfig(
            path("VOKEY.INI"), 0, 100, QStringLiteral("TXTIMEOUT=%1\n").arg(TxTimeout)));
    }
    void cleanup();
    void releasedWhateverHoldsTheConsole_data();
    void releasedWhateverHoldsTheConsole();
    void informationOnly_data();
    void informationOnly();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    bool startProcess(Hold hold);
    bool startInShell(bool window);
    QByteArray terminal(); // what the terminal shows so far
    bool type(const QByteArray& keys) { return m_terminal && m_terminal->Send(keys); }
    bool released()
    {
        const QStringList after = LinesLog::callsAfterLastRaise(path("lines.log"));
        return m_parts.server1->ptt() == 0 && after.contains(DtrDown) && after.contains(RtsDown);
    }
    bool keyed()
    {
        return m_parts.server1->ptt() == 1 && LinesLog::calls(path("lines.log")).contains(DtrUp);
    }

    KeyingParts m_parts;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ProgramProcess> m_process;
    pid_t m_shell = 0;
    std::unique_ptr<PtyPair> m_terminal; // the station writes to it (and the shell runs on it)
    int m_pipe[2] = { -1, -1 };
    QByteArray m_shown;
};

void TestHeadlessConsole::cleanup()
{
    m_process.reset();
    if (m_shell > 0) {
        if (const pid_t station = stationOf(m_shell))
            ::kill(station, SIGKILL);
        ::kill(m_shell, SIGKILL);
        ::waitpid(m_shell, nullptr, 0);
        m_shell = 0;
    }
    m_terminal.reset();
    for (int* fd : { &m_pipe[0], &m_pipe[1] })
        if (*fd >= 0)
            ::close(std::exchange(*fd, -1));
    m_shown.clear();
    m_parts.closePort();
    m_work.reset();
}

bool TestHeadlessConsole::startProcess(Hold hold)
{
    m_process = std::make_unique<ProgramProcess>();
    m_process->setProcessEnvironment(ProgramProcess::environment(
        ProgramProcess::Display::Inherited, m_parts.runtime.path(), path("lines.log")));
    m_process->setStandardInputFile(QProcess::nullDevice());
    if (hold == Hold::CtrlS) {
        // The terminal on standard output only: not in key mode, so Ctrl-S stops its output.
        m_terminal = std::make_unique<PtyPair>();
        m_terminal->CloseSlave();
        if (!m_terminal->IsOpen())
            return false;
        m_process->setStandardOutputFile(m_terminal->SlavePath());
    } else {
        // A pipe of one page: already full when nobody reads it.
        if (::pipe2(m_pipe, O_CLOEXEC) != 0 || ::fcntl(m_pipe[1], F_SETPIPE_SZ, 4096) < 0)
            return false;
        ::fcntl(m_pipe[1], F_SETFL, O_NONBLOCK);
        while (hold == Hold::FullPipe && ::write(m_pipe[1], "full pipe\n", 10) > 0) { }
        ::fcntl(m_pipe[1], F_SETFL, 0);
        // `| head -1` that has already ended: the pipe has no reader from the start.
        if (hold == Hold::ClosedPipe)
            ::close(std::exchange(m_pipe[0], -1));
        m_process->setChildProcessModifier([fd = m_pipe[1]] { ::dup2(fd, STDOUT_FILENO); });
    }
    return m_process->startIn(m_work->path(), Station, { "--audio-file", m_parts.silence });
}

bool TestHeadlessConsole::startInShell(bool window)
{
    // An interactive bash with job control on a terminal of its own, as an operator's.
    const QByteArray home = m_work->path().toLocal8Bit();
    const QByteArray runtime = m_parts.runtime.path().toLocal8Bit();
    const QList<QByteArray> env { "PATH=/usr/bin:/bin", "HOME=" + home, "TERM=dumb", "PS1=$ ",
        "HISTFILE=/dev/null", "XDG_RUNTIME_DIR=" + runtime };
    std::vector<char*> envp;
    for (const QByteArray& entry : env)
        envp.push_back(const_cast<char*>(entry.constData()));
    envp.push_back(nullptr);
    m_terminal = std::make_unique<PtyPair>();
    if (!m_terminal->IsOpen())
        return false;
    m_shell = m_terminal->ForkOnSlave();
    if (m_shell == 0) {
        ::chdir(home.constData());
        ::execle("/bin/bash", "bash", "--norc", "--noprofile", "-i", nullptr, envp.data());
        ::_exit(127);
    }
    if (m_shell < 0)
        return false;
    return type(QStringLiteral("LD_PRELOAD='%1' VOKEY_LINES_LOG=%2 %3 %4 %5 --audio-file %6\n")
                    .arg(ProgramProcess::preload(), path("lines.log"))
                    .arg(window ? "QT_QPA_PLATFORM=offscreen" : "", Vokey)
                    .arg(window ? "" : "--headless", m_parts.silence)
                    .toLocal8Bit());
}

QByteArray TestHeadlessConsole::terminal()
{
    char buffer[4096];
    ssize_t n;
    while (m_terminal && (n = ::read(m_terminal->Master(), buffer, sizeof buffer)) > 0)
        m_shown.append(buffer, n);
    return m_shown;
}

void TestHeadlessConsole::releasedWhateverHoldsTheConsole_data()
{
    QTest::addColumn<Hold>("hold");
    QTest::newRow("Ctrl-S across the time-out") << Hold::CtrlS;
    QTest::newRow("a full pipe across the time-out") << Hold::FullPipe;
    QTest::newRow("a pipe without a reader") << Hold::ClosedPipe;
    QTest::newRow("Ctrl-Z while keyed, then fg") << Hold::CtrlZ;
    QTest::newRow("Ctrl-Z, bg, a key at the shell") << Hold::BgKey;
    QTest::newRow("Ctrl-Z, bg, SIGTERM") << Hold::BgTerm;
    QTest::newRow("the window: Ctrl-Z while keyed, then fg") << Hold::WindowCtrlZ;
}

void TestHeadlessConsole::releasedWhateverHoldsTheConsole()
{
    QFETCH(Hold, hold);
    // Gain 0 keys on every tick, silence included, from the start.
    const bool shell = hold >= Hold::CtrlZ;
    QVERIFY(shell ? startInShell(hold == Hold::WindowCtrlZ) : startProcess(hold));
    QTRY_VERIFY_WITH_TIMEOUT(keyed(), 20000);
    const pid_t station = shell ? stationOf(m_shell) : pid_t(m_process->processId());
    QVERIFY(station > 0);

    if (hold == Hold::CtrlS) {
        QTRY_VERIFY_WITH_TIMEOUT(terminal().contains("tx on"), 5000);
        QVERIFY(type("\x13"));
    }
    if (!shell) {
        // The transmit time-out falls due while the console holds (or is gone): released.
        QTRY_VERIFY_WITH_TIMEOUT(released(), (TxTimeout + 10) * 1000);
        if (hold == Hold::CtrlS) // the lines did wait: the terminal shows none of them
            QVERIFY2(!terminal().contains("timeout on"), terminal().constData());
    } else {
        // Released before the stop, and it stays stopped released.
        QVERIFY(type("\x1a"));
        QTRY_VERIFY_WITH_TIMEOUT(processState(station) == "T", 5000);
        QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
        QCOMPARE(processState(station), QStringLiteral("T"));
        QVERIFY(type(hold == Hold::BgKey || hold == Hold::BgTerm ? "bg\n" : "fg\n"));
        QTRY_VERIFY_WITH_TIMEOUT(processState(station) == "R" && keyed(), 10000);
        if (hold == Hold::CtrlZ) {
            // The key mode is back: m needs no Enter, and Ctrl-S is a key, not a stop of the
            // output.
            QVERIFY(type("\x13m"));
            QTRY_VERIFY_WITH_TIMEOUT(terminal().contains("\nmuted\r\n"), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
        } else if (hold == Hold::BgKey) {
            // The shell reads the keys; the station in the background neither reads them
            // nor stops.
            QVERIFY(type("echo mark-$((6*7))\n"));
            QTRY_VERIFY_WITH_TIMEOUT(terminal().contains("mark-42"), 5000);
        }
    }

    QElapsedTimer clock;
    clock.start();
    ::kill(station, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(processState(station).isEmpty(), ExitMs);
    QVERIFY2(clock.elapsed() <= ExitMs, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
    if (m_process) {
        // Seen ended while the test waited above, or about to be.
        QVERIFY(m_process->state() == QProcess::NotRunning || m_process->waitForFinished(5000));
        QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_process->exitCode(), 0);
    }
    if (shell && hold != Hold::WindowCtrlZ)
        QTRY_VERIFY_WITH_TIMEOUT(terminal().contains("exit signal 15"), 5000);
}

void TestHeadlessConsole::informationOnly_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("shown");
    QTest::newRow("vokey --help") << Vokey << "--help"
                                  << "Usage: vokey ";
    QTest::newRow("vokey --version") << Vokey << "--version"
                                     << "vokey 2.0\n";
    QTest::newRow("vokey --headless --help") << Vokey << "--headless"
                                             << "Usage: vokey-station ";
    QTest::newRow("vokey-station --help") << Station << "--help"
                                          << "Usage: vokey-station ";
    QTest::newRow("vokey-station --version") << Station << "--version"
                                             << "vokey-station 2.0\n";
}

void TestHeadlessConsole::informationOnly()
{
    QFETCH(QString, program);
    QFETCH(QString, argument);
    QFETCH(QString, shown);
    // Another instance holds the lock; no display; the folder has a configuration that keys.
    const QByteArray lock = m_parts.runtime.filePath("VOKEY").toLocal8Bit();
    const int held = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
    ProgramProcess process;
    process.setProcessEnvironment(
        ProgramProcess::environment(ProgramProcess::Display::None, m_parts.runtime.path()));
    QStringList arguments { argument };
    if (argument == "--headless")
        arguments << "--help";
    QVERIFY(process.startIn(m_work->path(), program, arguments));
    QVERIFY(process.waitForFinished(10000));
    ::close(held);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardOutput()).startsWith(shown));
    // Nothing read or written: no log beside the configuration, which is as it was.
    QCOMPARE(QDir(m_work->path()).entryList(QDir::Files), QStringList { "VOKEY.INI" });
    QCOMPARE(m_parts.server1->ptt(), 0);
}

QTEST_GUILESS_MAIN(TestHeadlessConsole)
#include "tst_headlessconsole.moc"
