#pragma once

#include "PttRoad.h"

#include <QElapsedTimer>

#include <functional>

class IRigX;

// A radio keyed through its rig-control server: transmit (PM_TX) and receive (PM_RX) sent
// on the rig's link. The road counts as keyed from the moment a keying is attempted, so a
// keying that failed halfway is still released.
class RigPttRoad : public PttRoad {
public:
    // `rig` gives the link's radio at the time of each call (the link may be made later
    // than the road).
    RigPttRoad(QString name, std::function<IRigX*()> rig);

    QString name() const override { return m_name; }
    void key() override;
    void release() override;
    bool keyed() const override { return m_keyed; }

    // Released by this program within the last `ms` milliseconds.
    bool releasedWithin(qint64 ms) const;

private:
    void send(bool on);

    QString m_name;
    std::function<IRigX*()> m_rig;
    bool m_keyed = false;
    QElapsedTimer m_released; // invalid until the first release
};
