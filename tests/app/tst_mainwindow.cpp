// The main window in-process: start-up, layout, menus, tray, settings actions, Exit and
// every other way out. Audio comes from a silent WAV file, so no sound card is needed.
#include "WindowTestSupport.h"

#include "app/LampWidget.h"
#include "app/SelectionSlider.h"
#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "serial/ComPort.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <csignal>
#include <memory>
#include <pty.h>
#include <unistd.h>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsInEmptyDirectory();
    void layout_data();
    void layout();
    void windowCommandMenu();
    void popupMenu();
    void muteHasOneEffect_data();
    void muteHasOneEffect();
    void rigSelection_data();
    void rigSelection();
    void trayOnlyRightClickOpensMenu_data();
    void trayOnlyRightClickOpensMenu();
    void windowMenuOpensOutsideControls();
    void cancelledSettingsActionWritesAndCycles_data();
    void cancelledSettingsActionWritesAndCycles();
    void failingWriteSkipsTheRestOfTheAction();
    void exitCancelledLeavesEverythingRunning();
    void exitWritesTheConfiguration();
    void configurationFileFromCommandLine();
    void serialPortFollowsTheEngine();
    void baudRateRoundTrip_data();
    void baudRateRoundTrip();
    void everyWayOutReleasesTransmit_data();
    void everyWayOutReleasesTransmit();
    void delayBandFollowsTheSlider();

private:
    TForm1* start(const QStringList& arguments = {}, bool keepMessages = false);
    template <typename T> T* child(const char* name) const
    {
        T* widget = m_form->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void writeConfig(const QString& file, const QList<QPair<QString, QString>>& values);

    QTemporaryDir m_runtime;
    QString m_startDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_silence;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<TForm1> m_form;
};

void TestMainWindow::initTestCase()
{
    // A private runtime directory: the single-instance lock of these windows is their own.
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    m_startDir = QDir::currentPath();
    m_silence = m_runtime.filePath(QStringLiteral("silence.wav"));
    QVERIFY(writeTestWav(m_silence, 0.2));
}

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_boxes = RecordingMessageBoxes();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("VOX Operated PTT Switch"));
}

void TestMainWindow::cleanup()
{
    m_form.reset();
    QDir::setCurrent(m_startDir);
    m_dir.reset();
}

TForm1* TestMainWindow::start(const QStringList& arguments, bool keepMessages)
{
    TForm1Options options;
    options.arguments = QStringList { QStringLiteral("vokey") } + arguments;
    options.audioFile = m_silence;
    options.messages = &m_boxes;
    m_form = std::make_unique<TForm1>(options);
    if (!m_form->FormCreate())
        return nullptr;
    if (!keepMessages) // the notice that the default port COM1 names no device here
        m_boxes.boxes.clear();
    return m_form.get();
}

void TestMainWindow::writeConfig(const QString& file, const QList<QPair<QString, QString>>& values)
{
    for (const auto& [key, value] : values)
        WriteProfileString(path(file), QStringLiteral("SETTINGS"), key, value);
}

void TestMainWindow::startsInEmptyDirectory()
{
    TForm1* form = start({}, true);
    QVERIFY(form);
    QCOMPARE(form->StatusText(), QStringLiteral("Soundcard:-1 Default Serial:COM1"));
    QCOMPARE(child<QLabel>("Rig1Name")->text(), QStringLiteral("N/A"));
    QCOMPARE(child<QLabel>("Rig2Name")->text(), QStringLiteral("N/A"));
    QVERIFY(child<QPushButton>("Rig1Button")->isChecked());
    QVERIFY(!child<QPushButton>("Rig2Button")->isChecked());
    QCOMPARE(form->windowTitle(), QStringLiteral("VOKEY V2.0"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("VOKEY"));
    QCOMPARE(form->TrayTip(), QStringLiteral("VOKEY"));
    if (form->TrayIcon())
        QCOMPARE(form->TrayIcon()->toolTip(), QStringLiteral("VOKEY"));
    QCOMPARE(child<QPushButton>("MuteButton")->text(), QStringLiteral("Mute"));
    QVERIFY(!child<LampWidget>("LedOn")->isOn());
    QCOMPARE(child<SelectionSlider>("GainTrack")->value(), 1);
    QCOMPARE(child<SelectionSlider>("TrackDelay")->value(), 1);
    QVERIFY(form->Running());
    QVERIFY(child<QTimer>("TimerRender")->isActive());
    QCOMPARE(child<QTimer>("CATTimer")->interval(), 500);
    QVERIFY(child<QTimer>("CATTimer")->isActive());
    // The default port COM1 names no device here.
    QCOMPARE(m_boxes.texts(), QStringList { "Defined COM Port not available" });
    QCOMPARE(m_boxes.boxes[0].kind, QStringLiteral("message"));
    // The configuration is written by Exit and the settings actions only.
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
    // The log starts with the settings header.
    QFile log(path("VOKEY.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY2(text.contains("COMBAUD=4800") && text.contains("DEVICE=-1"), qPrintable(text));
}

void TestMainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("PaintFrame") << "PaintFrame" << QRect(8, 8, 241, 169);
    QTest::newRow("Label1") << "Label1" << QRect(11, 194, 41, 23);
    QTest::newRow("GainTrack") << "GainTrack" << QRect(64, 192, 185, 33);
    QTest::newRow("Label2") << "Label2" << QRect(11, 232, 54, 23);
    QTest::newRow("TrackDelay") << "TrackDelay" << QRect(64, 230, 185, 33);
    QTest::newRow("Rig1Button") << "Rig1Button" << QRect(3, 272, 89, 49);
    QTest::newRow("LedOn") << "LedOn" << QRect(105, 272, 49, 49);
    QTest::newRow("Rig2Button") << "Rig2Button" << QRect(160, 272, 89, 49);
    QTest::newRow("Rig1Led") << "Rig1Led" << QRect(8, 328, 17, 17);
    QTest::newRow("Rig1Name") << "Rig1Name" << QRect(34, 329, 79, 17);
    QTest::newRow("Rig2Led") << "Rig2Led" << QRect(162, 327, 17, 17);
    QTest::newRow("Rig2Name") << "Rig2Name" << QRect(186, 328, 63, 17);
    QTest::newRow("MuteButton") << "MuteButton" << QRect(8, 352, 241, 49);
    QTest::newRow("StatusBar1") << "StatusBar1" << QRect(0, 411, 260, 25);
}

void TestMainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QVERIFY(start());
    auto* widget = m_form->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
}

namespace {

// "text=command" per item, "-" per separator.
QStringList menuItems(const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions())
        items << (action->isSeparator() ? QStringLiteral("-")
                                        : action->text()
                    + (action->data().isValid() ? '=' + QString::number(action->data().toInt())
                                                : QString()));
    return items;
}

QAction* findAction(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    qFatal("no menu item %s", qPrintable(text));
}

} // namespace

void TestMainWindow::windowCommandMenu()
{
    QVERIFY(start());
    QCOMPARE(menuItems(m_form->SystemMenu()),
        QStringList({ "&Quit\tAlt+F4=61536", "-", "OmniRig=555", "Soundcard=551", "Comm Port=552",
            "Mute=445", "> A=444", "> B=443", "-", "&About...=666" }));
}

void TestMainWindow::popupMenu()
{
    QVERIFY(start());
    QCOMPARE(menuItems(m_form->PopupMenu1()),
        QStringList(
            { "> A", "> B", "Mute", "OmniRig", "Soundcard", "COM Settings", "About", "Exit" }));
}

void TestMainWindow::muteHasOneEffect_data()
{
    QTest::addColumn<QString>("road");
    QTest::newRow("button") << "button";
    QTest::newRow("window menu") << "window menu";
    QTest::newRow("popup menu") << "popup menu";
}

void TestMainWindow::muteHasOneEffect()
{
    QFETCH(QString, road);
    QVERIFY(start());
    auto* button = child<QPushButton>("MuteButton");
    auto* led = child<LampWidget>("LedOn");
    const auto mute = [&] {
        if (road == "button")
            QTest::mouseClick(button, Qt::LeftButton);
        else if (road == "window menu")
            findAction(m_form->SystemMenu(), "Mute")->trigger();
        else
            findAction(m_form->PopupMenu1(), "Mute")->trigger();
    };
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);

    mute();
    QVERIFY(m_form->Muted());
    QCOMPARE(button->text(), QStringLiteral("Muted"));
    QVERIFY(child<QTimer>("TimerLed")->isActive());
    QCOMPARE(led->color1(), QColor(128, 0, 0));
    QCOMPARE(led->color2(), QColor(255, 0, 0));
    QCOMPARE(led->offColor2(), QColor(128, 0, 0));
    QCOMPARE(transmit.count(), 1);
    QCOMPARE(transmit.last().at(0).toBool(), false);
    // The lamp blinks while muted.
    const bool before = led->isOn();
    QTRY_VERIFY_WITH_TIMEOUT(led->isOn() != before, 5000);

    mute();
    QVERIFY(!m_form->Muted());
    QCOMPARE(button->text(), QStringLiteral("Mute"));
    QVERIFY(!child<QTimer>("TimerLed")->isActive());
    QVERIFY(!led->isOn());
    QCOMPARE(led->color1(), QColor(0, 128, 0));
    QCOMPARE(led->offColor2(), QColor(0, 128, 0));
    QCOMPARE(transmit.count(), 2);
    QCOMPARE(transmit.last().at(0).toBool(), false);
}

void TestMainWindow::rigSelection_data()
{
    QTest::addColumn<QString>("menu");
    QTest::newRow("window menu") << "window";
    QTest::newRow("popup menu") << "popup";
}

void TestMainWindow::rigSelection()
{
    QFETCH(QString, menu);
    QVERIFY(start());
    QMenu* m = menu == "window" ? m_form->SystemMenu() : m_form->PopupMenu1();
    auto* a = child<QPushButton>("Rig1Button");
    auto* b = child<QPushButton>("Rig2Button");
    findAction(m, "> B")->trigger();
    QVERIFY(!a->isChecked() && b->isChecked());
    findAction(m, "> A")->trigger();
    QVERIFY(a->isChecked() && !b->isChecked());
    // A click on the selected button keeps it selected.
    QTest::mouseClick(a, Qt::LeftButton);
    QVERIFY(a->isChecked() && !b->isChecked());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(!a->isChecked() && b->isChecked());
}

void TestMainWindow::trayOnlyRightClickOpensMenu_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("opens");
    QTest::newRow("left click") << int(QSystemTrayIcon::Trigger) << false;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("right click") << int(QSystemTrayIcon::Context) << true;
}

void TestMainWindow::trayOnlyRightClickOpensMenu()
{
    QFETCH(int, reason);
    QFETCH(bool, opens);
    QVERIFY(start());
    m_form->show();
    QSystemTrayIcon* tray = m_form->TrayIcon();
    QVERIFY(tray);
    // The menu is opened by the program itself, never attached to the icon.
    QVERIFY(!tray->contextMenu());
    emit tray->activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(m_form->PopupMenu1()->isVisible(), opens);
    QVERIFY(!m_form->SystemMenu()->isVisible());
    m_form->PopupMenu1()->hide();
}

void TestMainWindow::windowMenuOpensOutsideControls()
{
    QVERIFY(start());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QMenu* menu = m_form->SystemMenu();

    // Clicks through the window system, which turns a right click into a menu request.
    QWindow* window = m_form->windowHandle();
    const auto rightClick = [window](QPoint at) {
        QTest::mousePress(window, Qt::RightButton, {}, at);
        QTest::mouseRelease(window, Qt::RightButton, {}, at);
    };
    QSignalSpy aboutToShow(menu, &QMenu::aboutToShow);

    // On a control: no menu.
    rightClick(child<QPushButton>("MuteButton")->geometry().center());
    rightClick(child<QLabel>("Label1")->geometry().center());
    QCOMPARE(aboutToShow.count(), 0);
    QVERIFY(!m_form->Muted());

    // Between the controls: the menu.
    rightClick(QPoint(150, 185));
    QTRY_COMPARE(aboutToShow.count(), 1);
    QVERIFY(menu->isVisible());
    menu->hide();

    // The keyboard's menu key, wherever the focus is. The platform turns the key into a
    // keyboard menu request to the focus widget (the offscreen platform does not, so the
    // request is sent as the platform would send it).
    auto* slider = child<SelectionSlider>("GainTrack");
    QContextMenuEvent request(QContextMenuEvent::Keyboard, slider->rect().center(),
        slider->mapToGlobal(slider->rect().center()));
    QApplication::sendEvent(slider, &request);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
}

void TestMainWindow::cancelledSettingsActionWritesAndCycles_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("dialog");
    QTest::newRow("Soundcard") << "Soundcard" << true;
    QTest::newRow("COM Settings") << "COM Settings" << true;
}

void TestMainWindow::cancelledSettingsActionWritesAndCycles()
{
    QFETCH(QString, action);
    QFETCH(bool, dialog);
    QVERIFY(start());
    child<SelectionSlider>("GainTrack")->setValue(42);
    const quint32 channel = m_form->RecordChannel();
    QVERIFY(channel != 0);
    if (dialog)
        closeNextModal(false);
    findAction(m_form->PopupMenu1(), action)->trigger();
    // The restart tries the port again.
    QCOMPARE(m_boxes.texts(), QStringList { "Defined COM Port not available" });
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "GAIN", "?"), QStringLiteral("42"));
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "DEVICE", "?"), QStringLiteral("-1"));
    // Power-cycled: a new capture channel, the engine on again.
    QVERIFY(m_form->Running());
    QVERIFY(m_form->RecordChannel() != channel);
    QVERIFY(child<QTimer>("TimerRender")->isActive());
    QCOMPARE(m_form->StatusText(), QStringLiteral("Soundcard:-1 Default Serial:COM1"));
}

void TestMainWindow::failingWriteSkipsTheRestOfTheAction()
{
    // A configuration file in a directory that does not exist cannot be written.
    QVERIFY(start({ "-f", "missing/dir/vokey.ini" }));
    const quint32 channel = m_form->RecordChannel();
    closeNextModal(false);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 1);
    QCOMPARE(m_boxes.boxes[0].kind, QStringLiteral("report"));
    QVERIFY2(
        m_boxes.boxes[0].text.startsWith("Unable to write to "), qPrintable(m_boxes.boxes[0].text));
    QCOMPARE(m_form->RecordChannel(), channel);
    // The same failure again while the box is open: still one box.
    closeNextModal(false);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 1);

    // Exit stops at the failed write and the program keeps running.
    m_boxes.dismissAll();
    findAction(m_form->PopupMenu1(), "Exit")->trigger();
    QVERIFY(m_form->Running());
    QCOMPARE(m_boxes.boxes.size(), 2);
    QCOMPARE(m_boxes.boxes[1].kind, QStringLiteral("confirm"));
}

void TestMainWindow::exitCancelledLeavesEverythingRunning()
{
    QVERIFY(start());
    m_form->show();
    m_boxes.confirmAnswer = false;
    const quint32 channel = m_form->RecordChannel();
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    findAction(m_form->PopupMenu1(), "Exit")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 1);
    QCOMPARE(m_boxes.boxes[0].kind, QStringLiteral("confirm"));
    QCOMPARE(m_boxes.boxes[0].caption, QStringLiteral("Warning!"));
    QCOMPARE(m_boxes.boxes[0].text, QStringLiteral("Do you really want to exit?"));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->Running());
    QCOMPARE(m_form->RecordChannel(), channel);
    QVERIFY(child<QTimer>("TimerRender")->isActive());
    QVERIFY(transmit.isEmpty());
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
}

void TestMainWindow::exitWritesTheConfiguration()
{
    QVERIFY(start());
    m_form->show();
    child<SelectionSlider>("GainTrack")->setValue(150); // clamped by the slider
    child<SelectionSlider>("TrackDelay")->setValue(17);
    QVERIFY(!QFile::exists(path("VOKEY.INI")));
    m_form->ExitClick();
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->Running());
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

void TestMainWindow::configurationFileFromCommandLine()
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

void TestMainWindow::serialPortFollowsTheEngine()
{
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    ::close(slave);
    writeConfig("VOKEY.INI", { { "COMPORT", QString::fromLocal8Bit(name) } });
    QVERIFY(start({}, true));
    QCOMPARE(m_boxes.boxes.size(), 0);
    QVERIFY(m_form->ComPort().Connected());
    QCOMPARE(m_form->StatusText(), "Soundcard:-1 Default Serial:" + QString::fromLocal8Bit(name));
    // The power cycle of a settings action closes and opens it again.
    closeNextModal(false);
    findAction(m_form->PopupMenu1(), "COM Settings")->trigger();
    QVERIFY(m_form->ComPort().Connected());
    QCOMPARE(m_boxes.boxes.size(), 0);
    m_form->ExitClick();
    QVERIFY(!m_form->ComPort().Connected());
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "COMPORT", "?"),
        QString::fromLocal8Bit(name));
    ::close(master);
}

void TestMainWindow::baudRateRoundTrip_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("written");
    QTest::newRow("19200") << "19200" << int(br19200) << "19200";
    QTest::newRow("1200") << "1200" << int(br1200) << "1200";
    QTest::newRow("14400 runs at 4800") << "14400" << int(br4800) << "4800";
    QTest::newRow("not a number") << "fast" << int(br4800) << "4800";
}

void TestMainWindow::baudRateRoundTrip()
{
    QFETCH(QString, stored);
    QFETCH(int, speed);
    QFETCH(QString, written);
    writeConfig("VOKEY.INI", { { "BAUDRATE", stored } });
    QVERIFY(start());
    QCOMPARE(int(m_form->ComPort().BaudRate()), speed);
    m_form->ExitClick();
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "BAUDRATE", "?"), written);
}

void TestMainWindow::everyWayOutReleasesTransmit_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Exit") << "Exit";
    QTest::newRow("quit item") << "quit item";
    QTest::newRow("window close") << "window close";
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
    QTest::newRow("SIGHUP") << "SIGHUP";
}

void TestMainWindow::everyWayOutReleasesTransmit()
{
    QFETCH(QString, way);
    // Gain 0 keys on every tick, silence included.
    writeConfig("VOKEY.INI", { { "GAIN", "0" }, { "DELAY", "100" } });
    QVERIFY(start());
    m_form->show();
    QTRY_VERIFY_WITH_TIMEOUT(m_form->TxOn(), 10000);
    QVERIFY(child<LampWidget>("LedOn")->isOn());

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
    QVERIFY(!m_form->TxOn());
    QVERIFY(!transmit.isEmpty());
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!child<LampWidget>("LedOn")->isOn());
    // Nothing can key again afterwards.
    QVERIFY(!child<QTimer>("TimerRender")->isActive());
    QVERIFY(!child<QTimer>("TimerDelay")->isActive());
    // Only Exit writes the configuration.
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "COMPORT", "absent"),
        way == "Exit" ? QStringLiteral("COM1") : QStringLiteral("absent"));
}

void TestMainWindow::delayBandFollowsTheSlider()
{
    writeConfig("VOKEY.INI", { { "DELAY", "30" } });
    QVERIFY(start());
    auto* delay = child<SelectionSlider>("TrackDelay");
    QCOMPARE(delay->selStart(), 0);
    QCOMPARE(delay->selEnd(), 30);
    delay->setValue(55);
    QCOMPARE(delay->selEnd(), 55);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
