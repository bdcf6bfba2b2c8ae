// The rig link against a real rigctld running Hamlib's TS-590S backend (model 2031) on a
// stand-in radio at the far end of a pseudo-terminal.
#include "common/RigTestSupport.h"

#include "common/KenwoodRadio.h"

#include <QTest>

#include <memory>

namespace {
const QByteArray PollCommand("\x00\x00\x00\x00\xFA", 5);
}

class tst_RigKenwood : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void goesOnline();
    void keysTheRadio_data();
    void keysTheRadio();
    void reportsTheRadiosOwnTransmit();
    void rawCommandReachesTheRadio();

private:
    std::unique_ptr<KenwoodRadio> m_radio;
    std::unique_ptr<RigctldServer> m_server;
    std::unique_ptr<TOmniRigX> m_link;
};

void tst_RigKenwood::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is not installed");
    m_radio = std::make_unique<KenwoodRadio>();
    QVERIFY(m_radio->start());
    m_server = std::make_unique<RigctldServer>(QStringList { QStringLiteral("-m"),
        QStringLiteral("2031"), QStringLiteral("-r"), m_radio->devicePath() });
    QVERIFY(m_server->start());
    m_link = makeLink(m_server->endpoint());
    // The program's own time limits: the fast ones give up before the backend's 500 ms read
    // time-out of a raw command ends.
    m_link->SetTimings(RigTimings {});
    m_link->Connect();
}

void tst_RigKenwood::cleanupTestCase()
{
    m_link.reset(); // releases the radio while the server still runs
    m_server.reset();
    m_radio.reset();
}

void tst_RigKenwood::goesOnline()
{
    IRigX* rig = m_link->Rig1();
    QTRY_COMPARE_WITH_TIMEOUT(rig->Status(), int(rsOnline), 10000);
    QTRY_COMPARE(rig->RigType(), QStringLiteral("Kenwood TS-590S"));
    QVERIFY(rig->IsParamReadable(PM_TX));
    QCOMPARE(rig->Tx(), PM_RX);
    QCOMPARE(m_radio->commands().value(0).text, QByteArray("ID"));
    QCOMPARE(m_radio->foreignBytes(), 0);
}

void tst_RigKenwood::keysTheRadio_data()
{
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("transmitting");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("transmit") << int(PM_TX) << true << QByteArray("TX");
    QTest::newRow("receive") << int(PM_RX) << false << QByteArray("RX");
}

void tst_RigKenwood::keysTheRadio()
{
    QFETCH(int, param);
    QFETCH(bool, transmitting);
    QFETCH(QByteArray, command);
    IRigX* rig = m_link->Rig1();
    QTRY_COMPARE_WITH_TIMEOUT(rig->Status(), int(rsOnline), 10000);
    const qsizetype before = m_radio->commands().size();
    rig->SetTx(param);
    const auto seen = [this, before] {
        QList<QByteArray> texts;
        for (const KenwoodRadio::Command& received : m_radio->commands().mid(before))
            texts << received.text;
        return texts;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(seen().contains(command), seen().join(' ').constData(), 5000);
    QCOMPARE(m_radio->transmitting(), transmitting);
    QTRY_COMPARE_WITH_TIMEOUT(rig->Tx(), param, 5000);
    QCOMPARE(m_server->ptt(), transmitting ? 1 : 0);
}

void tst_RigKenwood::reportsTheRadiosOwnTransmit()
{
    // The backend reads the transmit state from the radio's IF answer.
    IRigX* rig = m_link->Rig1();
    QTRY_COMPARE_WITH_TIMEOUT(rig->Status(), int(rsOnline), 10000);
    QCOMPARE(rig->Tx(), PM_RX);
    m_radio->setTransmitting(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig->Tx(), PM_TX, 5000);
    m_radio->setTransmitting(false);
    QTRY_COMPARE_WITH_TIMEOUT(rig->Tx(), PM_RX, 5000);
}

void tst_RigKenwood::rawCommandReachesTheRadio()
{
    IRigX* rig = m_link->Rig1();
    QTRY_COMPARE_WITH_TIMEOUT(rig->Status(), int(rsOnline), 10000);
    const int before = m_radio->foreignBytes();
    rig->SendCustomCommand(PollCommand, 5, {});
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->foreignBytes(), before + 5, 5000);
    // The radio keeps answering what follows, and the link never saw it go away.
    rig->SetTx(PM_TX);
    QTRY_VERIFY_WITH_TIMEOUT(m_radio->transmitting(), 5000);
    rig->SetTx(PM_RX);
    QTRY_VERIFY_WITH_TIMEOUT(!m_radio->transmitting(), 5000);
    QCOMPARE(rig->Status(), int(rsOnline));
}

QTEST_MAIN(tst_RigKenwood)
#include "tst_RigKenwood.moc"
