// The station's side of vokey-guard against the real guard and real rigctld dummies: what
// the guard does when the program's end of the socket closes follows the last state it was
// told, also after a rig server moved and after a time in which it could not read. A radio
// the program released is left alone: the test keys it "from another program" before the end.
#include "host/TxGuard.h"

#include "common/RigTestSupport.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/wait.h>

namespace {

const QString Guard = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey-guard");

} // namespace

class TestTxGuard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void endFollowsTheLastState_data();
    void endFollowsTheLastState();
    void releaseTriedAgainWhenTheServerLetsGo();

private:
    // Rig A on server 1 or 2; rig B on server 2 when rig A is on 1 and `withB`.
    RigSettings rigs(int rigAServer, bool withB = false) const
    {
        RigSettings settings;
        settings.rig(RigId::A) = (rigAServer == 1 ? m_server1 : m_server2)->endpoint();
        settings.rig(RigId::B) = withB ? m_server2->endpoint() : RigEndpoint {};
        return settings;
    }

    std::unique_ptr<RigctldServer> m_server1;
    std::unique_ptr<RigctldServer> m_server2;
};

void TestTxGuard::initTestCase()
{
    QVERIFY(QFileInfo::exists(Guard));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    m_server1 = std::make_unique<RigctldServer>();
    m_server2 = std::make_unique<RigctldServer>();
    QVERIFY(m_server1->start() && m_server2->start());
}

void TestTxGuard::endFollowsTheLastState_data()
{
    // Steps: "rigA=N" rig A on server N; "keyed", "released", "bye"; "stalled": the guard is
    // stopped while keying toggles until its socket is full, keying is dropped, then it runs
    // again and is caught up.
    QTest::addColumn<QStringList>("steps");
    // The server the test keys just before the end, and its PTT afterwards.
    QTest::addColumn<int>("server");
    QTest::addColumn<int>("ptt");
    QTest::addColumn<int>("exitStatus");
    QTest::newRow("keyed at the end") << QStringList { "rigA=1", "keyed" } << 1 << 0 << 1;
    QTest::newRow("released before the end")
        << QStringList { "rigA=1", "keyed", "released" } << 1 << 1 << 0;
    QTest::newRow("bye after the release")
        << QStringList { "rigA=1", "keyed", "released", "bye" } << 1 << 1 << 0;
    // Rig B keyed by another program through its server: not the guard's to release.
    QTest::newRow("rig B not keyed here") << QStringList { "rigA=1,B=2", "keyed" } << 2 << 1 << 1;
    QTest::newRow("rig moved while keyed")
        << QStringList { "rigA=1", "keyed", "rigA=2" } << 2 << 0 << 1;
    QTest::newRow("keyed while it could not read")
        << QStringList { "rigA=1", "stalled" } << 1 << 0 << 1;
}

void TestTxGuard::endFollowsTheLastState()
{
    QFETCH(QStringList, steps);
    QFETCH(int, server);
    QFETCH(int, ptt);
    QFETCH(int, exitStatus);
    QVERIFY(m_server1->setPtt(false) && m_server2->setPtt(false));

    auto guard = std::make_unique<TxGuard>();
    QSignalSpy trouble(guard.get(), &TxGuard::trouble);
    QString error;
    QVERIFY2(guard->start(Guard, &error), qPrintable(error));
    const pid_t pid = pid_t(guard->processId());
    for (const QString& step : steps) {
        if (step.startsWith("rigA="))
            guard->setRigs(rigs(step.mid(5, 1).toInt(), step.endsWith("B=2")));
        else if (step == "keyed" || step == "released") {
            guard->setRigKeyed(RigId::A, step == "keyed");
            guard->setKeyed(step == "keyed");
        } else if (step == "bye")
            guard->bye();
        else if (step == "stalled") {
            guard->setRigKeyed(RigId::A, true);
            QCOMPARE(::kill(pid, SIGSTOP), 0);
            for (int i = 0; i < 1000000 && trouble.isEmpty(); ++i)
                guard->setKeyed(i % 2 == 0);
            QCOMPARE(trouble.size(), 1);
            guard->setKeyed(false);
            guard->setKeyed(true);
            QVERIFY(guard->isBehind());
            QCOMPARE(::kill(pid, SIGCONT), 0);
            // Once it reads again the whole state is sent, without another message.
            QTRY_VERIFY_WITH_TIMEOUT(!guard->isBehind(), 10000);
        }
    }
    RigctldServer& keyedServer = server == 1 ? *m_server1 : *m_server2;
    QVERIFY(keyedServer.setPtt(true));
    guard.reset();

    int status = -1;
    // The check is repeated once it passed: it must not reap twice.
    bool ended = false;
    const auto reap = [&] { return ended = ended || ::waitpid(pid, &status, WNOHANG) == pid; };
    QTRY_VERIFY_WITH_TIMEOUT(reap(), 10000);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), exitStatus);
    QCOMPARE(keyedServer.ptt(), ptt);
}

void TestTxGuard::releaseTriedAgainWhenTheServerLetsGo()
{
    // A server that closes the guard's connection without answering, as rigctld now and then
    // does right after the program died, is given the release on a new one.
    FakeRigctld fake(FakeRigctld::Mode::Good);
    fake.ptt = 1;
    fake.hangUpFirst = 1;
    QVERIFY(fake.listen());
    auto guard = std::make_unique<TxGuard>();
    QString error;
    QVERIFY2(guard->start(Guard, &error), qPrintable(error));
    const pid_t pid = pid_t(guard->processId());
    RigSettings settings;
    settings.rig(RigId::A) = fake.endpoint();
    guard->setRigs(settings);
    guard->setRigKeyed(RigId::A, true);
    guard->setKeyed(true);
    guard.reset();
    QTRY_COMPARE_WITH_TIMEOUT(fake.ptt, 0, 5000);
    QCOMPARE(fake.connections, 2);
    int status = -1;
    bool ended = false; // QTRY checks once more after it passed: reaped only once
    QTRY_VERIFY_WITH_TIMEOUT(ended = ended || ::waitpid(pid, &status, WNOHANG) == pid, 10000);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);
}

QTEST_GUILESS_MAIN(TestTxGuard)
#include "tst_txguard.moc"
