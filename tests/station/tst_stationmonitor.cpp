// The rig monitor that selects the radio to key: the rig events driven directly with crafted
// arguments, and the CAT poll against stand-in servers, on the station's real parts.
#include "StationFixture.h"

class TestStationMonitor : public QObject, StationFixture {
    Q_OBJECT

private slots:
    void initTestCase() { setUpStationCase(); }
    void init() { QVERIFY(setUpStation()); }
    void cleanup() { tearDownStation(); }

    void rigTypeEventWritesOnlyItsName();
    void customReplies_data();
    void customReplies();
    void pollReachesBothRadiosAndSelects();
    void silentRadioIsNotPolledAgain();
    void onlyYaesuRadiosArePolled_data();
    void onlyYaesuRadiosArePolled();
    void lateReplyDoesNotUndoTheOperatorsChange();

private:
    static qsizetype repliesFrom(const QSignalSpy& replies, RigId rig)
    {
        return std::count_if(replies.begin(), replies.end(),
            [rig](const QList<QVariant>& reply) { return reply.at(1).value<RigId>() == rig; });
    }
};

void TestStationMonitor::rigTypeEventWritesOnlyItsName()
{
    QVERIFY(startStation(m_parts.silence, 100, 1));
    m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), RigId::A, 0);
    QSignalSpy names(m_station.get(), &VoxStation::rigNameChanged);
    QSignalSpy lamps(m_station.get(), &VoxStation::rigLampChanged);
    m_station->Monitor().RigTypeChangeEvent(m_station->OmniRig(), RigId::B);
    QCOMPARE(names.size(), 1);
    QCOMPARE(names.first().at(0).value<RigId>(), RigId::B);
    QCOMPARE(m_station->RigLampState(RigId::B).name, QStringLiteral("Hamlib Dummy"));
    QCOMPARE(lamps.size(), 0);
    QCOMPARE(m_station->Monitor().ReportedRig(), rig(RigId::A));
}

void TestStationMonitor::customReplies_data()
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

void TestStationMonitor::customReplies()
{
    QFETCH(int, reported);
    QFETCH(int, rig);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(bool, selects);
    // No servers: nothing but these calls reaches the monitor.
    m_rigEndpoints = std::array<RigEndpoint, 2> {};
    QVERIFY(startStation(m_parts.silence, 100, 1));
    if (reported)
        m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), *rigFromNumber(reported), 0);
    // The other rig selected first, so that a selection shows.
    m_station->selectRig(rig == 1 ? RigId::B : RigId::A, true);
    m_station->Monitor().CustomReplyEvent(
        m_station->OmniRig(), *rigFromNumber(rig), command, reply);
    QCOMPARE(selected(rig == 1, rig == 2), selects);
}

void TestStationMonitor::pollReachesBothRadiosAndSelects()
{
    FakeRigctld fakeA(FakeRigctld::Mode::Good), fakeB(FakeRigctld::Mode::Good);
    QVERIFY(fakeA.listen() && fakeB.listen());
    fakeA.customReply = "\\0x00\\0x00\\0x01\\0x00\\0x00 5"; // transmitting
    fakeB.customReply = "\\0x00\\0x00\\0x00\\0x00\\0x00 5"; // receiving
    m_rigEndpoints = { { fakeA.endpoint(), fakeB.endpoint() } };
    QVERIFY(startStation(m_parts.silence, 100, 1));
    // The status events have been handled once the lamps are on.
    QTRY_VERIFY_WITH_TIMEOUT(
        m_station->RigLampState(RigId::A).online && m_station->RigLampState(RigId::B).online, 5000);
    QSignalSpy replies(m_station->OmniRig(), &TOmniRigX::OnCustomReply);

    // Every period both radios get the status read, five bytes answered, no end marker.
    QTRY_VERIFY_WITH_TIMEOUT(
        fakeA.customReceived.size() >= 3 && fakeB.customReceived.size() >= 3, 10000);
    for (const auto* fake : { &fakeA, &fakeB })
        for (const QByteArray& args : fake->customReceived)
            QCOMPARE(args, QByteArray("\\0x00\\0x00\\0x00\\0x00\\0xFA 5"));

    // Rig B was the latest to report: rig A's transmit reply is not decoded.
    m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), RigId::B, 0);
    m_station->selectRig(RigId::B, true);
    const auto before = repliesFrom(replies, RigId::A);
    QTRY_VERIFY_WITH_TIMEOUT(repliesFrom(replies, RigId::A) >= before + 2, 10000);
    QVERIFY(selected(false, true));

    // Rig A reports: its next reply selects rig A.
    m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), RigId::A, 0);
    QTRY_VERIFY_WITH_TIMEOUT(selected(true, false), 5000);
    QCOMPARE(reports(), 0);
}

void TestStationMonitor::silentRadioIsNotPolledAgain()
{
    FakeRigctld fakeA(FakeRigctld::Mode::Good), fakeB(FakeRigctld::Mode::Good);
    QVERIFY(fakeA.listen() && fakeB.listen());
    fakeB.answerCustom = false; // like the dummy radio
    m_rigEndpoints = { { fakeA.endpoint(), fakeB.endpoint() } };
    QVERIFY(startStation(m_parts.silence, 100, 1));
    // The answering radio goes on being polled; the silent one got the first poll only.
    QTRY_VERIFY_WITH_TIMEOUT(fakeA.customReceived.size() >= 5, 10000);
    QCOMPARE(fakeB.customReceived.size(), 1);
    // Another radio in its place is tried again.
    m_station->Monitor().RigTypeChangeEvent(m_station->OmniRig(), RigId::B);
    QTRY_COMPARE_WITH_TIMEOUT(fakeB.customReceived.size(), 2, 5000);
}

void TestStationMonitor::onlyYaesuRadiosArePolled_data()
{
    QTest::addColumn<QByteArray>("maker");
    QTest::newRow("Kenwood") << QByteArray("Kenwood");
    QTest::newRow("Icom") << QByteArray("Icom");
    QTest::newRow("Hamlib dummy") << QByteArray("Hamlib");
    QTest::newRow("maker not said") << QByteArray();
}

void TestStationMonitor::onlyYaesuRadiosArePolled()
{
    // Another maker's radio would hold its server (and keying) for a whole read time-out.
    QFETCH(QByteArray, maker);
    FakeRigctld other(FakeRigctld::Mode::Good), yaesu(FakeRigctld::Mode::Good);
    QVERIFY(other.listen() && yaesu.listen());
    other.maker = maker;
    m_rigEndpoints = { { other.endpoint(), yaesu.endpoint() } };
    QVERIFY(startStation(m_parts.silence, 100, 1));
    QTRY_VERIFY_WITH_TIMEOUT(m_station->RigLampState(RigId::A).online, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(yaesu.customReceived.size() >= 3, 10000);
    QCOMPARE(other.customReceived.size(), 0);
}

void TestStationMonitor::lateReplyDoesNotUndoTheOperatorsChange()
{
    FakeRigctld fakeA(FakeRigctld::Mode::Good), fakeB(FakeRigctld::Mode::Good);
    QVERIFY(fakeA.listen() && fakeB.listen());
    fakeA.customReply = "\\0x00\\0x00\\0x01\\0x00\\0x00 5"; // transmitting
    fakeB.customReply = "\\0x00\\0x00\\0x00\\0x00\\0x00 5";
    m_rigEndpoints = { { fakeA.endpoint(), fakeB.endpoint() } };
    // Rig A's poll replies are decoded; once it has answered, it is polled while keyed too.
    QVERIFY(startStation(m_parts.silence, 100, 2));
    QTRY_VERIFY_WITH_TIMEOUT(
        m_station->RigLampState(RigId::A).online && m_station->RigLampState(RigId::B).online, 5000);
    m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), RigId::A, 0);
    QSignalSpy replies(m_station->OmniRig(), &TOmniRigX::OnCustomReply);
    QTRY_VERIFY_WITH_TIMEOUT(repliesFrom(replies, RigId::A) >= 1, 10000);
    // Gain 0 keys rig A at every tick.
    m_station->SetGain(0);
    QTRY_COMPARE_WITH_TIMEOUT(fakeA.ptt, 1, 5000);

    // The operator moves to B; rig A still reports transmit in its next reply, and it is
    // the latest rig to report (rig B's keying has been reported before).
    m_station->selectRig(RigId::B, true);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_station->Monitor().ReportedRig() == rig(RigId::B) && fakeB.ptt == 1, 5000);
    m_station->Monitor().ParamsChangeEvent(m_station->OmniRig(), RigId::A, 0);
    const auto before = repliesFrom(replies, RigId::A);
    QTRY_VERIFY_WITH_TIMEOUT(repliesFrom(replies, RigId::A) > before, 5000);
    QVERIFY(selected(false, true));
    fakeA.customReply = "\\0x00\\0x00\\0x00\\0x00\\0x00 5";
    QVERIFY(waitForTicks(10));
    QVERIFY(selected(false, true));
    QCOMPARE(fakeA.ptt, 0);
    QCOMPARE(fakeB.ptt, 1);
    QCOMPARE(reports(), 0);
}

QTEST_GUILESS_MAIN(TestStationMonitor)
#include "tst_stationmonitor.moc"
