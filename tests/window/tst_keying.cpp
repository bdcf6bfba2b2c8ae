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

    void pressOnTheKeyedRigsButton_data();
    void pressOnTheKeyedRigsButton();
    void everyWayOutReleasesBothRoads_data();
    void everyWayOutReleasesBothRoads();

private:
    // Waits until `count` more keying ticks have run.
    bool waitForTicks(int count);
    void stopKeying() { child<SelectionSlider>("GainTrack")->setValue(100); }
    void startKeying() { child<SelectionSlider>("GainTrack")->setValue(0); }
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
        QTRY_VERIFY_WITH_TIMEOUT(!rigOnline(RigId::A), 5000);
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
    m_host.reset();
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
