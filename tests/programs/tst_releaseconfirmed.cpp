// A release counts once the radio confirmed it. The headless program keys rig A through a
// stand-in rigctld until the transmit time-out releases it; the server answers that release
// with an error, or not at all, as Hamlib does when the radio misses the CAT command (RF in
// the CAT cable). The radio must end on receive, and the operator be told.
#include "common/ProgramProcess.h"
#include "common/RigTestSupport.h"
#include "common/TextFile.h"
#include "common/WavWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
} // namespace

class TestReleaseConfirmed : public QObject {
    Q_OBJECT

private slots:
    void releaseSentUntilConfirmed_data();
    void releaseSentUntilConfirmed();
};

void TestReleaseConfirmed::releaseSentUntilConfirmed_data()
{
    QTest::addColumn<QList<int>>("answers"); // to the releases, in turn
    QTest::addColumn<QString>("said");
    QTest::newRow("RPRT -5") << QList<int> { -5, -5 }
                             << "error Rig A did not confirm receive: Communication timed out "
                                "(RPRT -5); sending it again\n";
    QTest::newRow("RPRT -1") << QList<int> { -1 }
                             << "error Rig A did not confirm receive: Invalid parameter (RPRT "
                                "-1); sending it again\n";
    QTest::newRow("no answer") << QList<int> { FakeRigctld::NoAnswer }
                               << "error Rig A did not confirm receive: ";
}

void TestReleaseConfirmed::releaseSentUntilConfirmed()
{
    QFETCH(QList<int>, answers);
    QFETCH(QString, said);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString silence = work.filePath("silence.wav");
    QVERIFY(writeTestWav(silence, 0.2));
    FakeRigctld radio(FakeRigctld::Mode::Good);
    radio.maker = "Kenwood"; // not polled with raw commands
    radio.releaseAnswers = answers;
    QVERIFY(radio.listen());
    // Gain 0 keys on every tick; the time-out releases after a second.
    QFile config(work.filePath("VOKEY.INI"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("[SETTINGS]\nCOMPORT=\nGAIN=0\nDELAY=10\nTXTIMEOUT=1\n"
                                "[RIG1]\nHOST=127.0.0.1\nPORT=%1\n[RIG2]\nHOST=\n")
                     .arg(radio.port())
                     .toUtf8());
    config.close();
    ProgramProcess program;
    program.setProcessEnvironment(
        ProgramProcess::environment(ProgramProcess::Display::None, work.path(), {}));
    program.setStandardOutputFile(work.filePath("stdout.log"));
    QVERIFY(program.startIn(
        work.path(), Vokey, { "--headless", "--audio-file", silence, "--audio-loop" }));
    QTRY_COMPARE_WITH_TIMEOUT(radio.ptt, 1, 20000);
    // The time-out's release, refused or lost, then sent again until the radio took it.
    QTRY_COMPARE_WITH_TIMEOUT(radio.ptt, 0, 10000);
    QVERIFY(radio.releaseAnswers.isEmpty());
    QTRY_VERIFY2_WITH_TIMEOUT(textOf(work.filePath("stdout.log")).contains(said),
        qPrintable(textOf(work.filePath("stdout.log"))), 5000);
}

QTEST_GUILESS_MAIN(TestReleaseConfirmed)
#include "tst_releaseconfirmed.moc"
