#pragma once

#include "audio/AudioEngine.h"
#include "core/TLog.h"
#include "core/VokeySettings.h"
#include "core/VoxDetector.h"
#include "rig/RigTypes.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class ErrorReport;
class ExitSignals;
class IMessageBoxes;
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
class SingleInstance;
class TAboutDlg;
class TComPort;
class TLevelHistoryForm;
class TOmniRigX;

// What the window is started with.
struct TForm1Options {
    // The command line as QCoreApplication::arguments() gives it (program first), without
    // --audio-file and its value. "-f FILE" names the configuration file.
    QStringList arguments;
    // Capture from this WAV file instead of the sound card.
    QString audioFile;
    // The message boxes; required, owned by the caller.
    IMessageBoxes* messages = nullptr;
    // Turn SIGINT, SIGTERM and SIGHUP into a close of the window (and guard the serial
    // lines on a crash). Off for windows that share a process with other windows.
    bool handleSignals = true;
    // Time limits of the rig link; tests shorten them. Unset: the link's own.
    std::optional<RigTimings> rigTimings;
    // Makes the rig-control client in place of the rigctld one (a substitute server).
    std::function<std::unique_ptr<TOmniRigX>()> makeOmniRig;
};

// The main window. It owns every other piece of the program: the capture engine, the level
// detector, the log, the settings, the menus and the tray icon.
// The operations keep the names they have in the program's documentation (FormCreate,
// PowerOn, SetTX, ...). They are spread over files along their seams:
//   TForm1.cpp        layout, start-up, status bar, closing
//   TForm1Vox.cpp     VOX engine: power, render tick, release, mute, spectrum
//   TForm1Keying.cpp  keying: SetTX, rig selection, serial errors, connecting the rigs
//   TForm1RigMonitor.cpp  rig lamps and names, automatic follow, rig events, CAT poll
//   TForm1Menus.cpp   window command menu, tray icon and popup menu, settings actions, Exit
//   TForm1Config.cpp  configuration file: reading at start-up, WriteINI
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
    };

    explicit TForm1(const TForm1Options& options, QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up. False when another instance is running: the caller then ends the process
    // with a non-zero status; nothing has been touched. Errors of the other steps are
    // reported and end the start-up early, but the window runs on.
    bool FormCreate();

    // Status bar and settings.
    void ShowMode();
    QString GetSoundDevice(int device);
    QString StatusText() const;
    void WriteINI();

    // VOX engine.
    void PowerOn();
    void PowerCycle();
    void TimerRenderTimer();
    void TimerDelayTimer();
    void MuteButtonClick();
    void TimerLedTimer();
    void TrackDelayChange();
    void RenderFrame(const float* snapshot);
    // Released by the transmit time-out and not yet allowed to key again.
    bool TimedOut() const { return m_detector.timedOut(); }

    // Keying.
    void SetTX(bool on);
    void Rig1ButtonClick();
    void Rig2ButtonClick();
    void ComPortError();

    // Rig monitor and CAT poll.
    void RigUpdateStatus();
    void RigTypeChangeEvent(TOmniRigX* ASender, int RigNumber);
    void StatusChangeEvent(TOmniRigX* ASender, int RigNumber);
    void ParamsChangeEvent(TOmniRigX* ASender, int RigNumber, int Params);
    void CustomReplyEvent(
        TOmniRigX* ASender, int RigNumber, const QByteArray& Command, const QByteArray& Reply);
    void VisibleChangeEvent(TOmniRigX* ASender);
    void SendFA();
    void CATTimerTimer();
    void ReceiveCAT(int RigNumber, const quint8* command, int commandCount, const quint8* reply,
        int replyCount);
    // The rig of the latest parameter or status event; null before the first.
    IRigX* ReportedRig() const { return m_reportedRig; }

    // Menus, tray and settings actions.
    void SystemCommand(int command);
    void CommSettingsButtonClick();
    void SoundcardIN1Click();
    // Opens the level history window (made on first use; it stays until the window goes).
    void LevelHistoryClick();
    void OmniRigSettings();
    void AboutClick();
    void ExitClick();

    // State, for the status bar, the tests and the tools.
    bool Running() const { return m_running; }
    bool Muted() const { return m_muted; }
    int InputDevice() const { return m_settings.InputDevice; }
    quint32 RecordChannel() const { return m_recordChannel; }
    bool TxOn() const { return m_txOn; }
    const VokeySettings& Settings() const { return m_settings; }
    const VoxDetector& Detector() const { return m_detector; }
    QMenu* SystemMenu() const { return m_systemMenu; }
    QMenu* PopupMenu1() const { return m_popupMenu1; }
    // Shown only where the desktop has a system tray.
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    QString TrayTip() const { return m_trayTip; }
    TAboutDlg* AboutDlg() const { return m_aboutDlg; }
    // Null until first opened.
    TLevelHistoryForm* LevelHistory() const { return m_levelHistory; }
    TComPort& ComPort() { return *m_comPort; }
    // The rig-control client; null before start-up created it.
    TOmniRigX* OmniRig() const { return m_omniRig; }
    ErrorReport& Errors() { return *m_errorReport; }

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
    void FitOnScreen();
    void FormClose();
    // Runs a handler; an error it raises goes to the application-wide error report.
    void guarded(const std::function<void()>& handler);
    // Stops every timer that keys or releases, then releases every road; nothing keys after.
    void releaseBeforeExit();
    // Closes the window from a signal, with any dialog that is open over it.
    void closeOnSignal();
    // Carries out a tick's keying decision (TForm1Vox.cpp).
    void ApplyKeying(const VoxDetector::TickResult& result);
    void ShowTimeOut(bool on);

    // Start-up steps, in TForm1Config.cpp and TForm1Keying.cpp.
    void ConnectRigs();
    // Keying helpers, TForm1Keying.cpp.
    IRigX* Rig(int rigNumber) const;
    void SendRigTx(int rigNumber, bool on);
    void SelectRigs(bool rig1, bool rig2);
    bool TransmitsOnItsOwn(int rigNumber) const;
    void WaitForRigRelease(const std::array<bool, 2>& keyed);
    // Rig monitor helpers, TForm1RigMonitor.cpp.
    void UpdateRigLamp(int rigNumber);
    bool ShouldPoll(int rigNumber);
    void ReadConfiguration();
    void ApplySerialSettings();
    QString SerialPortName() const;

    // Menus, TForm1Menus.cpp.
    void BuildSystemMenu();
    void BuildPopupMenu();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void TrayActivated(int reason);

    // The capture device by its name when its number has moved, TForm1Vox.cpp.
    void FindInputDevice();
    // Serial port open and close with their two messages, TForm1Vox.cpp.
    void OpenSerialPort();
    void CloseSerialPort();

    TForm1Options m_options;
    IMessageBoxes& m_messages;
    std::unique_ptr<ErrorReport> m_errorReport;
    std::unique_ptr<SingleInstance> m_instance;
    ExitSignals* m_exitSignals = nullptr;

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

    QTimer* m_timerRender = nullptr;
    QTimer* m_timerDelay = nullptr;
    QTimer* m_timerLed = nullptr;
    QTimer* m_catTimer = nullptr;

    QMenu* m_systemMenu = nullptr;
    QMenu* m_popupMenu1 = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QString m_trayTip;
    TAboutDlg* m_aboutDlg = nullptr;
    TLevelHistoryForm* m_levelHistory = nullptr;

    // Devices.
    std::unique_ptr<AudioEngine> m_audio;
    TComPort* m_comPort = nullptr;
    TOmniRigX* m_omniRig = nullptr; // child of the window
    IRigX* m_reportedRig = nullptr;
    // Per rig: whether the last transmit state this program sent it was TX, and when it last
    // sent RX (m_clock; -1: never). A rig's transmit report is only followed when it is not
    // this program's own keying, nor, for a while after a release, that keying's answer still
    // on its way (a receive report seen meanwhile may be older than the keying).
    std::array<bool, 2> m_rigKeyed { false, false };
    std::array<qint64, 2> m_rigReleasedAt { -1, -1 };
    // Per rig: how it answers the CAT poll.
    struct CatPollState {
        bool answered = false; // a reply came since the radio last changed
        bool outstanding = false; // a poll went out and no reply has come yet
        bool silent = false; // a poll stayed unanswered for a whole period
    };
    std::array<CatPollState, 2> m_catPoll {};
    VoxDetector m_detector;
    // The spectrum painter of PaintFrame, sized to it when the window is made.
    std::unique_ptr<TSpectrum> m_spectrum;
    QElapsedTimer m_clock;
    bool m_running = false;
    bool m_muted = false;
    quint32 m_recordChannel = 0;
    int m_spectrumOffsetX = 10;
    int m_spectrumOffsetY = 0;
    bool m_txOn = false;
    bool m_closed = false;
    // Set by the release that ends the program: SetTX(true) does nothing from then on.
    bool m_keyingEnded = false;
    bool m_placed = false; // moved onto the screen at the first showing

    // Settings and log.
    VokeySettings m_settings;
    TLog m_log;
};
