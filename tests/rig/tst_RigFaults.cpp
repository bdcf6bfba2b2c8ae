// The rig link against servers that misbehave, and raw commands, with a stand-in rigctld.
#include "RigTestSupport.h"

#include <QTest>
#include <memory>

namespace {
std::unique_ptr<TOmniRigX> makeLink(const RigEndpoint& rig1)
{
    auto omniRig = std::make_unique<TOmniRigX>();
    omniRig->SetTimings(fastTimings());
    RigSettings settings;
    settings.rigs = { rig1, RigEndpoint {} };
    omniRig->ApplySettings(settings);
    return omniRig;
}
}

class tst_RigFaults : public QObject {
    Q_OBJECT
private slots:
    void badServerThenRecovery_data();
    void badServerThenRecovery();
    void ioErrorMeansNotResponding();
    void customReplyCarriesCommand();
    void customBacklogIsBounded();
};

void tst_RigFaults::badServerThenRecovery_data()
{
    QTest::addColumn<FakeRigctld::Mode>("mode");
    QTest::newRow("garbage") << FakeRigctld::Mode::Garbage;
    QTest::newRow("over-long line") << FakeRigctld::Mode::LongLine;
    QTest::newRow("silence") << FakeRigctld::Mode::Silent;
}

void tst_RigFaults::badServerThenRecovery()
{
    QFETCH(FakeRigctld::Mode, mode);
    FakeRigctld fake(mode);
    QVERIFY(fake.listen());
    auto omniRig = makeLink(fake.endpoint());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsNotResponding));
    QCOMPARE(omniRig->Rig1()->Tx(), 0);
    QCOMPARE(omniRig->Rig1()->IsParamReadable(PM_TX), false);
    omniRig->Rig1()->SetTx(PM_TX); // not online: dropped, no crash

    // A good server takes the bad one's place.
    const quint16 port = fake.port();
    fake.close();
    if (!RigctldServer::available())
        QSKIP("rigctld is not installed");
    RigctldServer server(port);
    QVERIFY(server.start());
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    QTRY_COMPARE(omniRig->Rig1()->RigType(), QStringLiteral("Hamlib Dummy"));
    QCOMPARE(server.ptt(), 0);
}

void tst_RigFaults::ioErrorMeansNotResponding()
{
    FakeRigctld fake(FakeRigctld::Mode::Good);
    QVERIFY(fake.listen());
    auto omniRig = makeLink(fake.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    QCOMPARE(omniRig->Rig1()->RigType(), QStringLiteral("Test Fake"));

    fake.pttError = -6; // rigctld lost the radio's port
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsNotResponding));
    fake.pttError = -11; // answers, but this radio's PTT cannot be read
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    QCOMPARE(omniRig->Rig1()->IsParamReadable(PM_TX), false);
    fake.pttError = 0;
    QTRY_VERIFY(omniRig->Rig1()->IsParamReadable(PM_TX));
    QCOMPARE(recorder.statuses(1), (QList<int> { rsOnline, rsNotResponding, rsOnline }));
    QCOMPARE(fake.connections, 1); // an error answer is no reason to hang up
}

void tst_RigFaults::customReplyCarriesCommand()
{
    FakeRigctld fake(FakeRigctld::Mode::Good);
    QVERIFY(fake.listen());
    auto omniRig = makeLink(fake.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));

    const QByteArray command("\x00\x00\x00\x00\xFA", 5);
    omniRig->Rig1()->SendCustomCommand(command, 5, QByteArray());
    QTRY_COMPARE(recorder.count(QStringLiteral("CustomReply"), 1), 1);
    const RecordedEvent& reply = recorder.events.last();
    QCOMPARE(reply.command, command);
    QCOMPARE(reply.reply, QByteArray("\xAA\x01\x00", 3));
    QCOMPARE(fake.customReceived, QList<QByteArray> { "\\0x00\\0x00\\0x00\\0x00\\0xFA 5" });

    // A text answer (a Kenwood-style radio) comes back as its characters.
    fake.customReply = "FA00014074000;";
    omniRig->Rig1()->SendCustomCommand("FA;", 0, ";");
    QTRY_COMPARE(recorder.count(QStringLiteral("CustomReply"), 1), 2);
    QCOMPARE(recorder.events.last().command, QByteArray("FA;"));
    QCOMPARE(recorder.events.last().reply, QByteArray("FA00014074000;"));
    QCOMPARE(fake.customReceived.last(), QByteArray("\\0x46\\0x41\\0x3B \\0x3B"));

    QVERIFY_THROWS_EXCEPTION(ERigError,
        omniRig->Rig1()->SendCustomCommand(
            QByteArray(TRigctldRig::MaxCustomCommandLength + 1, 'x'), 1, {}));
}

void tst_RigFaults::customBacklogIsBounded()
{
    FakeRigctld fake(FakeRigctld::Mode::Good);
    fake.answerCustom = false; // like the dummy radio
    QVERIFY(fake.listen());
    auto omniRig = makeLink(fake.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));

    for (char i = 0; i < 20; ++i)
        omniRig->Rig1()->SendCustomCommand(QByteArray(1, i), 1, {});
    omniRig->Rig1()->SetTx(PM_TX); // not held up by the unanswered raw commands
    QTRY_COMPARE(fake.ptt, 1);
    QTRY_COMPARE(fake.customReceived.size(), 2);
    // Every unanswered command costs its connection; the next goes out on a fresh one.
    omniRig->Rig1()->SendCustomCommand("\x77", 1, {});
    QTRY_COMPARE(fake.customReceived.size(), 3);
    QCOMPARE(fake.customReceived, (QList<QByteArray> { "\\0x12 1", "\\0x13 1", "\\0x77 1" }));
    QCOMPARE(recorder.count(QStringLiteral("CustomReply")), 0);
    QCOMPARE(recorder.statuses(1), QList<int> { rsOnline });
    omniRig->Rig1()->SetTx(PM_RX);
    QTRY_COMPARE(fake.ptt, 0);
}

QTEST_MAIN(tst_RigFaults)
#include "tst_RigFaults.moc"
