// The serial event thread on a real pseudo-terminal: no thread without events, handler
// failures, and closing against a thread that is delivering.

#include "ThreadProbe.h"
#include "TtySettings.h"
#include "common/PtyPair.h"
#include "serial/ComPort.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>

class TestComThread : public QObject {
    Q_OBJECT

private slots:
    void noEventsNoThread();
    void handlerExceptionEndsThread();
    void windowSyncReportsHandlerErrorsAndGoesOn();
    void closeWhileDataKeepsArriving();
    void closeDuringPendingHandOver();
    void handlerMayClosePort();
    void closeAfterHangUp();
};
void TestComThread::noEventsNoThread()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
    const auto before = ThreadIds();
    port.OpenPort();
    QVERIFY(NewThreads(before).empty());
    port.ClosePort();

    port.SetEvents({ evRxChar });
    port.OpenPort();
    const int tid = NewThread(before);
    QVERIFY(tid != 0);
    port.ClosePort();
    QTRY_VERIFY_WITH_TIMEOUT(!ThreadIds().count(tid), 10000);
}

void TestComThread::handlerExceptionEndsThread()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    int calls = 0;
    port.OnRxChar = [&](QObject*, std::int32_t) {
        ++calls;
        throw EComPort(CError_ClearComFailed, EIO);
    };
    const auto before = ThreadIds();
    port.OpenPort();
    const int tid = NewThread(before);
    QVERIFY(tid != 0);
    QVERIFY(pty.Send("x"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    // The thread has ended: no more deliveries.
    QTRY_VERIFY_WITH_TIMEOUT(!ThreadIds().count(tid), 10000);
    QVERIFY(pty.Send("y"));
    QCoreApplication::processEvents();
    QCOMPARE(calls, 1);
    port.ClosePort();
    QVERIFY(!port.Connected());
    // A new opening has a new thread.
    port.OpenPort();
    QVERIFY(pty.Send("z"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 10000);
}

void TestComThread::windowSyncReportsHandlerErrorsAndGoesOn()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetSyncMethod(smWindowSync);
    QStringList reported;
    SetApplicationErrorReport([&](const QString& message) { reported << message; });
    int calls = 0;
    port.OnRxChar = [&](QObject*, std::int32_t) {
        ++calls;
        throw EComPort(CError_ClearComFailed, EIO);
    };
    port.OpenPort();
    QVERIFY(pty.Send("x"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QVERIFY(pty.Send("y"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 10000);
    SetApplicationErrorReport(nullptr);
    QCOMPARE(reported.size(), 2);
    QCOMPARE(reported.first(),
        QStringLiteral("ClearCommError function failed (win error code: 5): Input/output error"));
}

void TestComThread::closeWhileDataKeepsArriving()
{
    PtyPair pty;
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        while (!stop)
            pty.Send("0123456789");
    });
    const auto joinWriter = qScopeGuard([&] {
        stop = true;
        writer.join();
    });
    for (TSyncMethod method : { smThreadSync, smWindowSync, smNone }) {
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.SetSyncMethod(method);
        std::atomic<int> calls = 0;
        port.OnRxChar = [&](QObject*, std::int32_t) { ++calls; };
        for (int i = 0; i < 30; ++i) {
            const int before = calls;
            port.OpenPort();
            QTRY_VERIFY_WITH_TIMEOUT(calls > before, 10000);
            port.ClosePort();
            QVERIFY(!port.Connected());
        }
        // Nothing is delivered once closed, whatever was on its way.
        const int atClose = calls;
        QCoreApplication::processEvents();
        QCOMPARE(calls.load(), atClose);
    }
}

void TestComThread::closeDuringPendingHandOver()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({ evRxChar });
    int calls = 0;
    port.OnRxChar = [&](QObject*, std::int32_t) { ++calls; };
    for (int i = 0; i < 200; ++i) {
        const auto before = ThreadIds();
        port.OpenPort();
        const int tid = NewThread(before);
        QVERIFY(tid);
        QVERIFY(pty.Send("x"));
        // The event thread has handed the arrival over and waits for this thread, which does
        // not process events. Closing empties the queue first, so the hand-over then finds
        // nothing to announce; what matters is that closing completes it and returns.
        QVERIFY(WaitForSyscall(tid, { SYS_futex }));
        port.ClosePort();
        QVERIFY(!port.Connected());
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadIds().count(tid), 10000);
    }
    // The hand-overs posted to the event loop were done already.
    QCoreApplication::processEvents();
    QCOMPARE(calls, 0);
}

void TestComThread::handlerMayClosePort()
{
    PtyPair pty;
    for (TSyncMethod method : { smThreadSync, smWindowSync, smNone }) {
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.SetSyncMethod(method);
        std::atomic<int> calls = 0;
        std::atomic<bool> closed = false;
        port.OnRxChar = [&](QObject*, std::int32_t) {
            ++calls;
            port.ClosePort();
            closed = !port.Connected();
        };
        port.OpenPort();
        QVERIFY(pty.Send("x"));
        QTRY_VERIFY_WITH_TIMEOUT(closed, 10000);
        QCOMPARE(calls.load(), 1);
        // And it opens again as usual.
        port.OnRxChar = [&](QObject*, std::int32_t) { ++calls; };
        port.OpenPort();
        QVERIFY(pty.Send("y"));
        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 2, 10000);
        port.ClosePort();
        QVERIFY(!port.Connected());
    }
}

void TestComThread::closeAfterHangUp()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    int calls = 0;
    port.OnRxChar = [&](QObject*, std::int32_t) { ++calls; };
    const auto before = ThreadIds();
    port.OpenPort();
    const int tid = NewThread(before);
    QVERIFY(tid);
    pty.HangUp();
    // The failing device does not keep the thread busy: it sleeps between looks.
    QTRY_VERIFY_WITH_TIMEOUT(
        BlockingSyscall(tid) == SYS_poll || BlockingSyscall(tid) == SYS_ppoll, 10000);
    port.ClosePort();
    QVERIFY(!port.Connected());
    QCOMPARE(calls, 0);
}
QTEST_GUILESS_MAIN(TestComThread)
#include "tst_comthread.moc"
