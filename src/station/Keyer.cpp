#include "Keyer.h"

#include "rig/RigX.h"

#include <exception>
#include <utility>

namespace {

// How long a transmit report of a rig this program has just released is taken for that
// keying rather than for the radio transmitting on its own.
constexpr qint64 ReleaseSettleMs = 1000;

const bool Always = true;

} // namespace

Keyer::Slot::Slot(RigId rigId, std::function<IRigX*()> link)
    : id(rigId)
    , road(QStringLiteral("Rig ") + rigLetter(rigId), std::move(link))
{
}

Keyer::Keyer(LinkOf link, PttRoad& serialLines, QObject* parent)
    : QObject(parent)
    , m_link(std::move(link))
    , m_rigs { Slot(RigId::A, [this] { return m_link(RigId::A); }),
        Slot(RigId::B, [this] { return m_link(RigId::B); }) }
    , m_serial(serialLines)
    , m_roads { Road { &m_rigs[0].road, &m_rigs[0].selected },
        Road { &m_rigs[1].road, &m_rigs[1].selected }, Road { &m_serial, &Always } }
{
    setObjectName(QStringLiteral("Keyer"));
}

void Keyer::setTx(bool on)
{
    // The keying gate: the one place a hold is obeyed.
    if (on && held())
        return;
    // A selected radio that transmits for another program (a logger through the same server,
    // the operator's footswitch) is left to it: keyed at the first tick after it is back on
    // receive. Only what this program keyed is released.
    std::array<bool, 3> drive {};
    for (std::size_t i = 0; i < m_roads.size(); ++i) {
        const Road& road = m_roads[i];
        const bool ownRoad = road.road == &m_serial;
        drive[i] = on ? *road.selected && (ownRoad || !busyElsewhere(m_rigs[i].id))
                      : ownRoad || road.road->keyed();
    }
    if (on) {
        // Before anything can go out.
        for (std::size_t i = 0; i < m_rigs.size(); ++i) {
            if (drive[i])
                setRigKeyed(m_rigs[i], true);
        }
        setKeyed(true);
    }
    std::exception_ptr failure;
    for (std::size_t i = 0; i < m_roads.size(); ++i) {
        if (drive[i] && on)
            driveRoad(failure, [&] { m_roads[i].road->key(); });
        else if (drive[i])
            driveRoad(failure, [&] { m_roads[i].road->release(); });
    }
    setTransmit(on);
    if (!on && m_afterRelease)
        m_afterRelease();
    if (!on)
        updateKeyed();
    emit transmitSet(on);
    if (failure)
        std::rethrow_exception(failure);
}

void Keyer::setTransmit(bool on)
{
    if (on == m_txOn)
        return;
    m_txOn = on;
    if (!on) {
        for (Slot& rig : m_rigs)
            rig.refusalShown = false;
    }
    emit transmitChanged(on);
    // A follow that came during the over takes effect now that it is over.
    if (!on && m_followPending)
        select(*std::exchange(m_followPending, std::nullopt), true);
}

void Keyer::announceKeying(RigId rig)
{
    setRigKeyed(slot(rig), true);
    setKeyed(true);
}

void Keyer::updateKeyed()
{
    for (Slot& rig : m_rigs)
        setRigKeyed(rig, rig.road.keyed());
    setKeyed(anyRoadKeyed());
}

void Keyer::setRigKeyed(Slot& rig, bool keyed)
{
    if (std::exchange(rig.keyedTold, keyed) != keyed)
        emit rigKeyedChanged(rig.id, keyed);
}

void Keyer::setKeyed(bool keyed)
{
    if (keyed == m_keyed)
        return;
    m_keyed = keyed;
    emit keyedChanged(keyed);
}

bool Keyer::anyRoadKeyed() const
{
    for (const Road& road : m_roads) {
        if (road.road->keyed())
            return true;
    }
    return false;
}

QList<RigId> Keyer::keyedRigs() const
{
    QList<RigId> keyed;
    for (const Slot& rig : m_rigs) {
        if (rig.road.keyed())
            keyed << rig.id;
    }
    return keyed;
}

void Keyer::select(RigId rig, bool exclusive)
{
    setSelection(rig == RigId::A || (!exclusive && selected(RigId::A)),
        rig == RigId::B || (!exclusive && selected(RigId::B)));
}

void Keyer::setSelected(RigId rig, bool on)
{
    setSelection(
        rig == RigId::A ? on : selected(RigId::A), rig == RigId::B ? on : selected(RigId::B));
}

void Keyer::setSelection(bool rigA, bool rigB)
{
    if (selected(RigId::A) == rigA && selected(RigId::B) == rigB)
        return;
    slot(RigId::A).selected = rigA;
    slot(RigId::B).selected = rigB;
    emit selectionChanged();
    // The new selection is keyed at the next keying tick. Two transmitters must never stay
    // keyed, nor one that no release would reach.
    std::exception_ptr failure;
    for (Slot& rig : m_rigs) {
        if (rig.road.keyed() && !rig.selected)
            driveRoad(failure, [&] { rig.road.release(); });
    }
    if (failure)
        std::rethrow_exception(failure);
}

void Keyer::hold(KeyingHold reason)
{
    m_holds |= unsigned(reason);
}

void Keyer::lift(KeyingHold reason)
{
    m_holds &= ~unsigned(reason);
}

bool Keyer::heldBy(std::initializer_list<KeyingHold> reasons) const
{
    for (KeyingHold reason : reasons) {
        if (m_holds & unsigned(reason))
            return true;
    }
    return false;
}

void Keyer::follow(RigId rig)
{
    // Never in the middle of the operator's over: the other rig is not taken from under it.
    if (m_txOn) {
        m_followPending = rig;
        return;
    }
    m_followPending.reset();
    select(rig, true);
}

bool Keyer::busyElsewhere(RigId rig) const
{
    const IRigX* radio = m_link(rig);
    return radio
        && (radio->HeldElsewhere()
            || (transmitsOnItsOwn(rig) && radio->IsParamReadable(PM_TX) && radio->Tx() == PM_TX));
}

bool Keyer::transmitsOnItsOwn(RigId rig) const
{
    const RigPttRoad& own = road(rig);
    return !own.keyed() && !own.releasedWithin(ReleaseSettleMs);
}

void Keyer::reportRefused(RigId rig, const QString& reason)
{
    // Once per over: the operator needs to know that the radio does not transmit, not a box
    // per attempt (and the error report keeps a repeated text quiet for a while).
    if (std::exchange(slot(rig).refusalShown, true))
        return;
    emit refused(QStringLiteral("Rig %1 refused transmit: %2").arg(rigLetter(rig)).arg(reason));
}
