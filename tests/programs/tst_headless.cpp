// The vokey program without a display (--headless), as it runs on a station computer: speech
// from a WAV file keys the dummy radio and the serial lines, each change is a line on
// standard output, keys typed on a terminal select, mute and exit, and SIGTERM, SIGINT, SIGHUP
// or SIGQUIT while keyed releases both roads and ends with status 0.
#include "audio/PulseDaemon.h"
#include "common/TextFile.h"
#include "station/KeyingParts.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");

// Every line the program writes, as the README documents them.
const QRegularExpression Documented(
    QStringLiteral("^(engine (on|off)|mode Soundcard:-?\\d+ .* Serial:.*|selected (A|B|A\\+B|none)"
                   "|rig [AB] (online|offline|name .+|reports (transmit|receive))"
                   "|tx on level \\d+ gain \\d+|tx off|muted|unmuted|timeout (on|off)|error .+"
                   "|serial (lost|open) .+|rig [AB] server (started|exited .+)"
                   "|exit|exit signal \\d+|lost \\d+ lines?)$"));

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void speechKeysAndEveryChangeIsALine();
    void keysFromATerminal();
    void rigBReleasedByTheGuard();
    void secondProgramLeavesTheRadioAlone();
    void endWhileKeyedReleasesBothRoads_data();
    void endWhileKeyedReleasesBothRoads();
    void unpluggedPortComesBack();
    void soundServerRestartIsSaid();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    // Standard input: the pseudo-terminal's other side when `terminal`, else a pipe. No
    // audio file: the default capture device.
    bool startHeadless(
        const QString& audio, int gain, int delay, bool terminal, const QStringList& more = {});
    QStringList output() { return m_process ? m_process->outputLines() : QStringList(); }
    QStringList lineCalls() const { return LinesLog::calls(path("lines.log")); }
    QStringList callsAfterLastRaise() const
    {
        return LinesLog::callsAfterLastRaise(path("lines.log"));
    }
    bool type(char key) { return m_keys && m_keys->Send(QByteArray(1, key)); }

    KeyingParts m_parts;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<PtyPair> m_keys; // the terminal on standard input
    std::unique_ptr<ProgramProcess> m_process;
};

void TestHeadless::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    QVERIFY(m_parts.start());
}

void TestHeadless::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(m_parts.newPort());
}

void TestHeadless::cleanup()
{
    m_process.reset();
    m_parts.closePort();
    m_keys.reset();
    m_work.reset();
}

bool TestHeadless::startHeadless(
    const QString& audio, int gain, int delay, bool terminal, const QStringList& more)
{
    if (!m_parts.writeConfig(path("VOKEY.INI"), gain, delay))
        return false;
    m_process = std::make_unique<ProgramProcess>();
    m_process->setProcessEnvironment(ProgramProcess::environment(
        ProgramProcess::Display::None, m_parts.runtime.path(), path("lines.log")));
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    if (terminal) {
        m_keys = std::make_unique<PtyPair>();
        m_keys->CloseSlave();
        if (!m_keys->IsOpen())
            return false;
        m_process->setStandardInputFile(m_keys->SlavePath());
    }
    QStringList arguments { "--headless" };
    if (!audio.isEmpty())
        arguments << "--audio-file" << audio;
    return m_process->startIn(m_work->path(), Vokey, arguments + more);
}

void TestHeadless::speechKeysAndEveryChangeIsALine()
{
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // Delay 10: released 500 ms after the voice stops.
    QVERIFY(startHeadless(m_parts.speech, 5, 10, false));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    // The lines follow the radio's keying in the same call, a moment later.
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().contains(DtrUp), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(DtrDown), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("tx off"), 5000);
    QCOMPARE(m_parts.server2->ptt(), 0);

    const QStringList lines = output();
    for (const QString& line : lines)
        QVERIFY2(Documented.match(line).hasMatch(), qPrintable(line));
    // The start, then the voice keying and its release.
    const QStringList expected { "selected A", "engine on",
        "mode Soundcard:-1 Default Serial:" + m_parts.pty, "rig A online",
        "rig A name Hamlib Dummy", "rig B online", "tx off" };
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
    QVERIFY(startHeadless(m_parts.silence, 0, 100, true));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("rig B online"), 10000);

    QVERIFY(type('b'));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("selected B"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_parts.server2->ptt() == 1 && m_parts.server1->ptt() == 0, 5000);

    QVERIFY(type('m'));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("muted"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server2->ptt(), 0, 5000);
    // The radio may answer before this side has read the line written just ahead of it, and
    // the rig's own report of its release may follow that line.
    QTRY_VERIFY_WITH_TIMEOUT(
        output().mid(output().lastIndexOf("muted")).contains(QStringLiteral("tx off")), 5000);
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

void TestHeadless::rigBReleasedByTheGuard()
{
    // Rig B keyed, rig A released, and the program killed: the guard releases rig B's server.
    QVERIFY(startHeadless(m_parts.silence, 0, 100, true));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("rig B online"), 20000);
    QVERIFY(type('b'));
    QTRY_VERIFY_WITH_TIMEOUT(m_parts.server2->ptt() == 1 && m_parts.server1->ptt() == 0, 20000);
    ::kill(pid_t(m_process->processId()), SIGKILL);
    QVERIFY(m_process->waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server2->ptt(), 0, 5000);
}

void TestHeadless::secondProgramLeavesTheRadioAlone()
{
    // A second VOKEY with a runtime folder and a working folder of its own (a service and a
    // start from a terminal) on the same rigctld: it leaves rig A to the first, and its end
    // does not release the first one's over.
    QVERIFY(startHeadless(m_parts.silence, 0, 100, false, { "--audio-loop" }));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTemporaryDir other;
    QVERIFY(writeTextFile(other.filePath("VOKEY.INI"),
        QStringLiteral("[SETTINGS]\nCOMPORT=\nGAIN=0\n[RIG1]\nHOST=127.0.0.1\nPORT=%1\n"
                       "[RIG2]\nHOST=\n")
            .arg(m_parts.server1->port())
            .toUtf8()));
    ProgramProcess second;
    second.setProcessEnvironment(
        ProgramProcess::environment(ProgramProcess::Display::None, other.path()));
    QVERIFY(second.startIn(
        other.path(), Vokey, { "--headless", "--audio-file", m_parts.silence, "--audio-loop" }));
    const QString said = QStringLiteral("error Rig A: 127.0.0.1:%1 is driven by another VOKEY "
                                        "(PID %2); this one leaves it alone")
                             .arg(m_parts.server1->port())
                             .arg(m_process->processId());
    QTRY_VERIFY2_WITH_TIMEOUT(
        second.outputLines().contains(said), qPrintable(second.outputLines().join('\n')), 20000);
    // Its voice passes (Gain 0), yet rig A is not keyed by it.
    QTRY_VERIFY_WITH_TIMEOUT(second.outputLines().contains("tx on level 0 gain 0"), 10000);
    ::kill(pid_t(second.processId()), SIGTERM);
    QVERIFY(second.waitForFinished(10000));
    QVERIFY(!second.outputLines().contains("rig A online"));
    QCOMPARE(m_parts.server1->ptt(), 1);
}

void TestHeadless::endWhileKeyedReleasesBothRoads_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGQUIT") << SIGQUIT;
}

void TestHeadless::endWhileKeyedReleasesBothRoads()
{
    QFETCH(int, signalNumber);
    QVERIFY(startHeadless(m_parts.silence, 0, 100, false));
    // Without a terminal standard input is not read: this q exits nothing.
    m_process->write("q");
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().contains(DtrUp), 5000);
    // The program that runs carries neither the widget nor the GUI library.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(m_process->processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(mapped.contains("libQt6Core") && !mapped.contains("libQt6Widgets")
        && !mapped.contains("libQt6Gui"));

    ::kill(pid_t(m_process->processId()), signalNumber);
    QVERIFY(m_process->waitForFinished(10000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    QCOMPARE(output().last(), QStringLiteral("exit signal %1").arg(signalNumber));
    QVERIFY(!output().contains("exit"));
    // rigctld keeps the transmit state of a client that went away: a release seen now was
    // sent by the program before it ended.
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 0, 5000);
    const QStringList after = callsAfterLastRaise();
    QVERIFY2(after.contains(DtrDown) && after.contains(RtsDown), qPrintable(after.join(", ")));
}

void TestHeadless::unpluggedPortComesBack()
{
    // The adapter named by a link, as /dev/serial/by-id names it; unplugged while keyed, then
    // plugged back under another number behind the same link. Gain 0 keys every tick.
    const QString link = path("ttyUSB-adapter");
    QVERIFY(QFile::link(m_parts.pty, link));
    m_parts.pty = link;
    QVERIFY(startHeadless(m_parts.silence, 0, 0, false, { "--audio-loop" }));
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().contains(DtrUp), 20000);
    QElapsedTimer unplugged;
    unplugged.start();
    m_parts.closePort();
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("serial lost " + link), 10000);
    QVERIFY(output().contains("error Serial port " + link + " disconnected"));
    const qsizetype raises = lineCalls().count(DtrUp);
    QVERIFY(QFile::remove(link));
    QVERIFY(m_parts.newPort());
    QVERIFY(QFile::link(m_parts.pty, link));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("serial open " + link), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(lineCalls().count(DtrUp) > raises, 10000);
    qInfo("unplugged to keyed again through the new device: %lld ms", unplugged.elapsed());
    QCOMPARE(output().count("serial lost " + link), 1);
    for (const QString& line : output())
        QVERIFY2(Documented.match(line).hasMatch(), qPrintable(line));
}

void TestHeadless::soundServerRestartIsSaid()
{
    // The sound server dies and comes back while the station listens to its default device:
    // the engine reads as off while there is nothing to hear, and on again by itself.
    PulseDaemon pulse;
    if (!pulse.start(m_parts.runtime.path(), "headless_sink"))
        QSKIP("pulseaudio is needed (scripts/install-deps)");
    // Gain 0: the sink's silence keys at every tick that has audio.
    QVERIFY(startHeadless({}, 0, 0, false));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QVERIFY(pulse.stop());
    QTRY_VERIFY_WITH_TIMEOUT(output().contains("engine off"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 0, 5000);
    QVERIFY(callsAfterLastRaise().contains(DtrDown));
    const qsizetype off = output().indexOf("engine off");
    QVERIFY(pulse.start(m_parts.runtime.path(), "headless_sink"));
    QTRY_VERIFY_WITH_TIMEOUT(output().lastIndexOf("engine on") > off, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);

    const QStringList lines = output();
    QCOMPARE(lines.count("engine off"), 1);
    QCOMPARE(lines.count("engine on"), 2);
    const qsizetype released = lines.indexOf("tx off");
    QVERIFY(released >= 0 && released < off);
    QVERIFY(lines.lastIndexOf(QRegularExpression("^tx on level \\d+ gain 0$")) > off);
    for (const QString& line : lines)
        QVERIFY2(Documented.match(line).hasMatch(), qPrintable(line));
    QCOMPARE(m_process->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
