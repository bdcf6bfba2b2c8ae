#pragma once

#include "PttRoad.h"

#include <QElapsedTimer>

#include <functional>

class IRigX;

// A radio keyed through its rig-control server: transmit (PM_TX) and receive (PM_RX) sent
// on the rig's link. The road counts as keyed from the moment a keying is attempted, so a
// keying that failed halfway is still released, until the radio confirmed the release (the
// link sends it again until then). A release of a keyed radio whose link is
// down cannot go out: the link releases the radio when it is back, and until then the road
// counts as keyed, so that a crash meanwhile still leaves the release to the guard.
class RigPttRoad : public PttRoad {
public:
    // `rig` gives the link's radio at the time of each call (the link may be made later
    // than the road); null while there is none, and then nothing is sent.
    RigPttRoad(QString name, std::function<IRigX*()> rig);

    QString name() const override { return m_name; }
    void key() override;
    void release() override;
    bool keyed() const override;

    // The link's status changed: a release that waited for the link is done once it is up.
    void linkStatusChanged();
    // Released by this program within the last `ms` milliseconds.
    bool releasedWithin(qint64 ms) const;

private:
    void send(bool on);
    static bool linkDown(const IRigX& rig);

    QString m_name;
    std::function<IRigX*()> m_rig;
    bool m_keyed = false;
    bool m_releaseAwaitsLink = false;
    QElapsedTimer m_released; // invalid until the first release
};
