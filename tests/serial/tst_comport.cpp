// The serial port on a real pseudo-terminal: opening, closing, exclusive use, settings on the
// device and received data reaching the handlers.

#include "TtySettings.h"
#include "common/PtyPair.h"
#include "serial/ComPort.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Whether the tty is in exclusive mode, as seen through the test's own descriptor; -1 when
// that cannot be read.
int Exclusive(const PtyPair& pty)
{
    int exclusive = 0;
    return ioctl(pty.Slave(), TIOCGEXCL, &exclusive) == 0 ? exclusive : -1;
}

// Whether a plain open of the device, as another program makes it, succeeds. A user without
// privileges is refused by a tty in exclusive mode; root is not.
bool OthersCanOpen(const PtyPair& pty)
{
    const int fd = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace

using Setup = std::function<void(TComPort&)>;
using LetGo = std::function<void(std::unique_ptr<TComPort>&)>;
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(LetGo)

class TestComPort : public QObject {
    Q_OBJECT

private slots:
    void openAndCloseRunTheirEventsInOrder();
    void openAndCloseTwiceDoNothing();
    void secondOpenOfTheSameDeviceFails();
    void closedPortLeavesTheTtyShared_data();
    void closedPortLeavesTheTtyShared();
    void lateOpeningFailureClosesTheDevice();
    void missingDeviceFailsWithErrno();
    void settingsReachTheDevice_data();
    void settingsReachTheDevice();
    void refusedSettings_data();
    void refusedSettings();
    void refusedSettingAtOpenClosesAgain();
    void receivedDataAnnouncedWithQueuedCount_data();
    void receivedDataAnnouncedWithQueuedCount();
};
void TestComPort::openAndCloseRunTheirEventsInOrder()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort port;
    QStringList seen;
    port.OnBeforeOpen = [&](QObject* sender) {
        QCOMPARE(sender, &port);
        seen << "before-open";
    };
    port.OnAfterOpen = [&](QObject*) { seen << "after-open"; };
    port.OnBeforeClose = [&](QObject*) { seen << "before-close"; };
    port.OnAfterClose = [&](QObject*) { seen << "after-close"; };
    port.OnCTSChange = [&](QObject*, bool on) { seen << QString("cts %1").arg(on); };
    port.OnDSRChange = [&](QObject*, bool on) { seen << QString("dsr %1").arg(on); };
    port.OnRLSDChange = [&](QObject*, bool on) { seen << QString("rlsd %1").arg(on); };
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    QVERIFY(port.Connected());
    port.ClosePort();
    QVERIFY(!port.Connected());
    const QStringList expected = { "before-open", "after-open", "cts 0", "dsr 0", "rlsd 0", "cts 0",
        "dsr 0", "rlsd 0", "before-close", "after-close" };
    QCOMPARE(seen, expected);
}

void TestComPort::openAndCloseTwiceDoNothing()
{
    PtyPair pty;
    TComPort port;
    int opened = 0;
    int closed = 0;
    port.OnAfterOpen = [&](QObject*) { ++opened; };
    port.OnAfterClose = [&](QObject*) { ++closed; };
    port.SetPort(pty.SlavePath());
    port.ClosePort();
    port.SetConnected(true);
    port.OpenPort();
    port.SetConnected(true);
    QCOMPARE(opened, 1);
    port.SetConnected(false);
    port.ClosePort();
    QCOMPARE(closed, 1);
}

void TestComPort::secondOpenOfTheSameDeviceFails()
{
    PtyPair pty;
    TComPort first;
    first.SetPort(pty.SlavePath());
    first.OpenPort();

    TComPort second;
    bool beforeOpen = false;
    bool afterOpen = false;
    second.OnBeforeOpen = [&](QObject*) { beforeOpen = true; };
    second.OnAfterOpen = [&](QObject*) { afterOpen = true; };
    second.SetPort(pty.SlavePath());
    try {
        second.OpenPort();
        QFAIL("a port in use was opened a second time");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 1);
        // Refused before opening (EBUSY), or by the lock after it (EWOULDBLOCK).
        QVERIFY2(error.SystemErrorCode() == EBUSY || error.SystemErrorCode() == EWOULDBLOCK,
            qPrintable(QString::number(error.SystemErrorCode())));
    }
    QVERIFY(!second.Connected());
    QVERIFY(beforeOpen);
    QVERIFY(!afterOpen);
    QVERIFY(first.Connected());

    // Free again once the first port has closed it.
    first.ClosePort();
    second.OpenPort();
    QVERIFY(second.Connected());
}

// The exclusive mode belongs to the tty and outlives a close while another descriptor holds
// it (here the test's own): every way of letting the device go must end it.
void TestComPort::closedPortLeavesTheTtyShared_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<LetGo>("letGo");
    const Setup nothing = [](TComPort&) {};
    QTest::newRow("closed") << nothing << LetGo([](auto& p) { p->ClosePort(); });
    QTest::newRow("destroyed") << nothing << LetGo([](auto& p) { p.reset(); });
    QTest::newRow("settings refused at opening")
        << Setup([](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); })
        << LetGo([](auto&) {});
}

void TestComPort::closedPortLeavesTheTtyShared()
{
    QFETCH(Setup, setup);
    QFETCH(LetGo, letGo);

    PtyPair pty;
    auto port = std::make_unique<TComPort>();
    port->SetPort(pty.SlavePath());
    setup(*port);
    try {
        port->OpenPort();
        QCOMPARE(Exclusive(pty), 1);
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 7);
    }
    letGo(port);
    QCOMPARE(Exclusive(pty), 0);
    QVERIFY(OthersCanOpen(pty));
    // A port opens it again (without privileges, only when it is not exclusive).
    TComPort again;
    again.SetPort(pty.SlavePath());
    again.OpenPort();
    QVERIFY(again.Connected());
}

// A failure after the device was opened (here the event thread's descriptors, beyond the
// process's limit) closes the device again and raises as opening does.
void TestComPort::lateOpeningFailureClosesTheDevice()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    int afterOpen = 0;
    port.OnAfterOpen = [&](QObject*) { ++afterOpen; };

    // The device gets the lowest free descriptor, the last one the limit allows.
    const int lowest = fcntl(pty.Master(), F_DUPFD_CLOEXEC, 0);
    QVERIFY(lowest >= 0);
    ::close(lowest);
    rlimit limit {};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit saved = limit;
    limit.rlim_cur = rlim_t(lowest) + 1;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);
    {
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &saved); });
        try {
            port.OpenPort();
            QFAIL("opened without an event thread");
        } catch (const EComPort& error) {
            QCOMPARE(error.ReasonCode(), 1);
            QCOMPARE(error.SystemErrorCode(), EMFILE);
        }
    }
    QVERIFY(!port.Connected());
    QCOMPARE(afterOpen, 0);
    // The device was let go: not exclusive, not locked.
    QCOMPARE(Exclusive(pty), 0);
    TComPort other;
    other.SetPort(pty.SlavePath());
    other.OpenPort();
    QVERIFY(other.Connected());
}

void TestComPort::missingDeviceFailsWithErrno()
{
    for (const QString& name :
        { QStringLiteral("vokey-no-such-tty"), QStringLiteral("/tmp/vokey-no-such-dir/tty") }) {
        TComPort port;
        port.SetPort(name);
        try {
            port.OpenPort();
            QFAIL("a missing device was opened");
        } catch (const EComPort& error) {
            QCOMPARE(error.ReasonCode(), 1);
            QCOMPARE(error.SystemErrorCode(), ENOENT);
            QCOMPARE(error.Message(),
                QStringLiteral(
                    "Unable to open com port (win error code: 2): No such file or directory"));
        }
        QVERIFY(!port.Connected());
    }
}

void TestComPort::settingsReachTheDevice_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<unsigned>("speed");
    QTest::addColumn<unsigned>("cflagMask");
    QTest::addColumn<unsigned>("cflag");
    QTest::addColumn<unsigned>("iflagMask");
    QTest::addColumn<unsigned>("iflag");

    using namespace TtyFlag;
    const unsigned frame = ParOdd | CmSpar | CStopB | CrtsCts;
    const unsigned input = IxOn | IxOff | InPck;
    QTest::newRow("defaults") << Setup([](TComPort&) {}) << 9600u << (frame | HupCl) << HupCl
                              << input << 0u;
    QTest::newRow("1200") << Setup([](TComPort& p) { p.SetBaudRate(br1200); }) << 1200u << 0u << 0u
                          << 0u << 0u;
    QTest::newRow("19200") << Setup([](TComPort& p) { p.SetBaudRate(br19200); }) << 19200u << 0u
                           << 0u << 0u << 0u;
    QTest::newRow("14400 (no B constant)") << Setup([](TComPort& p) { p.SetBaudRate(br14400); })
                                           << 14400u << CBaud << Bother << 0u << 0u;
    QTest::newRow("256000") << Setup([](TComPort& p) { p.SetBaudRate(br256000); }) << 256000u << 0u
                            << 0u << 0u << 0u;
    QTest::newRow("custom default")
        << Setup([](TComPort& p) { p.SetBaudRate(brCustom); }) << 9600u << 0u << 0u << 0u << 0u;
    QTest::newRow("custom 31250") << Setup([](TComPort& p) {
        p.SetBaudRate(brCustom);
        p.SetCustomBaudRate(31250);
    }) << 31250u << CBaud << Bother
                                  << 0u << 0u;
    QTest::newRow("odd") << Setup([](TComPort& p) { p.Parity().SetBits(prOdd); }) << 9600u
                         << (ParOdd | CmSpar) << ParOdd << 0u << 0u;
    QTest::newRow("mark") << Setup([](TComPort& p) { p.Parity().SetBits(prMark); }) << 9600u
                          << (ParOdd | CmSpar) << (ParOdd | CmSpar) << 0u << 0u;
    QTest::newRow("space") << Setup([](TComPort& p) { p.Parity().SetBits(prSpace); }) << 9600u
                           << (ParOdd | CmSpar) << CmSpar << 0u << 0u;
    QTest::newRow("two stop bits") << Setup([](TComPort& p) { p.SetStopBits(sbTwoStopBits); })
                                   << 9600u << CStopB << CStopB << 0u << 0u;
    QTest::newRow("1.5 stop bits with 5 data bits") << Setup([](TComPort& p) {
        p.SetDataBits(dbFive);
        p.SetStopBits(sbOne5StopBits);
    }) << 9600u << CStopB << CStopB << 0u << 0u;
    QTest::newRow("hardware flow")
        << Setup([](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); }) << 9600u
        << CrtsCts << CrtsCts << 0u << 0u;
    QTest::newRow("software flow")
        << Setup([](TComPort& p) { p.FlowControl().SetFlowControl(fcSoftware); }) << 9600u
        << CrtsCts << 0u << input << (IxOn | IxOff);
    QTest::newRow("xon only out") << Setup([](TComPort& p) { p.FlowControl().SetXonXoffOut(true); })
                                  << 9600u << 0u << 0u << input << IxOn;
    QTest::newRow("parity check without replace passes bytes")
        << Setup([](TComPort& p) { p.Parity().SetCheck(true); }) << 9600u << 0u << 0u << InPck
        << 0u;
    QTest::newRow("parity check with replace") << Setup([](TComPort& p) {
        p.Parity().SetCheck(true);
        p.Parity().SetReplace(true);
    }) << 9600u << 0u << 0u << InPck << InPck;
}

void TestComPort::settingsReachTheDevice()
{
    QFETCH(Setup, setup);
    QFETCH(unsigned, speed);
    QFETCH(unsigned, cflagMask);
    QFETCH(unsigned, cflag);
    QFETCH(unsigned, iflagMask);
    QFETCH(unsigned, iflag);

    // Applied while open, and applied at opening.
    for (const bool whileOpen : { true, false }) {
        PtyPair pty;
        TComPort port;
        port.SetPort(pty.SlavePath());
        if (whileOpen)
            port.OpenPort();
        setup(port);
        port.OpenPort();
        TtySettings tty;
        QVERIFY(ReadTtySettings(pty.Slave(), tty));
        QCOMPARE(tty.ospeed, speed);
        QCOMPARE(tty.cflag & cflagMask, cflag);
        QCOMPARE(tty.iflag & iflagMask, iflag);
    }
}

void TestComPort::refusedSettings_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("errorCode");

    QTest::newRow("1.5 stop bits with 8 data bits")
        << Setup([](TComPort& p) { p.SetStopBits(sbOne5StopBits); }) << EINVAL;
    QTest::newRow("2 stop bits with 5 data bits") << Setup([](TComPort& p) {
        p.BeginSettingsUpdate();
        p.SetStopBits(sbTwoStopBits);
        p.SetDataBits(dbFive);
        p.EndSettingsUpdate();
    }) << EINVAL;
    QTest::newRow("DTR handshake")
        << Setup([](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); }) << EINVAL;
    QTest::newRow("RTS toggle") << Setup([](TComPort& p) {
        p.FlowControl().SetControlRTS(rtsToggle);
    }) << EINVAL;
    QTest::newRow("RTS handshake without CTS flow")
        << Setup([](TComPort& p) { p.FlowControl().SetControlRTS(rtsHandshake); }) << EINVAL;
    QTest::newRow("custom speed 0") << Setup([](TComPort& p) {
        p.SetBaudRate(brCustom);
        p.SetCustomBaudRate(0);
    }) << EINVAL;
    QTest::newRow("replace by a character other than NUL") << Setup([](TComPort& p) {
        p.Parity().SetCheck(true);
        p.Parity().SetReplaceChar('?');
        p.Parity().SetReplace(true);
    }) << EINVAL;
    // A pseudo-terminal has no DTR to raise.
    QTest::newRow("DTR enable without the line")
        << Setup([](TComPort& p) { p.FlowControl().SetControlDTR(dtrEnable); }) << ENOTTY;
}

void TestComPort::refusedSettings()
{
    QFETCH(Setup, setup);
    QFETCH(int, errorCode);

    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    try {
        setup(port);
        QFAIL("the setting was taken");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 7);
        QCOMPARE(error.SystemErrorCode(), errorCode);
        QVERIFY(error.Message().startsWith("SetCommState function failed (win error code: "));
    }
    QVERIFY(port.Connected());
}

void TestComPort::refusedSettingAtOpenClosesAgain()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.FlowControl().SetControlRTS(rtsToggle);
    QCOMPARE(port.FlowControl().ControlRTS(), rtsToggle);
    int afterOpen = 0;
    port.OnAfterOpen = [&](QObject*) { ++afterOpen; };
    QVERIFY_THROWS_EXCEPTION(EComPort, port.OpenPort());
    QVERIFY(!port.Connected());
    QCOMPARE(afterOpen, 0);
    // The device was let go: another port can have it.
    TComPort other;
    other.SetPort(pty.SlavePath());
    other.OpenPort();
    QVERIFY(other.Connected());
}

void TestComPort::receivedDataAnnouncedWithQueuedCount_data()
{
    QTest::addColumn<TSyncMethod>("syncMethod");
    QTest::addColumn<bool>("onPortThread");
    QTest::newRow("thread sync") << smThreadSync << true;
    QTest::newRow("window sync") << smWindowSync << true;
    QTest::newRow("no sync") << smNone << false;
}

void TestComPort::receivedDataAnnouncedWithQueuedCount()
{
    QFETCH(TSyncMethod, syncMethod);
    QFETCH(bool, onPortThread);

    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetSyncMethod(syncMethod);
    std::atomic<int> lastCount = 0;
    std::atomic<bool> wrongThread = false;
    port.OnRxChar = [&](QObject* sender, std::int32_t count) {
        if ((QThread::currentThread() == port.thread()) != onPortThread || sender != &port)
            wrongThread = true;
        lastCount = count;
    };
    port.OpenPort();
    QVERIFY(pty.Send("hello"));
    QTRY_COMPARE_WITH_TIMEOUT(lastCount.load(), 5, 10000);
    // Nothing reads the queue: the next arrival reports all that is queued.
    QVERIFY(pty.Send("!!"));
    QTRY_COMPARE_WITH_TIMEOUT(lastCount.load(), 7, 10000);
    QCOMPARE(port.PendingInputCount(), 7);
    char buffer[16] = {};
    QCOMPARE(port.ReadBytes(buffer, sizeof buffer), 7);
    QCOMPARE(QByteArray(buffer, 7), QByteArray("hello!!"));
    QVERIFY(!wrongThread);
    port.ClosePort();
    QVERIFY(!port.Connected());
}

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_comport.moc"
