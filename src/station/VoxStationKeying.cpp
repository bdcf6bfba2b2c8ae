// Keying: the one operation that switches transmit on every road (the selected radios through
// the rig link, DTR and RTS of the serial port), the rig selection, the serial error handler
// and connecting the rig link at start-up.
#include "VoxStation.h"

#include "MessageBoxes.h"
#include "SerialPttRoad.h"

#include "rig/OmniRigX.h"
#include "serial/ComPort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <list>
#include <utility>

namespace {

// How long a transmit report of a rig this program has just released is taken for that
// keying rather than for the radio transmitting on its own.
constexpr qint64 ReleaseSettleMs = 1000;

// How long the way out waits for a radio's link that is down while the radio is keyed.
constexpr int LinkReturnWaitMs = 1000;

} // namespace

IRigX* VoxStation::Rig(RigId rig) const
{
    return m_omniRig->Rig(rig);
}

const PttRoad& VoxStation::SerialRoad() const
{
    return *m_serialRoad;
}

void VoxStation::SetTX(bool on)
{
    // The radios first, then the serial lines. A road that fails does not keep the others
    // from being driven: above all a failing radio must never leave the lines raised.
    // Keying goes to the selected radios; a release goes to every road this program keyed
    // as well, selected or not, so that no transmitter is left to nobody.
    if (on && (m_keyingEnded || m_keyingHeld))
        return;
    if (on)
        setKeyed(true); // before anything can go out
    std::exception_ptr failure;
    if (m_omniRig) {
        for (RigSlot& rig : m_rigs) {
            if (on && rig.selected)
                driveRoad(failure, [&] { rig.road.key(); });
            else if (!on && (rig.selected || rig.road.keyed()))
                driveRoad(failure, [&] { rig.road.release(); });
        }
    }
    driveRoad(
        failure, [&] { DriveSerial([&] { on ? m_serialRoad->key() : m_serialRoad->release(); }); });
    setTransmit(on);
    if (!on && m_pttTest.rig)
        ReleasePttTest(); // already released with the others: only followed from here
    if (!on)
        setKeyed(AnyRoadKeyed());
    emit TransmitSet(on);
    if (failure)
        std::rethrow_exception(failure);
}

bool VoxStation::AnyRoadKeyed() const
{
    return m_rigs[0].road.keyed() || m_rigs[1].road.keyed() || m_serialRoad->keyed();
}

QList<RigId> VoxStation::KeyedRigs() const
{
    QList<RigId> keyed;
    for (const RigSlot& rig : m_rigs) {
        if (rig.road.keyed())
            keyed << rig.id;
    }
    return keyed;
}

void VoxStation::setTransmit(bool on)
{
    if (on == m_txOn)
        return;
    m_txOn = on;
    UpdatePttTestAvailability();
    if (!on) {
        for (RigSlot& rig : m_rigs)
            rig.refusalShown = false;
    }
    emit transmitChanged(on);
}

void VoxStation::setKeyed(bool keyed)
{
    if (keyed == m_keyed)
        return;
    m_keyed = keyed;
    emit keyedChanged(keyed);
}

void VoxStation::selectRig(RigId rig, bool exclusive)
{
    SetSelection(rig == RigId::A || (!exclusive && RigSelected(RigId::A)),
        rig == RigId::B || (!exclusive && RigSelected(RigId::B)));
}

void VoxStation::setRigSelected(RigId rig, bool selected)
{
    SetSelection(rig == RigId::A ? selected : RigSelected(RigId::A),
        rig == RigId::B ? selected : RigSelected(RigId::B));
}

void VoxStation::SetSelection(bool rigA, bool rigB)
{
    if (RigSelected(RigId::A) == rigA && RigSelected(RigId::B) == rigB)
        return;
    slot(RigId::A).selected = rigA;
    slot(RigId::B).selected = rigB;
    emit selectionChanged();
    // The new selection is keyed at the next keying tick. A rig this program keyed that
    // leaves the selection is released now, however it left (a click, a press held on its
    // button, the rig monitor): two transmitters must never stay keyed, nor one that no
    // release would reach.
    if (!m_omniRig)
        return;
    std::exception_ptr failure;
    for (RigSlot& rig : m_rigs) {
        if (rig.road.keyed() && !rig.selected)
            driveRoad(failure, [&] { rig.road.release(); });
    }
    if (failure)
        std::rethrow_exception(failure);
}

void VoxStation::ReportTxRefused(RigId rig, const QString& reason)
{
    // Once per over: the operator needs to know that the radio does not transmit, not a box
    // per attempt (and the error report keeps a repeated text quiet for a while).
    if (std::exchange(slot(rig).refusalShown, true))
        return;
    const QString text
        = QStringLiteral("Rig %1 refused transmit: %2").arg(rigLetter(rig)).arg(reason);
    m_log.WriteLine(1, text);
    m_errorReport->show(text);
}

bool VoxStation::TransmitsOnItsOwn(const RigSlot& rig) const
{
    return !rig.road.keyed() && !rig.road.releasedWithin(ReleaseSettleMs);
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
    m_omniRig->SetConfigFile(
        ConfigPathFromArguments(m_options.arguments, WorkDirFrom(QDir::currentPath())));
    // Before the link connects: a rigctld it runs may have a problem to tell at once.
    ConnectRigServers();
    try {
        m_omniRig->Connect();
        const auto handle = [this](auto handler) {
            return [this, handler](
                       auto... arguments) { Guarded([&] { (this->*handler)(arguments...); }); };
        };
        connect(
            m_omniRig, &TOmniRigX::OnRigTypeChange, this, handle(&VoxStation::RigTypeChangeEvent));
        connect(
            m_omniRig, &TOmniRigX::OnStatusChange, this, handle(&VoxStation::StatusChangeEvent));
        connect(
            m_omniRig, &TOmniRigX::OnParamsChange, this, handle(&VoxStation::ParamsChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnCustomReply, this, handle(&VoxStation::CustomReplyEvent));
        connect(
            m_omniRig, &TOmniRigX::OnVisibleChange, this, handle(&VoxStation::VisibleChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnTxRefused, this,
            [this](RigId rig, const QString& reason) { ReportTxRefused(rig, reason); });
    } catch (...) {
        // The program runs on without rig events; each rig access tries to connect again.
    }
}

void VoxStation::WaitForRigRelease(const QList<RigId>& keyed, bool untilSeen)
{
    // A release may wait in the link behind a keying still in flight, and the link gives up
    // what waits when it is destroyed. So the way out waits, briefly, until each radio this
    // program had keyed has reported the release. A radio whose link is down cannot be
    // released: its link is tried once more at once (it releases the radio as it comes
    // back), and the operator is told when it does not come back in time.
    if (!m_omniRig)
        return;
    struct Waiting {
        RigId rig;
        bool pending = true;
        bool linkDown = false;
    };
    std::list<Waiting> waits; // stable addresses for the handlers below
    QList<QMetaObject::Connection> connections;
    for (RigId id : keyed) {
        IRigX* rig = Rig(id);
        const RigEndpoint& endpoint = m_omniRig->Settings().rig(id);
        if (!endpoint.isConfigured())
            continue;
        const bool linkDown = rig->Status() != rsOnline;
        if (linkDown)
            rig->Start(endpoint, m_omniRig->Timings());
        else if (!rig->IsParamReadable(PM_TX))
            continue;
        Waiting& waiting = waits.emplace_back(Waiting { id, true, linkDown });
        connections << connect(rig, &IRigX::paramsChanged, this, [&waiting](int params) {
            if (params == PM_RX)
                waiting.pending = false;
        });
        connections << connect(rig, &IRigX::statusChanged, this, [&waiting, rig] {
            // Online again means its release was answered; gone means it cannot be.
            if (waiting.linkDown ? rig->Status() == rsOnline : rig->Status() != rsOnline)
                waiting.pending = waiting.linkDown = false;
        });
    }
    const auto anyPending = [&] {
        return std::any_of(waits.begin(), waits.end(), [](const Waiting& w) { return w.pending; });
    };
    const bool anyLinkDown
        = std::any_of(waits.begin(), waits.end(), [](const Waiting& w) { return w.linkDown; });
    const QDeadlineTimer deadline(
        anyLinkDown ? LinkReturnWaitMs : m_omniRig->Timings().releaseWait);
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (!anyPending() || deadline.hasExpired())
            loop.quit();
    });
    if (anyPending()) {
        check.start(1);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    for (const QMetaObject::Connection& connection : connections)
        disconnect(connection);
    for (const Waiting& waiting : waits) {
        if (!waiting.linkDown)
            continue;
        const QString text = QStringLiteral(
            "Rig %1 may still be transmitting: its rigctld did not answer the release")
                                 .arg(rigLetter(waiting.rig));
        m_log.WriteLine(1, text);
        // On the way out, said where the operator is sure to see it before the program is
        // gone; otherwise as any other error, without holding anything up.
        if (untilSeen)
            m_messages.fatal(ApplicationTitle(), text);
        else
            m_errorReport->show(text);
    }
}

void VoxStation::OmniRigSettings()
{
    // The rig-control server shows its own settings window.
    if (m_omniRig)
        m_omniRig->SetDialogVisible(true);
}
