// The station's start-up, its configuration file and its closing.
#include "VoxStation.h"

#include "ExitSignals.h"
#include "MessageBoxes.h"
#include "SerialPttRoad.h"
#include "SingleInstance.h"
#include "TxGuard.h"

#include "rig/OmniRigX.h"
#include "serial/ComPort.h"

#include <QDir>
#include <QTimer>

#include <exception>

namespace {

QTimer* makeTimer(QObject* parent, const char* name, int interval)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(interval);
    return timer;
}

} // namespace

VoxStation::VoxStation(const VoxStationOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_messages(*options.messages)
    , m_errorReport(std::make_unique<ErrorReport>(*options.messages))
    , m_audio(std::make_unique<AudioEngine>())
    , m_rigs { RigSlot(RigId::A, [this] { return Rig(RigId::A); }),
        RigSlot(RigId::B, [this] { return Rig(RigId::B); }) }
{
    setObjectName(QStringLiteral("Station"));
    m_clock.start();
    if (!m_options.audioFile.isEmpty())
        m_audio->SetFileSource(m_options.audioFile, m_options.audioLoop);

    m_timerRender = makeTimer(this, "TimerRender", 33);
    m_timerDelay = makeTimer(this, "TimerDelay", 0);
    m_timerLed = makeTimer(this, "TimerLed", 1000);
    m_catTimer = makeTimer(this, "CATTimer", 500);
    // While the engine runs: a lost capture device and a lost serial port are tried again.
    m_captureWatch = makeTimer(this, "CaptureWatch", DeviceRetryMs);
    m_serialWatch = makeTimer(this, "SerialWatch", DeviceRetryMs);
    m_timerRender->setTimerType(Qt::PreciseTimer);
    // A coarse timer may fire up to 5 % early, which would cut the end of the last word.
    m_timerDelay->setTimerType(Qt::PreciseTimer);
    connect(
        m_timerRender, &QTimer::timeout, this, [this] { Guarded([this] { TimerRenderTimer(); }); });
    connect(
        m_timerDelay, &QTimer::timeout, this, [this] { Guarded([this] { TimerDelayTimer(); }); });
    connect(m_timerLed, &QTimer::timeout, this, [this] { Guarded([this] { TimerLedTimer(); }); });
    connect(m_catTimer, &QTimer::timeout, this, [this] { Guarded([this] { CATTimerTimer(); }); });
    connect(
        m_captureWatch, &QTimer::timeout, this, [this] { Guarded([this] { WatchCapture(); }); });
    connect(
        m_serialWatch, &QTimer::timeout, this, [this] { Guarded([this] { WatchSerialPort(); }); });

    // The port as the program holds it: COM1, 9600 bit/s, 8N1, no flow control, DTR and RTS
    // driven by keying only, every line event watched.
    m_comPort = new TComPort(this);
    m_comPort->setObjectName(QStringLiteral("ComPort"));
    m_comPort->SetPort(QStringLiteral("COM1"));
    m_comPort->SetBaudRate(br9600);
    m_comPort->SetDataBits(dbEight);
    m_comPort->Parity().SetBits(prNone);
    m_comPort->SetStopBits(sbOneStopBit);
    m_comPort->FlowControl().SetFlowControl(fcNone);
    m_comPort->FlowControl().SetControlDTR(dtrDisable);
    m_comPort->FlowControl().SetControlRTS(rtsDisable);
    m_comPort->SetEvents(AllComEvents);
    m_comPort->OnError = [this](QObject*, TComErrors) { Guarded([this] { ComPortError(); }); };
    m_serialRoad = new SerialPttRoad(*m_comPort, this);
    connect(m_serialRoad, &SerialPttRoad::handleChanged, this, &VoxStation::serialHandleChanged);
    m_errorReport->setLog([this](const QString& line) { m_log.WriteLine(1, line); });
    // Failures the serial component cannot hand to a caller reach the same report.
    SetApplicationErrorReport([this](const QString& text) { m_errorReport->show(text); });
}

VoxStation::~VoxStation()
{
    // Whatever ends the station, transmit is not left on.
    if (!m_shutDown)
        Shutdown();
    SetApplicationErrorReport({});
}

bool VoxStation::AcquireInstance()
{
    // A second start must leave the running instance's log, configuration, tray icon and
    // devices as they are, so the check comes before anything touches them.
    m_instance = std::make_unique<SingleInstance>(QStringLiteral("VOKEY"));
    if (!m_instance->acquire()) {
        m_messages.fatal(QStringLiteral("VOKEY (2.0) Initialization Failure"),
            QStringLiteral("Instance of Program Already Running"));
        m_shutDown = true; // nothing to release: nothing was started
        return false;
    }
    if (m_options.handleSignals && !m_exitSignals) {
        m_exitSignals = new ExitSignals(this);
        connect(m_exitSignals, &ExitSignals::exitRequested, this, &VoxStation::exitRequested);
    }
    StartGuard();
    return true;
}

void VoxStation::Configure()
{
    m_settings.InputDevice = -1;
    setRunning(false);
    for (RigSlot& rig : m_rigs)
        setRigLamp(rig, RigLamp {}, true);
    setLamp(false);
    SetSelection(false, false);
    selectRig(RigId::A, true);
    ShowMode();

    ConnectRigs();
    m_muted = false;

    ReadConfiguration();
    ApplySerialSettings();
    ConnectGuard();
}

void VoxStation::Run()
{
    m_catTimer->setInterval(500);
    m_catTimer->start();
    setPowered(true);
    if (m_options.watchSleep)
        StartSleepWatch();
}

bool VoxStation::Guarded(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        m_errorReport->show(QString::fromUtf8(error.what()));
    } catch (...) {
        m_errorReport->show(QStringLiteral("Unknown error"));
    }
    return false;
}

void VoxStation::ReleaseBeforeExit()
{
    // Nothing may key again: the wait for the radios below runs the event loop, in which a
    // render tick would otherwise key both roads once more.
    m_keyingEnded = true;
    m_timerRender->stop();
    m_timerDelay->stop();
    m_timerLed->stop();
    // The release must not be stopped by a failing road: each is tried on its own.
    const QList<RigId> keyed = KeyedRigs();
    Guarded([this] { SetTX(false); });
    WaitForRigRelease(keyed, true);
    m_detector.release();
    m_timerDelay->stop();
    setLamp(false);
}

void VoxStation::Shutdown()
{
    m_shutDown = true;
    // Nothing may key again once the program is closing.
    m_timerRender->stop();
    m_timerLed->stop();
    m_catTimer->stop();
    // Nor open a device again while the release below waits for the radios.
    m_captureWatch->stop();
    m_serialWatch->stop();
    ReleaseBeforeExit();
    m_audio->RecordFree();
    m_audio->Free();
    CloseSerialPort();
    // The radios are released: the links end, and the rigctld processes this program runs
    // with them.
    if (m_omniRig)
        m_omniRig->Close();
    // The engine is off for good. Not announced: what a view would show of it is going
    // with the program, and the console's last lines are the release and "exit".
    m_running = false;
    // After the final release: the guard ends without touching anything.
    if (m_guard)
        m_guard->bye();
}

void VoxStation::applySettingsChange()
{
    // Confirmed or cancelled, the settings are written and the engine restarts with them.
    // Closed meanwhile (a signal ended the program): nothing more may be written or opened.
    if (m_shutDown)
        return;
    WriteINI();
    ShowMode();
    PowerCycle();
}

bool VoxStation::exitSavingSettings()
{
    // A failing write is shown and the program runs on as before.
    if (!Guarded([this] { WriteINI(); }))
        return false;
    Shutdown();
    return true;
}

QString VoxStation::GetSoundDevice(int device) const
{
    if (device == -1)
        return QStringLiteral("Default");
    AudioDeviceInfo info;
    if (!m_audio->RecordGetDeviceInfo(device, &info))
        return QString();
    return QString::fromUtf8(info.name);
}

QString VoxStation::ModeText() const
{
    return QStringLiteral("Soundcard:") + QString::number(m_settings.InputDevice) + ' '
        + GetSoundDevice(m_settings.InputDevice) + QStringLiteral(" Serial:")
        + (HasSerialPort() ? SerialPortName() : QStringLiteral("none"));
}

void VoxStation::ShowMode()
{
    emit modeChanged(ModeText());
}

QString VoxStation::SerialPortName() const
{
    return m_comPort->Port();
}

void VoxStation::ChooseInputDevice(int device)
{
    // The name goes with the number, so that the device is found again when the numbers
    // move; a device kept as it was keeps its name (it may be unplugged just now).
    if (device != m_settings.InputDevice || m_settings.DeviceName.isEmpty())
        m_settings.DeviceName = device >= 0 ? GetSoundDevice(device) : QString();
    m_settings.InputDevice = device;
}

void VoxStation::SetGain(int gain)
{
    if (gain == m_gain)
        return;
    m_gain = gain;
    emit gainChanged(gain);
}

void VoxStation::SetDelay(int delay)
{
    if (delay == m_delay)
        return;
    m_delay = delay;
    emit delayChanged(delay);
}

void VoxStation::SetFastAttack(bool fast)
{
    if (fast == FastAttack())
        return;
    m_detector.setAttack(fast ? VoxDetector::Attack::Fast : VoxDetector::Attack::Average);
    emit fastAttackChanged(fast);
}

void VoxStation::ReadConfiguration()
{
    const QString workDir = WorkDirFrom(QDir::currentPath());
    m_log.SetFileName(workDir + QStringLiteral("VOKEY.Log"));
    m_log.SetMaxLevel(1);
    const QString configPath = ConfigPathFromArguments(m_options.arguments, workDir);
    m_settings = ReadINI(configPath, workDir);
    SetGain(m_settings.Gain);
    SetDelay(m_settings.Delay);
    SetFastAttack(m_settings.Attack == VoxDetector::Attack::Fast);
    m_detector.setTxTimeoutMs(qint64(m_settings.TxTimeout) * 1000);
    StartLog(m_log, m_settings);
}

void VoxStation::ApplySerialSettings()
{
    m_comPort->SetBaudRate(BaudRateFromSpeed(SpeedFromBaudSetting(m_settings.BaudRate)));
    m_comPort->SetPort(m_settings.ComPort);
    // The two lines are driven by keying alone.
    m_comPort->FlowControl().SetControlDTR(dtrDisable);
    m_comPort->FlowControl().SetControlRTS(rtsDisable);
}

void VoxStation::WriteINI()
{
    m_settings.Gain = m_gain;
    m_settings.Delay = m_delay;
    m_settings.Attack = m_detector.attack();
    m_settings.ComPort = m_comPort->Port();
    m_settings.BaudRate = BaudRateSpeed(m_comPort->BaudRate());
    ::WriteINI(m_settings);
}
