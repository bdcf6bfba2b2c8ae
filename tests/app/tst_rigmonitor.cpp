// The rig monitor: lamps and names in step with the rig link, the automatic follow of a radio
// that transmits on its own (keyed by another client of the same rigctld), the rig events
// driven directly with crafted arguments, and the CAT poll against stand-in servers.
#include "KeyingFixture.h"

#include "widgets/ElidedLabel.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TLed.h"

#include <QLabel>
#include <QTimer>

class TestRigMonitor : public QObject, KeyingFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void followsRadioTransmittingOnItsOwn();
    void namesAndLampsFollowStatus();
    void rigTypeEventWritesOnlyItsName();
    void customReplies_data();
    void customReplies();
    void pollReachesBothRadiosAndSelects();
    void silentRadioIsNotPolledAgain();
    void lateReplyDoesNotUndoTheOperatorsChange();
    void pollAndSettingsWindow();

private:
    TLed* led(int rig) const { return child<TLed>(rig == 1 ? "Rig1Led" : "Rig2Led"); }
    QLabel* name(int rig) const { return child<QLabel>(rig == 1 ? "Rig1Name" : "Rig2Name"); }
    bool red(int rig) const
    {
        return led(rig)->color1() == TColor(0x000080) && led(rig)->color2() == TColor(0x0000FF);
    }
    bool green(int rig) const
    {
        return led(rig)->color1() == TColor(0x008000) && led(rig)->color2() == TColor(0x00FF00);
    }
    // Waits for `count` refreshes of the rig monitor by the render tick.
    void waitRefreshes(int count)
    {
        // The render tick runs every 33 ms and refreshes the rig lamps at its end.
        QSignalSpy ticks(child<QTimer>("TimerRender"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= count, 10000);
    }
};

void TestRigMonitor::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    QVERIFY(setUpKeyingCase());
}

void TestRigMonitor::init()
{
    QVERIFY(setUpKeying());
    // No serial port: the monitor does not need one.
    writeConfig("VOKEY.INI", { { "COMPORT", "COM1" } });
}

void TestRigMonitor::cleanup()
{
    tearDownKeying();
}

void TestRigMonitor::followsRadioTransmittingOnItsOwn()
{
    QVERIFY(startKeyed(100, 1));
    m_form->Rig2ButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(green(1) && green(2), 5000);

    // Another program keys rig 1: its lamp turns red and rig A is selected.
    QVERIFY(m_server1->setPtt(true));
    QTRY_VERIFY_WITH_TIMEOUT(red(1) && selected(true, false), 5000);
    QVERIFY(green(2));

    // Both keyed elsewhere: rig A is examined first, so rig B ends up selected.
    QVERIFY(m_server2->setPtt(true));
    QTRY_VERIFY_WITH_TIMEOUT(red(2) && selected(false, true), 5000);
    waitRefreshes(5);
    QVERIFY(selected(false, true));

    // Rig 2 back to receive: rig 1 still transmits, so A is selected again; a hand selection
    // of B is undone at the next refresh.
    QVERIFY(m_server2->setPtt(false));
    QTRY_VERIFY_WITH_TIMEOUT(green(2) && selected(true, false), 5000);
    m_form->Rig2ButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(selected(true, false), 5000);

    // Nobody transmits: the hand selection stays. Nothing was keyed by this program.
    QVERIFY(m_server1->setPtt(false));
    QTRY_VERIFY_WITH_TIMEOUT(green(1), 5000);
    m_form->Rig2ButtonClick();
    waitRefreshes(5);
    QVERIFY(selected(false, true));
    QVERIFY(!m_form->TxOn());
    QCOMPARE(reports(), 0);
}

void TestRigMonitor::namesAndLampsFollowStatus()
{
    QVERIFY(startKeyed(100, 1));
    QTRY_COMPARE_WITH_TIMEOUT(name(1)->text(), QStringLiteral("Hamlib Dummy"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(name(2)->text(), QStringLiteral("Hamlib Dummy"), 5000);
    QVERIFY(led(1)->isOn() && led(2)->isOn());
    // The whole "maker model" is each label's tool tip; rig A's label, wide to rig B's lamp,
    // shows it whole.
    QCOMPARE(name(1)->toolTip(), QStringLiteral("Hamlib Dummy"));
    QCOMPARE(name(2)->toolTip(), QStringLiteral("Hamlib Dummy"));
    QCOMPARE(child<ElidedLabel>("Rig1Name")->displayedText(), QStringLiteral("Hamlib Dummy"));

    // Rig 2's server goes away: "N/A" and a dark lamp, rig 1 unchanged.
    const quint16 port = m_server2->port();
    m_server2->kill();
    QTRY_VERIFY_WITH_TIMEOUT(name(2)->text() == "N/A" && !led(2)->isOn(), 5000);
    QCOMPARE(m_form->ReportedRig(), m_form->OmniRig()->Rig2());
    QCOMPARE(name(1)->text(), QStringLiteral("Hamlib Dummy"));
    QVERIFY(led(1)->isOn());

    m_server2 = std::make_unique<RigctldServer>(port);
    QVERIFY(m_server2->start());
    QTRY_VERIFY_WITH_TIMEOUT(name(2)->text() == "Hamlib Dummy" && led(2)->isOn(), 10000);

    // The parameter event reads the status anew each time; the number it carries is not used.
    name(1)->setText("x");
    led(1)->setOn(false);
    m_form->ParamsChangeEvent(m_form->OmniRig(), 1, PM_TX);
    QCOMPARE(name(1)->text(), QStringLiteral("Hamlib Dummy"));
    QVERIFY(led(1)->isOn());
    QCOMPARE(m_form->ReportedRig(), m_form->OmniRig()->Rig1());
    QCOMPARE(reports(), 0);
}

void TestRigMonitor::rigTypeEventWritesOnlyItsName()
{
    QVERIFY(startKeyed(100, 1));
    m_form->ParamsChangeEvent(m_form->OmniRig(), 1, 0);
    name(1)->setText("one");
    name(2)->setText("two");
    led(1)->setOn(false);
    led(2)->setOn(true);
    m_form->RigTypeChangeEvent(m_form->OmniRig(), 2);
    QCOMPARE(name(2)->text(), QStringLiteral("Hamlib Dummy"));
    QCOMPARE(name(1)->text(), QStringLiteral("one"));
    QVERIFY(!led(1)->isOn() && led(2)->isOn());
    QCOMPARE(m_form->ReportedRig(), m_form->OmniRig()->Rig1());
    // A number that is no rig changes no name.
    m_form->RigTypeChangeEvent(m_form->OmniRig(), 3);
    QCOMPARE(name(1)->text(), QStringLiteral("one"));
    QCOMPARE(name(2)->text(), QStringLiteral("Hamlib Dummy"));
}

void TestRigMonitor::customReplies_data()
{
    QTest::addColumn<int>("reported"); // rig of the latest parameter event; 0: none yet
    QTest::addColumn<int>("rig");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("selects");
    const QByteArray poll = QByteArray::fromHex("00000000FA");
    const QByteArray tx3 = QByteArray::fromHex("0000010000"); // bit 0 of the third byte
    const QByteArray tx4 = QByteArray::fromHex("0000008000"); // bit 7 of the fourth byte
    QTest::newRow("rig 1 reported, third byte bit 0") << 1 << 1 << poll << tx3 << true;
    QTest::newRow("rig 1 reported, fourth byte bit 7") << 1 << 1 << poll << tx4 << true;
    QTest::newRow("rig 2 reported, rig 2 replies") << 2 << 2 << poll << tx3 << true;
    QTest::newRow("other flag bits only")
        << 1 << 1 << poll << QByteArray::fromHex("FFFFFE7FFF") << false;
    QTest::newRow("receiving") << 1 << 1 << poll << QByteArray(5, '\0') << false;
    QTest::newRow("short reply with the bit")
        << 1 << 1 << poll << QByteArray::fromHex("000001") << true;
    QTest::newRow("empty reply") << 1 << 1 << poll << QByteArray() << false;
    QTest::newRow("longer command, FA fifth")
        << 1 << 1 << QByteArray::fromHex("00000000FA01") << tx3 << true;
    QTest::newRow("four-byte command") << 1 << 1 << QByteArray::fromHex("000000FA") << tx3 << false;
    QTest::newRow("fifth byte not FA")
        << 1 << 1 << QByteArray::fromHex("00000000FB") << tx3 << false;
    QTest::newRow("FA elsewhere") << 1 << 1 << QByteArray::fromHex("FA000000F0") << tx3 << false;
    QTest::newRow("reply from the other rig") << 1 << 2 << poll << tx3 << false;
    QTest::newRow("rig 1 before any event") << 0 << 1 << poll << tx3 << false;
    QTest::newRow("rig 2 before any event") << 0 << 2 << poll << tx3 << true;
}

void TestRigMonitor::customReplies()
{
    QFETCH(int, reported);
    QFETCH(int, rig);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(bool, selects);
    // No servers: nothing but these calls reaches the monitor.
    configureRigs({}, {});
    QVERIFY(startKeyed(100, 1, false));
    if (reported)
        m_form->ParamsChangeEvent(m_form->OmniRig(), reported, 0);
    // The other rig selected first, so that a selection shows.
    rig == 1 ? m_form->Rig2ButtonClick() : m_form->Rig1ButtonClick();
    m_form->CustomReplyEvent(m_form->OmniRig(), rig, command, reply);
    QCOMPARE(selected(rig == 1, rig == 2), selects);
}

void TestRigMonitor::pollReachesBothRadiosAndSelects()
{
    FakeRigctld fake1(FakeRigctld::Mode::Good), fake2(FakeRigctld::Mode::Good);
    QVERIFY(fake1.listen() && fake2.listen());
    fake1.customReply = "\\0x00\\0x00\\0x01\\0x00\\0x00 5"; // transmitting
    fake2.customReply = "\\0x00\\0x00\\0x00\\0x00\\0x00 5"; // receiving
    configureRigs(fake1.endpoint(), fake2.endpoint());
    QVERIFY(startKeyed(100, 1));
    // The status events have been handled once the lamps are on.
    QTRY_VERIFY_WITH_TIMEOUT(led(1)->isOn() && led(2)->isOn(), 5000);
    QSignalSpy replies(m_form->OmniRig(), &TOmniRigX::OnCustomReply);

    // Every period both radios get the status read, five bytes answered, no end marker.
    QTRY_VERIFY_WITH_TIMEOUT(
        fake1.customReceived.size() >= 3 && fake2.customReceived.size() >= 3, 10000);
    for (const auto* fake : { &fake1, &fake2 })
        for (const QByteArray& args : fake->customReceived)
            QCOMPARE(args, QByteArray("\\0x00\\0x00\\0x00\\0x00\\0xFA 5"));

    // Rig 2 was the latest to report: rig 1's transmit reply is not decoded.
    m_form->ParamsChangeEvent(m_form->OmniRig(), 2, 0);
    m_form->Rig2ButtonClick();
    const auto repliesFrom = [&](int rig) {
        return std::count_if(replies.begin(), replies.end(),
            [rig](const QList<QVariant>& reply) { return reply.at(1).toInt() == rig; });
    };
    const auto before = repliesFrom(1);
    QTRY_VERIFY_WITH_TIMEOUT(repliesFrom(1) >= before + 2, 10000);
    QVERIFY(selected(false, true));

    // Rig 1 reports: its next reply selects rig A.
    m_form->ParamsChangeEvent(m_form->OmniRig(), 1, 0);
    QTRY_VERIFY_WITH_TIMEOUT(selected(true, false), 5000);
    QCOMPARE(reports(), 0);
}

void TestRigMonitor::silentRadioIsNotPolledAgain()
{
    FakeRigctld fake1(FakeRigctld::Mode::Good), fake2(FakeRigctld::Mode::Good);
    QVERIFY(fake1.listen() && fake2.listen());
    fake2.answerCustom = false; // like the dummy radio
    configureRigs(fake1.endpoint(), fake2.endpoint());
    QVERIFY(startKeyed(100, 1));
    // The answering radio goes on being polled; the silent one got the first poll only.
    QTRY_VERIFY_WITH_TIMEOUT(fake1.customReceived.size() >= 5, 10000);
    QCOMPARE(fake2.customReceived.size(), 1);
    // Another radio in its place is tried again.
    m_form->RigTypeChangeEvent(m_form->OmniRig(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(fake2.customReceived.size(), 2, 5000);
}

void TestRigMonitor::lateReplyDoesNotUndoTheOperatorsChange()
{
    FakeRigctld fake1(FakeRigctld::Mode::Good), fake2(FakeRigctld::Mode::Good);
    QVERIFY(fake1.listen() && fake2.listen());
    const QByteArray transmitting = "\\0x00\\0x00\\0x01\\0x00\\0x00 5";
    fake1.customReply = transmitting;
    fake2.customReply = "\\0x00\\0x00\\0x00\\0x00\\0x00 5";
    configureRigs(fake1.endpoint(), fake2.endpoint());
    // Rig 1's poll replies are decoded; once it has answered, it is polled while keyed too.
    QVERIFY(startKeyed(100, 2));
    QTRY_VERIFY_WITH_TIMEOUT(led(1)->isOn() && led(2)->isOn(), 5000);
    m_form->ParamsChangeEvent(m_form->OmniRig(), 1, 0);
    QSignalSpy replies(m_form->OmniRig(), &TOmniRigX::OnCustomReply);
    const auto repliesFrom1 = [&] {
        return std::count_if(replies.begin(), replies.end(),
            [](const QList<QVariant>& reply) { return reply.at(1).toInt() == 1; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(repliesFrom1() >= 1, 10000);
    // Gain 0 keys rig A at every tick.
    child<SelectionSlider>("GainTrack")->setValue(0);
    QTRY_COMPARE_WITH_TIMEOUT(fake1.ptt, 1, 5000);

    // The operator moves to B; rig 1 still reports transmit in its next reply, and it is
    // the latest rig to report (rig B's keying has been reported before).
    m_form->Rig2ButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(m_form->ReportedRig() == rigOf(2) && fake2.ptt == 1, 5000);
    m_form->ParamsChangeEvent(m_form->OmniRig(), 1, 0);
    const auto before = repliesFrom1();
    QTRY_VERIFY_WITH_TIMEOUT(repliesFrom1() > before, 5000);
    QVERIFY(selected(false, true));
    fake1.customReply = "\\0x00\\0x00\\0x00\\0x00\\0x00 5";
    waitRefreshes(10);
    QVERIFY(selected(false, true));
    QCOMPARE(fake1.ptt, 0);
    QCOMPARE(fake2.ptt, 1);
    QCOMPARE(reports(), 0);
}

void TestRigMonitor::pollAndSettingsWindow()
{
    QVERIFY(startKeyed(100, 1));
    auto* cat = child<QTimer>("CATTimer");
    QVERIFY(cat->isActive());
    QCOMPARE(cat->interval(), 500);
    // Neither the engine going off nor mute stops the poll.
    m_form->PowerOn();
    QVERIFY(!m_form->Running());
    m_form->MuteButtonClick();
    QVERIFY(cat->isActive());
    QSignalSpy polls(cat, &QTimer::timeout);
    QVERIFY(polls.wait(2000));

    // Both "OmniRig" commands open the server's settings window.
    QVERIFY(!m_form->OmniRig()->DialogVisible());
    findAction(m_form->PopupMenu1(), "OmniRig")->trigger();
    QVERIFY(m_form->OmniRig()->DialogVisible());
    m_form->OmniRig()->SetDialogVisible(false);
    m_form->SystemCommand(TForm1::CmdOmniRig);
    QVERIFY(m_form->OmniRig()->DialogVisible());
    m_form->OmniRig()->SetDialogVisible(false);
}

QTEST_MAIN(TestRigMonitor)
#include "tst_rigmonitor.moc"
