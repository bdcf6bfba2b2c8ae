// The serial port's modem lines and line errors, on a pseudo-terminal given a UART's lines by
// the modem-line model (modemlines.h), which the test run preloads.

#include "ModemLinesSupport.h"
#include "ThreadProbe.h"
#include "common/PtyPair.h"
#include "common/modemlines.h"
#include "serial/ComPort.h"

#include <QCoreApplication>
#include <QTest>

#include <mutex>
#include <set>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>

using namespace modemlines_support;

class TestModemLines : public QObject {
    Q_OBJECT

private slots:
    void init();
    void linesLowFromOpeningUntilKeyed();
    void setStateChangesItsLineOnly_data();
    void setStateChangesItsLineOnly();
    void closingDropsTheLines();
    void lineErrorUnkeysOnUiThread();
    void parityErrorsOnlyWithCheck_data();
    void parityErrorsOnlyWithCheck();
    void errorDeliveredBeforeData();
    void lineStateReadAtDelivery();
    void openingReportsInputLines();
    void inputLinesDelivered_data();
    void inputLinesDelivered();
    void closeDuringPendingErrorHandOver();

private:
    std::unique_ptr<PtyPair> m_pty;
};

void TestModemLines::init()
{
    if (!modemlines_loaded())
        QSKIP("run with LD_PRELOAD of vokey_modemlines_preload");
    m_pty = FreshModemPty();
    QVERIFY(m_pty);
}

void TestModemLines::linesLowFromOpeningUntilKeyed()
{
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.OpenPort();
    QCOMPARE(LinesOf(*m_pty) & (TIOCM_DTR | TIOCM_RTS), 0);

    // The kernel raised both on opening; they dropped before anything else reached the device.
    const auto opened = LogOf(m_pty->SlavePath());
    QVERIFY(opened.size() >= 4);
    QCOMPARE(opened[0].line | opened[1].line, TIOCM_DTR | TIOCM_RTS);
    QCOMPARE(QByteArray(opened[0].cause), QByteArray("open"));
    QCOMPARE(opened[2].line | opened[3].line, TIOCM_DTR | TIOCM_RTS);
    QCOMPARE(opened[2].value + opened[3].value, 0);
    for (std::size_t i = 4; i < opened.size(); ++i)
        QVERIFY2(opened[i].line == 0, "a line changed after the first drop");

    const int before = modemlines_log_size();
    port.SetDTRState(true);
    const auto keyed = LogOf(m_pty->SlavePath());
    QCOMPARE(keyed.size(), opened.size() + 1);
    QCOMPARE(keyed.back().line, TIOCM_DTR);
    QCOMPARE(keyed.back().value, 1);
    QCOMPARE(modemlines_log_size(), before + 1);
}

void TestModemLines::setStateChangesItsLineOnly_data()
{
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("initial");
    QTest::addColumn<int>("expected");
    const int both = TIOCM_DTR | TIOCM_RTS;
    QTest::newRow("DTR on") << true << true << 0 << int(TIOCM_DTR);
    QTest::newRow("RTS on") << false << true << 0 << int(TIOCM_RTS);
    QTest::newRow("DTR off") << true << false << both << int(TIOCM_RTS);
    QTest::newRow("RTS off") << false << false << both << int(TIOCM_DTR);
    QTest::newRow("DTR on again") << true << true << both << both;
}

void TestModemLines::setStateChangesItsLineOnly()
{
    QFETCH(bool, dtr);
    QFETCH(bool, on);
    QFETCH(int, initial);
    QFETCH(int, expected);

    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.OpenPort();
    port.SetDTRState(initial & TIOCM_DTR);
    port.SetRTSState(initial & TIOCM_RTS);
    QCOMPARE(LinesOf(*m_pty) & (TIOCM_DTR | TIOCM_RTS), initial);
    if (dtr)
        port.SetDTRState(on);
    else
        port.SetRTSState(on);
    QCOMPARE(LinesOf(*m_pty) & (TIOCM_DTR | TIOCM_RTS), expected);
}

void TestModemLines::closingDropsTheLines()
{
    for (const bool destroy : { false, true }) {
        auto port = std::make_unique<TComPort>();
        port->SetPort(m_pty->SlavePath());
        port->OpenPort();
        port->SetDTRState(true);
        port->SetRTSState(true);
        QCOMPARE(LinesOf(*m_pty) & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
        if (destroy)
            port.reset();
        else
            port->ClosePort();
        // Also the test's own slave descriptor must not keep the device open in the model.
        QCOMPARE(LinesOf(*m_pty) & (TIOCM_DTR | TIOCM_RTS), 0);
    }
}

// The window's use: its error handler unkeys.
void TestModemLines::lineErrorUnkeysOnUiThread()
{
    QList<TComErrors> errors;
    bool onUiThread = true;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.OnError = [&](QObject* sender, TComErrors set) {
        onUiThread
            = onUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        errors << set;
        auto* comPort = static_cast<TComPort*>(sender);
        if (comPort->Connected()) {
            comPort->SetDTRState(false);
            comPort->SetRTSState(false);
        }
    };
    port.OpenPort();
    port.SetDTRState(true);
    port.SetRTSState(true);
    AddErrors(*m_pty, 1, 0);
    QVERIFY(m_pty->Send(QByteArray(1, '\0')));
    QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 10000);
    QCOMPARE(errors.first(), TComErrors { ceFrame });
    QVERIFY(onUiThread);
    QCOMPARE(LinesOf(*m_pty) & (TIOCM_DTR | TIOCM_RTS), 0);
}

void TestModemLines::parityErrorsOnlyWithCheck_data()
{
    QTest::addColumn<bool>("check");
    QTest::newRow("unchecked") << false;
    QTest::newRow("checked") << true;
}

void TestModemLines::parityErrorsOnlyWithCheck()
{
    QFETCH(bool, check);
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.Parity().SetCheck(check);
    QList<TComErrors> errors;
    port.OnError = [&](QObject*, TComErrors set) { errors << set; };
    port.OpenPort();
    AddErrors(*m_pty, 0, 1);
    QVERIFY(m_pty->Send("p"));
    // A framing error afterwards shows whether the parity error was reported before it.
    const auto frame = [&] {
        AddErrors(*m_pty, 1, 0);
        QVERIFY(m_pty->Send("f"));
    };
    if (check) {
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 10000);
        QCOMPARE(errors[0], TComErrors { ceRxParity });
        frame();
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 2, 10000);
        QCOMPARE(errors[1], TComErrors { ceFrame });
    } else {
        // Wait until the parity error has been read (and dropped) before the framing error.
        QTRY_COMPARE_WITH_TIMEOUT(port.PendingInputCount(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(port.ReadLineErrors().Empty(), 10000);
        frame();
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 10000);
        QCOMPARE(errors[0], TComErrors { ceFrame });
    }
}

void TestModemLines::errorDeliveredBeforeData()
{
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    QStringList seen;
    port.OnError = [&](QObject*, TComErrors) { seen << "error"; };
    port.OnRxChar = [&](QObject*, std::int32_t count) { seen << QString("rx %1").arg(count); };
    port.OpenPort();
    AddErrors(*m_pty, 1, 0);
    QVERIFY(m_pty->Send("ab"));
    QTRY_VERIFY_WITH_TIMEOUT(seen.contains("rx 2"), 10000);
    QCOMPARE(seen.first(), QStringLiteral("error"));
}

void TestModemLines::lineStateReadAtDelivery()
{
    QList<bool> delivered;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.OnCTSChange = [&](QObject*, bool on) { delivered << on; };
    const auto before = ThreadIds();
    port.OpenPort();
    QVERIFY(ModemWaiter(before));
    delivered.clear(); // the opening's report
    // CTS rises and falls before this thread handles the hand-over: the handler sees the line
    // as it is when it runs.
    SetInputs(*m_pty, TIOCM_CTS);
    SetInputs(*m_pty, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!delivered.isEmpty(), 10000);
    QVERIFY(!delivered.contains(true));
}

void TestModemLines::openingReportsInputLines()
{
    SetInputs(*m_pty, TIOCM_CTS | TIOCM_CD);
    QStringList seen;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.OnAfterOpen = [&](QObject*) { seen << "open"; };
    port.OnCTSChange = [&](QObject*, bool on) { seen << QString("cts %1").arg(on); };
    port.OnDSRChange = [&](QObject*, bool on) { seen << QString("dsr %1").arg(on); };
    port.OnRLSDChange = [&](QObject*, bool on) { seen << QString("rlsd %1").arg(on); };
    port.OpenPort();
    QCOMPARE(seen, QStringList({ "open", "cts 1", "dsr 0", "rlsd 1" }));
    QCOMPARE(port.ReadModemSignals(), TComSignals({ csCTS, csRLSD }));
}

void TestModemLines::inputLinesDelivered_data()
{
    QTest::addColumn<TSyncMethod>("syncMethod");
    QTest::addColumn<bool>("kernelWait");
    QTest::newRow("thread sync, kernel wait") << smThreadSync << true;
    QTest::newRow("thread sync, sampled") << smThreadSync << false;
    QTest::newRow("window sync, kernel wait") << smWindowSync << true;
    QTest::newRow("window sync, sampled") << smWindowSync << false;
    QTest::newRow("no sync, kernel wait") << smNone << true;
}

void TestModemLines::inputLinesDelivered()
{
    QFETCH(TSyncMethod, syncMethod);
    QFETCH(bool, kernelWait);
    modemlines_set_features(kernelWait, 1);

    std::mutex mutex;
    QStringList seen;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetSyncMethod(syncMethod);
    const auto note = [&](const QString& what) {
        std::lock_guard lock(mutex);
        seen << what;
    };
    const auto count = [&](const QString& what) {
        std::lock_guard lock(mutex);
        return seen.count(what);
    };
    const auto before = ThreadIds();
    port.OpenPort();
    const int waiter = kernelWait ? ModemWaiter(before) : 0;
    QVERIFY(waiter || !kernelWait);
    const auto change = [&](int bits) {
        QVERIFY(!waiter || WaitUntilWaiting(waiter));
        SetInputs(*m_pty, bits);
    };
    port.OnRing = [&](QObject*) { note("ring"); };
    port.OnCTSChange = [&](QObject*, bool on) { note(QString("cts %1").arg(on)); };
    port.OnDSRChange = [&](QObject*, bool on) { note(QString("dsr %1").arg(on)); };
    port.OnRLSDChange = [&](QObject*, bool on) { note(QString("rlsd %1").arg(on)); };

    change(TIOCM_RNG);
    SetInputs(*m_pty, 0);
    QTRY_COMPARE_WITH_TIMEOUT(count("ring"), 1, 10000);
    change(TIOCM_CD);
    QTRY_COMPARE_WITH_TIMEOUT(count("rlsd 1"), 1, 10000);
    change(TIOCM_CD | TIOCM_DSR);
    QTRY_COMPARE_WITH_TIMEOUT(count("dsr 1"), 1, 10000);
    change(TIOCM_CD | TIOCM_DSR | TIOCM_CTS);
    QTRY_COMPARE_WITH_TIMEOUT(count("cts 1"), 1, 10000);
    port.ClosePort();
    // Each change once: nothing but these four arrived before closing.
    QCOMPARE(seen.mid(0, 4), QStringList({ "ring", "rlsd 1", "dsr 1", "cts 1" }));
}

// Closing while an error report waits for this thread: the report completes within the
// close (errors are not emptied with the queues), and the close returns.
void TestModemLines::closeDuringPendingErrorHandOver()
{
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetEvents({ evError });
    int errors = 0;
    bool closing = false;
    int duringClose = 0;
    port.OnError = [&](QObject*, TComErrors) {
        ++errors;
        duringClose += closing;
    };
    for (int i = 0; i < 200; ++i) {
        const auto before = ThreadIds();
        port.OpenPort();
        const int tid = NewThread(before);
        QVERIFY(tid);
        // Waiting for events first: a thread just started may block in a futex of its own
        // start-up, which is not the hand-over.
        QVERIFY(WaitForSyscall(tid, { SYS_epoll_wait, SYS_epoll_pwait }));
        AddErrors(*m_pty, 1, 0);
        QVERIFY(m_pty->Send("x"));
        QVERIFY(WaitForSyscall(tid, { SYS_futex }));
        closing = true;
        port.ClosePort();
        closing = false;
        QVERIFY(!port.Connected());
        QCOMPARE(errors, i + 1);
        QCOMPARE(duringClose, i + 1);
    }
    QCoreApplication::processEvents();
    QCOMPARE(errors, 200);
}

QTEST_GUILESS_MAIN(TestModemLines)
#include "tst_modemlines.moc"
