// The serial port's modem lines and line errors, on a pseudo-terminal given a UART's lines by
// the modem-line model (modemlines.h), which the test run preloads.

#include "PtyPair.h"
#include "TtySettings.h"
#include "serial/ComPort.h"
#include "serial/modemlines.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<modemlines_event> LogOf(const QString& path)
{
    struct stat st { };
    stat(path.toLocal8Bit().constData(), &st);
    std::vector<modemlines_event> events;
    for (int i = 0, size = modemlines_log_size(); i < size; ++i) {
        modemlines_event event {};
        if (modemlines_log_get(i, &event) == 0 && event.device == st.st_rdev)
            events.push_back(event);
    }
    return events;
}

int LinesOf(const PtyPair& pty)
{
    return modemlines_get(pty.SlavePath().toLocal8Bit().constData());
}

void SetInputs(const PtyPair& pty, int bits)
{
    modemlines_set_inputs(pty.SlavePath().toLocal8Bit().constData(), bits);
}

void AddErrors(const PtyPair& pty, int frame, int parity)
{
    modemlines_add_errors(pty.SlavePath().toLocal8Bit().constData(), frame, parity, 0, 0, 0);
}

// The port's modem-line waiter among the threads made since before: the one that sleeps in
// the (modelled) kernel wait while the event thread sleeps in epoll. 0 when there is none.
int ModemWaiter(const std::set<int>& before)
{
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const auto added = NewThreads(before);
        int waiting = 0;
        int polling = 0;
        for (int tid : added) {
            const long call = BlockingSyscall(tid);
            if (call == SYS_futex)
                waiting = tid;
            else if (call == SYS_epoll_wait || call == SYS_epoll_pwait)
                polling = tid;
        }
        if (added.size() == 2 && waiting && polling)
            return waiting;
        std::this_thread::yield();
    }
    return 0;
}

// Lines changed while the waiter is between two kernel waits are seen at the next change
// only (the kernel's wait does not latch changes): change them while it waits.
bool WaitUntilWaiting(int waiter)
{
    return WaitForSyscall(waiter, { SYS_futex });
}

// A port whose memory becomes inaccessible when it is deleted: a later use crashes at once.
class GuardedPort : public TComPort {
public:
    static void* operator new(std::size_t size)
    {
        void* memory = mmap(
            nullptr, Pages(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            throw std::bad_alloc();
        return memory;
    }
    static void operator delete(void* memory, std::size_t size)
    {
        mprotect(memory, Pages(size), PROT_NONE);
    }

private:
    static std::size_t Pages(std::size_t size)
    {
        const auto page = std::size_t(sysconf(_SC_PAGESIZE));
        return (size + page - 1) / page * page;
    }
};

// Another program's hold on a port it has open: 1 taken, 0 not possible here, -1 failed.
using Hold = std::function<int(int fd, const QByteArray& lockFile)>;

int WriteLockFile(const QByteArray& lockFile, const QByteArray& pid)
{
    const int fd = ::open(lockFile.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EACCES || errno == EPERM || errno == EROFS ? 0 : -1;
    const QByteArray text = pid.rightJustified(10, ' ') + '\n';
    const bool written = ::write(fd, text.constData(), text.size()) == text.size();
    ::close(fd);
    return written ? 1 : -1;
}

} // namespace

Q_DECLARE_METATYPE(Hold)

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
    void heldPortRefusedBeforeOpening_data();
    void heldPortRefusedBeforeOpening();
    void nestedCallsDuringClose_data();
    void nestedCallsDuringClose();
    void portDeletedAfterItsHandlerClosedIt();
    void speedTheDeviceCannotMakeRefused_data();
    void speedTheDeviceCannotMakeRefused();
    void errorsBeforeHangUpDelivered_data();
    void errorsBeforeHangUpDelivered();

private:
    std::unique_ptr<PtyPair> m_pty;
};

void TestModemLines::init()
{
    if (!modemlines_loaded())
        QSKIP("run with LD_PRELOAD of vokey_modemlines_preload");
    modemlines_set_features(1, 1);
    modemlines_set_baud_base(0);
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->IsOpen());
    QCOMPARE(modemlines_reset(m_pty->SlavePath().toLocal8Bit().constData()), 0);
    modemlines_log_clear();
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

void TestModemLines::heldPortRefusedBeforeOpening_data()
{
    QTest::addColumn<Hold>("hold");
    QTest::addColumn<bool>("held");
    QTest::newRow("flock") << Hold([](int fd, auto&) {
        return flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : -1;
    }) << true;
    QTest::newRow("POSIX lock") << Hold([](int fd, auto&) {
        struct flock lock { };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        return fcntl(fd, F_SETLK, &lock) == 0 ? 1 : -1;
    }) << true;
    QTest::newRow("open file description lock") << Hold([](int fd, auto&) {
        struct flock lock { };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        return fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 1 : -1;
    }) << true;
    QTest::newRow("UUCP lock file") << Hold([](int, const QByteArray& lockFile) {
        return WriteLockFile(lockFile, QByteArray::number(getpid()));
    }) << true;
    // A lock file whose process has ended holds nothing.
    QTest::newRow("stale UUCP lock file") << Hold([](int, const QByteArray& lockFile) {
        return WriteLockFile(lockFile, "2147483646");
    }) << false;
}

void TestModemLines::heldPortRefusedBeforeOpening()
{
    QFETCH(Hold, hold);
    QFETCH(bool, held);

    const QByteArray path = m_pty->SlavePath().toLocal8Bit();
    const QByteArray lockFile = "/run/lock/LCK.." + path.mid(5).replace('/', '_');
    // The other program opens the port (the kernel raises DTR and RTS), drops both, locks it.
    int holder = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(holder >= 0);
    const auto letGo = [&] {
        ::unlink(lockFile.constData());
        if (holder >= 0)
            ::close(holder);
        holder = -1;
    };
    const auto atEnd = qScopeGuard(letGo);
    const int both = TIOCM_DTR | TIOCM_RTS;
    QCOMPARE(ioctl(holder, TIOCMBIC, &both), 0);
    const int taken = hold(holder, lockFile);
    if (taken == 0)
        QSKIP("no lock file can be made in /run/lock");
    QCOMPARE(taken, 1);
    const auto logged = LogOf(m_pty->SlavePath()).size();

    TComPort port;
    port.SetPort(m_pty->SlavePath());
    if (!held) {
        port.OpenPort();
        QVERIFY(port.Connected());
        return;
    }
    try {
        port.OpenPort();
        QFAIL("a port that another program holds was opened");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 1);
        QCOMPARE(error.SystemErrorCode(), EBUSY);
    }
    QVERIFY(!port.Connected());
    // The holder's lines are as it left them: the device was not opened.
    QCOMPARE(LinesOf(*m_pty) & both, 0);
    QCOMPARE(LogOf(m_pty->SlavePath()).size(), logged);

    // Once the holder has let go, the port opens.
    letGo();
    port.OpenPort();
    QVERIFY(port.Connected());
}

void TestModemLines::nestedCallsDuringClose_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("reasonCode"); // what the nested call raised; 0 nothing
    QTest::newRow("close") << "close" << 0;
    QTest::newRow("open") << "open" << 1;
    QTest::newRow("set port") << "set port" << 1;
}

// A close serves the hand-over pending at that moment; its handler calls the port again.
void TestModemLines::nestedCallsDuringClose()
{
    QFETCH(QString, call);
    QFETCH(int, reasonCode);

    PtyPair other;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetEvents({ evError });
    int beforeClose = 0;
    int afterClose = 0;
    int raised = -1;
    port.OnBeforeClose = [&](QObject*) { ++beforeClose; };
    port.OnAfterClose = [&](QObject*) { ++afterClose; };
    port.OnError = [&](QObject*, TComErrors) {
        raised = 0;
        try {
            if (call == "close")
                port.ClosePort();
            else if (call == "open")
                port.OpenPort();
            else
                port.SetPort(other.SlavePath());
        } catch (const EComPort& error) {
            raised = error.ReasonCode();
        }
    };
    const auto before = ThreadIds();
    port.OpenPort();
    const int tid = NewThread(before);
    QVERIFY(tid);
    QVERIFY(WaitForSyscall(tid, { SYS_epoll_wait, SYS_epoll_pwait }));
    AddErrors(*m_pty, 1, 0);
    QVERIFY(m_pty->Send("x"));
    // The error's hand-over waits for this thread, which closes the port and so runs it.
    QVERIFY(WaitForSyscall(tid, { SYS_futex }));
    port.ClosePort();
    QCOMPARE(raised, reasonCode);
    QCOMPARE(beforeClose, 1);
    QCOMPARE(afterClose, 1);
    QVERIFY(!port.Connected());
    QTRY_VERIFY_WITH_TIMEOUT(NewThreads(before).empty(), 10000);
}

// With smNone a handler closes its own port on the event thread, and the owner deletes the
// port as soon as it sees it closed: what that thread does afterwards must not touch it.
void TestModemLines::portDeletedAfterItsHandlerClosedIt()
{
    auto* port = new GuardedPort;
    port->SetPort(m_pty->SlavePath());
    port->SetSyncMethod(smNone);
    std::atomic<bool> closed = false;
    std::atomic<bool> deleted = false;
    port->OnError = [&, port](QObject*, TComErrors) {
        port->ClosePort();
        closed = true;
        const QDeadlineTimer deadline(10000);
        while (!deleted && !deadline.hasExpired())
            std::this_thread::yield();
    };
    const auto before = ThreadIds();
    port->OpenPort();
    // An error with data: the receive step comes after the error's in the same batch.
    AddErrors(*m_pty, 1, 0);
    QVERIFY(m_pty->Send("x"));
    QTRY_VERIFY_WITH_TIMEOUT(closed, 10000);
    delete port;
    deleted = true;
    QTRY_VERIFY_WITH_TIMEOUT(NewThreads(before).empty(), 10000);
}

void TestModemLines::speedTheDeviceCannotMakeRefused_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<unsigned>("made");
    // A UART whose clock gives 115200 bit/s at divisor 1; a refused speed leaves 9600.
    QTest::newRow("14400: divisor 8") << 14400 << true << 14400u;
    QTest::newRow("56000: 57600, 2.9 % off") << 56000 << true << 57600u;
    QTest::newRow("31250: 28800, 7.8 % off") << 31250 << false << 9600u;
    QTest::newRow("256000: 115200") << 256000 << false << 9600u;
}

void TestModemLines::speedTheDeviceCannotMakeRefused()
{
    QFETCH(int, speed);
    QFETCH(bool, taken);
    QFETCH(unsigned, made);

    modemlines_set_baud_base(115200);
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetBaudRate(brCustom);
    port.OpenPort();
    try {
        port.SetCustomBaudRate(speed);
        QVERIFY2(taken, "a speed the device cannot make was taken");
    } catch (const EComPort& error) {
        QVERIFY2(!taken, qPrintable(error.Message()));
        QCOMPARE(error.ReasonCode(), 7);
        QCOMPARE(error.SystemErrorCode(), EINVAL);
    }
    TtySettings tty;
    QVERIFY(ReadTtySettings(m_pty->Slave(), tty));
    QCOMPARE(tty.ospeed, made);
}

void TestModemLines::errorsBeforeHangUpDelivered_data()
{
    QTest::addColumn<TSyncMethod>("syncMethod");
    QTest::newRow("thread sync") << smThreadSync;
    QTest::newRow("no sync") << smNone;
}

void TestModemLines::errorsBeforeHangUpDelivered()
{
    QFETCH(TSyncMethod, syncMethod);

    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetSyncMethod(syncMethod);
    port.SetEvents({ evError });
    std::mutex mutex;
    QList<TComErrors> errors;
    port.OnError = [&](QObject*, TComErrors set) {
        std::lock_guard lock(mutex);
        errors << set;
        if (errors.size() == 1) {
            // While the thread delivers this, an overrun arrives and the line hangs up.
            modemlines_add_errors(m_pty->SlavePath().toLocal8Bit().constData(), 0, 0, 1, 0, 0);
            m_pty->Send("y");
            m_pty->HangUp();
        }
    };
    const auto count = [&] {
        std::lock_guard lock(mutex);
        return errors.size();
    };
    port.OpenPort();
    AddErrors(*m_pty, 1, 0);
    QVERIFY(m_pty->Send("x"));
    QTRY_COMPARE_WITH_TIMEOUT(count(), 2, 10000);
    QCOMPARE(errors, QList<TComErrors>({ { ceFrame }, { ceOverrun } }));
}

QTEST_GUILESS_MAIN(TestModemLines)
#include "tst_modemlines.moc"
