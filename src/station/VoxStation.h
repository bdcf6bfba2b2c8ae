#pragma once

#include "Keyer.h"
#include "RigMonitor.h"
#include "VoxStationOptions.h"

#include "core/TLog.h"
#include "core/VokeySettings.h"
#include "core/VoxDetector.h"

#include <QElapsedTimer>

class AudioEngine;
class CaptureWatch;
class PttTest;
class QTimer;
class ReleaseWait;
class SerialLine;
class TransmitLamp;
class TComPort;
struct StationServices;

// The station: everything VOKEY does except drawing and the process around it. The facade
// the window and the console drive: it owns the capture engine and its 33 ms render clock
// with the level detector, the release and lamp timers, the settings and the log, and
// connects its parts: the keyer (the roads), the rig monitor, the PTT test, the capture
// watch and the serial line. Operations raise their errors to the caller; the station's own
// timers and events hand them to the error report.
class VoxStation : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ Running NOTIFY runningChanged)
    Q_PROPERTY(bool transmitting READ TxOn NOTIFY transmitChanged)
    Q_PROPERTY(bool muted READ Muted NOTIFY mutedChanged)
    Q_PROPERTY(int gain READ Gain WRITE SetGain NOTIFY gainChanged)
    Q_PROPERTY(int delay READ Delay WRITE SetDelay NOTIFY delayChanged)

public:
    explicit VoxStation(const VoxStationOptions& options, QObject* parent = nullptr);
    ~VoxStation() override;

    // Rig A selected, the rig link connected, the configuration file and the log read.
    void Configure();
    // The CAT poll and the engine started.
    void Run();
    // Timers stopped, every road released and the radios' answers awaited, capture and the
    // port closed. Nothing keys afterwards. The destructor does it when it has not been done.
    void Shutdown();
    bool IsShutDown() const { return m_shutDown; }
    // Shut down with a radio whose release was never confirmed (said to the operator): the
    // program's exit status says so too.
    bool LeftTransmitting() const { return m_leftTransmitting; }
    // Runs a handler; an error it raises goes to the error report. False when it raised one.
    bool Guarded(const std::function<void()>& handler);
    // A line in the log that the operator is shown as well.
    void Report(const QString& text);

    // What the process around the station does: keying held and lifted for a reason, and
    // every road released with the radios' answers awaited without blocking.
    void holdKeying(KeyingHold reason) { m_keyer->hold(reason); }
    void liftKeying(KeyingHold reason) { m_keyer->lift(reason); }
    enum class ReleaseFor { Stop, Sleep };
    void releaseAndAwait(ReleaseFor why, std::function<void()> done);

    // What the operator does, from the window or the console.
    void setPowered(bool on);
    void selectRig(RigId rig, bool exclusive) { m_keyer->select(rig, exclusive); }
    void setRigSelected(RigId rig, bool on) { m_keyer->setSelected(rig, on); }
    // Muting (or un-muting) releases every road and ends a transmit time-out.
    void setMuted(bool muted);
    // After a settings dialog, confirmed or cancelled: the settings written, the status
    // shown, the engine restarted with them. Nothing once the station is shut down.
    void applySettingsChange();
    // The operator's Exit: the settings written, then the station shut down. False when the
    // settings could not be written: that has been shown, and the program runs on.
    bool exitSavingSettings();

public slots:
    void WriteINI();
    // The capture device the operator chose: its number, with its name to find it again.
    void ChooseInputDevice(int device);
    void SetGain(int gain);
    void SetDelay(int delay);
    void SetFastAttack(bool fast);
    void TimerRenderTimer();
    void SetTX(bool on) { m_keyer->setTx(on); }
    void ComPortError();
    // Shows the rig link's settings window, where there is one.
    void OmniRigSettings();

public:
    QString ModeText() const;
    bool Running() const { return m_running; }
    bool TxOn() const { return m_keyer->transmitting(); }
    bool Muted() const { return m_muted; }
    bool RigSelected(RigId rig) const { return m_keyer->selected(rig); }
    int Gain() const { return m_gain; }
    int Delay() const { return m_delay; }
    // The latest tick's VOX level and meter level (what the Gain band shows).
    int VoxLevel() const { return m_voxLevel; }
    int MeterLevel() const { return m_meterLevel; }
    bool LampOn() const;
    // The lamp blinks red: muted, or released by the transmit time-out.
    bool LampAlarm() const;
    bool TimedOut() const { return m_detector.timedOut(); }
    // Fast attack (ATTACK=FAST): transmit may start on a rise of the voice band.
    bool FastAttack() const { return m_detector.attack() == VoxDetector::Attack::Fast; }
    bool CaptureLost() const;
    const RigLamp& RigLampState(RigId rig) const { return m_monitor->lamp(rig); }
    const PttRoad& Road(RigId rig) const { return m_keyer->road(rig); }
    std::optional<RigId> PttTestRig() const;
    int InputDevice() const { return m_settings.InputDevice; }
    quint32 RecordChannel() const;
    const VokeySettings& Settings() const { return m_settings; }
    const VoxDetector& Detector() const { return m_detector; }
    AudioEngine& Audio() { return *m_audio; }
    TComPort& ComPort();
    // The rig-control client; null before start-up created it.
    TOmniRigX* OmniRig() const { return m_omniRig; }
    RigMonitor& Monitor() { return *m_monitor; }
    IMessageBoxes& Messages() { return m_messages; }
    TLog& Log() { return m_log; }

signals:
    void runningChanged(bool running);
    // Every render tick, first thing: the main thread runs.
    void ticked();
    void transmitChanged(bool on);
    // Every SetTX call, after it has been carried out.
    void TransmitSet(bool on);
    // Every render tick with audio: the VOX level, the Gain and transmit after the tick, and
    // the spectrum the level was measured on.
    void VoxTicked(int voxLevel, int gain, bool transmitting);
    void frameReady(const float* snapshot);
    void meterChanged(int meterLevel);
    void mutedChanged(bool muted);
    void selectionChanged();
    void gainChanged(int gain);
    void delayChanged(int delay);
    void lampChanged(bool on, bool alarm);
    void rigLampChanged(RigId rig);
    void rigNameChanged(RigId rig);
    void timeOutChanged(bool timedOut);
    void modeChanged(const QString& text);
    void fastAttackChanged(bool fast);
    // Some road may be keyed (true: before the first road is keyed), or every road this
    // program keyed has been released (false).
    void keyedChanged(bool keyed);
    // The same for each radio (told before it is keyed, and once its release is confirmed).
    void rigKeyedChanged(RigId rig, bool keyed);
    // The open serial port's file descriptor at each opening, -1 before each closing.
    void serialHandleChanged(int fd);
    void serialPortLost(const QString& port);
    void serialPortFound(const QString& port);
    void captureLost(const QString& device);
    void captureFound(const QString& device);
    void rigServerStarted(RigId rig, qint64 pid);
    void rigServerExited(RigId rig, const QString& status);
    // The final release is done (Shutdown): nothing of the station keys any more.
    void closed();

private:
    void ShowMode();
    void PowerCycle();
    void TimerDelayTimer();
    // Every road released now, as the release timer does.
    void ReleaseNow() { TimerDelayTimer(); }
    void connectParts();
    void ConnectRigs();
    void ReadConfiguration();
    QString configFile() const;
    void ApplyKeying(const VoxDetector::TickResult& result);
    void setRunning(bool running);
    // Awaits the release of these radios; those not released are said, unless `atExit`
    // (the way out says them after the links' last try).
    ReleaseWait* awaitRelease(const QList<RigId>& keyed, bool revive, int waitMs,
        std::function<void()> done, bool atExit);
    // The radios keyed when the way out began.
    QList<RigId> releaseBeforeExit();
    void sayMayStillTransmit(RigId rig, bool atExit);

    VoxStationOptions m_options;
    IMessageBoxes& m_messages;
    std::unique_ptr<ErrorReport> m_errorReport;
    TLog m_log;
    std::unique_ptr<StationServices> m_services;
    VokeySettings m_settings;
    VoxDetector m_detector;
    QElapsedTimer m_clock;
    std::unique_ptr<AudioEngine> m_audio;

    QTimer* m_timerRender = nullptr;
    QTimer* m_timerDelay = nullptr;

    // The parts, children of the station.
    SerialLine* m_serial = nullptr;
    Keyer* m_keyer = nullptr;
    RigMonitor* m_monitor = nullptr;
    PttTest* m_pttTest = nullptr;
    CaptureWatch* m_capture = nullptr;
    TransmitLamp* m_lamp = nullptr;
    TOmniRigX* m_omniRig = nullptr;

    int m_gain = 0;
    int m_delay = 0;
    int m_voxLevel = 0;
    int m_meterLevel = 0;
    bool m_running = false;
    bool m_muted = false;
    bool m_configured = false;
    bool m_shutDown = false;
    bool m_leftTransmitting = false;
};
