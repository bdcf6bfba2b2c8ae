#include "RigPttRoad.h"

#include "rig/RigX.h"

#include <utility>

RigPttRoad::RigPttRoad(QString name, std::function<IRigX*()> rig)
    : m_name(std::move(name))
    , m_rig(std::move(rig))
{
}

void RigPttRoad::key()
{
    send(true);
}

void RigPttRoad::release()
{
    send(false);
}

void RigPttRoad::send(bool on)
{
    IRigX* rig = m_rig();
    if (!rig)
        return; // no rig link yet: nothing this program could have keyed
    if (on) {
        // Keyed from the attempt on: a keying that failed halfway is still released.
        m_keyed = true;
        rig->SetTx(PM_TX);
        return;
    }
    // Released once the link took the release: one that failed is tried again by the next.
    m_released.start();
    const bool awaitsLink = m_keyed && linkDown(*rig);
    rig->SetTx(PM_RX);
    m_releaseAwaitsLink = m_releaseAwaitsLink || awaitsLink;
    m_keyed = false;
}

bool RigPttRoad::linkDown(const IRigX& rig)
{
    // A rig without a server has no link to wait for.
    return rig.Status() != rsOnline && rig.Status() != rsNotConfigured;
}

bool RigPttRoad::keyed() const
{
    // Released only once the radio confirmed it.
    const IRigX* rig = m_rig();
    return m_keyed || m_releaseAwaitsLink || (rig && rig->ReleasePending());
}

void RigPttRoad::linkStatusChanged()
{
    // Back online, the link has sent the release it found owed on connecting.
    const IRigX* rig = m_rig();
    if (m_releaseAwaitsLink && rig && !linkDown(*rig))
        m_releaseAwaitsLink = false;
}

bool RigPttRoad::releasedWithin(qint64 ms) const
{
    return m_released.isValid() && !m_released.hasExpired(ms);
}
