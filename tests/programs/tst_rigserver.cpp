// A radio set up in the program (MODEL in the configuration file): the headless program runs
// its rigctld, keys the radio through it, starts it again when it dies, and ends it after the
// release whichever way the program ends. The radio here is Hamlib's dummy keyed by RTS on a
// pseudo-terminal, so the release shows in the lines log that the preloaded modem-line
// library writes for rigctld as well.
#include "common/KenwoodRadio.h"
#include "common/ProcessState.h"
#include "station/KeyingParts.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");

} // namespace

class TestRigServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void restartedAfterItDies();
    void everyEndReleasesThenEndsIt_data();
    void everyEndReleasesThenEndsIt();
    void problemsAreSaid_data();
    void problemsAreSaid();
    void kenwoodRadioIsNotSentTheYaesuPoll();
    void releasedThroughANewServer_data();
    void releasedThroughANewServer();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    // Rig A run by the program (the dummy keyed by RTS on the pseudo-terminal), no rig B and
    // no serial port of the program's own; Gain 0 keys at every tick of the looped silence.
    // `radio`: rig A's keys instead (with the port), and the Gain.
    bool start(const QProcessEnvironment& extra = {}, const QString& radio = {}, int gain = 0);
    QStringList output() { return m_process ? m_process->outputLines() : QStringList(); }
    // The process ids of rig A's rigctld, in the order the log names them.
    QList<qint64> serverPids() const;
    QStringList rtsCalls() const;

    KeyingParts m_parts;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ProgramProcess> m_process;
    quint16 m_port = 0;
};

void TestRigServer::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    QVERIFY(m_parts.runtime.isValid());
    m_parts.silence = m_parts.runtime.filePath("silence.wav");
    QVERIFY(writeTestWav(m_parts.silence, 0.2));
}

void TestRigServer::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    m_parts.port = std::make_unique<PtyPair>();
    m_parts.port->CloseSlave();
    QVERIFY(m_parts.port->IsOpen());
    m_port = freeLoopbackPort();
}

void TestRigServer::cleanup()
{
    m_process.reset();
    // A server the program failed to end is not left to the next test.
    for (const qint64 pid : serverPids()) {
        if (processAlive(pid))
            ::kill(pid_t(pid), SIGKILL);
    }
    m_parts.closePort();
    m_work.reset();
}

bool TestRigServer::start(const QProcessEnvironment& extra, const QString& radio, int gain)
{
    QFile config(path("VOKEY.INI"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    const QString rig = radio.isEmpty()
        ? QStringLiteral("MODEL=1\nPTT=RTS\nPTTDEVICE=%1\n").arg(m_parts.port->SlavePath())
        : radio;
    config.write(QStringLiteral("[SETTINGS]\nCOMPORT=\nGAIN=%1\nDELAY=0\n"
                                "[RIG1]\nPORT=%2\n%3[RIG2]\nHOST=\n")
                     .arg(gain)
                     .arg(m_port)
                     .arg(rig)
                     .toUtf8());
    config.close();
    m_process = std::make_unique<ProgramProcess>();
    QProcessEnvironment environment = ProgramProcess::environment(
        ProgramProcess::Display::None, m_parts.runtime.path(), path("lines.log"));
    environment.insert(extra);
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    return m_process->startIn(
        m_work->path(), Vokey, { "--headless", "--audio-file", m_parts.silence, "--audio-loop" });
}

QList<qint64> TestRigServer::serverPids() const
{
    static const QRegularExpression started(
        QStringLiteral("Rig A: rigctld started \\(process (\\d+)\\)"));
    QList<qint64> pids;
    if (!m_work)
        return pids;
    auto matches = started.globalMatch(textOf(path("VOKEY.LOG")));
    while (matches.hasNext())
        pids << matches.next().captured(1).toLongLong();
    return pids;
}

QStringList TestRigServer::rtsCalls() const
{
    QStringList calls = LinesLog::calls(path("lines.log"));
    calls.removeIf([](const QString& call) { return call != RtsUp && call != RtsDown; });
    return calls;
}

void TestRigServer::restartedAfterItDies()
{
    QVERIFY(start());
    QTRY_VERIFY_WITH_TIMEOUT(rtsCalls().contains(RtsUp), 20000);
    QVERIFY(output().contains("rig A server started"));
    QCOMPARE(serverPids().size(), 1);
    const qint64 first = serverPids().first();
    QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("rig A server exited signal 9"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("rig A offline"), 10000);
    // Started again (1 s later), online again and keyed again through the new one.
    QTRY_COMPARE_WITH_TIMEOUT(serverPids().size(), 2, 10000);
    QVERIFY(serverPids().last() != first);
    QTRY_COMPARE_WITH_TIMEOUT(output().count("rig A server started"), 2, 10000);
    const qsizetype raises = rtsCalls().count(RtsUp);
    QTRY_VERIFY_WITH_TIMEOUT(rtsCalls().count(RtsUp) > raises, 20000);
}

void TestRigServer::everyEndReleasesThenEndsIt_data()
{
    QTest::addColumn<int>("signalNumber");
    // The mark of a radio the program may have left keyed: cleared by its confirmed
    // release, kept when the guard released it (the next start releases it once more).
    QTest::addColumn<bool>("marked");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGKILL, the guard releases") << int(SIGKILL) << true;
}

void TestRigServer::everyEndReleasesThenEndsIt()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, marked);
    QVERIFY(start());
    QTRY_VERIFY_WITH_TIMEOUT(rtsCalls().contains(RtsUp), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(serverPids().size(), 1, 5000);
    const qint64 server = serverPids().first();
    QCOMPARE(::kill(pid_t(m_process->processId()), signalNumber), 0);
    QVERIFY(m_process->waitForFinished(20000));
    // The release went out through the server, and then the server was ended.
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(server), 10000);
    QCOMPARE(rtsCalls().last(), RtsDown);
    QCOMPARE(QFile::exists(path("VOKEY.INI.keyed")), marked);
}

void TestRigServer::problemsAreSaid_data()
{
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("rigctld");
    QTest::addColumn<QString>("error"); // %1: the port
    QTest::newRow("rigctld missing")
        << false << "/nonexistent/rigctld"
        << "error Rig A: rigctld not found: install Debian's libhamlib-utils";
    // Held by this test: its name and process id, as the operator's system would show them.
    QTest::newRow("port in use") << true << QString()
                                 << "error Rig A: port %1 is held by tst_rigserver (PID %2); "
                                    "choose another port or end it";
}

void TestRigServer::problemsAreSaid()
{
    QFETCH(bool, portTaken);
    QFETCH(QString, rigctld);
    QFETCH(QString, error);
    QTcpServer other;
    if (portTaken)
        QVERIFY(other.listen(QHostAddress::LocalHost, m_port));
    QProcessEnvironment extra;
    if (!rigctld.isEmpty())
        extra.insert("VOKEY_RIGCTLD", rigctld);
    QVERIFY(start(extra));
    const QString expected
        = portTaken ? error.arg(m_port).arg(QCoreApplication::applicationPid()) : error;
    QTRY_VERIFY_WITH_TIMEOUT(output().contains(expected), 10000);
    QVERIFY(!output().contains("rig A online"));
    // In the log as well, also when found before the log was opened.
    QVERIFY2(textOf(path("VOKEY.LOG")).contains(expected.mid(6)), qPrintable(expected));
    // Never connected to the server that holds the port: it drives a radio not this one's.
    if (portTaken) {
        other.waitForNewConnection(2000);
        QVERIFY(!other.hasPendingConnections());
    }
}

void TestRigServer::kenwoodRadioIsNotSentTheYaesuPoll()
{
    // Hamlib's real TS-590S backend on a stand-in radio. The Yaesu status read would hold
    // its rigctld for the backend's whole read time-out, and an over starting then with it.
    KenwoodRadio radio;
    QVERIFY(radio.start());
    QVERIFY(start({}, QStringLiteral("MODEL=2031\nDEVICE=%1\n").arg(radio.devicePath()), 100));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("rig A name Kenwood TS-590S"), 20000);
    // Followed through its transmit state meanwhile: some seconds of reads, several poll
    // periods (500 ms) of the status read's.
    const qsizetype online = radio.commands().size();
    QTRY_VERIFY_WITH_TIMEOUT(radio.commands().size() > online + 10, 20000);
    QCOMPARE(radio.foreignBytes(), 0);
    QVERIFY(!radio.transmitting());
}

void TestRigServer::releasedThroughANewServer_data()
{
    QTest::addColumn<int>("signalNumber"); // to the program and its rigctld at once
    QTest::addColumn<bool>("canStartAgain"); // a rigctld can still be started
    QTest::addColumn<int>("exitCode"); // -1: killed
    QTest::addColumn<QString>("said"); // on standard output
    // The mark of a radio that may be keyed, for the next start: kept unless the program
    // itself had the release confirmed.
    QTest::addColumn<bool>("marked");
    // As a service stop: SIGTERM to every process of the unit, the guard's included.
    QTest::newRow("service stop") << int(SIGTERM) << true << 0 << "exit signal 15" << false;
    QTest::newRow("service stop, no rigctld starts")
        << int(SIGTERM) << false << 1
        << "error Rig A may still be transmitting: its rigctld did not answer the release" << true;
    // The program and its rigctld killed (a crash, the OOM killer): the guard.
    QTest::newRow("SIGKILL") << int(SIGKILL) << true << -1 << "" << true;
}

void TestRigServer::releasedThroughANewServer()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, canStartAgain);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(bool, marked);
    // rigctld ends without releasing the radio it keyed (Hamlib's TS-590S backend on a
    // stand-in radio, keyed by CAT). A wrapper that starts rigctld only while a file exists.
    KenwoodRadio radio;
    QVERIFY(radio.start());
    const QString wrapper = path("rigctld");
    QVERIFY(writeTextFile(wrapper, "#!/bin/sh\n[ -e \"$0.on\" ] || exit 1\nexec rigctld \"$@\"\n"));
    QVERIFY(QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(writeTextFile(wrapper + ".on", ""));
    QProcessEnvironment extra;
    extra.insert("VOKEY_RIGCTLD", wrapper);
    QVERIFY(start(extra, QStringLiteral("MODEL=2031\nDEVICE=%1\n").arg(radio.devicePath())));
    QTRY_VERIFY_WITH_TIMEOUT(radio.transmitting(), 20000);
    const qint64 program = m_process->processId();
    const QList<qint64> guard = childProcesses(program, "vokey-guard");
    QCOMPARE(guard.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(serverPids().size(), 1, 5000);
    if (!canStartAgain)
        QVERIFY(QFile::remove(wrapper + ".on"));

    const qint64 at = KenwoodRadio::nowNs();
    QList<qint64> targets { program, serverPids().first() };
    if (signalNumber == SIGTERM)
        targets << guard.first(); // which ignores it
    for (const qint64 pid : targets)
        QCOMPARE(::kill(pid_t(pid), signalNumber), 0);
    QVERIFY(m_process->waitForFinished(20000));
    QCOMPARE(
        m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1, exitCode);
    if (!said.isEmpty())
        QVERIFY2(output().contains(said), qPrintable(output().join('\n')));
    if (canStartAgain) {
        QTRY_VERIFY_WITH_TIMEOUT(!radio.transmitting(), 10000);
        for (const KenwoodRadio::Command& command : radio.commands()) {
            if (command.timeNs > at && !command.transmitting) {
                qInfo("on receive %lld ms after the signal", (command.timeNs - at) / 1000000);
                break;
            }
        }
    }
    QCOMPARE(radio.transmitting(), !canStartAgain);
    QCOMPARE(QFile::exists(path("VOKEY.INI.keyed")), marked);
    // Whatever started a rigctld for the release ended it afterwards.
    QTRY_VERIFY_WITH_TIMEOUT(childProcesses(guard.first(), "rigctld").isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(guard.first()), 10000);
}

QTEST_GUILESS_MAIN(TestRigServer)
#include "tst_rigserver.moc"
