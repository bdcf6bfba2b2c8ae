#include <serial/ComTextConversions.h>

#include <QTest>

// The texts of the settings lists and their reverse conversions: every value both ways,
// the letter-case rule, and the default each conversion falls back to.
class TestComTextConversions : public QObject {
    Q_OBJECT

private slots:
    void listsInOrdinalOrder();
    void fromText_data();
    void fromText();
    void everyValueRoundTrips();
};

void TestComTextConversions::listsInOrdinalOrder()
{
    QCOMPARE(BaudRateTexts(),
        QStringList({ "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
            "19200", "38400", "56000", "57600", "115200", "128000", "256000" }));
    QCOMPARE(StopBitsTexts(), QStringList({ "1", "1.5", "2" }));
    QCOMPARE(DataBitsTexts(), QStringList({ "5", "6", "7", "8" }));
    QCOMPARE(ParityTexts(), QStringList({ "None", "Odd", "Even", "Mark", "Space" }));
    QCOMPARE(FlowControlTexts(), QStringList({ "Hardware", "Software", "None", "Custom" }));
    QCOMPARE(BaudRateText(brCustom), QString("Custom"));
    QCOMPARE(BaudRateText(br256000), QString("256000"));
    QCOMPARE(StopBitsText(sbOne5StopBits), QString("1.5"));
    QCOMPARE(DataBitsText(dbFive), QString("5"));
    QCOMPARE(ParityText(prSpace), QString("Space"));
    QCOMPARE(FlowControlText(fcCustom), QString("Custom"));
}

// One row per conversion and text: kind names the conversion, expected is the ordinal.
void TestComTextConversions::fromText_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("baud 9600") << "baud"
                               << "9600" << int(br9600);
    QTest::newRow("baud 110") << "baud"
                              << "110" << int(br110);
    QTest::newRow("baud 256000") << "baud"
                                 << "256000" << int(br256000);
    QTest::newRow("baud custom lower case") << "baud"
                                            << "custom" << int(brCustom);
    QTest::newRow("baud CUSTOM") << "baud"
                                 << "CUSTOM" << int(brCustom);
    QTest::newRow("baud unknown") << "baud"
                                  << "12345" << int(br9600);
    QTest::newRow("baud padded") << "baud"
                                 << " 1200" << int(br9600);
    QTest::newRow("baud empty") << "baud"
                                << "" << int(br9600);
    QTest::newRow("stop 1") << "stop"
                            << "1" << int(sbOneStopBit);
    QTest::newRow("stop 1.5") << "stop"
                              << "1.5" << int(sbOne5StopBits);
    QTest::newRow("stop 2") << "stop"
                            << "2" << int(sbTwoStopBits);
    QTest::newRow("stop 1,5 unknown") << "stop"
                                      << "1,5" << int(sbOneStopBit);
    QTest::newRow("stop empty") << "stop"
                                << "" << int(sbOneStopBit);
    QTest::newRow("data 5") << "data"
                            << "5" << int(dbFive);
    QTest::newRow("data 7") << "data"
                            << "7" << int(dbSeven);
    QTest::newRow("data unknown") << "data"
                                  << "9" << int(dbEight);
    QTest::newRow("data empty") << "data"
                                << "" << int(dbEight);
    QTest::newRow("parity Odd") << "parity"
                                << "Odd" << int(prOdd);
    QTest::newRow("parity even") << "parity"
                                 << "even" << int(prEven);
    QTest::newRow("parity MARK") << "parity"
                                 << "MARK" << int(prMark);
    QTest::newRow("parity sPaCe") << "parity"
                                  << "sPaCe" << int(prSpace);
    QTest::newRow("parity unknown") << "parity"
                                    << "Hardware" << int(prNone);
    QTest::newRow("parity empty") << "parity"
                                  << "" << int(prNone);
    QTest::newRow("flow Hardware") << "flow"
                                   << "Hardware" << int(fcHardware);
    QTest::newRow("flow software") << "flow"
                                   << "software" << int(fcSoftware);
    QTest::newRow("flow NONE") << "flow"
                               << "NONE" << int(fcNone);
    QTest::newRow("flow Custom") << "flow"
                                 << "Custom" << int(fcCustom);
    QTest::newRow("flow unknown") << "flow"
                                  << "RTS/CTS" << int(fcCustom);
    QTest::newRow("flow empty") << "flow"
                                << "" << int(fcCustom);
    // Only ASCII letters fold: a dotted capital I is not the letter i.
    QTest::newRow("flow non-ASCII capital")
        << "flow" << QString::fromUtf8("NON\u0130") << int(fcCustom);
    QTest::newRow("parity non-ASCII lower")
        << "parity" << QString::fromUtf8("\u0131dd") << int(prNone);
}

void TestComTextConversions::fromText()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, expected);
    int got = -1;
    if (kind == "baud")
        got = BaudRateFromText(text);
    else if (kind == "stop")
        got = StopBitsFromText(text);
    else if (kind == "data")
        got = DataBitsFromText(text);
    else if (kind == "parity")
        got = ParityFromText(text);
    else if (kind == "flow")
        got = FlowControlFromText(text);
    QCOMPARE(got, expected);
}

void TestComTextConversions::everyValueRoundTrips()
{
    for (int v = brCustom; v <= br256000; ++v) {
        QCOMPARE(int(BaudRateFromText(BaudRateText(TBaudRate(v)))), v);
        QCOMPARE(int(BaudRateFromText(BaudRateText(TBaudRate(v)).toLower())), v);
    }
    for (int v = sbOneStopBit; v <= sbTwoStopBits; ++v)
        QCOMPARE(int(StopBitsFromText(StopBitsText(TStopBits(v)))), v);
    for (int v = dbFive; v <= dbEight; ++v)
        QCOMPARE(int(DataBitsFromText(DataBitsText(TDataBits(v)))), v);
    for (int v = prNone; v <= prSpace; ++v)
        QCOMPARE(int(ParityFromText(ParityText(TParityBits(v)).toUpper())), v);
    for (int v = fcHardware; v <= fcCustom; ++v)
        QCOMPARE(int(FlowControlFromText(FlowControlText(TFlowControl(v)).toLower())), v);
}

QTEST_MAIN(TestComTextConversions)
#include "tst_comsetup_conversions.moc"
