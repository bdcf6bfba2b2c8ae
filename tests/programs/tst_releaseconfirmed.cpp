// What keeps a radio from being left keyed, through the headless program keying rig A on a
// stand-in rigctld: a release counts once the radio confirmed it (the server answers the
// time-out's release with an error, or not at all, as Hamlib does when the radio misses the
// CAT command), and marks that cannot be kept for a power cut are said.
#include "common/ProgramProcess.h"
#include "common/RigTestSupport.h"
#include "common/TextFile.h"
#include "common/WavWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
} // namespace

class TestReleaseConfirmed : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void releaseSentUntilConfirmed_data();
    void releaseSentUntilConfirmed();
    void markThatCannotBeWrittenIsSaid_data();
    void markThatCannotBeWrittenIsSaid();
    void keyedOverSendsTransmitOnceASecond();
    void unusableSettingIsSaid_data();
    void unusableSettingIsSaid();

private:
    // The program on Gain 0 (every tick keys) with rig A on m_radio; `more` in SETTINGS,
    // `rigB` in RIG2.
    bool start(const QString& more, const QString& rigB = QStringLiteral("HOST=\n"));
    QString output() const { return textOf(m_work->filePath("stdout.log")); }

    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<FakeRigctld> m_radio;
    std::unique_ptr<ProgramProcess> m_program;
};

void TestReleaseConfirmed::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    m_radio = std::make_unique<FakeRigctld>(FakeRigctld::Mode::Good);
    m_radio->maker = "Kenwood"; // not polled with raw commands
    QVERIFY(m_radio->listen());
}

void TestReleaseConfirmed::cleanup()
{
    m_program.reset();
    QFile::setPermissions(m_work->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_radio.reset();
    m_work.reset();
}

bool TestReleaseConfirmed::start(const QString& more, const QString& rigB)
{
    const QString silence = m_work->filePath("silence.wav");
    QFile config(m_work->filePath("VOKEY.INI"));
    if (!writeTestWav(silence, 0.2) || !config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("[SETTINGS]\nCOMPORT=\nGAIN=0\nDELAY=10\n%1"
                                "[RIG1]\nHOST=127.0.0.1\nPORT=%2\n[RIG2]\n%3")
                     .arg(more)
                     .arg(m_radio->port())
                     .arg(rigB)
                     .toUtf8());
    config.close();
    m_program = std::make_unique<ProgramProcess>();
    m_program->setProcessEnvironment(
        ProgramProcess::environment(ProgramProcess::Display::None, m_work->path(), {}));
    m_program->setStandardOutputFile(m_work->filePath("stdout.log"));
    return m_program->startIn(
        m_work->path(), Vokey, { "--headless", "--audio-file", silence, "--audio-loop" });
}

void TestReleaseConfirmed::releaseSentUntilConfirmed_data()
{
    QTest::addColumn<QList<int>>("answers"); // to the releases, in turn
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("keyedPollError"); // the transmit-state poll's answer while keyed
    QTest::newRow("RPRT -5") << QList<int> { -5, -5 }
                             << "error Rig A did not confirm receive: Communication timed out "
                                "(RPRT -5); sending it again\n"
                             << 0;
    QTest::newRow("RPRT -1") << QList<int> { -1 }
                             << "error Rig A did not confirm receive: Invalid parameter (RPRT "
                                "-1); sending it again\n"
                             << 0;
    QTest::newRow("no answer") << QList<int> { FakeRigctld::NoAnswer }
                               << "error Rig A did not confirm receive: " << 0;
    // The radio misses the poll while it transmits: the rig shows not responding when the
    // time-out comes, and the release goes out all the same.
    QTest::newRow("not responding") << QList<int> {} << "rig A offline\n" << -5;
}

void TestReleaseConfirmed::releaseSentUntilConfirmed()
{
    QFETCH(QList<int>, answers);
    QFETCH(QString, said);
    QFETCH(int, keyedPollError);
    m_radio->releaseAnswers = answers;
    m_radio->keyedPttError = keyedPollError;
    // The time-out releases after a second while the level stays up.
    QVERIFY(start(QStringLiteral("TXTIMEOUT=1\n")));
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->ptt, 1, 20000);
    // The time-out's release, refused or lost, then sent again until the radio took it.
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->ptt, 0, 10000);
    QVERIFY(m_radio->releaseAnswers.isEmpty());
    QTRY_VERIFY2_WITH_TIMEOUT(output().contains(said), qPrintable(output()), 5000);
    if (keyedPollError != 0)
        QVERIFY2(output().indexOf(said) < output().indexOf("tx off"), qPrintable(output()));
}

void TestReleaseConfirmed::markThatCannotBeWrittenIsSaid_data()
{
    QTest::addColumn<QString>("inPlace");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a folder") << "folder"
                              << "not a regular file";
    QTest::newRow("a FIFO") << "fifo"
                            << "not a regular file";
    // A station computer's read-only settings folder (root writes there all the same).
    QTest::newRow("a read-only folder") << "read-only"
                                        << "Permission denied";
}

void TestReleaseConfirmed::markThatCannotBeWrittenIsSaid()
{
    // Whatever stands where the mark file goes, keying goes on, and nothing waits for it.
    QFETCH(QString, inPlace);
    QFETCH(QString, reason);
    if (inPlace == "read-only" && ::geteuid() == 0)
        QSKIP("root writes in a read-only folder");
    const QString mark = m_work->filePath("VOKEY.INI.keyed");
    if (inPlace != "read-only")
        QVERIFY(inPlace == "folder" ? QDir().mkdir(mark) : ::mkfifo(qPrintable(mark), 0600) == 0);
    QVERIFY(start({}));
    // Before the radio is online, long before the first keying writes the mark.
    if (inPlace == "read-only")
        QVERIFY(QFile::setPermissions(m_work->path(), QFile::ReadOwner | QFile::ExeOwner));
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->ptt, 1, 20000);
    const QString said = "error Power-cut recovery is off: cannot write " + mark + ": " + reason;
    QTRY_VERIFY2_WITH_TIMEOUT(output().contains(said + "\n"), qPrintable(output()), 5000);
    QCOMPARE(output().count("Power-cut recovery is off"), 1);
}

void TestReleaseConfirmed::keyedOverSendsTransmitOnceASecond()
{
    // A long over (Gain 0 keys at every tick): the shared server gets the transmit command
    // when it changes and then once a second, not at every tick. Its own clock here: the
    // station reads the transmit state every 100 ms, so 30 reads span about 3 s.
    QVERIFY(start({}));
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->ptt, 1, 20000);
    const qsizetype keyings = m_radio->pttWrites.count("1");
    const int reads = m_radio->pttReads;
    QTRY_VERIFY_WITH_TIMEOUT(m_radio->pttReads >= reads + 30, 20000);
    QVERIFY2(m_radio->pttWrites.count("1") - keyings <= 4,
        qPrintable(QString::number(m_radio->pttWrites.count("1") - keyings)));
    QCOMPARE(m_radio->ptt, 1);
}

void TestReleaseConfirmed::unusableSettingIsSaid_data()
{
    QTest::addColumn<QString>("rigB"); // %1: a free port
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("again"); // what shows that the reading was repeated
    // A comment after a value, as an INI file elsewhere might allow, belongs to the value.
    QTest::newRow("comment after MODEL")
        << "HOST=\nMODEL=3073   ; Hamlib model number\n"
        << "error VOKEY.INI [RIG2] MODEL=3073   ; Hamlib model number: not a Hamlib model "
           "number; using a rigctld already running\n"
        << "rig A reports transmit";
    // rigctld ends at once with it, and again at each restart.
    QTest::newRow("unknown radio")
        << "PORT=%1\nMODEL=99999\n"
        << "error VOKEY.INI [RIG2] MODEL=99999: not a radio this rigctld knows (rigctld -l "
           "lists them)\n"
        << "rig B server exited 2\nrig B server started\nrig B server exited 2";
}

void TestReleaseConfirmed::unusableSettingIsSaid()
{
    QFETCH(QString, rigB);
    QFETCH(QString, said);
    QFETCH(QString, again);
    QVERIFY(start({}, rigB.contains("%1") ? rigB.arg(freeLoopbackPort()) : rigB));
    QTRY_VERIFY2_WITH_TIMEOUT(output().contains(again), qPrintable(output()), 20000);
    QVERIFY2(output().contains(said), qPrintable(output()));
    QCOMPARE(output().count(said), 1);
}

QTEST_GUILESS_MAIN(TestReleaseConfirmed)
#include "tst_releaseconfirmed.moc"
