#pragma once

#include "station/VoxStation.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class ElidedLabel;
class ErrorReport;
class IRigX;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;
class SelectionSlider;
class TSpectrum;
class TLed;
class TLedButton;
class TPaintBox;
class TAboutDlg;
class TComPort;
class TLevelHistoryForm;
class TOmniRigX;

// What the window is started with: what its station is started with.
using TForm1Options = VoxStationOptions;

// The main window: a view of its VoxStation, which does the work (capture, detector,
// keying, rig link, serial port, settings, log). The window's handlers keep the names they
// have in the program's documentation (FormCreate, PowerOn, Rig1ButtonClick, ...) and call
// the station's verbs; what is its own is the layout, the drawing, the menus, the tray
// icon and the dialogs. Its files:
//   TForm1.cpp        layout, start-up, status bar, closing
//   TForm1Vox.cpp     the station's state shown: lamps, sliders, rig names, spectrum
//   TForm1Menus.cpp   window command menu, tray icon and popup menu, settings actions, Exit
class TForm1 : public QWidget {
    Q_OBJECT

public:
    static constexpr int SpectrumStride = 3;
    // System command numbers of the window command menu.
    enum Command : int {
        CmdClose = 0xF060,
        CmdOmniRig = 555,
        CmdSoundcard = 551,
        CmdLevelHistory = 556,
        CmdCommPort = 552,
        CmdMute = 445,
        CmdRigA = 444,
        CmdRigB = 443,
        CmdAbout = 666,
        // Only where the desktop has no system tray to offer Exit.
        CmdExit = 667,
        CmdFastAttack = 557,
    };

    explicit TForm1(const TForm1Options& options, QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up, once the process holds the instance (see StationHost). Errors are reported
    // and end the start-up early, but the window runs on.
    void FormCreate();
    // Closes the window from a signal, with any dialog that is open over it.
    void closeOnSignal();

    // The station the window shows and drives.
    VoxStation& Station() { return *m_station; }

    // Status bar.
    QString StatusText() const;

    // The operator's commands, as the window's controls and menus give them.
    void PowerOn();
    void MuteButtonClick();
    void Rig1ButtonClick();
    void Rig2ButtonClick();
    void TrackDelayChange();
    void RenderFrame(const float* snapshot);

    // Menus, tray and settings actions.
    void SystemCommand(int command);
    void CommSettingsButtonClick();
    void SoundcardIN1Click();
    // Opens the level history window (made on first use; it stays until the window goes).
    void LevelHistoryClick();
    void OmniRigSettings();
    void AboutClick();
    void ExitClick();
    // Switches the fast attack on or off and writes the configuration (no restart needed).
    void FastAttackClick();

    // The window's own parts, for the tests and the tools.
    QMenu* SystemMenu() const { return m_systemMenu; }
    QMenu* PopupMenu1() const { return m_popupMenu1; }
    // Shown only where the desktop has a system tray.
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    QString TrayTip() const { return m_trayTip; }
    TAboutDlg* AboutDlg() const { return m_aboutDlg; }
    // Null until first opened.
    TLevelHistoryForm* LevelHistory() const { return m_levelHistory; }

    // The application's icon (window, tray and About box).
    static QIcon ApplicationIcon();

signals:
    // Every SetTX call, after it has been carried out.
    void TransmitSet(bool on);
    // Every render tick with audio: the VOX level, the Gain and transmit after the tick.
    void VoxTicked(int voxLevel, int gain, bool transmitting);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildLayout();
    void connectStation();
    void FitOnScreen();
    void FormClose();
    // Runs a handler; an error it raises goes to the application-wide error report.
    void guarded(const std::function<void()>& handler) { m_station->Guarded(handler); }
    // The station's state shown (TForm1Vox.cpp).
    void ShowLamp(bool on, bool alarm);
    void ShowRigLamp(RigId rig);
    void ShowRigName(RigId rig);
    void ShowSelection();

    // Menus, TForm1Menus.cpp.
    void BuildSystemMenu();
    void BuildPopupMenu();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void TrayActivated(int reason);

    VoxStation* m_station = nullptr; // child of the window

    // Controls.
    TPaintBox* m_paintFrame = nullptr;
    QLabel* m_label1 = nullptr;
    SelectionSlider* m_gainTrack = nullptr;
    QLabel* m_label2 = nullptr;
    SelectionSlider* m_trackDelay = nullptr;
    TLedButton* m_rig1Button = nullptr;
    TLed* m_ledOn = nullptr;
    TLedButton* m_rig2Button = nullptr;
    TLed* m_rig1Led = nullptr;
    ElidedLabel* m_rig1Name = nullptr;
    TLed* m_rig2Led = nullptr;
    ElidedLabel* m_rig2Name = nullptr;
    QPushButton* m_muteButton = nullptr;
    QStatusBar* m_statusBar1 = nullptr;
    QLabel* m_statusPanel = nullptr;

    QMenu* m_systemMenu = nullptr;
    QMenu* m_popupMenu1 = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QString m_trayTip;
    TAboutDlg* m_aboutDlg = nullptr;
    TLevelHistoryForm* m_levelHistory = nullptr;
    // "Fast attack" in the window menu and in the popup menu, checked while it is on.
    QAction* m_fastAttackCommand = nullptr;
    QAction* m_fastAttackItem = nullptr;

    // The spectrum painter of PaintFrame, sized to it when the window is made.
    std::unique_ptr<TSpectrum> m_spectrum;
    int m_spectrumOffsetX = 10;
    int m_spectrumOffsetY = 0;
    bool m_lampAlarm = false; // the lamp shows the alarm colours
    bool m_placed = false; // moved onto the screen at the first showing
};
