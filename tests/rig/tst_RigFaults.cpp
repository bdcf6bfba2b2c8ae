// The rig link against servers that misbehave, and raw commands, with a stand-in rigctld.
#include "RigTestSupport.h"

#include <QTest>
#include <memory>

class tst_RigFaults : public QObject {
    Q_OBJECT
private slots:
    void badServerThenRecovery_data();
    void badServerThenRecovery();
    void ioErrorMeansNotResponding();
    void customReplyCarriesCommand();
    void customBacklogIsBounded();
    void cleanup();

private:
    // A client whose Rig1 is online with a well-behaved stand-in server.
    void connectToGoodFake(bool answerCustom = true);

    std::unique_ptr<FakeRigctld> m_fake;
    std::unique_ptr<TOmniRigX> m_omniRig;
    std::unique_ptr<EventRecorder> m_recorder;
};

void tst_RigFaults::connectToGoodFake(bool answerCustom)
{
    m_fake = std::make_unique<FakeRigctld>(FakeRigctld::Mode::Good);
    m_fake->answerCustom = answerCustom;
    QVERIFY(m_fake->listen());
    m_omniRig = makeLink(m_fake->endpoint());
    m_recorder = std::make_unique<EventRecorder>(m_omniRig.get());
    m_omniRig->Connect();
    QTRY_COMPARE(m_omniRig->Rig1()->Status(), int(rsOnline));
}

void tst_RigFaults::cleanup()
{
    m_recorder.reset();
    m_omniRig.reset();
    m_fake.reset();
}

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
    connectToGoodFake();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_omniRig->Rig1()->RigType(), QStringLiteral("Test Fake"));

    m_fake->pttError = -6; // rigctld lost the radio's port
    QTRY_COMPARE(m_omniRig->Rig1()->Status(), int(rsNotResponding));
    m_fake->pttError = -11; // answers, but this radio's PTT cannot be read
    QTRY_COMPARE(m_omniRig->Rig1()->Status(), int(rsOnline));
    QCOMPARE(m_omniRig->Rig1()->IsParamReadable(PM_TX), false);
    m_fake->pttError = 0;
    QTRY_VERIFY(m_omniRig->Rig1()->IsParamReadable(PM_TX));
    QCOMPARE(m_recorder->statuses(1), (QList<int> { rsOnline, rsNotResponding, rsOnline }));
    QCOMPARE(m_fake->connections, 1); // an error answer is no reason to hang up
}

void tst_RigFaults::customReplyCarriesCommand()
{
    connectToGoodFake();
    if (QTest::currentTestFailed())
        return;

    const QByteArray command("\x00\x00\x00\x00\xFA", 5);
    m_omniRig->Rig1()->SendCustomCommand(command, 5, QByteArray());
    QTRY_COMPARE(m_recorder->count(QStringLiteral("CustomReply"), 1), 1);
    const RecordedEvent& reply = m_recorder->events.last();
    QCOMPARE(reply.command, command);
    QCOMPARE(reply.reply, QByteArray("\xAA\x01\x00", 3));
    QCOMPARE(m_fake->customReceived, QList<QByteArray> { "\\0x00\\0x00\\0x00\\0x00\\0xFA 5" });

    // A text answer (a Kenwood-style radio) comes back as its characters.
    m_fake->customReply = "FA00014074000;";
    m_omniRig->Rig1()->SendCustomCommand("FA;", 0, ";");
    QTRY_COMPARE(m_recorder->count(QStringLiteral("CustomReply"), 1), 2);
    QCOMPARE(m_recorder->events.last().command, QByteArray("FA;"));
    QCOMPARE(m_recorder->events.last().reply, QByteArray("FA00014074000;"));
    QCOMPARE(m_fake->customReceived.last(), QByteArray("\\0x46\\0x41\\0x3B \\0x3B"));

    QVERIFY_THROWS_EXCEPTION(ERigError,
        m_omniRig->Rig1()->SendCustomCommand(
            QByteArray(TRigctldRig::MaxCustomCommandLength + 1, 'x'), 1, {}));
}

void tst_RigFaults::customBacklogIsBounded()
{
    connectToGoodFake(false);
    if (QTest::currentTestFailed())
        return;

    for (char i = 0; i < 20; ++i)
        m_omniRig->Rig1()->SendCustomCommand(QByteArray(1, i), 1, {});
    m_omniRig->Rig1()->SetTx(PM_TX); // not held up by the unanswered raw commands
    QTRY_COMPARE(m_fake->ptt, 1);
    QTRY_COMPARE(m_fake->customReceived.size(), 2);
    // Every unanswered command costs its connection; the next goes out on a fresh one.
    m_omniRig->Rig1()->SendCustomCommand("\x77", 1, {});
    QTRY_COMPARE(m_fake->customReceived.size(), 3);
    QCOMPARE(m_fake->customReceived, (QList<QByteArray> { "\\0x12 1", "\\0x13 1", "\\0x77 1" }));
    QCOMPARE(m_recorder->count(QStringLiteral("CustomReply")), 0);
    QCOMPARE(m_recorder->statuses(1), QList<int> { rsOnline });
    m_omniRig->Rig1()->SetTx(PM_RX);
    QTRY_COMPARE(m_fake->ptt, 0);
}

QTEST_MAIN(tst_RigFaults)
#include "tst_RigFaults.moc"
