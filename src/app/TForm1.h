#pragma once

#include "station/VoxStation.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

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
// keying, rig link, serial port, settings, log). The window keeps the operations' names as
// they are in the program's documentation (FormCreate, PowerOn, SetTX, ...) and hands them
// to the station; what is its own is the layout, the drawing, the menus, the tray icon and
// the dialogs. Its files:
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

    // Start-up. False when another instance is running: the caller then ends the process
    // with a non-zero status; nothing has been touched. Errors of the other steps are
    // reported and end the start-up early, but the window runs on.
    bool FormCreate();

    // The station the window shows and drives.
    VoxStation& Station() { return *m_station; }

    // Status bar and settings.
    void ShowMode() { m_station->ShowMode(); }
    QString GetSoundDevice(int device) { return m_station->GetSoundDevice(device); }
    QString StatusText() const;
    void WriteINI() { m_station->WriteINI(); }

    // VOX engine.
    void PowerOn() { m_station->PowerOn(); }
    void PowerCycle() { m_station->PowerCycle(); }
    void TimerRenderTimer() { m_station->TimerRenderTimer(); }
    void TimerDelayTimer() { m_station->TimerDelayTimer(); }
    void MuteButtonClick() { m_station->MuteButtonClick(); }
    void TimerLedTimer() { m_station->TimerLedTimer(); }
    void TrackDelayChange();
    void RenderFrame(const float* snapshot);
    // Released by the transmit time-out and not yet allowed to key again.
    bool TimedOut() const { return m_station->TimedOut(); }

    // Keying.
    void SetTX(bool on) { m_station->SetTX(on); }
    void Rig1ButtonClick();
    void Rig2ButtonClick();
    void ComPortError() { m_station->ComPortError(); }

    // Rig monitor and CAT poll.
    void RigUpdateStatus() { m_station->RigUpdateStatus(); }
    void RigTypeChangeEvent(TOmniRigX* ASender, int RigNumber)
    {
        m_station->RigTypeChangeEvent(ASender, RigNumber);
    }
    void StatusChangeEvent(TOmniRigX* ASender, int RigNumber)
    {
        m_station->StatusChangeEvent(ASender, RigNumber);
    }
    void ParamsChangeEvent(TOmniRigX* ASender, int RigNumber, int Params)
    {
        m_station->ParamsChangeEvent(ASender, RigNumber, Params);
    }
    void CustomReplyEvent(
        TOmniRigX* ASender, int RigNumber, const QByteArray& Command, const QByteArray& Reply)
    {
        m_station->CustomReplyEvent(ASender, RigNumber, Command, Reply);
    }
    void VisibleChangeEvent(TOmniRigX* ASender) { m_station->VisibleChangeEvent(ASender); }
    void SendFA() { m_station->SendFA(); }
    void CATTimerTimer() { m_station->CATTimerTimer(); }
    void ReceiveCAT(
        int RigNumber, const quint8* command, int commandCount, const quint8* reply, int replyCount)
    {
        m_station->ReceiveCAT(RigNumber, command, commandCount, reply, replyCount);
    }
    // The rig of the latest parameter or status event; null before the first.
    IRigX* ReportedRig() const { return m_station->ReportedRig(); }

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

    // State, for the status bar, the tests and the tools.
    bool Running() const { return m_station->Running(); }
    bool Muted() const { return m_station->Muted(); }
    int InputDevice() const { return m_station->InputDevice(); }
    quint32 RecordChannel() const { return m_station->RecordChannel(); }
    bool TxOn() const { return m_station->TxOn(); }
    const VokeySettings& Settings() const { return m_station->Settings(); }
    const VoxDetector& Detector() const { return m_station->Detector(); }
    QMenu* SystemMenu() const { return m_systemMenu; }
    QMenu* PopupMenu1() const { return m_popupMenu1; }
    // Shown only where the desktop has a system tray.
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    QString TrayTip() const { return m_trayTip; }
    TAboutDlg* AboutDlg() const { return m_aboutDlg; }
    // Null until first opened.
    TLevelHistoryForm* LevelHistory() const { return m_levelHistory; }
    TComPort& ComPort() { return m_station->ComPort(); }
    // The rig-control client; null before start-up created it.
    TOmniRigX* OmniRig() const { return m_station->OmniRig(); }
    ErrorReport& Errors() { return m_station->Errors(); }

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
    // Closes the window from a signal, with any dialog that is open over it.
    void closeOnSignal();
    // The station's state shown (TForm1Vox.cpp).
    void ShowLamp(bool on, bool alarm);
    void ShowRigLamp(int rigNumber);
    void ShowRigName(int rigNumber);
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
    QLabel* m_rig1Name = nullptr;
    TLed* m_rig2Led = nullptr;
    QLabel* m_rig2Name = nullptr;
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
