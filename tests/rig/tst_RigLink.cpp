// The rig link against real rigctld servers running the dummy radio.
#include "common/RigTestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
const QByteArray PollCommand("\x00\x00\x00\x00\xFA", 5);
}

class tst_RigLink : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void keysTheRadio();
    void eventsFollowTheServer();
    void rigNumbersStaySeparate();
    void releasesOnConnectAndDisconnect();
    void releaseOnConnectOnlyWhenMarked_data();
    void releaseOnConnectOnlyWhenMarked();
    void transmitWhileOfflineIsDropped();
    void rawCommandsDoNotHoldUpPtt();
};

void tst_RigLink::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is not installed");
}

void tst_RigLink::keysTheRadio()
{
    RigctldServer server;
    QVERIFY(server.start());
    auto omniRig = makeLink(server.endpoint());
    omniRig->Connect();
    QCOMPARE(omniRig->ConnectKind(), ckRunningOrNew);

    IRigX* rig = omniRig->Rig1();
    QCOMPARE(omniRig->Rig1(), rig);
    QVERIFY(omniRig->Rig2() != rig);
    QTRY_COMPARE(rig->Status(), int(rsOnline));
    QTRY_COMPARE(rig->RigType(), QStringLiteral("Hamlib Dummy"));
    QCOMPARE(omniRig->Rig2()->Status(), int(rsNotConfigured));
    QVERIFY(rig->IsParamReadable(PM_TX));
    QVERIFY(rig->ReadableParams() & PM_RX);
    QCOMPARE(rig->Tx(), PM_RX);

    rig->SetTx(PM_TX);
    QTRY_COMPARE(server.ptt(), 1);
    QTRY_COMPARE(rig->Tx(), PM_TX);
    rig->SetTx(PM_RX);
    QTRY_COMPARE(server.ptt(), 0);
    QTRY_COMPARE(rig->Tx(), PM_RX);

    // A release right behind a keying still on its way waits for it, and goes out after it.
    QSignalSpy params(rig, &IRigX::paramsChanged);
    rig->SetTx(PM_TX);
    rig->SetTx(PM_RX);
    QTRY_VERIFY(params.size() >= 2 && params.last().at(0).toInt() == PM_RX);
    QCOMPARE(params.first().at(0).toInt(), PM_TX);
    QCOMPARE(server.ptt(), 0);

    QVERIFY_THROWS_EXCEPTION(ERigError, rig->SetTx(PM_TX | PM_RX));
    QVERIFY_THROWS_EXCEPTION(ERigError, rig->SetTx(0));
}

void tst_RigLink::eventsFollowTheServer()
{
    RigctldServer server;
    QVERIFY(server.start());
    auto omniRig = makeLink(server.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(recorder.statuses(1), QList<int> { rsOnline });

    QVERIFY(server.setPtt(true)); // another program keys the radio
    QTRY_COMPARE(recorder.count(QStringLiteral("ParamsChange"), 1), 1);

    server.kill();
    QTRY_COMPARE(recorder.statuses(1), (QList<int> { rsOnline, rsPortBusy }));
    QVERIFY(server.start());
    QTRY_COMPARE(recorder.statuses(1), (QList<int> { rsOnline, rsPortBusy, rsOnline }));

    QStringList rig1Kinds;
    for (const RecordedEvent& event : recorder.events) {
        QCOMPARE(event.thread, QThread::currentThread());
        if (event.rig == 1)
            rig1Kinds << event.kind;
        if (event.kind == QStringLiteral("ParamsChange")) {
            QCOMPARE(event.params, PM_TX);
            QCOMPARE(event.status, int(rsOnline));
        }
    }
    QCOMPARE(rig1Kinds,
        (QStringList {
            "RigTypeChange", "StatusChange", "ParamsChange", "StatusChange", "StatusChange" }));
    // Rig2 is set to none: at most the one change to "not configured".
    QVERIFY(recorder.statuses(2).isEmpty() || recorder.statuses(2) == QList<int> { 0 });
}

void tst_RigLink::rigNumbersStaySeparate()
{
    RigctldServer serverA;
    RigctldServer serverB;
    QVERIFY(serverA.start());
    QVERIFY(serverB.start());
    auto omniRig = makeLink(serverA.endpoint(), serverB.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    QTRY_COMPARE(omniRig->Rig2()->Status(), int(rsOnline));

    omniRig->Rig2()->SetTx(PM_TX);
    QTRY_COMPARE(serverB.ptt(), 1);
    QTRY_COMPARE(recorder.count(QStringLiteral("ParamsChange"), 2), 1);
    QCOMPARE(serverA.ptt(), 0);
    QCOMPARE(recorder.count(QStringLiteral("ParamsChange"), 1), 0);
    QCOMPARE(omniRig->Rig1()->Tx(), PM_RX);

    omniRig->Rig2()->SetTx(PM_RX);
    QTRY_COMPARE(serverB.ptt(), 0);
    QVERIFY(serverA.setPtt(true));
    QTRY_COMPARE(recorder.count(QStringLiteral("ParamsChange"), 1), 1);
    QTRY_COMPARE(omniRig->Rig1()->Tx(), PM_TX);
    QCOMPARE(omniRig->Rig2()->Tx(), PM_RX);
    QCOMPARE(serverB.ptt(), 0);
}

void tst_RigLink::releasesOnConnectAndDisconnect()
{
    RigctldServer server;
    QVERIFY(server.start());
    // A radio left keyed by a client that went away.
    QVERIFY(server.setPtt(true));
    QCOMPARE(server.ptt(), 1);

    auto omniRig = makeLink(server.endpoint());
    omniRig->Connect();
    QTRY_COMPARE(server.ptt(), 0);
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));

    omniRig->Rig1()->SetTx(PM_TX);
    QTRY_COMPARE(server.ptt(), 1);
    omniRig->Disconnect();
    QCOMPARE(server.ptt(), 0); // released before Disconnect returned
    QCOMPARE(omniRig->IsConnected(), false);

    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    omniRig->Rig1()->SetTx(PM_TX);
    QTRY_COMPARE(server.ptt(), 1);
    omniRig.reset();
    QCOMPARE(server.ptt(), 0); // released before the component was gone

    // A release waiting behind a keying still on its way is not lost at Disconnect.
    omniRig = makeLink(server.endpoint());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    omniRig->Rig1()->SetTx(PM_TX);
    omniRig->Rig1()->SetTx(PM_RX);
    omniRig->Disconnect();
    QCOMPARE(server.ptt(), 0);
}

void tst_RigLink::releaseOnConnectOnlyWhenMarked_data()
{
    QTest::addColumn<QByteArray>("marks"); // the file beside the configuration; null: none
    QTest::addColumn<int>("pttAfterConnect");
    // PORT: the server's port; MACHINE: this computer's /etc/machine-id.
    QTest::newRow("not marked: another program's transmission") << QByteArray() << 1;
    QTest::newRow("marked by a crash of this program")
        << QByteArray("RIG1 127.0.0.1 PORT MACHINE\n") << 0;
    QTest::newRow("marked on another computer (shared home)")
        << QByteArray("RIG1 127.0.0.1 PORT 0123456789abcdef0123456789abcdef\n") << 1;
    QTest::newRow("marked for another server") << QByteArray("RIG1 127.0.0.1 1 MACHINE\n") << 1;
    QTest::newRow("marked as the version before wrote it") << QByteArray("RIG1\n") << 0;
}

void tst_RigLink::releaseOnConnectOnlyWhenMarked()
{
    // A logger keyed the radio through the same rigctld.
    QFETCH(QByteArray, marks);
    QFETCH(int, pttAfterConnect);
    RigctldServer server;
    QVERIFY(server.start());
    QVERIFY(server.setPtt(true));
    QTemporaryDir dir;
    const QString config = dir.filePath("vokey.ini");
    const QString marker = config + ".keyed";
    if (!marks.isNull()) {
        QFile machineId(QStringLiteral("/etc/machine-id"));
        if (marks.contains("MACHINE") && !machineId.open(QIODevice::ReadOnly))
            QSKIP("no /etc/machine-id here");
        marks.replace("MACHINE", machineId.readAll().trimmed());
        marks.replace("PORT", QByteArray::number(server.endpoint().port));
        QFile file(marker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(marks);
    }
    TOmniRigX omniRig;
    omniRig.SetTimings(fastTimings());
    omniRig.SetConfigFile(config);
    RigSettings settings;
    settings.rigs = { server.endpoint(), RigEndpoint {} };
    omniRig.ApplySettings(settings);
    omniRig.Connect();
    QTRY_COMPARE(omniRig.Rig1()->Status(), int(rsOnline));
    QTRY_COMPARE(server.ptt(), pttAfterConnect);
    // Marked by this program's keying, unmarked by its confirmed release.
    omniRig.Rig1()->SetTx(PM_TX);
    QTRY_VERIFY(QFile::exists(marker));
    omniRig.Rig1()->SetTx(PM_RX);
    QTRY_VERIFY(!QFile::exists(marker));
    QCOMPARE(server.ptt(), 0);
}

void tst_RigLink::transmitWhileOfflineIsDropped()
{
    RigctldServer server;
    auto omniRig = makeLink(server.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsPortBusy));
    omniRig->Rig1()->SetTx(PM_TX); // dropped, never sent later
    omniRig->Rig1()->SendCustomCommand(PollCommand, 5, {});

    QVERIFY(server.start());
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    // Requests on one connection are answered in order: had the write been kept, the
    // server would have keyed before it answered the poll that brought the rig online.
    QCOMPARE(server.ptt(), 0);
    QCOMPARE(omniRig->Rig1()->Tx(), PM_RX);
    QCOMPARE(recorder.statuses(1), (QList<int> { rsPortBusy, rsOnline }));
}

void tst_RigLink::rawCommandsDoNotHoldUpPtt()
{
    // The dummy radio never answers raw commands.
    RigctldServer server;
    QVERIFY(server.start());
    auto omniRig = makeLink(server.endpoint());
    EventRecorder recorder(omniRig.get());
    omniRig->Connect();
    QTRY_COMPARE(omniRig->Rig1()->Status(), int(rsOnline));
    for (int i = 0; i < 5; ++i)
        omniRig->Rig1()->SendCustomCommand(PollCommand, 5, {});
    omniRig->Rig1()->SetTx(PM_TX);
    QTRY_COMPARE(server.ptt(), 1);
    omniRig->Rig1()->SetTx(PM_RX);
    QTRY_COMPARE(server.ptt(), 0);
    QCOMPARE(recorder.count(QStringLiteral("CustomReply")), 0);
    QCOMPARE(recorder.statuses(1), QList<int> { rsOnline });
}

QTEST_MAIN(tst_RigLink)
#include "tst_RigLink.moc"
