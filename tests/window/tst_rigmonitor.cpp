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
    QVERIFY(!m_form->Station().TxOn());
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
    QCOMPARE(m_form->Station().Monitor().ReportedRig(), m_form->Station().OmniRig()->Rig2());
    QCOMPARE(name(1)->text(), QStringLiteral("Hamlib Dummy"));
    QVERIFY(led(1)->isOn());

    m_server2 = std::make_unique<RigctldServer>(port);
    QVERIFY(m_server2->start());
    QTRY_VERIFY_WITH_TIMEOUT(name(2)->text() == "Hamlib Dummy" && led(2)->isOn(), 10000);

    // The parameter event reads the status anew each time; the number it carries is not used.
    name(1)->setText("x");
    led(1)->setOn(false);
    m_form->Station().Monitor().ParamsChangeEvent(m_form->Station().OmniRig(), RigId::A, PM_TX);
    QCOMPARE(name(1)->text(), QStringLiteral("Hamlib Dummy"));
    QVERIFY(led(1)->isOn());
    QCOMPARE(m_form->Station().Monitor().ReportedRig(), m_form->Station().OmniRig()->Rig1());
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
    QVERIFY(!m_form->Station().Running());
    m_form->MuteButtonClick();
    QVERIFY(cat->isActive());
    QSignalSpy polls(cat, &QTimer::timeout);
    QVERIFY(polls.wait(2000));

    // Both "OmniRig" commands open the server's settings window.
    QVERIFY(!m_form->Station().OmniRig()->DialogVisible());
    findAction(m_form->PopupMenu1(), "OmniRig")->trigger();
    QVERIFY(m_form->Station().OmniRig()->DialogVisible());
    m_form->Station().OmniRig()->SetDialogVisible(false);
    m_form->SystemCommand(TForm1::CmdOmniRig);
    QVERIFY(m_form->Station().OmniRig()->DialogVisible());
    m_form->Station().OmniRig()->SetDialogVisible(false);
}

QTEST_MAIN(TestRigMonitor)
#include "tst_rigmonitor.moc"
