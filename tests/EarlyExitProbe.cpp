// A suite that stops part-way with exit status 0, as one whose case calls exit() or whose
// signal handler quits the application. Its registration must report it as failed.
#include <QTest>
#include <cstdlib>

class EarlyExitProbe : public QObject {
    Q_OBJECT
private slots:
    void runs() { QVERIFY(true); }
    void stopsTheProgram() { std::exit(0); }
    void neverRuns() { QVERIFY(true); }
};

QTEST_APPLESS_MAIN(EarlyExitProbe)
#include "EarlyExitProbe.moc"
