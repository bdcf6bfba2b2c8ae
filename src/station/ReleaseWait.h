#pragma once

#include "rig/RigId.h"

#include <QList>
#include <QObject>

#include <vector>

class QTimer;
class TOmniRigX;

// Waits, without blocking, until each radio this program had keyed has answered its
// release. A release may wait in the link behind a keying still in flight, and the link
// gives up what waits when it is destroyed; a program that stops or sleeps meanwhile would
// leave the radio transmitting. A radio answers by reporting receive, or counts as done
// when its link goes down. A radio whose link is already down cannot be released: with
// Links::Revive its link is started again at once (it releases the radio as it comes back)
// and awaited a little longer; those that do not come back in time are named in done().
// Radios that cannot report their transmit state are not awaited.
class ReleaseWait : public QObject {
    Q_OBJECT

public:
    enum class Links { Revive, Skip };
    // How long a link that is down is awaited.
    static constexpr int LinkReturnWaitMs = 1000;

    ReleaseWait(TOmniRigX& link, const QList<RigId>& keyed, Links links, int waitMs,
        QObject* parent = nullptr);

    // done() comes from the event loop, never from within start().
    void start();
    bool isDone() const { return m_done; }
    // Some radio's answer is awaited (once started): done() comes from its answer or the
    // deadline; otherwise from the next turn of the event loop.
    bool awaits() const { return !m_waits.empty() && !m_done; }
    // The radios whose link was down and did not come back; valid once done.
    const QList<RigId>& linkDown() const { return m_linkDown; }

signals:
    void done();

private:
    struct Waiting {
        RigId rig;
        bool pending = true;
        bool linkDown = false;
    };
    void watch(Waiting& waiting);
    void check();
    void finish();

    TOmniRigX& m_link;
    QList<RigId> m_keyed;
    Links m_links;
    int m_waitMs;
    std::vector<Waiting> m_waits;
    QTimer* m_deadline = nullptr;
    QList<RigId> m_linkDown;
    bool m_done = false;
};
