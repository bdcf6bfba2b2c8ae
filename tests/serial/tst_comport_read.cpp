// Reading from the port as its read timeouts say.

#include "ThreadProbe.h"
#include "common/PtyPair.h"
#include "serial/ComPort.h"

#include <QTest>

#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

class TestComPortRead : public QObject {
    Q_OBJECT

private slots:
    void readFollowsTimeouts_data();
    void readFollowsTimeouts();
};

void TestComPortRead::readFollowsTimeouts_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("multiplier");
    QTest::addColumn<int>("constant");
    QTest::addColumn<QByteArray>("queued");
    QTest::addColumn<QByteArray>("later");
    QTest::addColumn<QByteArray>("expected");

    // The defaults: at once, what is queued.
    QTest::newRow("at once, empty") << -1 << 0 << 0 << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("at once, queued")
        << -1 << 0 << 0 << QByteArray("ab") << QByteArray() << QByteArray("ab");
    // A total limit: waits for all that was asked for.
    QTest::newRow("total limit, completed later")
        << 0 << 0 << 60000 << QByteArray("ab") << QByteArray("cd") << QByteArray("abcd");
    // An interval: the line quiet after a byte ends the read.
    QTest::newRow("interval after data")
        << 20 << 0 << 0 << QByteArray("ab") << QByteArray() << QByteArray("ab");
    // The first byte within the constant, then at once.
    QTest::newRow("first byte") << -1 << -1 << 60000 << QByteArray() << QByteArray("x")
                                << QByteArray("x");
    QTest::newRow("first byte, none")
        << -1 << -1 << 20 << QByteArray() << QByteArray() << QByteArray();
}

void TestComPortRead::readFollowsTimeouts()
{
    QFETCH(int, interval);
    QFETCH(int, multiplier);
    QFETCH(int, constant);
    QFETCH(QByteArray, queued);
    QFETCH(QByteArray, later);
    QFETCH(QByteArray, expected);

    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
    port.Timeouts().SetReadInterval(interval);
    port.Timeouts().SetReadTotalMultiplier(multiplier);
    port.Timeouts().SetReadTotalConstant(constant);
    port.OpenPort();
    QVERIFY(pty.Send(queued));

    // The rest arrives once the read waits for it.
    const int reader = int(gettid());
    std::thread writer([&] {
        if (later.isEmpty())
            return;
        // Sent also when the wait is not seen: the read then finds it queued.
        WaitForSyscall(reader, { SYS_poll, SYS_ppoll });
        pty.Send(later);
    });
    char buffer[4] = {};
    const int count = port.ReadBytes(
        buffer, int(queued.size() + later.size()) > 0 ? int(queued.size() + later.size()) : 1);
    writer.join();
    QCOMPARE(QByteArray(buffer, count), expected);
}

QTEST_GUILESS_MAIN(TestComPortRead)
#include "tst_comport_read.moc"
