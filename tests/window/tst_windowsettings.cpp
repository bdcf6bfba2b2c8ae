// The main window in-process: settings actions, Exit, the configuration file, the serial
// port, and every way out releasing transmit.
#include "WindowFixture.h"

#include "common/PtyPair.h"

#include "serial/ComPort.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TLed.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWindow>

#include <csignal>

class TestWindowSettings : public QObject, WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cancelledSettingsActionWritesAndCycles_data();
    void cancelledSettingsActionWritesAndCycles();
    void failingWriteSkipsTheRestOfTheAction();
    void exitCancelledLeavesEverythingRunning();
    void exitWritesTheConfiguration();
    void configurationFileFromCommandLine();
    void serialPortFollowsTheEngine();
    void commPortOkCyclesAfterAFailingApply();
    void baudRateRoundTrip_data();
    void baudRateRoundTrip();
    void everyWayOutReleasesTransmit_data();
    void everyWayOutReleasesTransmit();
    void delayBandFollowsTheSlider();
    void fastAttackFromBothMenus_data();
    void fastAttackFromBothMenus();

private:
    std::unique_ptr<PtyPair> m_port; // a port for the tests that open one
};

void TestWindowSettings::initTestCase()
{
    QVERIFY(setUpCase());
}

void TestWindowSettings::init()
{
    QVERIFY(setUp());
}

void TestWindowSettings::cleanup()
{
    tearDown();
    m_port.reset();
}

void TestWindowSettings::cancelledSettingsActionWritesAndCycles_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("dialog");
    QTest::newRow("Soundcard") << "Soundcard" << true;
    QTest::newRow("COM Settings") << "COM Settings" << true;
}

void TestWindowSettings::cancelledSettingsActionWritesAndCycles()
{
    QFETCH(QString, action);
    QFETCH(bool, dialog);
    QVERIFY(start());
    child<SelectionSlider>("GainTrack")->setValue(42);
    const quint32 channel = m_form->Station().RecordChannel();
    QVERIFY(channel != 0);
    if (dialog)
        closeNextModal(false);
    findAction(m_form->PopupMenu1(), action)->trigger();
    // The restart tries the port again.
    QCOMPARE(m_boxes.texts(),
        QStringList { "Defined COM Port not available\n/dev/COM1: no such device" });
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "GAIN", "?"), QStringLiteral("42"));
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "DEVICE", "?"), QStringLiteral("-1"));
    // Power-cycled: a new capture channel, the engine on again.
    QVERIFY(m_form->Station().Running());
    QVERIFY(m_form->Station().RecordChannel() != channel);
    QVERIFY(child<QTimer>("TimerRender")->isActive());
    QCOMPARE(m_form->StatusText(), QStringLiteral("Soundcard:-1 Default Serial:COM1"));
}

void TestWindowSettings::failingWriteSkipsTheRestOfTheAction()
{
    // A configuration file in a directory that does not exist cannot be written.
    QVERIFY(start({ "-f", "missing/dir/vokey.ini" }));
    const quint32 channel = m_form->Station().RecordChannel();
    closeNextModal(false);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 1);
    QCOMPARE(m_boxes.boxes[0].kind, QStringLiteral("report"));
    QVERIFY2(
        m_boxes.boxes[0].text.startsWith("Unable to write to "), qPrintable(m_boxes.boxes[0].text));
    QCOMPARE(m_form->Station().RecordChannel(), channel);
    // The same failure again while the box is open: still one box.
    closeNextModal(false);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 1);

    // Exit stops at the failed write and the program keeps running.
    m_boxes.dismissAll();
    findAction(m_form->PopupMenu1(), "Exit")->trigger();
    QVERIFY(m_form->Station().Running());
    QCOMPARE(m_boxes.boxes.size(), 2);
    QCOMPARE(m_boxes.boxes[1].kind, QStringLiteral("confirm"));
}

void TestWindowSettings::exitCancelledLeavesEverythingRunning()
{
    QVERIFY(start());
    m_form->show();
    m_boxes.confirmAnswer = false;
    const quint32 channel = m_form->Station().RecordChannel();
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    findAction(m_form->PopupMenu1(), "Exit")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 1);
    QCOMPARE(m_boxes.boxes[0].kind, QStringLiteral("confirm"));
    QCOMPARE(m_boxes.boxes[0].caption, QStringLiteral("Warning!"));
    QCOMPARE(m_boxes.boxes[0].text, QStringLiteral("Do you really want to exit?"));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->Station().Running());
    QCOMPARE(m_form->Station().RecordChannel(), channel);
    QVERIFY(child<QTimer>("TimerRender")->isActive());
    QVERIFY(transmit.isEmpty());
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
}

void TestWindowSettings::exitWritesTheConfiguration()
{
    QVERIFY(start());
    m_form->show();
    child<SelectionSlider>("GainTrack")->setValue(150); // clamped by the slider
    child<SelectionSlider>("TrackDelay")->setValue(17);
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
    m_form->ExitClick();
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->Station().Running());
    const auto key = [this](const char* name) {
        return ReadProfileString(path("VOKEY.INI"), "SETTINGS", name, "absent");
    };
    QCOMPARE(key("COMPORT"), QStringLiteral("COM1"));
    QCOMPARE(key("BAUDRATE"), QStringLiteral("4800"));
    QCOMPARE(key("DEVICE"), QStringLiteral("-1"));
    QCOMPARE(key("TRACE"), QStringLiteral("YES"));
    QCOMPARE(key("LOGFILE"), QStringLiteral("VOKEY.LOG"));
    QCOMPARE(key("GAIN"), QStringLiteral("100"));
    QCOMPARE(key("DELAY"), QStringLiteral("17"));
}

void TestWindowSettings::configurationFileFromCommandLine()
{
    writeConfig("other.ini",
        { { "GAIN", "20" }, { "DELAY", "7" }, { "TRACE", "no" }, { "COMPORT", "ttyUSB7" } });
    QVERIFY(start({ "-f", "other.ini" }));
    QCOMPARE(child<SelectionSlider>("GainTrack")->value(), 20);
    QCOMPARE(child<SelectionSlider>("TrackDelay")->value(), 7);
    QCOMPARE(m_form->StatusText(), QStringLiteral("Soundcard:-1 Default Serial:ttyUSB7"));
    QVERIFY(!QFile::exists(path("VOKEY.LOG")));
    child<SelectionSlider>("TrackDelay")->setValue(8);
    m_form->ExitClick();
    QCOMPARE(ReadProfileString(path("other.ini"), "SETTINGS", "DELAY", "?"), QStringLiteral("8"));
    QCOMPARE(ReadProfileString(path("other.ini"), "SETTINGS", "TRACE", "?"), QStringLiteral("NOT"));
    QCOMPARE(ReadProfileString(path("other.ini"), "SETTINGS", "COMPORT", "?"),
        QStringLiteral("ttyUSB7"));
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
}

void TestWindowSettings::serialPortFollowsTheEngine()
{
    m_port = std::make_unique<PtyPair>();
    m_port->CloseSlave();
    QVERIFY(m_port->IsOpen());
    const QString name = m_port->SlavePath();
    writeConfig("VOKEY.INI", { { "COMPORT", name } });
    QVERIFY(start({}, true));
    QCOMPARE(m_boxes.boxes.size(), 0);
    QVERIFY(m_form->Station().ComPort().Connected());
    QCOMPARE(m_form->StatusText(), "Soundcard:-1 Default Serial:" + name);
    // The panel may cut a long port name; its tip holds the whole text.
    QCOMPARE(child<QLabel>("StatusPanel0")->toolTip(), "Soundcard:-1 Default Serial:" + name);
    // The power cycle of a settings action closes and opens it again.
    closeNextModal(false);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    QVERIFY(m_form->Station().ComPort().Connected());
    QCOMPARE(m_boxes.boxes.size(), 0);
    m_form->ExitClick();
    QVERIFY(!m_form->Station().ComPort().Connected());
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "COMPORT", "?"), name);
    m_port.reset();
}

void TestWindowSettings::commPortOkCyclesAfterAFailingApply()
{
    m_port = std::make_unique<PtyPair>();
    m_port->CloseSlave();
    const QString name = m_port->SlavePath();
    writeConfig("VOKEY.INI", { { "COMPORT", name } });
    QVERIFY(start({}, true));
    QVERIFY(m_form->Station().ComPort().Connected());
    const quint32 channel = m_form->Station().RecordChannel();
    // Unplugged: the master goes away and the open port's every call fails with EIO, so
    // applying even the unchanged settings raises.
    m_port.reset();
    closeNextModal(true);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    // Power-cycled all the same (a new capture channel, the port tried again), and the
    // refused apply is shown after the cycle's own message.
    QVERIFY(m_form->Station().Running());
    QVERIFY(m_form->Station().RecordChannel() != channel);
    QCOMPARE(m_boxes.texts(),
        QStringList({ "Defined COM Port not available\n" + name + ": no such device",
            "SetCommState function failed (win error code: 5): Input/output error" }));
}

void TestWindowSettings::baudRateRoundTrip_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("written");
    QTest::newRow("19200") << "19200" << int(br19200) << "19200";
    QTest::newRow("1200") << "1200" << int(br1200) << "1200";
    QTest::newRow("14400 runs at 4800") << "14400" << int(br4800) << "4800";
    QTest::newRow("not a number") << "fast" << int(br4800) << "4800";
}

void TestWindowSettings::baudRateRoundTrip()
{
    QFETCH(QString, stored);
    QFETCH(int, speed);
    QFETCH(QString, written);
    writeConfig("VOKEY.INI", { { "BAUDRATE", stored } });
    QVERIFY(start());
    QCOMPARE(int(m_form->Station().ComPort().BaudRate()), speed);
    m_form->ExitClick();
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "BAUDRATE", "?"), written);
}

void TestWindowSettings::everyWayOutReleasesTransmit_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Exit") << "Exit";
    QTest::newRow("quit item") << "quit item";
    QTest::newRow("window close") << "window close";
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
    QTest::newRow("SIGHUP") << "SIGHUP";
}

void TestWindowSettings::everyWayOutReleasesTransmit()
{
    QFETCH(QString, way);
    // Gain 0 keys on every tick, silence included.
    writeConfig("VOKEY.INI", { { "GAIN", "0" }, { "DELAY", "100" } });
    QVERIFY(start());
    m_form->show();
    QTRY_VERIFY_WITH_TIMEOUT(m_form->Station().TxOn(), 10000);
    QVERIFY(child<TLed>("LedOn")->isOn());

    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    if (way == "Exit")
        m_form->ExitClick();
    else if (way == "quit item")
        findAction(m_form->SystemMenu(), "&Quit\tAlt+F4")->trigger();
    else if (way == "window close")
        m_form->close();
    else
        ::raise(way == "SIGTERM" ? SIGTERM : way == "SIGINT" ? SIGINT : SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->isVisible(), 5000);
    QVERIFY(!m_form->Station().TxOn());
    QVERIFY(!transmit.isEmpty());
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!child<TLed>("LedOn")->isOn());
    // Nothing can key again afterwards.
    QVERIFY(!child<QTimer>("TimerRender")->isActive());
    QVERIFY(!child<QTimer>("TimerDelay")->isActive());
    // Only Exit writes the configuration.
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "COMPORT", "absent"),
        way == "Exit" ? QStringLiteral("COM1") : QStringLiteral("absent"));
}

void TestWindowSettings::delayBandFollowsTheSlider()
{
    writeConfig("VOKEY.INI", { { "DELAY", "30" } });
    QVERIFY(start());
    auto* delay = child<SelectionSlider>("TrackDelay");
    QCOMPARE(delay->selStart(), 0);
    QCOMPARE(delay->selEnd(), 30);
    delay->setValue(55);
    QCOMPARE(delay->selEnd(), 55);
}

void TestWindowSettings::fastAttackFromBothMenus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("stored"); // ATTACK in the file at start; empty: no file
    QTest::newRow("window menu, no file") << "window menu"
                                          << "";
    QTest::newRow("popup menu, FAST in the file") << "popup menu"
                                                  << "FAST";
}

void TestWindowSettings::fastAttackFromBothMenus()
{
    QFETCH(QString, menu);
    QFETCH(QString, stored);
    if (!stored.isEmpty())
        writeConfig("VOKEY.INI", { { "ATTACK", stored } });
    QVERIFY(start());
    const auto attack
        = [this] { return ReadProfileString(path("VOKEY.INI"), "SETTINGS", "ATTACK", "absent"); };
    QAction* used = findAction(
        menu == "window menu" ? m_form->SystemMenu() : m_form->PopupMenu1(), "Fast attack");
    QAction* other = findAction(
        menu == "window menu" ? m_form->PopupMenu1() : m_form->SystemMenu(), "Fast attack");
    const bool fast = !stored.isEmpty();
    QVERIFY(used->isCheckable() && other->isCheckable());
    QCOMPARE(used->isChecked(), fast);
    QCOMPARE(other->isChecked(), fast);
    QCOMPARE(m_form->Station().Detector().attack() == VoxDetector::Attack::Fast, fast);

    // Each use switches it, both menus show it and the file has it at once; no restart.
    const quint32 channel = m_form->Station().RecordChannel();
    const qsizetype boxes = m_boxes.boxes.size();
    for (const bool on : { !fast, fast }) {
        used->trigger();
        QCOMPARE(m_form->Station().Detector().attack() == VoxDetector::Attack::Fast, on);
        QCOMPARE(used->isChecked(), on);
        QCOMPARE(other->isChecked(), on);
        QCOMPARE(attack(), on ? QStringLiteral("FAST") : QStringLiteral("AVERAGE"));
    }
    QCOMPARE(m_form->Station().RecordChannel(), channel);
    QCOMPARE(m_boxes.boxes.size(), boxes);
}

QTEST_MAIN(TestWindowSettings)
#include "tst_windowsettings.moc"
