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
    m_keyed = on;
    if (!on)
        m_released.start();
    m_rig()->SetTx(on ? PM_TX : PM_RX);
}

bool RigPttRoad::releasedWithin(qint64 ms) const
{
    return m_released.isValid() && !m_released.hasExpired(ms);
}
