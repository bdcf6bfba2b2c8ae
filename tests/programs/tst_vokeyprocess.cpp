// The vokey program as a user starts it: without a display, a second start, a start after a
// killed instance, and the end by a signal. Message boxes go to a file (VOKEY_MESSAGE_LOG).
#include "window/WindowTestSupport.h"

#include "common/ProgramProcess.h"
#include "common/PtyPair.h"
#include "common/TextFile.h"
#include "common/WaitUntil.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/ioctl.h>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
// No radios: a test that keys must never reach a rigctld running here on the usual ports.
const QByteArray NoRadios = "[RIG1]\nHOST=\n[RIG2]\nHOST=\n";
// Each start with the default port COM1, which names no device here, says so.
const QString PortNotice
    = QStringLiteral("message||Defined COM Port not available /dev/COM1: no such device\n");

} // namespace

class TestVokeyProcess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void withoutDisplaySaysHowToRun();
    void secondInstanceIsRefused();
    void startsAfterKilledInstance();
    void installPutsEverythingInPlace();
    void crashDropsTheSerialLines_data();
    void crashDropsTheSerialLines();
    void exitSignalsEndWithStatusZero_data();
    void exitSignalsEndWithStatusZero();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    QProcessEnvironment environment() const;
    // Starts vokey in the work directory; returns when its log header shows that it runs.
    bool startRunning(ProgramProcess& process);
    QString messages() const { return textOf(path("messages.log")); }

    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_silence;
    std::vector<std::unique_ptr<ProgramProcess>> m_processes;
};

void TestVokeyProcess::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    QVERIFY(m_runtime.isValid());
    m_silence = m_runtime.filePath("silence.wav");
    QVERIFY(writeTestWav(m_silence, 0.2));
}

void TestVokeyProcess::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
}

void TestVokeyProcess::cleanup()
{
    m_processes.clear();
    m_work.reset();
}

QProcessEnvironment TestVokeyProcess::environment() const
{
    QProcessEnvironment env
        = ProgramProcess::environment(ProgramProcess::Display::Offscreen, m_runtime.path());
    env.insert("VOKEY_MESSAGE_LOG", path("messages.log"));
    // No system bus: the log's last start-up line, that suspends are not watched, is there
    // whatever machine the suite runs on.
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_runtime.filePath("no-bus"));
    return env;
}

bool TestVokeyProcess::startRunning(ProgramProcess& process)
{
    process.setProcessEnvironment(environment());
    if (!process.startIn(m_work->path(), Vokey, { "--audio-file", m_silence }))
        return false;
    // The log's header is written after the instance lock is taken, the port notice by the
    // last start-up step, the suspend notice just after it: then the program runs.
    const qsizetype notices = messages().count(PortNotice);
    const auto started = [this, notices] {
        const QString text = textOf(path("VOKEY.LOG"));
        return text.contains(QString(41, '-')) && text.contains("System suspend not watched")
            && messages().count(PortNotice) > notices;
    };
    const auto ended = [&process] { return process.state() != QProcess::Running; };
    return waitUntil([&] { return started() || ended(); }, 20000) && started() && !ended();
}

void TestVokeyProcess::withoutDisplaySaysHowToRun()
{
    ProgramProcess process;
    QProcessEnvironment env = environment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    QVERIFY(process.startIn(m_work->path(), Vokey, {}));
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString error = QString::fromUtf8(process.readAllStandardError()).trimmed();
    QVERIFY2(!error.contains('\n') && error.contains("xvfb-run -a vokey"), qPrintable(error));
    QVERIFY(!QFile::exists(path("VOKEY.LOG")));
}

void TestVokeyProcess::secondInstanceIsRefused()
{
    auto* first = m_processes.emplace_back(std::make_unique<ProgramProcess>()).get();
    QVERIFY(startRunning(*first));
    QFile log(path("VOKEY.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logBefore = log.readAll();
    log.close();
    const QDateTime logTime = QFileInfo(log).lastModified();

    ProgramProcess second;
    second.setProcessEnvironment(environment());
    QVERIFY(second.startIn(m_work->path(), Vokey, { "--audio-file", m_silence }));
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QVERIFY(second.exitCode() != 0);
    QCOMPARE(messages(),
        PortNotice
            + "fatal|VOKEY (2.0) Initialization Failure|Instance of Program Already Running\n");

    // The first instance's log and configuration are as they were, and it runs on.
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), logBefore);
    QCOMPARE(QFileInfo(log).lastModified(), logTime);
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
    QCOMPARE(first->state(), QProcess::Running);
}

void TestVokeyProcess::startsAfterKilledInstance()
{
    auto* first = m_processes.emplace_back(std::make_unique<ProgramProcess>()).get();
    QVERIFY(startRunning(*first));
    ::kill(pid_t(first->processId()), SIGKILL);
    QVERIFY(first->waitForFinished(10000));
    QVERIFY(QFile::remove(path("VOKEY.LOG")));

    auto* next = m_processes.emplace_back(std::make_unique<ProgramProcess>()).get();
    QVERIFY(startRunning(*next));
    QCOMPARE(messages(), PortNotice + PortNotice);
}

void TestVokeyProcess::installPutsEverythingInPlace()
{
    // cmake --install writes its manifest into the build directory, whatever DESTDIR says.
    if (!QFileInfo(VOKEY_BINARY_DIR).isWritable())
        QSKIP("the build directory is not this user's to write (install manifest)");
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", path("root"));
    install.setProcessEnvironment(env);
    install.start("cmake", { "--install", VOKEY_BINARY_DIR, "--prefix", "/usr" });
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    for (const char* file : { "usr/bin/vokey", "usr/bin/vokey-station", "usr/bin/vokey-replay",
             "usr/share/applications/vokey.desktop",
             "usr/share/icons/hicolor/scalable/apps/vokey.svg",
             "usr/share/icons/hicolor/48x48/apps/vokey.png", "usr/share/man/man1/vokey.1.gz",
             "usr/share/metainfo/org.vokey.vokey.metainfo.xml" })
        QVERIFY2(QFileInfo::exists(path("root/") + file), file);
    QVERIFY(QFileInfo(path("root/usr/bin/vokey")).isExecutable());
    QFile desktop(path("root/usr/share/applications/vokey.desktop"));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    const QByteArray entry = desktop.readAll();
    QVERIFY(entry.contains("\nExec=vokey\n") && entry.contains("\nIcon=vokey\n"));
}

void TestVokeyProcess::crashDropsTheSerialLines_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("headless");
    QTest::newRow("SIGSEGV") << SIGSEGV << false;
    QTest::newRow("SIGABRT") << SIGABRT << false;
    QTest::newRow("SIGBUS") << SIGBUS << false;
    QTest::newRow("SIGSEGV, headless") << SIGSEGV << true;
    QTest::newRow("SIGILL") << SIGILL << false;
    QTest::newRow("SIGFPE, headless") << SIGFPE << true;
}

void TestVokeyProcess::crashDropsTheSerialLines()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, headless);
    // The port is a pseudo-terminal; the preloaded library logs every modem-line call.
    PtyPair port;
    port.CloseSlave();
    QVERIFY(port.IsOpen());
    QFile config(path("VOKEY.INI"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[SETTINGS]\nCOMPORT=" + port.SlavePath().toLocal8Bit() + "\n" + NoRadios);
    config.close();

    auto* process = m_processes.emplace_back(std::make_unique<ProgramProcess>()).get();
    QProcessEnvironment env = environment();
    env.insert("LD_PRELOAD", ProgramProcess::preload());
    env.insert("VOKEY_LINES_LOG", path("lines.log"));
    process->setProcessEnvironment(env);
    QVERIFY(process->startIn(m_work->path(), Vokey,
        QStringList { "--audio-file", m_silence }
            + (headless ? QStringList { "--headless" } : QStringList {})));
    // Running with the port open: the opening dropped both lines (logged). Wait until the
    // opening's calls are all in (the log the same on two looks 100 ms apart), then the crash
    // must add its own drop after them.
    const auto readLines = [this] { return textOf(path("lines.log")); };
    QString before;
    QString previous = "none";
    const auto settled = [&] {
        QTest::qWait(100);
        previous = std::exchange(before, readLines());
        return !before.isEmpty() && before == previous;
    };
    QVERIFY(waitUntil(settled, 20000));
    ::kill(pid_t(process->processId()), signalNumber);
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::CrashExit);
    QCOMPARE(readLines(), before + QStringLiteral("TIOCMBIC %1\n").arg(TIOCM_DTR | TIOCM_RTS));
}

void TestVokeyProcess::exitSignalsEndWithStatusZero_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGQUIT") << SIGQUIT;
}

void TestVokeyProcess::exitSignalsEndWithStatusZero()
{
    QFETCH(int, signalNumber);
    // Gain 0: keyed from the first tick on, so the signal arrives while transmitting.
    QFile config(path("VOKEY.INI"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[SETTINGS]\nGAIN=0\nDELAY=100\n" + NoRadios);
    config.close();
    const QByteArray configBefore = "[SETTINGS]\nGAIN=0\nDELAY=100\n" + NoRadios;

    auto* process = m_processes.emplace_back(std::make_unique<ProgramProcess>()).get();
    QVERIFY(startRunning(*process));
    ::kill(pid_t(process->processId()), signalNumber);
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(messages(), PortNotice);
    // Ending this way does not write the configuration.
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), configBefore);
}

QTEST_MAIN(TestVokeyProcess)
#include "tst_vokeyprocess.moc"
