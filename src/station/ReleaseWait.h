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
// leave the radio transmitting. A radio answers by reporting receive or by confirming the
// release. A link that goes down with the release unconfirmed leaves the radio keyed
// (rigctld keeps the PTT of a client that went away, and of course when it ends itself): with
// Links::Revive that link is started again at once, and its rigctld too when this program
// runs it, and awaited a while longer; a link that goes down with nothing owed counts as done.
// Those not released in time are named in unreleased(). Radios that cannot report their
// transmit state are not awaited.
class ReleaseWait : public QObject {
    Q_OBJECT

public:
    enum class Links { Revive, Skip };
    // How long a link that is down is awaited, and a rigctld this program starts again (a
    // backend opens the radio before it listens).
    static constexpr int LinkReturnWaitMs = 1000;
    static constexpr int ServerReturnWaitMs = 3000;

    ReleaseWait(TOmniRigX& link, const QList<RigId>& keyed, Links links, int waitMs,
        QObject* parent = nullptr);

    // done() comes from the event loop, never from within start().
    void start();
    bool isDone() const { return m_done; }
    // Some radio's answer is awaited (once started): done() comes from its answer or the
    // deadline; otherwise from the next turn of the event loop.
    bool awaits() const { return !m_waits.empty() && !m_done; }
    // The radios whose release was not answered in time; valid once done.
    const QList<RigId>& unreleased() const { return m_unreleased; }

signals:
    void done();

private:
    struct Waiting {
        RigId rig;
        bool pending = true;
        bool linkDown = false;
    };
    void watch(Waiting& waiting);
    // Starts the rig's link (and rigctld) again, and gives it time to come back.
    void revive(Waiting& waiting);
    int reviveWaitMs(RigId rig) const;
    void check();
    void finish();

    TOmniRigX& m_link;
    QList<RigId> m_keyed;
    Links m_links;
    int m_waitMs;
    std::vector<Waiting> m_waits;
    QTimer* m_deadline = nullptr;
    QList<RigId> m_unreleased;
    bool m_done = false;
};
