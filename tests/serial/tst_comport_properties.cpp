// The serial port's properties: initial values, setters that act only on a change and only on
// an open port, the flow-control summary, buffer rounding, the update counter, loading,
// reopening on a new name, and the messages of its exception.

#include "TtySettings.h"
#include "common/PtyPair.h"
#include "serial/ComPort.h"
#include "serial/SerialDevice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using Setup = std::function<void(TComPort&)>;
Q_DECLARE_METATYPE(Setup)

namespace {

// The device operations a step makes.
int CallsOf(const std::function<void()>& step)
{
    const auto before = SerialDevice::CallCount();
    step();
    return int(SerialDevice::CallCount() - before);
}

} // namespace

class TestComPortProperties : public QObject {
    Q_OBJECT

private slots:
    void initialValues();
    void closedPortMakesNoDeviceCall_data();
    void closedPortMakesNoDeviceCall();
    void openPortAppliesChangesOnly_data();
    void openPortAppliesChangesOnly();
    void flowControlSummary_data();
    void flowControlSummary();
    void flowControlWrite_data();
    void flowControlWrite();
    void bufferSizesRounded_data();
    void bufferSizesRounded();
    void portChangeReopens();
    void portChangeToMissingDeviceLeavesPortClosed();
    void syncMethodRefusedWhileOpen();
    void settingsUpdateAppliesOnce();
    void portChangeInsideUpdateGetsSettingsAtTheEnd();
    void loadingOpensAtTheEnd();
    void loadingReportsFailedOpening();
    void operationsOnClosedPortRaise_data();
    void operationsOnClosedPortRaise();
    void messages();
    void speedTable();
};

void TestComPortProperties::initialValues()
{
    TComPort port;
    QVERIFY(!port.Connected());
    QCOMPARE(port.BaudRate(), br9600);
    QCOMPARE(port.CustomBaudRate(), 9600);
    QCOMPARE(port.Port(), QStringLiteral("COM1"));
    QCOMPARE(port.Parity().Bits(), prNone);
    QVERIFY(!port.Parity().Check() && !port.Parity().Replace());
    QCOMPARE(port.Parity().ReplaceChar(), '\0');
    QCOMPARE(port.StopBits(), sbOneStopBit);
    QCOMPARE(port.DataBits(), dbEight);
    QVERIFY(!port.DiscardNull());
    QCOMPARE(port.EventChar(), '\0');
    QCOMPARE(port.Events().ToBits(), 0x3FF);
    QCOMPARE(port.Buffer().InputSize(), 1024);
    QCOMPARE(port.Buffer().OutputSize(), 1024);
    const TComFlowControl& flow = port.FlowControl();
    QVERIFY(!flow.OutCTSFlow() && !flow.OutDSRFlow() && !flow.XonXoffOut() && !flow.XonXoffIn());
    QVERIFY(!flow.DSRSensitivity() && !flow.TxContinueOnXoff());
    QCOMPARE(flow.ControlDTR(), dtrDisable);
    QCOMPARE(flow.ControlRTS(), rtsDisable);
    QCOMPARE(flow.XonChar(), '\x11');
    QCOMPARE(flow.XoffChar(), '\x13');
    QCOMPARE(flow.FlowControl(), fcNone);
    const TComTimeouts& t = port.Timeouts();
    QCOMPARE(t.ReadInterval(), -1);
    QCOMPARE(t.ReadTotalMultiplier(), 0);
    QCOMPARE(t.ReadTotalConstant(), 0);
    QCOMPARE(t.WriteTotalMultiplier(), 100);
    QCOMPARE(t.WriteTotalConstant(), 1000);
    QCOMPARE(port.SyncMethod(), smThreadSync);
}

void TestComPortProperties::closedPortMakesNoDeviceCall_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::newRow("BaudRate") << Setup([](TComPort& p) { p.SetBaudRate(br1200); });
    QTest::newRow("CustomBaudRate") << Setup([](TComPort& p) { p.SetCustomBaudRate(31250); });
    QTest::newRow("Port") << Setup([](TComPort& p) { p.SetPort("ttyUSB7"); });
    QTest::newRow("ControlDTR") << Setup(
        [](TComPort& p) { p.FlowControl().SetControlDTR(dtrEnable); });
    QTest::newRow("ControlRTS") << Setup(
        [](TComPort& p) { p.FlowControl().SetControlRTS(rtsEnable); });
    QTest::newRow("FlowControl") << Setup(
        [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); });
    QTest::newRow("Parity") << Setup([](TComPort& p) { p.Parity().SetBits(prEven); });
    QTest::newRow("StopBits") << Setup([](TComPort& p) { p.SetStopBits(sbTwoStopBits); });
    QTest::newRow("DataBits") << Setup([](TComPort& p) { p.SetDataBits(dbSeven); });
    QTest::newRow("Buffer") << Setup([](TComPort& p) { p.Buffer().SetInputSize(4096); });
    QTest::newRow("Timeouts") << Setup([](TComPort& p) { p.Timeouts().SetReadInterval(10); });
    QTest::newRow("SyncMethod") << Setup([](TComPort& p) { p.SetSyncMethod(smNone); });
    QTest::newRow("updates") << Setup([](TComPort& p) {
        p.BeginSettingsUpdate();
        p.SetBaudRate(br4800);
        p.EndSettingsUpdate();
    });
}

void TestComPortProperties::closedPortMakesNoDeviceCall()
{
    QFETCH(Setup, setup);
    TComPort port;
    QCOMPARE(CallsOf([&] { setup(port); }), 0);
    QVERIFY(!port.Connected());
}

void TestComPortProperties::openPortAppliesChangesOnly_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("calls");
    QTest::newRow("same BaudRate") << Setup([](TComPort& p) { p.SetBaudRate(br9600); }) << 0;
    QTest::newRow("new BaudRate") << Setup([](TComPort& p) { p.SetBaudRate(br4800); }) << 1;
    QTest::newRow("same CustomBaudRate")
        << Setup([](TComPort& p) { p.SetCustomBaudRate(9600); }) << 0;
    QTest::newRow("same StopBits") << Setup([](TComPort& p) { p.SetStopBits(sbOneStopBit); }) << 0;
    QTest::newRow("new DataBits") << Setup([](TComPort& p) { p.SetDataBits(dbSeven); }) << 1;
    QTest::newRow("same ControlDTR")
        << Setup([](TComPort& p) { p.FlowControl().SetControlDTR(dtrDisable); }) << 0;
    QTest::newRow("same XonChar") << Setup([](TComPort& p) { p.FlowControl().SetXonChar(17); })
                                  << 0;
    QTest::newRow("FlowControl always")
        << Setup([](TComPort& p) { p.FlowControl().SetFlowControl(fcNone); }) << 1;
    QTest::newRow("fcCustom always")
        << Setup([](TComPort& p) { p.FlowControl().SetFlowControl(fcCustom); }) << 1;
    QTest::newRow("DSR flow stored")
        << Setup([](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }) << 1;
    QTest::newRow("same Parity.Check")
        << Setup([](TComPort& p) { p.Parity().SetCheck(false); }) << 0;
    QTest::newRow("Parity object copied") << Setup([](TComPort& p) {
        TComParity parity;
        parity.Assign(p.Parity());
        p.SetParity(parity);
    }) << 1;
    QTest::newRow("same InputSize")
        << Setup([](TComPort& p) { p.Buffer().SetInputSize(1024); }) << 0;
    QTest::newRow("odd InputSize rounding to the same")
        << Setup([](TComPort& p) { p.Buffer().SetInputSize(1025); }) << 1;
    QTest::newRow("new ReadInterval")
        << Setup([](TComPort& p) { p.Timeouts().SetReadInterval(5); }) << 1;
    QTest::newRow("same WriteTotalConstant")
        << Setup([](TComPort& p) { p.Timeouts().SetWriteTotalConstant(1000); }) << 0;
    QTest::newRow("Events") << Setup([](TComPort& p) { p.SetEvents({ evRxChar }); }) << 0;
}

void TestComPortProperties::openPortAppliesChangesOnly()
{
    QFETCH(Setup, setup);
    QFETCH(int, calls);
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    QCOMPARE(CallsOf([&] { setup(port); }), calls);
}

void TestComPortProperties::flowControlSummary_data()
{
    QTest::addColumn<TRTSFlowControl>("rts");
    QTest::addColumn<bool>("cts");
    QTest::addColumn<bool>("xonIn");
    QTest::addColumn<bool>("xonOut");
    QTest::addColumn<TFlowControl>("summary");
    QTest::newRow("none") << rtsDisable << false << false << false << fcNone;
    QTest::newRow("hardware") << rtsHandshake << true << false << false << fcHardware;
    QTest::newRow("software") << rtsDisable << false << true << true << fcSoftware;
    QTest::newRow("RTS enabled") << rtsEnable << false << false << false << fcCustom;
    QTest::newRow("handshake without CTS") << rtsHandshake << false << false << false << fcCustom;
    QTest::newRow("hardware with XON") << rtsHandshake << true << true << false << fcCustom;
    QTest::newRow("XON in only") << rtsDisable << false << true << false << fcCustom;
    QTest::newRow("CTS only") << rtsDisable << true << false << false << fcCustom;
}

void TestComPortProperties::flowControlSummary()
{
    QFETCH(TRTSFlowControl, rts);
    QFETCH(bool, cts);
    QFETCH(bool, xonIn);
    QFETCH(bool, xonOut);
    QFETCH(TFlowControl, summary);
    TComFlowControl flow;
    flow.SetControlRTS(rts);
    flow.SetOutCTSFlow(cts);
    flow.SetXonXoffIn(xonIn);
    flow.SetXonXoffOut(xonOut);
    // These play no part.
    flow.SetControlDTR(dtrEnable);
    flow.SetOutDSRFlow(true);
    flow.SetXonChar('A');
    QCOMPARE(flow.FlowControl(), summary);
}

void TestComPortProperties::flowControlWrite_data()
{
    QTest::addColumn<TFlowControl>("value");
    QTest::addColumn<TFlowControl>("readBack");
    QTest::addColumn<TRTSFlowControl>("rts");
    QTest::newRow("hardware") << fcHardware << fcHardware << rtsHandshake;
    QTest::newRow("software") << fcSoftware << fcSoftware << rtsDisable;
    QTest::newRow("none") << fcNone << fcNone << rtsDisable;
    QTest::newRow("custom keeps the fields") << fcCustom << fcCustom << rtsEnable;
}

void TestComPortProperties::flowControlWrite()
{
    QFETCH(TFlowControl, value);
    QFETCH(TFlowControl, readBack);
    QFETCH(TRTSFlowControl, rts);
    TComPort port;
    TComFlowControl& flow = port.FlowControl();
    flow.SetControlRTS(rtsEnable);
    flow.SetXonXoffIn(true);
    flow.SetControlDTR(dtrEnable);
    QCOMPARE(flow.FlowControl(), fcCustom);
    flow.SetFlowControl(value);
    QCOMPARE(flow.FlowControl(), readBack);
    QCOMPARE(flow.ControlRTS(), rts);
    QCOMPARE(flow.ControlDTR(), dtrEnable);
}

void TestComPortProperties::bufferSizesRounded_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("stored");
    QTest::newRow("odd") << 1025 << 1024;
    QTest::newRow("even") << 4096 << 4096;
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("odd negative") << -3 << -3;
    QTest::newRow("zero") << 0 << 0;
}

void TestComPortProperties::bufferSizesRounded()
{
    QFETCH(int, value);
    QFETCH(int, stored);
    TComBuffer buffer;
    buffer.SetInputSize(value);
    buffer.SetOutputSize(value);
    QCOMPARE(buffer.InputSize(), stored);
    QCOMPARE(buffer.OutputSize(), stored);
}

void TestComPortProperties::portChangeReopens()
{
    PtyPair pty;
    QTemporaryDir dir;
    const QString lower = dir.filePath("vokey-pty");
    const QString upper = dir.filePath("VOKEY-PTY");
    QVERIFY(QFile::link(pty.SlavePath(), lower));
    QVERIFY(QFile::link(pty.SlavePath(), upper));

    // Declared before the port: its destructor closes it and reports that to the handler.
    QStringList seen;
    TComPort port;
    port.OnAfterOpen = [&](QObject*) { seen << "open " + port.Port(); };
    port.OnAfterClose = [&](QObject*) { seen << "close"; };
    port.SetPort(lower);
    port.OpenPort();
    port.SetPort(lower);
    QCOMPARE(seen, QStringList({ "open " + lower }));
    // A name that differs in letter case only is another name.
    port.SetPort(upper);
    QCOMPARE(seen, QStringList({ "open " + lower, "close", "open " + upper }));
    QVERIFY(port.Connected());
}

void TestComPortProperties::portChangeToMissingDeviceLeavesPortClosed()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    try {
        port.SetPort("vokey-no-such-tty");
        QFAIL("opened a missing device");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 1);
    }
    QVERIFY(!port.Connected());
    QCOMPARE(port.Port(), QStringLiteral("vokey-no-such-tty"));
}

void TestComPortProperties::syncMethodRefusedWhileOpen()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    port.SetSyncMethod(smThreadSync); // the same value is no change
    try {
        port.SetSyncMethod(smWindowSync);
        QFAIL("SyncMethod changed while open");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 14);
        QCOMPARE(error.SystemErrorCode(), -1);
        QCOMPARE(error.Message(), QStringLiteral("Cannot set property while connected"));
    }
    QCOMPARE(port.SyncMethod(), smThreadSync);
    port.ClosePort();
    port.SetSyncMethod(smWindowSync);
    QCOMPARE(port.SyncMethod(), smWindowSync);
}

void TestComPortProperties::settingsUpdateAppliesOnce()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    const int inside = CallsOf([&] {
        port.BeginSettingsUpdate();
        port.SetBaudRate(br19200);
        port.SetDataBits(dbSeven);
        port.BeginSettingsUpdate();
        port.Parity().SetBits(prEven);
        port.Buffer().SetInputSize(2048);
        port.Timeouts().SetReadTotalConstant(50);
        port.EndSettingsUpdate();
    });
    QCOMPARE(inside, 0);
    TtySettings tty;
    QVERIFY(ReadTtySettings(pty.Slave(), tty));
    QCOMPARE(tty.ospeed, 9600u);
    // The last End applies buffers, line settings and timeouts: one operation each.
    QCOMPARE(CallsOf([&] { port.EndSettingsUpdate(); }), 3);
    QVERIFY(ReadTtySettings(pty.Slave(), tty));
    QCOMPARE(tty.ospeed, 19200u);
    // An End too many does nothing, and later changes apply at once.
    QCOMPARE(CallsOf([&] { port.EndSettingsUpdate(); }), 0);
    QCOMPARE(CallsOf([&] { port.SetBaudRate(br2400); }), 1);
}

void TestComPortProperties::portChangeInsideUpdateGetsSettingsAtTheEnd()
{
    PtyPair first;
    PtyPair second;
    TComPort port;
    port.SetPort(first.SlavePath());
    port.OpenPort();
    port.BeginSettingsUpdate();
    port.SetBaudRate(br1200);
    port.SetPort(second.SlavePath());
    QVERIFY(port.Connected());
    TtySettings tty;
    QVERIFY(ReadTtySettings(second.Slave(), tty));
    QVERIFY(tty.ospeed != 1200u);
    port.EndSettingsUpdate();
    QVERIFY(ReadTtySettings(second.Slave(), tty));
    QCOMPARE(tty.ospeed, 1200u);
}

void TestComPortProperties::loadingOpensAtTheEnd()
{
    PtyPair pty;
    TComPort port;
    int opened = 0;
    port.OnAfterOpen = [&](QObject*) { ++opened; };
    const int calls = CallsOf([&] {
        port.BeginLoading();
        port.SetPort(pty.SlavePath());
        port.SetConnected(true);
        port.SetBaudRate(br4800);
        port.SetSyncMethod(smNone);
    });
    QCOMPARE(calls, 0);
    QCOMPARE(opened, 0);
    port.EndLoading();
    QVERIFY(port.Connected());
    QCOMPARE(opened, 1);
    TtySettings tty;
    QVERIFY(ReadTtySettings(pty.Slave(), tty));
    QCOMPARE(tty.ospeed, 4800u);
}

void TestComPortProperties::loadingReportsFailedOpening()
{
    QStringList reported;
    SetApplicationErrorReport([&](const QString& message) { reported << message; });
    TComPort port;
    port.BeginLoading();
    port.SetPort("vokey-no-such-tty");
    port.SetConnected(true);
    port.EndLoading();
    SetApplicationErrorReport(nullptr);
    QVERIFY(!port.Connected());
    QCOMPARE(reported,
        QStringList({ "Unable to open com port (win error code: 2): No such file or directory" }));
}

void TestComPortProperties::operationsOnClosedPortRaise_data()
{
    QTest::addColumn<Setup>("operation");
    QTest::addColumn<int>("reasonCode");
    QTest::newRow("SetDTRState") << Setup([](TComPort& p) { p.SetDTRState(true); }) << 12;
    QTest::newRow("SetRTSState") << Setup([](TComPort& p) { p.SetRTSState(false); }) << 12;
    QTest::newRow("ReadModemSignals") << Setup([](TComPort& p) { p.ReadModemSignals(); }) << 11;
    QTest::newRow("PendingInputCount") << Setup([](TComPort& p) { p.PendingInputCount(); }) << 10;
    QTest::newRow("ReadLineErrors") << Setup([](TComPort& p) { p.ReadLineErrors(); }) << 10;
    QTest::newRow("AbortTransfers") << Setup([](TComPort& p) { p.AbortTransfers(); }) << 5;
    QTest::newRow("ReadBytes") << Setup([](TComPort& p) {
        char byte;
        p.ReadBytes(&byte, 1);
    }) << 3;
}

void TestComPortProperties::operationsOnClosedPortRaise()
{
    QFETCH(Setup, operation);
    QFETCH(int, reasonCode);
    TComPort port;
    try {
        operation(port);
        QFAIL("an operation on a closed port succeeded");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), reasonCode);
        QCOMPARE(error.SystemErrorCode(), EBADF);
    }
}

void TestComPortProperties::messages()
{
    QCOMPARE(EComPort(12, 5).Message(),
        QStringLiteral(
            "EscapeCommFunction function failed (win error code: 5): Input/output error"));
    QCOMPARE(EComPort(23).Message(), QStringLiteral("Registry error"));
    QCOMPARE(
        QString::fromStdString(ComPortMessage(2)), QStringLiteral("WriteFile function failed"));
    QVERIFY(ComPortMessage(0).empty() && ComPortMessage(24).empty());

    LoadComPortMessages([](const char* text) {
        return std::string(text) == " (win error code: %d)" ? " (Fehlercode %d, %d)"
                                                            : "T:" + std::string(text);
    });
    // Only the first %d is the code; a stray one in a translation stays as text.
    const QString translated = EComPort(1, 13).Message();
    LoadComPortMessages([](const char* text) {
        const std::string s(text);
        return s.rfind("T:", 0) == 0 ? s.substr(2) : std::string(" (win error code: %d)");
    });
    QCOMPARE(translated,
        QStringLiteral("T:Unable to open com port (Fehlercode 13, %d): Permission denied"));
    QCOMPARE(EComPort(1, 13).Message(),
        QStringLiteral("Unable to open com port (win error code: 13): Permission denied"));
}

void TestComPortProperties::speedTable()
{
    QCOMPARE(BaudRateSpeed(br110), 110);
    QCOMPARE(BaudRateSpeed(br56000), 56000);
    QCOMPARE(BaudRateSpeed(br256000), 256000);
    QCOMPARE(BaudRateSpeed(brCustom), 0);
    for (int i = 1; i <= br256000; ++i)
        QCOMPARE(BaudRateFromSpeed(BaudRateSpeed(TBaudRate(i))), TBaudRate(i));
    QCOMPARE(BaudRateFromSpeed(31250), brCustom);
}

QTEST_GUILESS_MAIN(TestComPortProperties)
#include "tst_comport_properties.moc"
