// Keying on both roads: the selected radios (real rigctld dummies, watched by an independent
// client) and DTR/RTS of a pseudo-terminal (answered and logged by the preloaded modem-line
// library). The level detector keys on silence with Gain 0, and releases after the Delay once
// the Gain slider is raised to 100.
#include "KeyingFixture.h"

#include "serial/ComPort.h"
#include "widgets/SelectionSlider.h"

#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <csignal>

class TestKeying : public QObject, KeyingFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keyingDrivesTheSelectedRoads_data();
    void keyingDrivesTheSelectedRoads();
    void radiosBeforeLinesAndFailuresDoNotStopTheLines();
    void failingRigReportedOnceWhileKeyingGoesOn();
    void selectionChangeReleasesTheOldRig_data();
    void selectionChangeReleasesTheOldRig();
    void pressOnTheKeyedRigsButton_data();
    void pressOnTheKeyedRigsButton();
    void lineErrorDropsLinesUntilNextTick();
    void refusedTransmitReportedOncePerOver();
    void rigServerLostWhileKeyed_data();
    void rigServerLostWhileKeyed();
    void everyWayOutReleasesBothRoads_data();
    void everyWayOutReleasesBothRoads();

private:
    // Waits until `count` more keying ticks have run.
    bool waitForTicks(int count);
    void stopKeying() { child<SelectionSlider>("GainTrack")->setValue(100); }
    void startKeying() { child<SelectionSlider>("GainTrack")->setValue(0); }

    // The substitute radios' writes; they outlive each test's window.
    QList<RecordingRig::Write> m_writes;
};

void TestKeying::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    if (!modemlines_loaded())
        QSKIP("run with LD_PRELOAD=libvokey_modemlines_preload.so");
    QVERIFY(setUpKeyingCase());
}

void TestKeying::init()
{
    QVERIFY(setUpKeying());
}

void TestKeying::cleanup()
{
    tearDownKeying();
    m_writes.clear();
}

bool TestKeying::waitForTicks(int count)
{
    int keyed = 0;
    const QMetaObject::Connection connection
        = connect(m_form.get(), &TForm1::TransmitSet, this, [&](bool on) { keyed += on; });
    const bool reached = waitUntil([&] { return keyed >= count; }, 10000);
    disconnect(connection);
    return reached;
}

void TestKeying::keyingDrivesTheSelectedRoads_data()
{
    QTest::addColumn<bool>("rig1");
    QTest::addColumn<bool>("rig2");
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("rig A, port open") << true << false << true;
    QTest::newRow("rig B, port closed") << false << true << false;
    // A press on the inactive LED button sets its flag before any click.
    QTest::newRow("both flags, port open") << true << true << true;
    // A press on the active one clears it: only the lines are keyed.
    QTest::newRow("no flag, port open") << false << false << true;
}

void TestKeying::keyingDrivesTheSelectedRoads()
{
    QFETCH(bool, rig1);
    QFETCH(bool, rig2);
    QFETCH(bool, portOpen);
    QVERIFY(startKeyed(100, 1));
    QVERIFY(m_form->ComPort().Connected());
    if (!portOpen)
        m_form->ComPort().ClosePort();
    rigButton(1)->setIsActive(rig1);
    rigButton(2)->setIsActive(rig2);

    startKeying();
    QVERIFY(waitForTicks(1));
    QCOMPARE(lines(), portOpen ? BothLines : 0);
    QTRY_COMPARE_WITH_TIMEOUT(rigOf(1)->Tx() == PM_TX, rig1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rigOf(2)->Tx() == PM_TX, rig2, 5000);
    QCOMPARE(m_server1->ptt(), rig1 ? 1 : 0);
    QCOMPARE(m_server2->ptt(), rig2 ? 1 : 0);
    // Keying goes on as the level stays up. The rig monitor refreshes at every tick but does
    // not take this program's own keying for a radio transmitting on its own.
    QVERIFY(waitForTicks(20));
    QVERIFY(selected(rig1, rig2));
    QCOMPARE(m_server1->ptt(), rig1 ? 1 : 0);
    QCOMPARE(m_server2->ptt(), rig2 ? 1 : 0);
    QCOMPARE(lines(), portOpen ? BothLines : 0);

    stopKeying();
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->TxOn(), 5000);
    QCOMPARE(lines(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_server2->ptt(), 0, 5000);
    QCOMPARE(reports(), 0);
}

void TestKeying::radiosBeforeLinesAndFailuresDoNotStopTheLines()
{
    QList<RecordingRig::Write>& writes = m_writes;
    RecordingRig* rig1 = nullptr;
    m_makeOmniRig = [&] {
        rig1 = new RecordingRig(1, writes);
        return std::make_unique<TOmniRigX>(
            std::unique_ptr<IRigX>(rig1), std::make_unique<RecordingRig>(2, writes));
    };
    QVERIFY(startKeyed(100, 1));
    rigButton(1)->setIsActive(true);
    rigButton(2)->setIsActive(true);
    modemlines_log_clear();
    m_form->SetTX(true);
    // Rig 1, rig 2, then DTR and RTS.
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[0].rig, 1);
    QCOMPARE(writes[0].param, PM_TX);
    QCOMPARE(writes[1].rig, 2);
    const QList<modemlines_event> events = lineEvents();
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].line, TIOCM_DTR);
    QCOMPARE(events[1].line, TIOCM_RTS);
    QVERIFY(events[0].time_ns > writes[1].timeNs);

    // A radio that fails keeps neither the other radio nor the lines from being released;
    // the failure is raised afterwards.
    rig1->failing = true;
    writes.clear();
    QVERIFY_THROWS_EXCEPTION(ERigError, m_form->SetTX(false));
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[1].param, PM_RX);
    QCOMPARE(lines(), 0);
    QVERIFY(!m_form->TxOn());
}

void TestKeying::failingRigReportedOnceWhileKeyingGoesOn()
{
    QList<RecordingRig::Write>& writes = m_writes;
    m_makeOmniRig = [&] {
        auto rig1 = std::make_unique<RecordingRig>(1, writes);
        rig1->failing = true;
        return std::make_unique<TOmniRigX>(
            std::move(rig1), std::make_unique<RecordingRig>(2, writes));
    };
    QVERIFY(startKeyed(0, 2));
    // Every tick fails on rig 1; the lines are keyed all the same and one report is open.
    QVERIFY(waitForTicks(15));
    QCOMPARE(lines(), BothLines);
    QCOMPARE(reports(), 1);
    QCOMPARE(m_boxes.boxes.last().text, QStringLiteral("Rig1 refused the transmit state"));
    // Dismissed, the same error stays quiet while it keeps arriving.
    m_boxes.dismissAll();
    QVERIFY(waitForTicks(15));
    QCOMPARE(reports(), 1);
    // The release still drops the lines.
    stopKeying();
    QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    QVERIFY(!m_form->TxOn());
}

void TestKeying::selectionChangeReleasesTheOldRig_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("rig"); // the rig selected in the end
    QTest::newRow("hand selection of B") << "hand" << 2;
    QTest::newRow("rig B transmits on its own") << "follow" << 2;
    QTest::newRow("B, then back to A") << "back" << 1;
}

void TestKeying::selectionChangeReleasesTheOldRig()
{
    QFETCH(QString, change);
    QFETCH(int, rig);
    RigctldServer* const servers[] = { m_server1.get(), m_server2.get() };
    RigctldServer* const kept = servers[rig - 1];
    RigctldServer* const left = servers[2 - rig];
    QVERIFY(startKeyed(0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
    QCOMPARE(lines(), BothLines);
    QCOMPARE(m_server2->ptt(), 0);

    if (change == "follow")
        QVERIFY(m_server2->setPtt(true));
    else
        QTest::mouseClick(rigButton(2), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(selected(false, true), 5000);
    if (change == "back") {
        QTRY_COMPARE_WITH_TIMEOUT(m_server2->ptt(), 1, 5000);
        QTest::mouseClick(rigButton(1), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(selected(true, false), 5000);
    }
    // The rig left is released at once, the one kept keyed from the next tick on.
    QTRY_COMPARE_WITH_TIMEOUT(left->ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rigOf(rig)->Tx(), PM_TX, 5000);
    // And so it stays: the monitor does not take the left rig's last report for a
    // transmission of its own.
    QVERIFY(waitForTicks(40));
    QVERIFY(selected(rig == 1, rig == 2));
    QCOMPARE(left->ptt(), 0);
    QCOMPARE(kept->ptt(), 1);
    QCOMPARE(lines(), BothLines);

    // The release goes to the rig kept.
    stopKeying();
    QTRY_COMPARE_WITH_TIMEOUT(kept->ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    QCOMPARE(left->ptt(), 0);
    QVERIFY(selected(rig == 1, rig == 2));
    QCOMPARE(reports(), 0);
}

void TestKeying::pressOnTheKeyedRigsButton_data()
{
    // A press flips the button's flag before any click: a right or middle press on the
    // active [A] leaves no rig selected, and so does a left press held while the voice stops.
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("delay");
    QTest::newRow("right click") << Qt::RightButton << 2;
    QTest::newRow("middle click") << Qt::MiddleButton << 2;
    QTest::newRow("left press held across the release, Delay 0") << Qt::LeftButton << 0;
}

void TestKeying::pressOnTheKeyedRigsButton()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, delay);
    QVERIFY(startKeyed(0, delay));
    m_form->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
    QTest::mousePress(rigButton(1), button);
    QVERIFY(selected(false, false));
    // The rig that left the selection is released at once; the lines go on with the voice.
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QVERIFY(waitForTicks(10));
    QCOMPARE(lines(), BothLines);
    stopKeying();
    QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    QTest::mouseRelease(rigButton(1), button);
    if (button == Qt::LeftButton)
        QTRY_VERIFY_WITH_TIMEOUT(selected(true, false), 5000);
    QCOMPARE(m_server1->ptt(), 0);
    QCOMPARE(m_server2->ptt(), 0);
    // Keyed again by the voice, released again by the release timer or Mute.
    startKeying();
    if (button != Qt::LeftButton)
        QTest::mouseClick(rigButton(1), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
    QTest::mouseClick(child<QPushButton>("MuteButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    QCOMPARE(reports(), 0);
}

void TestKeying::lineErrorDropsLinesUntilNextTick()
{
    QVERIFY(startKeyed(0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), BothLines, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
    modemlines_log_clear();
    // A framing error comes with the byte it spoiled.
    QCOMPARE(modemlines_add_errors(m_pty.toLocal8Bit().constData(), 1, 0, 0, 0, 0), 0);
    QCOMPARE(::write(m_port->Master(), "x", 1), 1);
    // Dropped at once, raised again by the next keying tick.
    const auto droppedAndRaised = [this] {
        const QList<modemlines_event> events = lineEvents();
        return events.size() >= 4 && events[0].value == 0 && events[1].value == 0
            && events[2].value == 1 && events[3].value == 1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(droppedAndRaised(), 5000);
    const QList<modemlines_event> events = lineEvents();
    QCOMPARE(events[0].line, TIOCM_DTR);
    QCOMPARE(events[1].line, TIOCM_RTS);
    QCOMPARE(QByteArray(events[0].cause), QByteArray("TIOCMBIC"));
    // The radio is not touched by a line error.
    QCOMPARE(m_server1->ptt(), 1);
    QVERIFY(m_form->TxOn());
    QCOMPARE(reports(), 0);
}

void TestKeying::refusedTransmitReportedOncePerOver()
{
    // A radio that will not transmit answers its server's transmit command with an error.
    RigctldServer refusing(freeLoopbackPort(), false);
    QVERIFY(refusing.start());
    configureRigs(refusing.endpoint(), m_server2->endpoint());
    QVERIFY(startKeyed(0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(reports(), 1, 5000);
    QCOMPARE(m_boxes.boxes.last().text,
        QStringLiteral("Rig A refused transmit: Invalid parameter (RPRT -1)"));
    // The lines are keyed all the same, and the over goes on without another report.
    m_boxes.dismissAll();
    QVERIFY(waitForTicks(30));
    QCOMPARE(lines(), BothLines);
    QCOMPARE(reports(), 1);
}

void TestKeying::rigServerLostWhileKeyed_data()
{
    QTest::addColumn<bool>("releaseWhileDown");
    QTest::newRow("released while the server is down") << true;
    QTest::newRow("keyed until the server is back") << false;
}

void TestKeying::rigServerLostWhileKeyed()
{
    QFETCH(bool, releaseWhileDown);
    QVERIFY(startKeyed(0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
    const quint16 port = m_server1->port();
    m_server1->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!rigOnline(1), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>("Rig1Name")->text(), QStringLiteral("N/A"), 5000);

    // The lines go on following the detector, and nothing piles up on the screen.
    QVERIFY(waitForTicks(30));
    QCOMPARE(lines(), BothLines);
    if (releaseWhileDown) {
        stopKeying();
        QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    }
    QCOMPARE(m_boxes.boxes.size(), 0);

    m_server1 = std::make_unique<RigctldServer>(port);
    QVERIFY(m_server1->start());
    QTRY_VERIFY_WITH_TIMEOUT(rigOnline(1), 10000);
    if (!releaseWhileDown) {
        // Back online while the voice goes on: keyed again, then released by the detector.
        QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
        stopKeying();
        QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(
        child<QLabel>("Rig1Name")->text(), QStringLiteral("Hamlib Dummy"), 5000);
    QCOMPARE(m_server1->ptt(), 0);
    QCOMPARE(m_server2->ptt(), 0);
    QCOMPARE(m_boxes.boxes.size(), 0);
}

void TestKeying::everyWayOutReleasesBothRoads_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("serverGone");
    QTest::newRow("Exit") << "Exit" << false;
    QTest::newRow("window close") << "window close" << false;
    QTest::newRow("SIGTERM") << "SIGTERM" << false;
    QTest::newRow("Exit with rig A's rigctld gone") << "Exit" << true;
}

void TestKeying::everyWayOutReleasesBothRoads()
{
    QFETCH(QString, way);
    QFETCH(bool, serverGone);
    QVERIFY(startKeyed(0, 100));
    m_form->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 1, 5000);
    QCOMPARE(lines(), BothLines);
    const quint16 port = m_server1->port();
    if (serverGone) {
        m_server1->kill();
        QTRY_VERIFY_WITH_TIMEOUT(!rigOnline(1), 5000);
    }
    // The level stays up all the way out: nothing may key behind the release.
    QList<bool> transmit;
    QObject scope; // the connection ends with this function
    connect(m_form.get(), &TForm1::TransmitSet, &scope, [&transmit](bool on) { transmit << on; });
    modemlines_log_clear();
    if (way == "Exit")
        m_form->ExitClick();
    else if (way == "window close")
        m_form->close();
    else
        ::raise(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->isVisible(), 5000);
    QVERIFY(!transmit.isEmpty());
    QVERIFY2(!transmit.mid(transmit.indexOf(false)).contains(true), "keyed after the release");
    // The process would end here.
    m_form.reset();
    QCOMPARE(lines(), 0);
    // Dropped by the program itself, not only by the port's closing (HUPCL).
    const QList<modemlines_event> events = lineEvents();
    const auto drop = std::find_if(events.begin(), events.end(),
        [](const modemlines_event& event) { return event.value == 0; });
    QVERIFY(drop != events.end() && drop + 1 != events.end());
    QCOMPARE(drop[0].line, TIOCM_DTR);
    QCOMPARE(drop[1].line, TIOCM_RTS);
    QCOMPARE(QByteArray(drop[0].cause), QByteArray("TIOCMBIC"));
    QCOMPARE(QByteArray(drop[1].cause), QByteArray("TIOCMBIC"));
    const QString stillKeyed
        = QStringLiteral("Rig A may still be transmitting: its rigctld did not answer the release");
    QCOMPARE(m_boxes.texts().contains(stillKeyed), serverGone);
    if (serverGone) {
        m_server1 = std::make_unique<RigctldServer>(port);
        QVERIFY(m_server1->start());
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QCOMPARE(m_server2->ptt(), 0);
    // Writing the settings on Exit keeps the rig settings beside them.
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "RIG1", "PORT", "absent"),
        QString::number(m_server1->port()));
}

QTEST_MAIN(TestKeying)
#include "tst_keying.moc"
