// The serial port beside other programs and against faults of its own, on a pseudo-terminal
// given a UART's lines by the modem-line model (modemlines.h), which the test run preloads:
// a port another program holds, calls made by handlers while the port closes, a speed the
// device cannot make, and a hang-up.

#include "ModemLinesSupport.h"
#include "ThreadProbe.h"
#include "TtySettings.h"
#include "common/PtyPair.h"
#include "common/modemlines.h"
#include "serial/ComPort.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace modemlines_support;

namespace {

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
    const int fd = ::open(lockFile.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EACCES || errno == EPERM || errno == EROFS ? 0 : -1;
    const QByteArray text = pid.rightJustified(10, ' ') + '\n';
    const bool written = ::write(fd, text.constData(), text.size()) == text.size();
    ::close(fd);
    return written ? 1 : -1;
}

} // namespace

Q_DECLARE_METATYPE(Hold)

class TestPortSafety : public QObject {
    Q_OBJECT

private slots:
    void init();
    void heldPortRefusedBeforeOpening_data();
    void heldPortRefusedBeforeOpening();
    void portOpenInAnotherProcessRefused();
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

void TestPortSafety::init()
{
    if (!modemlines_loaded())
        QSKIP("run with LD_PRELOAD of vokey_modemlines_preload");
    m_pty = FreshModemPty();
    QVERIFY(m_pty);
}

void TestPortSafety::heldPortRefusedBeforeOpening_data()
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

void TestPortSafety::heldPortRefusedBeforeOpening()
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
    int reasonCode = 0;
    int systemCode = 0;
    try {
        port.OpenPort();
    } catch (const EComPort& error) {
        reasonCode = error.ReasonCode();
        systemCode = error.SystemErrorCode();
    }
    // The holder's lines are as it left them: the device was not opened.
    QCOMPARE(LinesOf(*m_pty) & both, 0);
    QCOMPARE(LogOf(m_pty->SlavePath()).size(), logged);
    QCOMPARE(reasonCode, 1);
    QCOMPARE(systemCode, EBUSY);
    QVERIFY(!port.Connected());

    // Once the holder has let go, the port opens.
    letGo();
    port.OpenPort();
    QVERIFY(port.Connected());
}

// A program that holds the port without any lock (as rigctld does). Its lines are its own
// process's, out of the model's sight: what is checked is that this process did not open it.
void TestPortSafety::portOpenInAnotherProcessRefused()
{
    QProcess holder;
    holder.setStandardInputFile(m_pty->SlavePath());
    holder.start("sleep", { "600" });
    QVERIFY(holder.waitForStarted(10000));
    const auto stop = qScopeGuard([&] {
        holder.kill();
        holder.waitForFinished(10000);
    });
    const auto logged = LogOf(m_pty->SlavePath()).size();
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    int reasonCode = 0;
    int systemCode = 0;
    try {
        port.OpenPort();
    } catch (const EComPort& error) {
        reasonCode = error.ReasonCode();
        systemCode = error.SystemErrorCode();
    }
    QCOMPARE(LogOf(m_pty->SlavePath()).size(), logged);
    QCOMPARE(reasonCode, 1);
    QCOMPARE(systemCode, EBUSY);

    holder.kill();
    QVERIFY(holder.waitForFinished(10000));
    port.OpenPort();
    QVERIFY(port.Connected());
}

void TestPortSafety::nestedCallsDuringClose_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("reasonCode"); // what the nested call raised; 0 nothing
    QTest::newRow("close") << "close" << 0;
    QTest::newRow("open") << "open" << 1;
    QTest::newRow("set port") << "set port" << 1;
}

// A close serves the hand-over pending at that moment; its handler calls the port again.
void TestPortSafety::nestedCallsDuringClose()
{
    QFETCH(QString, call);
    QFETCH(int, reasonCode);

    PtyPair other;
    int beforeClose = 0;
    int afterClose = 0;
    int raised = -1;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetEvents({ evError });
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
void TestPortSafety::portDeletedAfterItsHandlerClosedIt()
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

void TestPortSafety::speedTheDeviceCannotMakeRefused_data()
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

void TestPortSafety::speedTheDeviceCannotMakeRefused()
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

void TestPortSafety::errorsBeforeHangUpDelivered_data()
{
    QTest::addColumn<TSyncMethod>("syncMethod");
    QTest::newRow("thread sync") << smThreadSync;
    QTest::newRow("no sync") << smNone;
}

void TestPortSafety::errorsBeforeHangUpDelivered()
{
    QFETCH(TSyncMethod, syncMethod);

    std::mutex mutex;
    QList<TComErrors> errors;
    TComPort port;
    port.SetPort(m_pty->SlavePath());
    port.SetSyncMethod(syncMethod);
    port.SetEvents({ evError });
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

QTEST_GUILESS_MAIN(TestPortSafety)
#include "tst_portsafety.moc"
