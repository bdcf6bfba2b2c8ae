// The station's start-up, its parts wired together, its configuration file and its closing.
#include "VoxStation.h"

#include "CaptureWatch.h"
#include "PttTest.h"
#include "ReleaseWait.h"
#include "SerialLine.h"
#include "StationServices.h"
#include "TransmitLamp.h"

#include "audio/AudioEngine.h"
#include "rig/OmniRigX.h"
#include "serial/ComPort.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

namespace {

QTimer* makeTimer(QObject* parent, const char* name, int interval)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(interval);
    return timer;
}

// logind lets a delay lock hold a suspend up for InhibitDelayMaxSec, 5 s unless configured.
constexpr int SleepReleaseWaitMs = 2000;

} // namespace

VoxStation::VoxStation(const VoxStationOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_messages(*options.messages)
    , m_errorReport(std::make_unique<ErrorReport>(*options.messages))
    , m_services(std::make_unique<StationServices>(
          StationServices { m_log, *m_errorReport, *options.messages }))
    , m_audio(std::make_unique<AudioEngine>())
{
    setObjectName(QStringLiteral("Station"));
    m_clock.start();
    if (!m_options.audioFile.isEmpty())
        m_audio->SetFileSource(m_options.audioFile, m_options.audioLoop);

    m_timerRender = makeTimer(this, "TimerRender", 33);
    m_timerDelay = makeTimer(this, "TimerDelay", 0);
    m_timerRender->setTimerType(Qt::PreciseTimer);
    // A coarse timer may fire up to 5 % early, which would cut the end of the last word.
    m_timerDelay->setTimerType(Qt::PreciseTimer);
    connect(
        m_timerRender, &QTimer::timeout, this, [this] { Guarded([this] { TimerRenderTimer(); }); });
    connect(
        m_timerDelay, &QTimer::timeout, this, [this] { Guarded([this] { TimerDelayTimer(); }); });

    m_lamp = new TransmitLamp(this);
    m_serial = new SerialLine(*m_services, DeviceRetryMs, this);
    m_keyer = new Keyer(
        [this](RigId rig) -> IRigX* { return m_omniRig ? m_omniRig->Rig(rig) : nullptr; },
        *m_serial, this);
    m_monitor = new RigMonitor(*m_keyer, *m_services, this);
    m_pttTest = new PttTest(*m_keyer, *m_services, this);
    m_capture = new CaptureWatch(
        *m_audio, m_settings, *m_services,
        [this] {
            if (TxOn())
                TimerDelayTimer();
        },
        DeviceRetryMs, this);
    connectParts();
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

void VoxStation::connectParts()
{
    // The PTT test hears of a release and of a change of transmit before the views do.
    m_keyer->setAfterRelease([this] { m_pttTest->release(); });
    connect(m_keyer, &Keyer::transmitChanged, m_pttTest, &PttTest::updateAvailability);
    connect(m_keyer, &Keyer::transmitChanged, this, &VoxStation::transmitChanged);
    connect(m_keyer, &Keyer::transmitSet, this, &VoxStation::TransmitSet);
    connect(m_keyer, &Keyer::keyedChanged, this, &VoxStation::keyedChanged);
    connect(m_keyer, &Keyer::rigKeyedChanged, this, &VoxStation::rigKeyedChanged);
    connect(m_keyer, &Keyer::selectionChanged, this, &VoxStation::selectionChanged);
    connect(
        m_keyer, &Keyer::refused, this, [this](const QString& text) { m_services->report(text); });
    connect(m_monitor, &RigMonitor::rigLampChanged, this, &VoxStation::rigLampChanged);
    connect(m_monitor, &RigMonitor::rigNameChanged, this, &VoxStation::rigNameChanged);
    connect(m_monitor, &RigMonitor::rigServerStarted, this, &VoxStation::rigServerStarted);
    connect(m_monitor, &RigMonitor::rigServerExited, this, &VoxStation::rigServerExited);
    connect(m_monitor, &RigMonitor::rigReported, m_pttTest,
        [this] { Guarded([this] { m_pttTest->follow(); }); });
    connect(
        m_monitor, &RigMonitor::testAvailabilityChanged, m_pttTest, &PttTest::updateAvailability);
    connect(m_monitor, &RigMonitor::settingsWindowClosed, m_pttTest,
        [this] { Guarded([this] { m_pttTest->end(); }); });
    connect(m_serial, &SerialLine::handleChanged, this, &VoxStation::serialHandleChanged);
    connect(m_serial, &SerialLine::lost, this, &VoxStation::serialPortLost);
    connect(m_serial, &SerialLine::found, this, &VoxStation::serialPortFound);
    connect(m_capture, &CaptureWatch::captureLost, this, &VoxStation::captureLost);
    connect(m_capture, &CaptureWatch::captureFound, this, &VoxStation::captureFound);
    connect(m_lamp, &TransmitLamp::changed, this, &VoxStation::lampChanged);
    connect(m_lamp, &TransmitLamp::timeOutChanged, this, &VoxStation::timeOutChanged);
}

void VoxStation::Configure()
{
    m_configured = true;
    m_settings.InputDevice = -1;
    setRunning(false);
    m_monitor->reset();
    m_lamp->set(false);
    m_keyer->setSelection(false, false);
    selectRig(RigId::A, true);
    ShowMode();

    ConnectRigs();
    m_muted = false;

    ReadConfiguration();
    m_serial->applySettings(m_settings);
    // The log is open: rig settings that cannot be used are said, as start-up errors are.
    if (m_omniRig) {
        for (const QString& problem : m_omniRig->TakeSettingsProblems())
            m_services->report(problem);
    }
}

void VoxStation::Run()
{
    m_monitor->startPolling();
    setPowered(true);
}

bool VoxStation::Guarded(const std::function<void()>& handler)
{
    return m_services->guarded(handler);
}

void VoxStation::Report(const QString& text)
{
    m_services->report(text);
}

QString VoxStation::configFile() const
{
    if (!m_options.configFile.isEmpty())
        return m_options.configFile;
    return WorkDirFrom(QDir::currentPath()) + QStringLiteral("VOKEY.INI");
}

void VoxStation::ConnectRigs()
{
    m_omniRig = m_options.makeOmniRig ? m_options.makeOmniRig().release() : new TOmniRigX;
    m_omniRig->setParent(this);
    m_omniRig->setObjectName(QStringLiteral("OmniRig"));
    if (m_options.rigTimings)
        m_omniRig->SetTimings(*m_options.rigTimings);
    m_omniRig->SetSettingsViewFactory(m_options.rigSettingsView);
    // The rig settings are kept in the configuration file, which is only read later on;
    // its name is known already.
    m_omniRig->SetConfigFile(configFile());
    // Before the link connects: a rigctld it runs may have a problem to tell at once.
    m_monitor->setLink(m_omniRig);
    m_pttTest->setLink(m_omniRig);
    try {
        m_omniRig->Connect();
        RigMonitor* monitor = m_monitor;
        const auto handle = [this, monitor](auto handler) {
            return [this, monitor, handler](
                       auto... arguments) { Guarded([&] { (monitor->*handler)(arguments...); }); };
        };
        connect(
            m_omniRig, &TOmniRigX::OnRigTypeChange, this, handle(&RigMonitor::RigTypeChangeEvent));
        connect(
            m_omniRig, &TOmniRigX::OnStatusChange, this, handle(&RigMonitor::StatusChangeEvent));
        connect(
            m_omniRig, &TOmniRigX::OnParamsChange, this, handle(&RigMonitor::ParamsChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnCustomReply, this, handle(&RigMonitor::CustomReplyEvent));
        connect(
            m_omniRig, &TOmniRigX::OnVisibleChange, this, handle(&RigMonitor::VisibleChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnTxRefused, m_keyer, &Keyer::reportRefused);
        // A release counts once the radio confirmed it; until then it is sent again.
        connect(m_omniRig, &TOmniRigX::OnReleaseUnconfirmed, this,
            [this](RigId rig, const QString& reason) {
                m_services->report(QStringLiteral("Rig %1 did not confirm receive: %2; sending "
                                                  "it again")
                                       .arg(rigLetter(rig), reason));
            });
        connect(m_omniRig, &TOmniRigX::OnMarkProblem, this,
            [this](const QString& text) { m_services->report(text); });
        connect(m_omniRig, &TOmniRigX::OnReleaseConfirmed, m_keyer, [this] {
            if (!m_keyer->transmitting())
                m_keyer->updateKeyed();
        });
    } catch (...) {
        // The program runs on without rig events; each rig access tries to connect again.
    }
}

void VoxStation::ReadConfiguration()
{
    const QString workDir = WorkDirFrom(QDir::currentPath());
    m_log.SetFileName(workDir + QStringLiteral("VOKEY.Log"));
    m_log.SetMaxLevel(1);
    m_settings = ReadINI(configFile(), workDir);
    SetGain(m_settings.Gain);
    SetDelay(m_settings.Delay);
    SetFastAttack(m_settings.Attack == VoxDetector::Attack::Fast);
    m_detector.setTxTimeoutMs(qint64(m_settings.TxTimeout) * 1000);
    StartLog(m_log, m_settings);
    m_services->logOpened();
}

void VoxStation::WriteINI()
{
    m_settings.Gain = m_gain;
    m_settings.Delay = m_delay;
    m_settings.Attack = m_detector.attack();
    m_settings.ComPort = m_serial->portName();
    m_settings.BaudRate = BaudRateSpeed(m_serial->port().BaudRate());
    ::WriteINI(m_settings);
}

QList<RigId> VoxStation::releaseBeforeExit()
{
    // Nothing may key again: the wait for the radios below runs the event loop, in which a
    // render tick would otherwise key both roads once more.
    m_keyer->hold(KeyingHold::Ending);
    m_timerRender->stop();
    m_timerDelay->stop();
    m_lamp->stopBlinking();
    // The release must not be stopped by a failing road: each is tried on its own.
    const QList<RigId> keyed = m_keyer->keyedRigs();
    Guarded([this] { SetTX(false); });
    // The way out waits here, while a radio's answer is awaited: the link gives up a release
    // still waiting in it when it goes.
    ReleaseWait* wait
        = awaitRelease(keyed, true, m_omniRig ? m_omniRig->Timings().releaseWait : 0, {}, true);
    if (wait && wait->awaits()) {
        QEventLoop loop;
        connect(wait, &ReleaseWait::done, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    m_detector.release();
    m_timerDelay->stop();
    m_lamp->set(false);
    return keyed;
}

void VoxStation::releaseAndAwait(ReleaseFor why, std::function<void()> done)
{
    const QList<RigId> keyed = m_keyer->keyedRigs();
    if (why == ReleaseFor::Sleep) {
        // Before a suspend the release is not the operator's to see: its errors are shown.
        Guarded([this] { ReleaseNow(); });
        awaitRelease(keyed, false, SleepReleaseWaitMs, std::move(done), false);
        return;
    }
    std::exception_ptr failure;
    try {
        ReleaseNow();
    } catch (...) {
        failure = std::current_exception();
    }
    awaitRelease(
        keyed, true, m_omniRig ? m_omniRig->Timings().releaseWait : 0, std::move(done), false);
    if (failure)
        std::rethrow_exception(failure);
}

void VoxStation::sayMayStillTransmit(RigId rig, bool atExit)
{
    const QString text
        = QStringLiteral("Rig %1 may still be transmitting: its rigctld did not answer the release")
              .arg(rigLetter(rig));
    m_log.WriteLine(1, text);
    // On the way out, said where the operator is sure to see it before the program is gone;
    // otherwise as any other error, without holding anything up.
    if (atExit)
        m_messages.fatal(ApplicationTitle(), text);
    else
        m_errorReport->show(text);
}

ReleaseWait* VoxStation::awaitRelease(
    const QList<RigId>& keyed, bool revive, int waitMs, std::function<void()> done, bool atExit)
{
    if (!m_omniRig) {
        QTimer::singleShot(0, this, [done] {
            if (done)
                done();
        });
        return nullptr;
    }
    auto* wait = new ReleaseWait(*m_omniRig, keyed,
        revive ? ReleaseWait::Links::Revive : ReleaseWait::Links::Skip, waitMs, this);
    connect(wait, &ReleaseWait::done, this, [this, wait, done, atExit] {
        wait->deleteLater();
        if (!atExit) {
            for (RigId rig : wait->unreleased())
                sayMayStillTransmit(rig, false);
        }
        if (done)
            done();
    });
    wait->start();
    return wait;
}

void VoxStation::Shutdown()
{
    m_shutDown = true;
    // A station never configured has started nothing, and has nothing to release.
    if (!m_configured)
        return;
    // Nothing may key again once the program is closing.
    m_timerRender->stop();
    m_lamp->stopBlinking();
    m_monitor->stopPolling();
    // Nor open a device again while the release below waits for the radios.
    m_capture->stopWatching();
    m_serial->stopWatching();
    const QList<RigId> keyed = releaseBeforeExit();
    m_audio->RecordFree();
    m_audio->Free();
    m_serial->close();
    // The radios are released: the links end, and the rigctld processes this program runs
    // with them.
    if (m_omniRig) {
        m_omniRig->Close();
        // Closing sent each owed release once more; one still not confirmed is said, and the
        // radio stays marked for the next start.
        for (RigId rig : keyed) {
            if (m_omniRig->Rig(rig)->ReleasePending()) {
                sayMayStillTransmit(rig, true);
                m_leftTransmitting = true;
            }
        }
    }
    // The engine is off for good. Not announced: what a view would show of it is going
    // with the program, and the console's last lines are the release and "exit".
    m_running = false;
    emit closed();
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

QString VoxStation::ModeText() const
{
    return QStringLiteral("Soundcard:") + QString::number(m_settings.InputDevice) + ' '
        + m_capture->deviceName(m_settings.InputDevice) + QStringLiteral(" Serial:")
        + (m_serial->hasPort() ? m_serial->portName() : QStringLiteral("none"));
}

void VoxStation::ShowMode()
{
    emit modeChanged(ModeText());
}

void VoxStation::ChooseInputDevice(int device)
{
    // The name goes with the number, so that the device is found again when the numbers
    // move; a device kept as it was keeps its name (it may be unplugged just now).
    if (device != m_settings.InputDevice || m_settings.DeviceName.isEmpty())
        m_settings.DeviceName = device >= 0 ? m_capture->deviceName(device) : QString();
    m_settings.InputDevice = device;
}

void VoxStation::OmniRigSettings()
{
    // The rig-control server shows its own settings window.
    if (m_omniRig)
        m_omniRig->SetDialogVisible(true);
}

void VoxStation::ComPortError()
{
    m_serial->lineError();
}

TComPort& VoxStation::ComPort()
{
    return m_serial->port();
}

bool VoxStation::CaptureLost() const
{
    return m_capture->lost();
}

quint32 VoxStation::RecordChannel() const
{
    return m_capture->channel();
}

std::optional<RigId> VoxStation::PttTestRig() const
{
    return m_pttTest->rig();
}
