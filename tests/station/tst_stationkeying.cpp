// Keying on every road of the station: the selected radios (real rigctld dummies, read back by
// an independent client) and DTR/RTS of a pseudo-terminal (answered and logged by the
// preloaded modem-line library). Gain 0 keys on every tick, silence included; Gain 100
// releases after the Delay. The rig monitor's own events and poll: tst_stationmonitor.
#include "StationFixture.h"

#include "serial/ComPort.h"
#include "serial/EComPort.h"

class TestStationKeying : public QObject, StationFixture {
    Q_OBJECT

private slots:
    void initTestCase() { setUpStationCase(); }
    void init() { QVERIFY(setUpStation()); }
    void cleanup() { tearDownStation(); }

    void keyingDrivesTheSelectedRoads_data();
    void keyingDrivesTheSelectedRoads();
    void radiosBeforeLinesAndFailuresDoNotStopTheLines();
    void deselectedRigIsReleased_data();
    void deselectedRigIsReleased();
    void followWaitsForTheOverToEnd_data();
    void followWaitsForTheOverToEnd();
    void lineErrorDropsLinesUntilNextTick();
    void refusalReportedOncePerOver_data();
    void refusalReportedOncePerOver();
    void rigServerLostWhileKeyed_data();
    void rigServerLostWhileKeyed();

private:
    // The radios are recording stand-ins; rig A's fails from the start when told.
    void useRecordingRigs(bool rigAFails)
    {
        m_writes.clear();
        m_makeOmniRig = [this, rigAFails] {
            m_recordingA = new RecordingRig(1, m_writes);
            m_recordingA->failing = rigAFails;
            return std::make_unique<TOmniRigX>(
                std::unique_ptr<IRigX>(m_recordingA), std::make_unique<RecordingRig>(2, m_writes));
        };
    }

    QList<RecordingRig::Write> m_writes;
    RecordingRig* m_recordingA = nullptr; // owned by the station's rig link
};

void TestStationKeying::keyingDrivesTheSelectedRoads_data()
{
    QTest::addColumn<bool>("rigA");
    QTest::addColumn<bool>("rigB");
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("rig A, port open") << true << false << true;
    QTest::newRow("rig B, port closed") << false << true << false;
    QTest::newRow("both rigs, port open") << true << true << true;
    QTest::newRow("no rig, port open") << false << false << true;
}

void TestStationKeying::keyingDrivesTheSelectedRoads()
{
    QFETCH(bool, rigA);
    QFETCH(bool, rigB);
    QFETCH(bool, portOpen);
    QVERIFY(startStation(m_parts.silence, 100, 1));
    QVERIFY(m_station->ComPort().Connected());
    if (!portOpen)
        m_station->ComPort().ClosePort();
    m_station->setRigSelected(RigId::A, rigA);
    m_station->setRigSelected(RigId::B, rigB);

    const auto keyedAsSelected = [&] {
        return server(RigId::A).ptt() == int(rigA) && server(RigId::B).ptt() == int(rigB)
            && lines() == (portOpen ? BothLines : 0);
    };
    m_station->SetGain(0);
    QVERIFY(waitForKeyings(1));
    QCOMPARE(lines(), portOpen ? BothLines : 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig(RigId::A)->Tx() == PM_TX, rigA, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rig(RigId::B)->Tx() == PM_TX, rigB, 5000);
    QVERIFY(keyedAsSelected());
    // Keying goes on as the level stays up. The rig monitor refreshes at every tick but does
    // not take this program's own keying for a radio transmitting on its own.
    QVERIFY(waitForKeyings(20));
    QVERIFY(selected(rigA, rigB));
    QVERIFY(keyedAsSelected());

    m_station->SetGain(100);
    QTRY_VERIFY_WITH_TIMEOUT(!m_station->TxOn(), 5000);
    QCOMPARE(lines(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
    QCOMPARE(reports(), 0);
}

void TestStationKeying::radiosBeforeLinesAndFailuresDoNotStopTheLines()
{
    useRecordingRigs(false);
    QVERIFY(startStation(m_parts.silence, 100, 1));
    m_station->setRigSelected(RigId::B, true);
    modemlines_log_clear();
    m_station->SetTX(true);
    // Rig A, rig B, then DTR and RTS.
    QCOMPARE(m_writes.size(), 2);
    QCOMPARE(m_writes[0].rig, 1);
    QCOMPARE(m_writes[0].param, PM_TX);
    QCOMPARE(m_writes[1].rig, 2);
    const QList<modemlines_event> events = lineEvents();
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].line, TIOCM_DTR);
    QCOMPARE(events[1].line, TIOCM_RTS);
    QVERIFY(events[0].time_ns > m_writes[1].timeNs);

    // A radio that fails keeps neither the other radio nor the lines from being released;
    // the failure is raised afterwards.
    m_recordingA->failing = true;
    m_writes.clear();
    QVERIFY_THROWS_EXCEPTION(ERigError, m_station->SetTX(false));
    QCOMPARE(m_writes.size(), 2);
    QCOMPARE(m_writes[1].param, PM_RX);
    QCOMPARE(lines(), 0);
    QVERIFY(!m_station->TxOn());
    // Its release failed, so it is still keyed; left by the selection while it fails, it is
    // released by the next release all the same, selected or not.
    QVERIFY(m_station->Road(RigId::A).keyed());
    QVERIFY_THROWS_EXCEPTION(ERigError, m_station->setRigSelected(RigId::A, false));
    m_recordingA->failing = false;
    m_writes.clear();
    m_station->SetTX(false);
    // Only the rig still keyed: a release goes to nothing this program did not key.
    QCOMPARE(m_writes.size(), 1);
    QCOMPARE(m_writes[0].rig, 1);
    QCOMPARE(m_writes[0].param, PM_RX);
    QVERIFY(!m_station->Road(RigId::A).keyed());
}

void TestStationKeying::deselectedRigIsReleased_data()
{
    // Rig A, keyed by the voice, leaves the selection; the rigs selected in the end.
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("endA");
    QTest::addColumn<bool>("endB");
    QTest::newRow("selectRig(B, exclusive)") << "select B" << false << true;
    QTest::newRow("setRigSelected(A, false)") << "unselect A" << false << false;
    QTest::newRow("B, then back to A") << "back to A" << true << false;
}

void TestStationKeying::deselectedRigIsReleased()
{
    QFETCH(QString, change);
    QFETCH(bool, endA);
    QFETCH(bool, endB);
    QVERIFY(startStation(m_parts.silence, 0, 2));
    // Changed only once rig A's server has the keying: the release of the rig that leaves
    // must be what releases it, not a keying that had not arrived yet.
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 5000);
    QCOMPARE(lines(), BothLines);
    QCOMPARE(server(RigId::B).ptt(), 0);
    QSignalSpy selection(m_station.get(), &VoxStation::selectionChanged);

    if (change == "select B" || change == "back to A") {
        m_station->selectRig(RigId::B, true);
    } else if (change == "unselect A") {
        m_station->setRigSelected(RigId::A, false);
    }
    QTRY_COMPARE_WITH_TIMEOUT(selection.size(), 1, 5000);
    if (change == "back to A") {
        QTRY_COMPARE_WITH_TIMEOUT(server(RigId::B).ptt(), 1, 5000);
        m_station->selectRig(RigId::A, true);
    }
    QVERIFY(selected(endA, endB));
    // The rig left is released at once, the one kept keyed from the next tick on.
    QTRY_VERIFY_WITH_TIMEOUT(
        server(RigId::A).ptt() == int(endA) && server(RigId::B).ptt() == int(endB), 5000);
    // And so it stays: the monitor does not take the left rig's last report for a
    // transmission of its own.
    QVERIFY(waitForKeyings(40));
    QVERIFY(selected(endA, endB));
    QCOMPARE(server(RigId::A).ptt(), endA ? 1 : 0);
    QCOMPARE(server(RigId::B).ptt(), endB ? 1 : 0);
    QCOMPARE(lines(), BothLines);
    QCOMPARE(selection.size(), change == "back to A" ? 2 : 1);

    // The release goes to the rig kept.
    m_station->SetGain(100);
    QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
    QVERIFY(selected(endA, endB));
    QVERIFY(!m_station->Muted() && !m_station->LampAlarm());
    QCOMPARE(m_boxes.texts(), QStringList());
}

void TestStationKeying::followWaitsForTheOverToEnd_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("rig B transmits on its own") << "B transmits";
    QTest::newRow("CAT poll reply: rig B transmits") << "CAT reply";
}

void TestStationKeying::followWaitsForTheOverToEnd()
{
    // Mid-over on rig A, rig B transmits for another program (a logger through its server, a
    // footswitch): the operator's over is not cut, and rig B becomes the selection when the
    // over ends, left to whoever keyed it.
    QFETCH(QString, change);
    QVERIFY(startStation(m_parts.silence, 0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 5000);
    QSignalSpy selection(m_station.get(), &VoxStation::selectionChanged);
    if (change == "B transmits") {
        QVERIFY(server(RigId::B).setPtt(true));
        QTRY_VERIFY_WITH_TIMEOUT(rig(RigId::B)->Tx() == PM_TX, 5000);
    } else {
        // Rig B reported last, so its reply is decoded: bit 0 of the third byte is transmit.
        m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), RigId::B, 0);
        m_station->Monitor().CustomReplyEvent(m_station->OmniRig(), RigId::B,
            QByteArray::fromHex("00000000FA"), QByteArray::fromHex("0000010000"));
    }
    QVERIFY(waitForKeyings(10));
    QCOMPARE(selection.size(), 0);
    QCOMPARE(server(RigId::A).ptt(), 1);
    m_station->SetGain(100);
    QTRY_COMPARE_WITH_TIMEOUT(selection.size(), 1, 5000);
    QVERIFY(selected(false, true));
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 0, 5000);
    QCOMPARE(server(RigId::B).ptt(), change == "B transmits" ? 1 : 0);
}

void TestStationKeying::lineErrorDropsLinesUntilNextTick()
{
    QVERIFY(startStation(m_parts.silence, 0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), BothLines, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 5000);
    modemlines_log_clear();
    // A framing error comes with the byte it spoiled.
    QCOMPARE(modemlines_add_errors(m_parts.pty.toLocal8Bit().constData(), 1, 0, 0, 0, 0), 0);
    QCOMPARE(::write(m_parts.port->Master(), "x", 1), 1);
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
    QCOMPARE(server(RigId::A).ptt(), 1);
    QVERIFY(m_station->TxOn());
    QCOMPARE(reports(), 0);
    // When DTR cannot be dropped, RTS is dropped all the same and the failure raised after.
    const QByteArray pty = m_parts.pty.toLocal8Bit();
    QCOMPARE(modemlines_set_failing(pty.constData(), TIOCM_DTR), 0);
    QVERIFY_THROWS_EXCEPTION(EComPort, m_station->ComPortError());
    QCOMPARE(lines(), TIOCM_DTR);
    QCOMPARE(modemlines_set_failing(pty.constData(), 0), 0);
}

void TestStationKeying::refusalReportedOncePerOver_data()
{
    QTest::addColumn<bool>("linkRaises");
    QTest::addColumn<QString>("text");
    // The link raises the failure at every keying; the report keeps a repeated text quiet.
    QTest::newRow("link raises") << true << "Rig1 refused the transmit state";
    // A radio that will not transmit answers its server's transmit command with an error.
    QTest::newRow("server refuses")
        << false << "Rig A refused transmit: Invalid parameter (RPRT -1)";
}

void TestStationKeying::refusalReportedOncePerOver()
{
    QFETCH(bool, linkRaises);
    QFETCH(QString, text);
    RigctldServer refusing(freeLoopbackPort(), false);
    if (linkRaises) {
        useRecordingRigs(true);
    } else {
        QVERIFY(refusing.start());
        m_rigEndpoints = { { refusing.endpoint(), server(RigId::B).endpoint() } };
    }
    QVERIFY(startStation(m_parts.silence, 0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(reports(), 1, 5000);
    QCOMPARE(m_boxes.boxes.last().text, text);
    // The lines are keyed all the same, and the over goes on without another report.
    m_boxes.dismissAll();
    QVERIFY(waitForKeyings(30));
    QCOMPARE(lines(), BothLines);
    QCOMPARE(reports(), 1);
    // The release still drops the lines.
    m_station->SetGain(100);
    QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    QVERIFY(!m_station->TxOn());
}

void TestStationKeying::rigServerLostWhileKeyed_data()
{
    QTest::addColumn<bool>("releaseWhileDown");
    QTest::newRow("released while the server is down") << true;
    QTest::newRow("keyed until the server is back") << false;
}

void TestStationKeying::rigServerLostWhileKeyed()
{
    QFETCH(bool, releaseWhileDown);
    QVERIFY(startStation(m_parts.silence, 0, 2));
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 5000);
    const quint16 port = server(RigId::A).port();
    server(RigId::A).kill();
    QTRY_VERIFY_WITH_TIMEOUT(rig(RigId::A)->Status() != rsOnline, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->RigLampState(RigId::A).name, QStringLiteral("N/A"), 5000);

    // The lines go on following the detector, and nothing piles up on the screen.
    QVERIFY(waitForKeyings(30));
    QCOMPARE(lines(), BothLines);
    if (releaseWhileDown) {
        m_station->SetGain(100);
        QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    }
    QCOMPARE(m_boxes.boxes.size(), 0);

    m_parts.server1 = std::make_unique<RigctldServer>(port);
    QVERIFY(m_parts.server1->start());
    QTRY_COMPARE_WITH_TIMEOUT(rig(RigId::A)->Status(), int(rsOnline), 10000);
    if (!releaseWhileDown) {
        // Back online while the voice goes on: keyed again, then released by the detector.
        QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 5000);
        m_station->SetGain(100);
        QTRY_COMPARE_WITH_TIMEOUT(lines(), 0, 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_station->RigLampState(RigId::A).name, QStringLiteral("Hamlib Dummy"), 5000);
    QCOMPARE(server(RigId::A).ptt(), 0);
    QCOMPARE(server(RigId::B).ptt(), 0);
    QCOMPARE(m_boxes.boxes.size(), 0);
}

QTEST_GUILESS_MAIN(TestStationKeying)
#include "tst_stationkeying.moc"
