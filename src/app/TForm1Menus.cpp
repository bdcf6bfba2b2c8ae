// The window command menu, the tray icon with its popup menu, the settings actions and Exit.
#include "TForm1.h"

#include "audio/AudioEngine.h"

#include "station/MessageBoxes.h"

#include "rig/OmniRigX.h"
#include "serial/ComPort.h"
#include "widgets/ComSetupForm.h"
#include "widgets/TAboutDlg.h"
#include "widgets/TForm2.h"
#include "widgets/TLevelHistoryForm.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>

#include <exception>

namespace {

QAction* addCommand(QMenu* menu, const QString& text, int command)
{
    QAction* action = menu->addAction(text);
    action->setData(command);
    return action;
}

} // namespace

void TForm1::BuildSystemMenu()
{
    // The window's own command menu: the close item first, then the program's commands.
    if (!m_systemMenu) {
        m_systemMenu = new QMenu(this);
        m_systemMenu->setObjectName(QStringLiteral("SystemMenu"));
    }
    m_systemMenu->clear();
    addCommand(m_systemMenu, QStringLiteral("&Quit\tAlt+F4"), CmdClose);
    m_systemMenu->addSeparator();
    addCommand(m_systemMenu, QStringLiteral("OmniRig"), CmdOmniRig);
    addCommand(m_systemMenu, QStringLiteral("Soundcard"), CmdSoundcard);
    addCommand(m_systemMenu, QStringLiteral("Level history"), CmdLevelHistory);
    m_fastAttackCommand = addCommand(m_systemMenu, QStringLiteral("Fast attack"), CmdFastAttack);
    m_fastAttackCommand->setCheckable(true);
    m_fastAttackCommand->setChecked(m_station->FastAttack());
    addCommand(m_systemMenu, QStringLiteral("Comm Port"), CmdCommPort);
    addCommand(m_systemMenu, QStringLiteral("Mute"), CmdMute);
    addCommand(m_systemMenu, QStringLiteral("> A"), CmdRigA);
    addCommand(m_systemMenu, QStringLiteral("> B"), CmdRigB);
    m_systemMenu->addSeparator();
    addCommand(m_systemMenu, QStringLiteral("&About..."), CmdAbout);
    // Without a tray (GNOME and others), Exit, which saves the settings, is reached here.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        m_systemMenu->addSeparator();
        addCommand(m_systemMenu, QStringLiteral("Exit"), CmdExit);
    }
    connect(m_systemMenu, &QMenu::triggered, this,
        [this](QAction* action) { SystemCommand(action->data().toInt()); });
}

void TForm1::SystemCommand(int command)
{
    guarded([this, command] {
        switch (command) {
        case CmdClose:
            close();
            break;
        case CmdAbout:
            AboutClick();
            break;
        case CmdRigA:
            Rig1ButtonClick();
            break;
        case CmdRigB:
            Rig2ButtonClick();
            break;
        case CmdMute:
            MuteButtonClick();
            break;
        case CmdSoundcard:
            SoundcardIN1Click();
            break;
        case CmdLevelHistory:
            LevelHistoryClick();
            break;
        case CmdFastAttack:
            FastAttackClick();
            break;
        case CmdCommPort:
            CommSettingsButtonClick();
            break;
        case CmdOmniRig:
            OmniRigSettings();
            break;
        case CmdExit:
            ExitClick();
            break;
        default:
            break;
        }
    });
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    // The command menu belongs to the window itself: a right click on one of its controls
    // does not open it; the keyboard's menu key does, wherever the focus is.
    if (event->reason() == QContextMenuEvent::Mouse && childAt(event->pos())) {
        event->ignore();
        return;
    }
    if (!m_systemMenu)
        return;
    const QPoint at = event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                                  : mapToGlobal(QPoint(0, 0));
    m_systemMenu->popup(at);
    event->accept();
}

void TForm1::BuildPopupMenu()
{
    if (!m_popupMenu1) {
        m_popupMenu1 = new QMenu(this);
        m_popupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    }
    m_popupMenu1->clear();
    const auto item = [this](const QString& text, void (TForm1::*operation)()) {
        connect(m_popupMenu1->addAction(text), &QAction::triggered, this,
            [this, operation] { guarded([this, operation] { (this->*operation)(); }); });
    };
    item(QStringLiteral("> A"), &TForm1::Rig1ButtonClick);
    item(QStringLiteral("> B"), &TForm1::Rig2ButtonClick);
    item(QStringLiteral("Mute"), &TForm1::MuteButtonClick);
    item(QStringLiteral("OmniRig"), &TForm1::OmniRigSettings);
    item(QStringLiteral("Soundcard"), &TForm1::SoundcardIN1Click);
    item(QStringLiteral("Level history"), &TForm1::LevelHistoryClick);
    m_fastAttackItem = m_popupMenu1->addAction(QStringLiteral("Fast attack"));
    m_fastAttackItem->setCheckable(true);
    m_fastAttackItem->setChecked(m_station->FastAttack());
    connect(m_fastAttackItem, &QAction::triggered, this,
        [this] { guarded([this] { FastAttackClick(); }); });
    item(QStringLiteral("COM Settings"), &TForm1::CommSettingsButtonClick);
    item(QStringLiteral("About"), &TForm1::AboutClick);
    item(QStringLiteral("Exit"), &TForm1::ExitClick);
}

void TForm1::AddTrayIcon()
{
    m_trayTip = QStringLiteral("VOKEY");
    if (!m_trayIcon) {
        m_trayIcon = new QSystemTrayIcon(ApplicationIcon(), this);
        m_trayIcon->setObjectName(QStringLiteral("TrayIcon"));
        // No setContextMenu: some desktops would then open the menu on a left click too.
        connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { TrayActivated(reason); });
    }
    m_trayIcon->setToolTip(m_trayTip);
    // A desktop without a tray: the window and its command menu do the same work.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon->show();
}

void TForm1::RemoveTrayIcon()
{
    if (m_trayIcon)
        m_trayIcon->hide();
}

void TForm1::TrayActivated(int reason)
{
    // Only the right button opens the menu; every other click is ignored.
    if (reason != QSystemTrayIcon::Context || !m_popupMenu1)
        return;
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    m_popupMenu1->popup(QCursor::pos());
}

void TForm1::CommSettingsButtonClick()
{
    // A port that refuses the settings (or is unplugged) must still be power-cycled: that is
    // what reopens it and what restarts its retries. The failure is shown after.
    std::exception_ptr failure;
    try {
        RunSettingsDialog(m_station->ComPort(), this);
    } catch (...) {
        failure = std::current_exception();
    }
    m_station->applySettingsChange();
    if (failure)
        std::rethrow_exception(failure);
}

void TForm1::LevelHistoryClick()
{
    if (!m_levelHistory) {
        m_levelHistory = new TLevelHistoryForm(this);
        connect(this, &TForm1::VoxTicked, m_levelHistory, &TLevelHistoryForm::addTick);
    }
    m_levelHistory->show();
    m_levelHistory->raise();
    m_levelHistory->activateWindow();
}

void TForm1::FastAttackClick()
{
    // Both menus show the station's choice, whichever was used.
    m_station->SetFastAttack(!m_station->FastAttack());
    for (QAction* action : { m_fastAttackCommand, m_fastAttackItem }) {
        if (action)
            action->setChecked(m_station->FastAttack());
    }
    m_station->WriteINI();
}

void TForm1::SoundcardIN1Click()
{
    {
        TForm2 dialog(this);
        dialog.setWindowTitle(QStringLiteral("Select Input Device"));
        dialog.setDevice(m_station->InputDevice());
        dialog.setSO2RMode(TSO2RMode::ddIn);
        dialog.setDeviceNameSource([this](TSO2RMode mode, int n) -> std::optional<QString> {
            AudioDeviceInfo info;
            AudioEngine& audio = m_station->Audio();
            const bool found = mode == TSO2RMode::ddIn ? audio.RecordGetDeviceInfo(n, &info)
                                                       : audio.GetDeviceInfo(n, &info);
            if (!found)
                return std::nullopt;
            return QString::fromUtf8(info.name);
        });
        dialog.Label4()->setText(QStringLiteral("Select Input"));
        dialog.SetList();
        dialog.exec();
        // Closed meanwhile (a signal ended the program): nothing more may be written or
        // opened.
        if (m_station->IsShutDown())
            return;
        m_station->ChooseInputDevice(dialog.Device());
    }
    m_station->applySettingsChange();
}

void TForm1::OmniRigSettings()
{
    m_station->OmniRigSettings();
}

void TForm1::AboutClick()
{
    if (m_aboutDlg)
        m_aboutDlg->Execute();
}

void TForm1::ExitClick()
{
    if (!m_station->Messages().confirm(
            QStringLiteral("Warning!"), QStringLiteral("Do you really want to exit?")))
        return;
    // A failing write is shown and the program runs on as before, tray icon and all.
    if (!m_station->exitSavingSettings())
        return;
    RemoveTrayIcon();
    close();
}
