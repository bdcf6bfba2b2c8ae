// The rig link against servers that misbehave, and raw commands, with a stand-in rigctld.
#include "common/RigTestSupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <memory>

class tst_RigFaults : public QObject {
    Q_OBJECT
private slots:
    void badServerThenRecovery_data();
    void badServerThenRecovery();
    void ioErrorMeansNotResponding();
    void customReplyCarriesCommand();
    void customBacklogIsBounded();
    void unansweredRawCommandIsAnEmptyReply_data();
    void unansweredRawCommandIsAnEmptyReply();
    void refusedTransmitIsReported();
    void releaseUnderWayIsNotSentAgain();
    void releaseOwedOverALostLink();
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
    QCOMPARE(m_omniRig->Rig1()->RigType(), QStringLiteral("Yaesu Fake"));

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

void tst_RigFaults::unansweredRawCommandIsAnEmptyReply_data()
{
    // rigctld's answer when the radio did not reply to a raw command.
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("after the header") << QByteArray("send_cmd_rx: \\0xFA 0\nReply: RPRT 0");
    QTest::newRow("on its own") << QByteArray("Reply: RPRT 0");
}

void tst_RigFaults::unansweredRawCommandIsAnEmptyReply()
{
    QFETCH(QByteArray, answer);
    connectToGoodFake();
    if (QTest::currentTestFailed())
        return;
    m_fake->customAnswer = answer;
    const int connections = m_fake->connections;
    m_omniRig->Rig1()->SendCustomCommand("\xFA", 0, {});
    QTRY_COMPARE(m_recorder->count(QStringLiteral("CustomReply"), 1), 1);
    QCOMPARE(m_recorder->events.last().reply, QByteArray());
    // Answered, not given up: the next command goes out on the same connection.
    m_omniRig->Rig1()->SendCustomCommand("\xFA", 0, {});
    QTRY_COMPARE(m_recorder->count(QStringLiteral("CustomReply"), 1), 2);
    QCOMPARE(m_fake->connections, connections + 1);
}

void tst_RigFaults::refusedTransmitIsReported()
{
    connectToGoodFake();
    if (QTest::currentTestFailed())
        return;
    m_fake->setPttError = -9;
    QSignalSpy refused(m_omniRig.get(), &TOmniRigX::OnTxRefused);
    m_omniRig->Rig1()->SetTx(PM_TX);
    QVERIFY(refused.wait());
    QCOMPARE(refused.first().at(0).value<RigId>(), RigId::A);
    QCOMPARE(
        refused.first().at(1).toString(), QStringLiteral("Command rejected by the rig (RPRT -9)"));
    // A release is not refused, and not reported.
    m_omniRig->Rig1()->SetTx(PM_RX);
    QTRY_COMPARE(m_fake->pttWrites, (QList<QByteArray> { "0", "1", "0" }));
    QCOMPARE(refused.size(), 1);
}

void tst_RigFaults::releaseUnderWayIsNotSentAgain()
{
    // A real backend answers a release only after a pause; a second release behind it, at
    // the next release or on the way out, would wait for the radio once more. The way out
    // waits for answers blocking, so the server runs on a thread of its own.
    QThread thread;
    auto* fake = new FakeRigctld(FakeRigctld::Mode::Good);
    fake->releaseDelayMs = 150;
    fake->moveToThread(&thread);
    connect(&thread, &QThread::finished, fake, &QObject::deleteLater);
    thread.start();
    const auto onServer = [fake](auto work) {
        QMetaObject::invokeMethod(fake, work, Qt::BlockingQueuedConnection);
    };
    bool listening = false;
    onServer([&] { listening = fake->listen(); });
    QVERIFY(listening);
    QTest::failOnWarning(QRegularExpression(QStringLiteral("did not confirm")));
    auto omniRig = makeLink(fake->endpoint());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    omniRig->Rig1()->SetTx(PM_TX);
    QTRY_COMPARE(omniRig->Rig1()->Tx(), PM_TX);
    omniRig->Rig1()->SetTx(PM_RX);
    omniRig->Rig1()->SetTx(PM_RX);
    omniRig.reset(); // the way out, with the release still on its way
    QList<QByteArray> writes;
    onServer([&] { writes = fake->pttWrites; });
    thread.quit();
    thread.wait();
    QCOMPARE(writes, (QList<QByteArray> { "0", "1", "0" }));
}

void tst_RigFaults::releaseOwedOverALostLink()
{
    // Keyed, then the server gone: released, keyed (not sent: the link is down) and released
    // again. Back, the server refuses the first release: the release is still owed, and sent
    // until confirmed.
    connectToGoodFake();
    IRigX* rig = m_omniRig->Rig1();
    rig->SetTx(PM_TX);
    QTRY_COMPARE(m_fake->ptt, 1);
    const quint16 port = m_fake->port();
    m_fake->close();
    QTRY_VERIFY(rig->Status() != rsOnline);
    for (int param : { PM_RX, PM_TX, PM_RX })
        rig->SetTx(param);
    QVERIFY(rig->ReleasePending());
    m_fake->releaseAnswers = { -5 };
    QVERIFY(m_fake->listen(port));
    QTRY_COMPARE_WITH_TIMEOUT(m_fake->ptt, 0, 5000);
    QVERIFY(m_fake->releaseAnswers.isEmpty());
    QTRY_VERIFY(!rig->ReleasePending());
}

QTEST_MAIN(tst_RigFaults)
#include "tst_RigFaults.moc"
