// The line vokey-guard writes after a release, and its exit status, for each mix of roads
// released, failed and absent.
#include "GuardState.h"

#include <QTest>

Q_DECLARE_METATYPE(RoadOutcome)

class TestGuardReport : public QObject {
    Q_OBJECT

private slots:
    void reportNamesEachRoad_data();
    void reportNamesEachRoad();
};

void TestGuardReport::reportNamesEachRoad_data()
{
    using R = RoadOutcome;
    QTest::addColumn<RoadOutcome>("rigA");
    QTest::addColumn<RoadOutcome>("rigB");
    QTest::addColumn<RoadOutcome>("serial");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("exitStatus");
    QTest::newRow("every road") << R::Released << R::Released << R::Released
                                << "vokey-guard: the program ended while keyed; released rig A, "
                                   "rig B and the serial lines"
                                << 1;
    QTest::newRow("rig B's server gone")
        << R::Released << R::Failed << R::Released
        << "vokey-guard: the program ended while keyed; released rig A and the serial lines; "
           "could not release rig B (127.0.0.1:4534: Connection refused)"
        << 2;
    QTest::newRow("nothing released")
        << R::Failed << R::Absent << R::Failed
        << "vokey-guard: the program ended while keyed; could not release rig A "
           "(127.0.0.1:4532: Connection refused) and the serial lines (Input/output error)"
        << 2;
    QTest::newRow("no road to release")
        << R::Absent << R::Absent << R::Absent
        << "vokey-guard: the program ended while keyed; it had no rig server and no serial "
           "port to release"
        << 1;
}

void TestGuardReport::reportNamesEachRoad()
{
    QFETCH(RoadOutcome, rigA);
    QFETCH(RoadOutcome, rigB);
    QFETCH(RoadOutcome, serial);
    QFETCH(QString, line);
    QFETCH(int, exitStatus);
    ReleaseOutcome outcome;
    outcome.rigs = { rigA, rigB };
    outcome.rigErrors
        = { "127.0.0.1:4532: Connection refused", "127.0.0.1:4534: Connection refused" };
    outcome.serial = serial;
    outcome.serialError = "Input/output error";
    QCOMPARE(QString::fromStdString(ReleaseReport(outcome)), line);
    QCOMPARE(ReleaseExitStatus(outcome), exitStatus);
}

QTEST_APPLESS_MAIN(TestGuardReport)
#include "tst_guardreport.moc"
