// The keyer and the release wait on their own, with radios that do what each case needs:
// the keying gate and its hold reasons, and the wait for the radios' answers with links up,
// down, coming back or never answering. What the roads do when keyed and released is tested
// on the whole station (tst_stationkeying).
#include "rig/OmniRigX.h"
#include "station/Keyer.h"
#include "station/ReleaseWait.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A radio whose state the test sets; it records what it is sent.
class ScriptedRig : public IRigX {
public:
    QString RigType() const override { return QStringLiteral("Scripted"); }
    int Status() const override { return status; }
    int ReadableParams() const override { return readable; }
    bool IsParamReadable(int param) const override { return (readable & param) != 0; }
    int Tx() const override { return tx; }
    void SetTx(int param) override { writes << param; }
    void SendCustomCommand(const QByteArray&, int, const QByteArray&) override { }
    void Start(const RigEndpoint&, const RigTimings&) override { ++starts; }
    void Stop() override { }
    bool ReleasePending() const override { return owed; }

    void setStatus(int value)
    {
        status = value;
        emit statusChanged();
    }
    void report(int param)
    {
        tx = param;
        emit paramsChanged(param);
    }

    int status = rsOnline;
    int readable = PM_RX | PM_TX;
    int tx = PM_RX;
    int starts = 0;
    bool owed = false;
    QList<int> writes;
};

// The serial lines: "key" and "release" as they are driven.
class ScriptedLines : public PttRoad {
public:
    QString name() const override { return QStringLiteral("Serial"); }
    void key() override
    {
        log << "key";
        m_keyed = true;
    }
    void release() override
    {
        log << "release";
        m_keyed = false;
    }
    bool keyed() const override { return m_keyed; }
    QStringList log;

private:
    bool m_keyed = false;
};

} // namespace

class TestStationParts : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void holdsStopKeying_data();
    void holdsStopKeying();
    void releaseWait_data();
    void releaseWait();

private:
    ScriptedRig* rig(RigId id) { return static_cast<ScriptedRig*>(m_link->Rig(id)); }

    std::unique_ptr<TOmniRigX> m_link;
    ScriptedLines m_lines;
    std::unique_ptr<Keyer> m_keyer;
};

void TestStationParts::init()
{
    m_link = std::make_unique<TOmniRigX>(
        std::make_unique<ScriptedRig>(), std::make_unique<ScriptedRig>());
    RigSettings settings;
    settings.rig(RigId::A) = RigEndpoint { QStringLiteral("127.0.0.1"), 4532 };
    settings.rig(RigId::B) = RigEndpoint { QStringLiteral("127.0.0.1"), 4534 };
    m_link->SetDefaultSettings(settings);
    m_lines = ScriptedLines();
    m_keyer = std::make_unique<Keyer>([this](RigId id) { return m_link->Rig(id); }, m_lines);
    m_keyer->select(RigId::A, true);
}

void TestStationParts::cleanup()
{
    m_keyer.reset();
    m_link.reset();
}

void TestStationParts::holdsStopKeying_data()
{
    QTest::addColumn<KeyingHold>("hold");
    QTest::newRow("ending") << KeyingHold::Ending;
    QTest::newRow("stopped") << KeyingHold::Stopped;
    QTest::newRow("asleep") << KeyingHold::Asleep;
    QTest::newRow("woken") << KeyingHold::Woken;
}

void TestStationParts::holdsStopKeying()
{
    QFETCH(KeyingHold, hold);
    QSignalSpy keyed(m_keyer.get(), &Keyer::keyedChanged);
    m_keyer->hold(hold);
    // Lifting another reason leaves this one holding.
    const KeyingHold other = hold == KeyingHold::Woken ? KeyingHold::Asleep : KeyingHold::Woken;
    m_keyer->hold(other);
    m_keyer->lift(other);
    m_keyer->setTx(true);
    QCOMPARE(rig(RigId::A)->writes, QList<int>());
    QCOMPARE(m_lines.log, QStringList());
    QCOMPARE(keyed.size(), 0);
    QVERIFY(!m_keyer->transmitting());
    // A release still goes out while held (to the lines: no radio was keyed).
    m_keyer->setTx(false);
    QCOMPARE(m_lines.log, QStringList({ "release" }));
    // Lifted, keying goes out; the guard hears "keyed" before the first road is keyed.
    int writesWhenTold = -1;
    connect(m_keyer.get(), &Keyer::keyedChanged, this,
        [&] { writesWhenTold = int(rig(RigId::A)->writes.size() + m_lines.log.size()); });
    m_keyer->lift(hold);
    m_keyer->setTx(true);
    QCOMPARE(writesWhenTold, 1);
    QCOMPARE(rig(RigId::A)->writes, QList<int>({ PM_TX }));
    QCOMPARE(m_lines.log, QStringList({ "release", "key" }));
}

void TestStationParts::releaseWait_data()
{
    QTest::addColumn<int>("status"); // rig A's at the start
    QTest::addColumn<int>("readable");
    QTest::addColumn<bool>("revive");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<QString>("then"); // what rig A does while awaited
    QTest::addColumn<bool>("awaited");
    QTest::addColumn<int>("starts"); // its link started again
    QTest::addColumn<bool>("stillDown");
    const int both = PM_RX | PM_TX;
    // A radio that answers, or is not awaited, is done long before a minute's wait.
    const int long_ = 60000;
    const int online = rsOnline;
    const int down = rsNotResponding;
    QTest::newRow("answers receive")
        << online << both << true << long_ << "receive" << true << 0 << false;
    QTest::newRow("goes offline") << online << both << true << long_ << "offline" << true << 0
                                  << false;
    QTest::newRow("never answers") << online << both << true << 300 << "" << true << 0 << false;
    // Gone with its release unconfirmed: the radio stays keyed, so the link is started again.
    QTest::newRow("goes offline owed")
        << online << both << true << 300 << "owed offline" << true << 1 << true;
    QTest::newRow("unreadable") << online << 0 << true << long_ << "" << false << 0 << false;
    QTest::newRow("link down, comes back")
        << down << both << true << long_ << "online" << true << 1 << false;
    QTest::newRow("link down, stays down")
        << down << both << true << long_ << "" << true << 1 << true;
    QTest::newRow("link down, left out")
        << down << both << false << long_ << "" << false << 0 << false;
}

void TestStationParts::releaseWait()
{
    QFETCH(int, status);
    QFETCH(int, readable);
    QFETCH(bool, revive);
    QFETCH(int, waitMs);
    QFETCH(QString, then);
    QFETCH(bool, awaited);
    QFETCH(int, starts);
    QFETCH(bool, stillDown);
    ScriptedRig* rigA = rig(RigId::A);
    rigA->status = status;
    rigA->readable = readable;
    rigA->starts = 0;
    ReleaseWait wait(*m_link, { RigId::A },
        revive ? ReleaseWait::Links::Revive : ReleaseWait::Links::Skip, waitMs);
    QSignalSpy done(&wait, &ReleaseWait::done);
    wait.start();
    QCOMPARE(done.size(), 0); // never from within start()
    // What is awaited holds the wait up past the events already queued.
    QCoreApplication::processEvents();
    QCOMPARE(wait.isDone(), !awaited);
    if (then == "receive")
        rigA->report(PM_RX);
    rigA->owed = then.startsWith("owed");
    if (then.endsWith("offline"))
        rigA->setStatus(rsNotResponding);
    else if (then == "online")
        rigA->setStatus(rsOnline);
    // A link that stays down is awaited for a second.
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 5000);
    QCOMPARE(rigA->starts, starts);
    QCOMPARE(wait.unreleased(), stillDown ? QList<RigId>({ RigId::A }) : QList<RigId>());
}

QTEST_GUILESS_MAIN(TestStationParts)
#include "tst_stationparts.moc"
