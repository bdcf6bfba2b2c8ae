#include "ReleaseWait.h"

#include "rig/OmniRigX.h"

#include <QTimer>

#include <algorithm>

ReleaseWait::ReleaseWait(
    TOmniRigX& link, const QList<RigId>& keyed, Links links, int waitMs, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_keyed(keyed)
    , m_links(links)
    , m_waitMs(waitMs)
{
}

void ReleaseWait::start()
{
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &ReleaseWait::finish);
    m_deadline->start(m_waitMs);
    m_waits.reserve(std::size_t(m_keyed.size())); // stable addresses for the handlers
    for (RigId id : std::as_const(m_keyed)) {
        IRigX* rig = m_link.Rig(id);
        if (!m_link.Settings().rig(id).isConfigured())
            continue;
        const bool down = rig->Status() != rsOnline;
        if (down && m_links == Links::Skip)
            continue;
        if (!down && !rig->IsParamReadable(PM_TX))
            continue;
        Waiting& waiting = m_waits.emplace_back(Waiting { id, true, false });
        watch(waiting);
        if (down)
            revive(waiting);
    }
    // A link that is down is awaited as long as it takes to come back, not longer.
    int reviveMs = 0;
    for (const Waiting& waiting : m_waits) {
        if (waiting.linkDown)
            reviveMs = std::max(reviveMs, reviveWaitMs(waiting.rig));
    }
    if (reviveMs > 0)
        m_deadline->start(reviveMs);
    // Nothing to await: done all the same from the event loop, as a caller expects.
    if (m_waits.empty())
        QTimer::singleShot(0, this, &ReleaseWait::finish);
}

void ReleaseWait::revive(Waiting& waiting)
{
    waiting.linkDown = true;
    if (m_links == Links::Skip)
        return;
    const int waitMs = reviveWaitMs(waiting.rig);
    if (m_deadline->remainingTime() < waitMs)
        m_deadline->start(waitMs);
    // Not from within the link's own report of its loss: started again from the event loop.
    QTimer::singleShot(0, this, [this, rig = waiting.rig] { m_link.ReviveRig(rig); });
}

int ReleaseWait::reviveWaitMs(RigId rig) const
{
    return m_link.Settings().server(rig).isManaged() ? ServerReturnWaitMs : LinkReturnWaitMs;
}

void ReleaseWait::watch(Waiting& waiting)
{
    IRigX* rig = m_link.Rig(waiting.rig);
    connect(rig, &IRigX::paramsChanged, this, [this, &waiting, rig](int params) {
        if (params == PM_RX && !rig->ReleasePending())
            waiting.pending = false;
        check();
    });
    connect(rig, &IRigX::releaseConfirmed, this, [this, &waiting] {
        waiting.pending = false;
        check();
    });
    connect(rig, &IRigX::statusChanged, this, [this, &waiting, rig] {
        const bool online = rig->Status() == rsOnline;
        if (rig->ReleasePending()) {
            // Still owed: the radio may transmit until a link carries it.
            if (!online && !waiting.linkDown)
                revive(waiting);
        } else if (waiting.linkDown ? online : !online) {
            // Back with nothing owed (it released the radio as it came up), or gone with
            // nothing owed.
            waiting.pending = false;
        }
        if (online)
            waiting.linkDown = false;
        check();
    });
}

void ReleaseWait::check()
{
    if (std::none_of(m_waits.begin(), m_waits.end(), [](const Waiting& w) { return w.pending; }))
        finish();
}

void ReleaseWait::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_deadline->stop();
    for (const Waiting& waiting : m_waits) {
        disconnect(m_link.Rig(waiting.rig), nullptr, this, nullptr);
        if (waiting.pending && (waiting.linkDown || m_link.Rig(waiting.rig)->ReleasePending()))
            m_unreleased << waiting.rig;
    }
    emit done();
}
