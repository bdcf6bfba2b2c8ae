#include <serial/ComPort.h>
#include <widgets/TComComboBox.h>

#include <QSignalSpy>
#include <QTest>

#include <memory>

// The bound list boxes of the settings dialog on a closed port (setters only store):
// what each property's list shows for the port, what a pick remembers, what applying it
// writes.
class TestComSelect : public QObject {
    Q_OBJECT

private slots:
    void showPortValue_data();
    void showPortValue();
    void rememberChoice_data();
    void rememberChoice();
    void pickWaitsForApplyUnlessAutoApply();
    void listWithoutPort();
    void portGoingAway();
    void textLookup();

private:
    static std::unique_ptr<TComComboBox> makeCombo(TComProperty property);
};

Q_DECLARE_METATYPE(TComProperty)

namespace {

const QStringList portNames { "/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1" };

// The settings the dialog touches, in one comparable line.
QString summary(const TCustomComPort& port)
{
    const TComFlowControl& flow = port.FlowControl();
    return QString("%1 %2 %3 %4 %5 rts%6 cts%7 xin%8 xout%9")
        .arg(port.Port())
        .arg(int(port.BaudRate()))
        .arg(int(port.DataBits()))
        .arg(int(port.StopBits()))
        .arg(int(port.Parity().Bits()))
        .arg(int(flow.ControlRTS()))
        .arg(int(flow.OutCTSFlow()))
        .arg(int(flow.XonXoffIn()))
        .arg(int(flow.XonXoffOut()));
}

// The user picking an item: what the list reports for a pick by mouse or keyboard.
void pick(TComComboBox& combo, const QString& text)
{
    const int index = combo.findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    combo.setCurrentIndex(index);
    emit combo.activated(index);
}

}

std::unique_ptr<TComComboBox> TestComSelect::makeCombo(TComProperty property)
{
    auto combo = std::make_unique<TComComboBox>();
    combo->SetPortLister([](QStringList& names) { names = portNames; });
    combo->SetComProperty(property);
    return combo;
}

void TestComSelect::showPortValue_data()
{
    QTest::addColumn<TComProperty>("property");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("flow");
    QTest::addColumn<int>("rts"); // -1: as the flow shorthand left it
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");

    const auto row = [](const char* name, TComProperty property, const QString& portName,
                         TBaudRate baud, TFlowControl flow, int rts, int index, const char* shown) {
        QTest::newRow(name) << property << portName << int(baud) << int(dbEight)
                            << int(sbOneStopBit) << int(prNone) << int(flow) << rts << index
                            << QString(shown);
    };
    // The Port list starts with "(none)"; a name not listed is shown below it.
    row("port listed", cpPort, "/dev/ttyUSB1", br9600, fcNone, -1, 3, "/dev/ttyUSB1");
    row("port other case", cpPort, "/dev/TTYUSB0", br9600, fcNone, -1, 2, "/dev/ttyUSB0");
    row("port by device name", cpPort, "ttyACM0", br9600, fcNone, -1, 1, "/dev/ttyACM0");
    row("port absent", cpPort, "COM1", br9600, fcNone, -1, 1, "COM1");
    row("port empty", cpPort, "", br9600, fcNone, -1, 0, "(none)");
    row("baud 9600", cpBaudRate, "COM1", br9600, fcNone, -1, 7, "9600");
    row("baud custom", cpBaudRate, "COM1", brCustom, fcNone, -1, 0, "Custom");
    row("baud 256000", cpBaudRate, "COM1", br256000, fcNone, -1, 15, "256000");
    row("flow none", cpFlowControl, "COM1", br9600, fcNone, -1, 2, "None");
    row("flow hardware", cpFlowControl, "COM1", br9600, fcHardware, -1, 0, "Hardware");
    row("flow software", cpFlowControl, "COM1", br9600, fcSoftware, -1, 1, "Software");
    row("flow custom by rtsEnable", cpFlowControl, "COM1", br9600, fcNone, rtsEnable, 3, "Custom");
    row("flow custom by rtsToggle", cpFlowControl, "COM1", br9600, fcNone, rtsToggle, 3, "Custom");
    row("no property", cpNone, "COM1", br9600, fcNone, -1, -1, "");
    QTest::newRow("data bits 7") << cpDataBits << "COM1" << int(br9600) << int(dbSeven)
                                 << int(sbOneStopBit) << int(prNone) << int(fcNone) << -1 << 2
                                 << "7";
    QTest::newRow("stop bits 1.5")
        << cpStopBits << "COM1" << int(br9600) << int(dbEight) << int(sbOne5StopBits) << int(prNone)
        << int(fcNone) << -1 << 1 << "1.5";
    QTest::newRow("parity mark") << cpParity << "COM1" << int(br9600) << int(dbEight)
                                 << int(sbOneStopBit) << int(prMark) << int(fcNone) << -1 << 3
                                 << "Mark";
}

void TestComSelect::showPortValue()
{
    QFETCH(TComProperty, property);
    QFETCH(QString, portName);
    QFETCH(int, baud);
    QFETCH(int, data);
    QFETCH(int, stop);
    QFETCH(int, parity);
    QFETCH(int, flow);
    QFETCH(int, rts);
    QFETCH(int, index);
    QFETCH(QString, shown);

    TComPort port;
    port.SetPort(portName);
    port.SetBaudRate(TBaudRate(baud));
    port.SetDataBits(TDataBits(data));
    port.SetStopBits(TStopBits(stop));
    port.Parity().SetBits(TParityBits(parity));
    port.FlowControl().SetFlowControl(TFlowControl(flow));
    if (rts >= 0)
        port.FlowControl().SetControlRTS(TRTSFlowControl(rts));
    const QString before = summary(port);

    auto combo = makeCombo(property);
    combo->SetComPort(&port);
    QCOMPARE(combo->currentIndex(), index);
    QCOMPARE(combo->Text(), shown);

    // Applying what is shown, untouched, writes back what the port had: for a port that is
    // not listed the name stays (it is not emptied), for "Custom" flow the fields stay.
    combo->ApplyChoice();
    QString after = summary(port);
    if (property == cpPort && index >= 0 && !portName.isEmpty())
        after.replace(shown, portName); // the list's spelling of the same port
    if (property == cpPort && portName == "ttyACM0")
        QCOMPARE(port.Port(), QString("/dev/ttyACM0"));
    else
        QCOMPARE(after, before);
}

void TestComSelect::rememberChoice_data()
{
    QTest::addColumn<TComProperty>("property");
    QTest::addColumn<int>("startRts"); // -1: the window's defaults
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");

    // The window's port: COM1, 9600 (7), 8 bits (3), one stop bit (0), no parity (0), no flow.
    const QString base = "COM1 7 3 0 0 rts0 cts0 xin0 xout0";
    QTest::newRow("port") << cpPort << -1 << "/dev/ttyUSB1"
                          << "/dev/ttyUSB1 7 3 0 0 rts0 cts0 xin0 xout0";
    QTest::newRow("port none") << cpPort << -1 << ""
                               << " 7 3 0 0 rts0 cts0 xin0 xout0";
    QTest::newRow("baud 115200") << cpBaudRate << -1 << "115200"
                                 << "COM1 13 3 0 0 rts0 cts0 xin0 xout0";
    QTest::newRow("baud custom") << cpBaudRate << -1 << "Custom"
                                 << "COM1 0 3 0 0 rts0 cts0 xin0 xout0";
    QTest::newRow("baud unknown text") << cpBaudRate << -1 << "31250" << base;
    QTest::newRow("data 5") << cpDataBits << -1 << "5"
                            << "COM1 7 0 0 0 rts0 cts0 xin0 xout0";
    QTest::newRow("stop 2") << cpStopBits << -1 << "2"
                            << "COM1 7 3 2 0 rts0 cts0 xin0 xout0";
    QTest::newRow("parity even") << cpParity << -1 << "Even"
                                 << "COM1 7 3 0 2 rts0 cts0 xin0 xout0";
    QTest::newRow("flow hardware") << cpFlowControl << -1 << "Hardware"
                                   << "COM1 7 3 0 0 rts2 cts1 xin0 xout0";
    QTest::newRow("flow software") << cpFlowControl << -1 << "Software"
                                   << "COM1 7 3 0 0 rts0 cts0 xin1 xout1";
    QTest::newRow("flow none clears rtsEnable")
        << cpFlowControl << int(rtsEnable) << "None" << base;
    QTest::newRow("flow custom keeps rtsEnable") << cpFlowControl << int(rtsEnable) << "Custom"
                                                 << "COM1 7 3 0 0 rts1 cts0 xin0 xout0";
    QTest::newRow("no property") << cpNone << -1 << "115200" << base;
}

void TestComSelect::rememberChoice()
{
    QFETCH(TComProperty, property);
    QFETCH(int, startRts);
    QFETCH(QString, text);
    QFETCH(QString, result);

    TComPort port;
    if (startRts >= 0)
        port.FlowControl().SetControlRTS(TRTSFlowControl(startRts));
    auto combo = makeCombo(property);
    combo->SetComPort(&port);
    TComSelect select(*combo);
    select.FillList(property);
    select.SetComPort(&port);
    select.RememberChoice(text);
    select.ApplyChoice();
    QCOMPARE(summary(port), result);
}

void TestComSelect::pickWaitsForApplyUnlessAutoApply()
{
    TComPort port;
    auto combo = makeCombo(cpBaudRate);
    combo->SetComPort(&port);
    QSignalSpy changes(combo.get(), &TComComboBox::Change);

    pick(*combo, "1200");
    QCOMPARE(changes.count(), 1);
    QCOMPARE(port.BaudRate(), br9600);
    QCOMPARE(combo->Select().Choice().baudRate, br1200);
    combo->ApplyChoice();
    QCOMPARE(port.BaudRate(), br1200);

    combo->SetAutoApply(true);
    pick(*combo, "Custom");
    QCOMPARE(port.BaudRate(), brCustom);
    QCOMPARE(changes.count(), 2);

    // Selecting under program control is not a pick.
    combo->setCurrentIndex(combo->findText("300"));
    QCOMPARE(port.BaudRate(), brCustom);
    QCOMPARE(changes.count(), 2);
}

void TestComSelect::listWithoutPort()
{
    for (TComProperty property :
        { cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl }) {
        auto combo = makeCombo(property);
        QCOMPARE(combo->currentIndex(), 0);
        combo->ApplyChoice(); // no port: nothing to write, nothing to fail
        combo->ShowPortValue();
        QCOMPARE(combo->currentIndex(), 0);
        QVERIFY(!combo->isEditable());
    }
    auto none = makeCombo(cpNone);
    QCOMPARE(none->count(), 0);
    QCOMPARE(none->Text(), QString());

    auto empty = std::make_unique<TComComboBox>();
    empty->SetPortLister([](QStringList& names) { names.clear(); });
    empty->SetComProperty(cpPort);
    QCOMPARE(empty->count(), 1);
    QCOMPARE(empty->Text(), QString("(none)"));
    QCOMPARE(empty->Value(), QString());
}

void TestComSelect::portGoingAway()
{
    auto combo = makeCombo(cpParity);
    auto port = std::make_unique<TComPort>();
    port->Parity().SetBits(prSpace);
    combo->SetComPort(port.get());
    QCOMPARE(combo->Text(), QString("Space"));
    port.reset();
    QCOMPARE(combo->ComPort(), nullptr);
    QCOMPARE(combo->currentIndex(), 0);
    // Applying the choice without a port reaches nothing.
    combo->ApplyChoice();
    QCOMPARE(combo->ComPort(), nullptr);
}

void TestComSelect::textLookup()
{
    auto combo = makeCombo(cpParity);
    combo->SetText("odd");
    QCOMPARE(combo->Text(), QString("Odd"));
    combo->SetText("Oddish");
    QCOMPARE(combo->Text(), QString("Odd"));
    combo->setCurrentIndex(-1);
    QCOMPARE(combo->Text(), QString());
}

QTEST_MAIN(TestComSelect)
#include "tst_comsetup.moc"
