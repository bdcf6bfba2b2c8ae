#pragma once

#include "RigSlot.h"
#include "audio/AudioEngine.h"
#include "core/TLog.h"
#include "core/VokeySettings.h"
#include "core/VoxDetector.h"
#include "rig/RigSettingsView.h"
#include "rig/RigTypes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class ErrorReport;
class ExitSignals;
class IMessageBoxes;
class IRigX;
class QTimer;
class SerialPttRoad;
class SingleInstance;
class SleepWatch;
class TComPort;
class TOmniRigX;
class TxGuard;

// How often a lost capture device or serial port is tried again while the engine runs.
inline constexpr int DeviceRetryMs = 2000;

// What the station is started with.
struct VoxStationOptions {
    // The command line as QCoreApplication::arguments() gives it (program first), without
    // --audio-file and its value. "-f FILE" names the configuration file.
    QStringList arguments;
    // Capture from this WAV file instead of the sound card, played once or over and over.
    QString audioFile;
    bool audioLoop = false;
    // The message boxes; required, owned by the caller.
    IMessageBoxes* messages = nullptr;
    // Turn SIGINT, SIGTERM and SIGHUP into exitRequested() (and guard the serial lines on a
    // crash). Off for stations that share a process with other stations.
    bool handleSignals = true;
    // Time limits of the rig link; tests shorten them. Unset: the link's own.
    std::optional<RigTimings> rigTimings;
    // Makes the rig-control client in place of the rigctld one (a substitute server).
    std::function<std::unique_ptr<TOmniRigX>()> makeOmniRig;
    // The rig link's settings window; none without a display.
    RigSettingsViewFactory rigSettingsView;

    // Hold a logind sleep inhibitor: before a system suspend every road is released, and
    // after it nothing keys until a tick that does not pass. Off for stations that share a
    // process with other stations.
    bool watchSleep = false;
    // vokey-guard, started once the instance is held: it releases the radios and the serial
    // lines when the program ends without doing so itself (SIGKILL, a crash). Empty: none.
    QString guardProgram;
};

// The station: everything VOKEY does except drawing. It owns the capture engine and its
// 33 ms render clock, the level detector, the release and lamp timers, the keying roads
// (each radio through the rig link, DTR and RTS of the serial port), one slot per radio
// (RigId::A, RigId::B), the rig monitor with its CAT poll, the settings and the log. The
// window shows and drives it through the verbs below; without a display the console does.
//
// Its own operations keep the names they have in the program's documentation (SetTX,
// TimerRenderTimer, ...). They are spread over files along their seams:
//   VoxStation.cpp             start-up, configuration file, closing
//   VoxStationVox.cpp          VOX engine: power, render tick, release, mute, time-out
//   VoxStationKeying.cpp       keying: SetTX, rig selection, serial errors, the rig link
//   VoxStationRigMonitor.cpp   rig lamps and names, automatic follow, rig events, CAT poll
// Operations raise their errors to the caller; the station's own timers and events hand
// them to the error report.
class VoxStation : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ Running NOTIFY runningChanged)
    Q_PROPERTY(bool transmitting READ TxOn NOTIFY transmitChanged)
    Q_PROPERTY(bool muted READ Muted NOTIFY mutedChanged)
    Q_PROPERTY(int gain READ Gain WRITE SetGain NOTIFY gainChanged)
    Q_PROPERTY(int delay READ Delay WRITE SetDelay NOTIFY delayChanged)
    Q_PROPERTY(int voxLevel READ VoxLevel NOTIFY meterChanged)
    Q_PROPERTY(int meterLevel READ MeterLevel NOTIFY meterChanged)
    Q_PROPERTY(bool lampOn READ LampOn NOTIFY lampChanged)
    Q_PROPERTY(bool lampAlarm READ LampAlarm NOTIFY lampChanged)
    Q_PROPERTY(bool timedOut READ TimedOut NOTIFY timeOutChanged)
    Q_PROPERTY(QString modeText READ ModeText NOTIFY modeChanged)

public:
    explicit VoxStation(const VoxStationOptions& options, QObject* parent = nullptr);
    ~VoxStation() override;

    // Start-up, in three steps so that a window can build itself between them.
    // False when another instance is running: nothing has been touched (the refusal has
    // been shown), and the caller ends the process with a non-zero status.
    bool AcquireInstance();
    // Rig A selected, the rig link connected, the configuration file and the log read.
    void Configure();
    // The CAT poll and the engine started.
    void Run();
    // Timers stopped, every road released, capture and the serial port closed. Nothing keys
    // afterwards. The destructor does it when it has not been done.
    void Shutdown();
    bool IsShutDown() const { return m_shutDown; }
    // Stops every timer that keys or releases, then releases every road; nothing keys after.
    void ReleaseBeforeExit();
    // Runs a handler; an error it raises goes to the error report. False when it raised one.
    bool Guarded(const std::function<void()>& handler);
    // Job control: every road released, as ReleaseNow() does, and the radios' answers awaited
    // briefly, before the program is stopped; nothing keys until ResumeKeying().
    void ReleaseBeforeStop();
    void ResumeKeying();

    QString ModeText() const;
    QString GetSoundDevice(int device) const;

    // What the operator does, from the window or the console.
    // The engine on or off: capture, the render tick and the serial port.
    void setPowered(bool on);
    // Selects a rig: alone (exclusive), or beside the other one. setRigSelected() is a rig
    // button's own flag. A rig this program keyed that leaves the selection is released at
    // once, however it left.
    void selectRig(RigId rig, bool exclusive);
    void setRigSelected(RigId rig, bool selected);
    // Muting (or un-muting) releases every road and ends a transmit time-out.
    void setMuted(bool muted);
    // After a settings dialog, confirmed or cancelled: the settings written, the status
    // shown, the engine restarted with them. Nothing once the station is shut down.
    void applySettingsChange();
    // The operator's Exit: the settings written, then the station shut down. False when the
    // settings could not be written: that has been shown, and the program runs on.
    bool exitSavingSettings();

public slots:
    // The operations. Status and settings.
    void ShowMode();
    void WriteINI();
    // The capture device the operator chose: its number, with its name to find it again
    // when the numbers move.
    void ChooseInputDevice(int device);
    void SetGain(int gain);
    void SetDelay(int delay);

    // VOX engine.
    void PowerCycle();
    void TimerRenderTimer();
    void TimerDelayTimer();
    // Every road released now, as the release timer does; keying starts again at the next
    // tick that passes the threshold.
    void ReleaseNow();
    void TimerLedTimer();

    // Keying.
    void SetTX(bool on);
    void ComPortError();

    // Rig monitor and CAT poll.
    void RigUpdateStatus();
    void RigTypeChangeEvent(TOmniRigX* ASender, RigId ARig);
    void StatusChangeEvent(TOmniRigX* ASender, RigId ARig);
    void ParamsChangeEvent(TOmniRigX* ASender, RigId ARig, int Params);
    void CustomReplyEvent(
        TOmniRigX* ASender, RigId ARig, const QByteArray& Command, const QByteArray& Reply);
    void VisibleChangeEvent(TOmniRigX* ASender);
    void SendFA();
    void CATTimerTimer();
    void ReceiveCAT(
        RigId ARig, const quint8* command, int commandCount, const quint8* reply, int replyCount);
    // Shows the rig link's settings window, where there is one.
    void OmniRigSettings();

public:
    // The rig of the latest parameter or status event; null before the first.
    IRigX* ReportedRig() const { return m_reportedRig; }

    // State.
    bool Running() const { return m_running; }
    bool TxOn() const { return m_txOn; }
    bool Muted() const { return m_muted; }
    bool RigSelected(RigId rig) const { return slot(rig).selected; }
    int Gain() const { return m_gain; }
    int Delay() const { return m_delay; }
    // The latest tick's VOX level and meter level (what the Gain band shows).
    int VoxLevel() const { return m_voxLevel; }
    int MeterLevel() const { return m_meterLevel; }
    bool LampOn() const { return m_lampOn; }
    // The lamp blinks red: muted, or released by the transmit time-out.
    bool LampAlarm() const { return m_lampAlarm; }
    // Released by the transmit time-out and not yet allowed to key again.
    bool TimedOut() const { return m_detector.timedOut(); }
    const RigLamp& RigLampState(RigId rig) const { return slot(rig).lamp; }
    // The keying roads: each radio's, then the serial lines.
    const PttRoad& Road(RigId rig) const { return slot(rig).road; }
    const PttRoad& SerialRoad() const;
    int InputDevice() const { return m_settings.InputDevice; }
    quint32 RecordChannel() const { return m_recordChannel; }
    const VokeySettings& Settings() const { return m_settings; }
    const VoxDetector& Detector() const { return m_detector; }
    AudioEngine& Audio() { return *m_audio; }
    TComPort& ComPort() { return *m_comPort; }
    // The rig-control client; null before start-up created it.
    TOmniRigX* OmniRig() const { return m_omniRig; }
    ErrorReport& Errors() { return *m_errorReport; }
    IMessageBoxes& Messages() { return m_messages; }
    TLog& Log() { return m_log; }

    // Fast attack (ATTACK=FAST): transmit may start on a rise of the voice band over its
    // noise floor, not only on the 16-tick average (VoxDetector::Attack). Read with the
    // configuration, written with it.
    bool FastAttack() const { return m_detector.attack() == VoxDetector::Attack::Fast; }
    void SetFastAttack(bool fast);

signals:
    void runningChanged(bool running);
    // Transmit went on or off.
    void transmitChanged(bool on);
    // Every SetTX call, after it has been carried out.
    void TransmitSet(bool on);
    // Every render tick with audio: the VOX level, the Gain and transmit after the tick.
    void VoxTicked(int voxLevel, int gain, bool transmitting);
    // Every render tick with audio: the spectrum the level was measured on.
    void frameReady(const float* snapshot);
    void meterChanged(int meterLevel);
    void mutedChanged(bool muted);
    // The selection changed: RigSelected() tells.
    void selectionChanged();
    void gainChanged(int gain);
    void delayChanged(int delay);
    void lampChanged(bool on, bool alarm);
    // A rig's lamp (online, transmit colour) and its name.
    void rigLampChanged(RigId rig);
    void rigNameChanged(RigId rig);
    void timeOutChanged(bool timedOut);
    void modeChanged(const QString& text);
    // Some road may be keyed (true: sent before the first road is keyed), or every road this
    // program keyed has been released (false).
    void keyedChanged(bool keyed);
    // The open serial port's file descriptor at each opening, -1 before each closing.
    void serialHandleChanged(int fd);
    // The serial port's device went away (unplugged), or opened again while the engine ran.
    void serialPortLost(const QString& port);
    void serialPortFound(const QString& port);
    void fastAttackChanged(bool fast);
    // SIGINT, SIGTERM, SIGHUP or SIGQUIT arrived: the program is to end as an operator's close
    // does.
    void exitRequested(int signalNumber);

private:
    // Carries out a tick's keying decision (VoxStationVox.cpp).
    void ApplyKeying(const VoxDetector::TickResult& result);
    void ShowTimeOut(bool on);
    void setLamp(bool on);
    void setLampAlarm(bool alarm);
    void blinkAlarm(bool on);
    void setRunning(bool running);
    void setTransmit(bool on);
    void setKeyed(bool keyed);
    // The capture device by its name when its number has moved.
    void FindInputDevice();
    // The serial port (VoxStationSerial.cpp): open and close with their messages, and the
    // watch that finds a lost port again while the engine runs.
    bool HasSerialPort() const;
    void OpenSerialPort();
    void CloseSerialPort();
    void WatchSerialPort();
    // Runs a step on the port; a device that has gone away closes the port, once reported.
    void DriveSerial(const std::function<void()>& step);
    bool DeviceGone();
    void SerialPortLost();

    // Start-up steps.
    void ConnectRigs();
    void ReadConfiguration();
    void ApplySerialSettings();
    QString SerialPortName() const;
    // Keying helpers, VoxStationKeying.cpp.
    RigSlot& slot(RigId rig) { return m_rigs[rigIndex(rig)]; }
    const RigSlot& slot(RigId rig) const { return m_rigs[rigIndex(rig)]; }
    IRigX* Rig(RigId rig) const;
    // The selection flags; a rig this program keyed that leaves the selection is released.
    void SetSelection(bool rigA, bool rigB);
    // The radios this program keyed and has not released.
    QList<RigId> KeyedRigs() const;
    bool AnyRoadKeyed() const;
    bool TransmitsOnItsOwn(const RigSlot& rig) const;
    // Waits briefly for each keyed radio's release; says which ones may still be keyed, in a
    // box that waits for the operator when `untilSeen` (the program is about to end).
    void WaitForRigRelease(const QList<RigId>& keyed, bool untilSeen);
    void ReportTxRefused(RigId rig, const QString& reason);
    // Rig monitor helpers, VoxStationRigMonitor.cpp.
    void UpdateRigLamp(RigSlot& rig);
    void setRigLamp(RigSlot& rig, const RigLamp& lamp, bool always = false);
    bool ShouldPoll(RigSlot& rig);

    VoxStationOptions m_options;
    IMessageBoxes& m_messages;
    std::unique_ptr<ErrorReport> m_errorReport;
    std::unique_ptr<SingleInstance> m_instance;
    ExitSignals* m_exitSignals = nullptr;

    QTimer* m_timerRender = nullptr;
    QTimer* m_timerDelay = nullptr;
    QTimer* m_timerLed = nullptr;
    QTimer* m_catTimer = nullptr;

    // Devices.
    std::unique_ptr<AudioEngine> m_audio;
    TComPort* m_comPort = nullptr;
    TOmniRigX* m_omniRig = nullptr; // child of the station
    IRigX* m_reportedRig = nullptr;
    // The radios, each with its keying road; the serial lines' road. A rig's transmit report
    // is only followed when it is not this program's own keying, nor, for a while after a
    // release, that keying's answer still on its way (a receive report seen meanwhile may be
    // older than the keying).
    std::array<RigSlot, 2> m_rigs;
    SerialPttRoad* m_serialRoad = nullptr;
    QTimer* m_serialWatch = nullptr; // runs with the engine
    bool m_serialLost = false; // reported lost, not found again yet
    VoxDetector m_detector;
    QElapsedTimer m_clock;
    int m_gain = 0;
    int m_delay = 0;
    int m_voxLevel = 0;
    int m_meterLevel = 0;
    bool m_lampOn = false;
    bool m_lampAlarm = false;
    bool m_timeOutShown = false;
    bool m_running = false;
    bool m_muted = false;
    quint32 m_recordChannel = 0;
    bool m_txOn = false;
    // Whether any road may be keyed (keyedChanged).
    bool m_keyed = false;
    bool m_shutDown = false;
    // Set by the release that ends the program: SetTX(true) does nothing from then on.
    bool m_keyingEnded = false;
    // Set from ReleaseBeforeStop() to ResumeKeying(): SetTX(true) does nothing meanwhile.
    bool m_keyingHeld = false;

    // Settings and log.
    VokeySettings m_settings;
    TLog m_log;

    // System suspend (VoxStationSleep.cpp): every road is released before the sleep, and
    // the lock that holds the sleep up is dropped once the radios confirmed; after the wake
    // nothing keys until a tick that does not pass.
    enum class SleepHold { None, Asleep, Woken };
    void StartSleepWatch();
    void PrepareForSleep();
    void WakeFromSleep();
    // Whether this tick may not key; a tick that does not pass after the wake ends the hold.
    bool SleepHoldsKeying(bool passed);
    SleepWatch* m_sleepWatch = nullptr;
    SleepHold m_sleepHold = SleepHold::None;
    // The guard process (VoxStationGuard.cpp): started by AcquireInstance, told the rig
    // servers once they are read. Null without one.
    void StartGuard();
    void ConnectGuard();
    void ReportGuardTrouble(const QString& text);
    TxGuard* m_guard = nullptr;
    QString m_guardTrouble; // said before the log was open: written to it once it is

    // The capture device lost and found (VoxStationCapture.cpp): capture that stops while the
    // engine runs (a USB interface unplugged, the sound server restarted), or that cannot
    // start, is closed and said once, then opened again every 2 s from the configured device
    // until it delivers audio. Running() stays true meanwhile: the engine is on as the
    // operator left it, the serial port stays open, and no tick keys without audio.
public:
    // Capture is gone and not delivering again yet.
    bool CaptureLost() const { return m_captureLost; }
signals:
    // Capture stopped (or could not start) while the engine ran, and delivers again; the
    // device as the mode line names it.
    void captureLost(const QString& device);
    void captureFound(const QString& device);

private:
    void StartCapture();
    void StopCapture();
    bool OpenCapture(bool strict);
    // Whether the capture delivers audio now; notes a lost capture that delivers again.
    bool CaptureDelivers();
    void WatchCapture();
    void LoseCapture(const QString& reason);
    void ReportCaptureLost(const QString& reason);
    QString CaptureName() const;
    QTimer* m_captureWatch = nullptr; // runs with the engine
    bool m_captureLost = false;

    // The rigctld processes of the rig link (VoxStationRigServers.cpp): their start and exit
    // said to the guard, the log and the listeners, their standard error logged, what the
    // operator must fix shown. And the rig settings window's PTT test: the rig keyed on its
    // own road until the radio confirms transmit (1 s at most), then released; any other
    // release, and the window going away, ends it too.
signals:
    void rigServerStarted(RigId rig);
    void rigServerExited(RigId rig, const QString& status);

public:
    std::optional<RigId> PttTestRig() const { return m_pttTest.rig; }

private:
    struct PttTest {
        std::optional<RigId> rig;
        QElapsedTimer clock;
        qint64 txSeenMs = -1;
        qint64 rxSeenMs = -1;
        qint64 releasedAtMs = 0;
        bool releasing = false;
    };
    void ConnectRigServers();
    // Empty when a PTT test of the rig may start now; otherwise why not.
    QString PttTestUnavailable(RigId rig) const;
    void UpdatePttTestAvailability();
    void StartPttTest(RigId rig);
    void FollowPttTest();
    void ReleasePttTest();
    void EndPttTest();
    PttTest m_pttTest;
    QTimer* m_pttTestTimer = nullptr;
};
