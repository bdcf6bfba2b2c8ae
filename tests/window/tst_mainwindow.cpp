// The main window in-process: start-up, layout, the two menus, the tray, mute and rig
// selection. Audio comes from a silent WAV file, so no sound card is needed.
#include "WindowFixture.h"

#include "serial/ComPort.h"
#include "widgets/ModalDriver.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TAboutBox.h"
#include "widgets/TLed.h"
#include "widgets/TLedButton.h"
#include "widgets/TLevelHistoryForm.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWindow>

#include <csignal>
#include <pty.h>
#include <unistd.h>

class TestMainWindow : public QObject, WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsInEmptyDirectory();
    void layout_data();
    void layout();
    void windowCommandMenu();
    void exitFromTheWindowMenu();
    void aboutBoxOfTheWindow();
    void popupMenu();
    void levelHistoryFromBothMenus_data();
    void levelHistoryFromBothMenus();
    void muteHasOneEffect_data();
    void muteHasOneEffect();
    void rigSelection_data();
    void rigSelection();
    void trayOnlyRightClickOpensMenu_data();
    void trayOnlyRightClickOpensMenu();
    void windowMenuOpensOutsideControls();
};

void TestMainWindow::initTestCase()
{
    QVERIFY(setUpCase());
}

void TestMainWindow::init()
{
    QVERIFY(setUp());
}

void TestMainWindow::cleanup()
{
    tearDown();
}

void TestMainWindow::startsInEmptyDirectory()
{
    TForm1* form = start({}, true);
    QVERIFY(form);
    QCOMPARE(form->StatusText(), QStringLiteral("Soundcard:-1 Default Serial:COM1"));
    QCOMPARE(child<QLabel>("Rig1Name")->text(), QStringLiteral("N/A"));
    QCOMPARE(child<QLabel>("Rig2Name")->text(), QStringLiteral("N/A"));
    QVERIFY(child<TLedButton>("Rig1Button")->isActive());
    QVERIFY(!child<TLedButton>("Rig2Button")->isActive());
    QCOMPARE(form->windowTitle(), QStringLiteral("VOKEY V2.0"));
    QCOMPARE(ApplicationTitle(), QStringLiteral("VOKEY"));
    // Nothing for the platform to append to the window titles.
    QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    QCOMPARE(form->TrayTip(), QStringLiteral("VOKEY"));
    if (form->TrayIcon())
        QCOMPARE(form->TrayIcon()->toolTip(), QStringLiteral("VOKEY"));
    QCOMPARE(child<QPushButton>("MuteButton")->text(), QStringLiteral("Mute"));
    QVERIFY(!child<TLed>("LedOn")->isOn());
    QCOMPARE(child<SelectionSlider>("GainTrack")->value(), 1);
    QCOMPARE(child<SelectionSlider>("TrackDelay")->value(), 1);
    QVERIFY(form->Station().Running());
    QVERIFY(child<QTimer>("TimerRender")->isActive());
    QCOMPARE(child<QTimer>("CATTimer")->interval(), 500);
    QVERIFY(child<QTimer>("CATTimer")->isActive());
    // The default port COM1 names no device here.
    QCOMPARE(m_boxes.texts(),
        QStringList { "Defined COM Port not available\n/dev/COM1: no such device" });
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
    QTest::newRow("Rig1Name") << "Rig1Name" << QRect(34, 329, 122, 17);
    QTest::newRow("Rig2Led") << "Rig2Led" << QRect(162, 327, 17, 17);
    QTest::newRow("Rig2Name") << "Rig2Name" << QRect(186, 328, 70, 17);
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

void TestMainWindow::windowCommandMenu()
{
    QVERIFY(start());
    // No system tray here: Exit is in the window's own menu too.
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QCOMPARE(menuItems(m_form->SystemMenu()),
        QStringList({ "&Quit\tAlt+F4=61536", "-", "OmniRig=555", "Soundcard=551",
            "Level history=556", "Fast attack=557", "Comm Port=552", "Mute=445", "> A=444",
            "> B=443", "-", "&About...=666", "-", "Exit=667" }));
}

void TestMainWindow::exitFromTheWindowMenu()
{
    QVERIFY(start());
    m_form->show();
    findAction(m_form->SystemMenu(), "Exit")->trigger();
    QCOMPARE(m_boxes.texts(), QStringList { "Do you really want to exit?" });
    QVERIFY(!m_form->isVisible());
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "GAIN", "absent"), "1");
}

void TestMainWindow::aboutBoxOfTheWindow()
{
    QVERIFY(start());
    QStringList texts;
    vokeytest::ModalAction driver([&texts](QWidget* modal) {
        if (auto* box = qobject_cast<TAboutBox*>(modal))
            texts << box->windowTitle() << box->ProductName()->text() << box->Copyright()->text()
                  << box->Programmer()->text() << box->Website()->text();
    });
    m_form->SystemCommand(TForm1::CmdAbout);
    QVERIFY(driver.ran());
    QCOMPARE(texts,
        QStringList({ "Soundcard based Control VOX System", "VOKEY 2.0.03.01.02",
            "Copyright (C) the VOKEY authors",
            "Free software under the GNU General Public License, version 3 or later",
            "VOKEY: a voice-operated transmit switch for radio amateurs on Linux" }));
}

void TestMainWindow::popupMenu()
{
    QVERIFY(start());
    QCOMPARE(menuItems(m_form->PopupMenu1()),
        QStringList({ "> A", "> B", "Mute", "OmniRig", "Soundcard", "Level history", "Fast attack",
            "COM Settings", "About", "Exit" }));
}

void TestMainWindow::levelHistoryFromBothMenus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::newRow("window menu") << "window menu";
    QTest::newRow("popup menu") << "popup menu";
}

void TestMainWindow::levelHistoryFromBothMenus()
{
    QFETCH(QString, menu);
    QVERIFY(start());
    m_form->show();
    QVERIFY(!m_form->LevelHistory());
    findAction(menu == "window menu" ? m_form->SystemMenu() : m_form->PopupMenu1(), "Level history")
        ->trigger();
    TLevelHistoryForm* history = m_form->LevelHistory();
    QVERIFY(history);
    QVERIFY(history->isVisible());
    QVERIFY(!history->isModal());
    // The render tick feeds it.
    QTRY_VERIFY_WITH_TIMEOUT(history->tickCount() >= 3, 5000);
    QVERIFY(m_form->Station().Running());
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
    auto* led = child<TLed>("LedOn");
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
    QVERIFY(m_form->Station().Muted());
    QCOMPARE(button->text(), QStringLiteral("Muted"));
    QVERIFY(child<QTimer>("TimerLed")->isActive());
    QCOMPARE(led->color1(), TColor(0x000080));
    QCOMPARE(led->color2(), TColor(0x0000FF));
    QCOMPARE(led->offColor2(), TColor(0x000080));
    QCOMPARE(transmit.count(), 1);
    QCOMPARE(transmit.last().at(0).toBool(), false);
    // The lamp blinks while muted.
    const bool before = led->isOn();
    QTRY_VERIFY_WITH_TIMEOUT(led->isOn() != before, 5000);

    mute();
    QVERIFY(!m_form->Station().Muted());
    QCOMPARE(button->text(), QStringLiteral("Mute"));
    QVERIFY(!child<QTimer>("TimerLed")->isActive());
    QVERIFY(!led->isOn());
    QCOMPARE(led->color1(), TColor(0x008000));
    QCOMPARE(led->offColor2(), TColor(0x008000));
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
    auto* a = child<TLedButton>("Rig1Button");
    auto* b = child<TLedButton>("Rig2Button");
    findAction(m, "> B")->trigger();
    QVERIFY(!a->isActive() && b->isActive());
    findAction(m, "> A")->trigger();
    QVERIFY(a->isActive() && !b->isActive());
    // A click on the selected button keeps it selected.
    QTest::mouseClick(a, Qt::LeftButton);
    QVERIFY(a->isActive() && !b->isActive());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(!a->isActive() && b->isActive());
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
    QVERIFY(!m_form->Station().Muted());

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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
