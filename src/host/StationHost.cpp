#include "StationHost.h"

#include "ExitSignals.h"
#include "JobControl.h"
#include "SingleInstance.h"
#include "SleepWatch.h"
#include "TerminalKeys.h"
#include "TxGuard.h"

#include "guard/GuardProtocol.h"
#include "rig/OmniRigX.h"
#include "station/VoxStation.h"

#include <QCoreApplication>

#include <cstdio>
#include <utility>

StationHostOptions StationHostOptions::forProgram()
{
    StationHostOptions options;
    options.guardProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/vokey-guard");
    options.watchSleep = true;
    options.jobControl = true;
    return options;
}

StationHost::StationHost(VoxStation& station, StationHostOptions options, QObject* parent)
    : QObject(parent)
    , m_station(station)
    , m_options(std::move(options))
{
    setObjectName(QStringLiteral("StationHost"));
}

StationHost::~StationHost()
{
    if (m_instance && !m_station.IsShutDown())
        m_station.Shutdown();
    delete m_keys;
}

bool StationHost::acquire()
{
    // A second start must leave the running instance's log, configuration, tray icon and
    // devices as they are, so the check comes before anything touches them.
    auto instance = std::make_unique<SingleInstance>(QStringLiteral("VOKEY"));
    if (!instance->acquire()) {
        m_station.Messages().fatal(QStringLiteral("VOKEY (2.0) Initialization Failure"),
            QStringLiteral("Instance of Program Already Running"));
        m_station.Shutdown(); // nothing to release: nothing was started
        return false;
    }
    m_instance = std::move(instance);
    m_exitSignals = new ExitSignals(this);
    connect(m_exitSignals, &ExitSignals::exitRequested, this, &StationHost::exitRequested);
    // The crash handler drops the lines of the open port.
    connect(&m_station, &VoxStation::serialHandleChanged, this, &ExitSignals::setSerialHandle);
    startGuard();
    return true;
}

void StationHost::startGuard()
{
    if (m_options.guardProgram.isEmpty())
        return;
    m_guard = new TxGuard(this);
    QString error;
    if (!m_guard->start(m_options.guardProgram, &error)) {
        delete m_guard;
        m_guard = nullptr;
        const QString text = QStringLiteral("The transmit guard could not be started (%1): a "
                                            "crash of the program may leave the radio transmitting")
                                 .arg(error);
        // Once, at start-up, before anything can key: a slow standard error holds nothing.
        std::fprintf(stderr, "vokey: %s\n", text.toLocal8Bit().constData());
        m_guardTrouble = text; // shown once the station has started
        return;
    }
    connect(m_guard, &TxGuard::trouble, this, &StationHost::reportGuardTrouble);
    // A guard that ends is replaced at once; the operator hears of it either way.
    connect(m_guard, &TxGuard::replaced, this, &StationHost::reportGuardEnd);
    connect(m_guard, &TxGuard::lost, this, &StationHost::reportGuardEnd);
    // Direct connections: the guard hears of keying before the first road is keyed, and of
    // a closing before the port is closed.
    connect(&m_station, &VoxStation::keyedChanged, m_guard, [this](bool keyed) {
        if (m_station.OmniRig())
            m_guard->setRigs(m_station.OmniRig()->Settings());
        m_guard->setKeyed(keyed);
    });
    connect(&m_station, &VoxStation::rigKeyedChanged, m_guard, [this](RigId rig, bool keyed) {
        if (m_station.OmniRig())
            m_guard->setRigs(m_station.OmniRig()->Settings());
        m_guard->setRigKeyed(rig, keyed);
    });
    connect(&m_station, &VoxStation::serialHandleChanged, m_guard, &TxGuard::setSerialHandle);
    connect(&m_station, &VoxStation::rigServerStarted, m_guard,
        [this](RigId rig, qint64 pid) { m_guard->setServer(rig, pid); });
    connect(&m_station, &VoxStation::rigServerExited, m_guard,
        [this](RigId rig) { m_guard->setServer(rig, 0); });
    // After the final release: the guard ends without touching anything.
    connect(&m_station, &VoxStation::closed, m_guard, &TxGuard::bye);
    // While keyed, the render tick tells the guard the main thread runs; a program that
    // hung keyed is released by the guard, and releases its own state once it runs again.
    connect(&m_station, &VoxStation::keyedChanged, this, [this](bool keyed) { m_keyed = keyed; });
    connect(&m_station, &VoxStation::ticked, m_guard, [this] {
        if (m_keyed && (!m_alive.isValid() || m_alive.hasExpired(GuardProtocol::AliveEveryMs))) {
            m_alive.start();
            m_guard->alive();
        }
    });
    connect(m_guard, &TxGuard::releasedForHang, this, &StationHost::releasedForHang);
}

void StationHost::started()
{
    // The log is open from here on: what could not be written to it before is now, and
    // shown as the other start-up errors are.
    if (!m_guardTrouble.isEmpty())
        m_station.Report(std::exchange(m_guardTrouble, QString()));
    if (m_guard && m_station.OmniRig()) {
        TOmniRigX* link = m_station.OmniRig();
        m_guard->setRigs(link->Settings());
        connect(link, &TOmniRigX::settingsChanged, m_guard,
            [this, link] { m_guard->setRigs(link->Settings()); });
    }
    if (m_options.watchSleep && !m_sleepWatch) {
        m_sleepWatch = new SleepWatch(this);
        connect(m_sleepWatch, &SleepWatch::sleeping, this, &StationHost::prepareForSleep);
        connect(m_sleepWatch, &SleepWatch::woken, this, &StationHost::wakeFromSleep);
        connect(m_sleepWatch, &SleepWatch::unavailable, this, [this](const QString& reason) {
            m_station.Log().WriteLine(1,
                QStringLiteral("System suspend not watched: %1; transmit is not released "
                               "before the computer sleeps")
                    .arg(reason));
        });
        m_sleepWatch->start();
    }
    if (m_options.jobControl && !m_jobControl) {
        m_jobControl = new JobControl(this);
        connect(m_jobControl, &JobControl::stopRequested, this, &StationHost::stopRequested);
        connect(m_jobControl, &JobControl::continued, this, &StationHost::continued);
    }
}

void StationHost::reportGuardTrouble(const QString& text)
{
    if (m_station.Log().FileName().isEmpty())
        m_guardTrouble = text;
    else
        m_station.Log().WriteLine(1, text);
}

void StationHost::reportGuardEnd(const QString& text)
{
    if (m_station.Log().FileName().isEmpty())
        m_guardTrouble = text;
    else
        m_station.Report(text);
}

bool StationHost::readKeys(int fd)
{
    if (m_keys)
        return true;
    auto* keys = new TerminalKeys(fd, this);
    if (!keys->start()) {
        delete keys;
        return false;
    }
    m_keys = keys;
    connect(m_keys, &TerminalKeys::keyPressed, this, &StationHost::keyPressed);
    return true;
}

void StationHost::releaseTerminal()
{
    delete std::exchange(m_keys, nullptr);
}

void StationHost::stopRequested()
{
    // A release may wait in the rig link behind a keying still in flight: stopped before it
    // goes out, the radio would transmit for as long as the program stays stopped. So every
    // road is released and the radios' answers awaited before the stop; nothing keys until
    // the program continues.
    if (m_stopping || m_station.IsShutDown())
        return;
    m_stopping = true;
    m_station.holdKeying(KeyingHold::Stopped);
    m_station.Guarded([this] {
        m_station.releaseAndAwait(VoxStation::ReleaseFor::Stop, [this] {
            m_stopping = false;
            if (m_station.IsShutDown())
                return; // an exit signal came while the radios answered: the program ends
            if (m_keys)
                m_keys->suspend();
            m_jobControl->stopProcess();
            continued();
        });
    });
}

void StationHost::continued()
{
    if (m_stopping || m_station.IsShutDown())
        return;
    if (m_keys)
        m_keys->resume();
    m_station.liftKeying(KeyingHold::Stopped);
}

void StationHost::releasedForHang()
{
    if (m_station.IsShutDown())
        return;
    m_station.Report(QStringLiteral("The program did not answer for 2 s while keyed: the "
                                    "transmit guard released every road"));
    // Keyed again only from a tick that does not pass on: not the over the hang cut.
    m_station.holdKeying(KeyingHold::Woken);
    m_station.Guarded([this] { m_station.releaseAndAwait(VoxStation::ReleaseFor::Stop, [] {}); });
}

void StationHost::prepareForSleep()
{
    m_asleep = true;
    m_station.holdKeying(KeyingHold::Asleep);
    m_station.liftKeying(KeyingHold::Woken);
    // The lock goes once every radio this program had keyed has answered the release, gone
    // offline, or the time is up; the serial lines dropped at once.
    m_station.releaseAndAwait(VoxStation::ReleaseFor::Sleep, [this] {
        // Woken meanwhile: the lock is the one taken for the next sleep.
        if (m_asleep)
            m_sleepWatch->dropLock();
    });
    m_station.Log().WriteLine(1, QStringLiteral("System suspend: transmit released"));
}

void StationHost::wakeFromSleep()
{
    m_asleep = false;
    m_station.liftKeying(KeyingHold::Asleep);
    m_station.holdKeying(KeyingHold::Woken);
    m_station.Log().WriteLine(
        1, QStringLiteral("System resumed: keying waits for a tick below the Gain"));
}
