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
    m_waits.reserve(std::size_t(m_keyed.size())); // stable addresses for the handlers
    for (RigId id : std::as_const(m_keyed)) {
        IRigX* rig = m_link.Rig(id);
        const RigEndpoint& endpoint = m_link.Settings().rig(id);
        if (!endpoint.isConfigured())
            continue;
        const bool down = rig->Status() != rsOnline;
        if (down && m_links == Links::Skip)
            continue;
        if (down)
            rig->Start(endpoint, m_link.Timings());
        else if (!rig->IsParamReadable(PM_TX))
            continue;
        watch(m_waits.emplace_back(Waiting { id, true, down }));
    }
    const bool anyDown
        = std::any_of(m_waits.begin(), m_waits.end(), [](const Waiting& w) { return w.linkDown; });
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &ReleaseWait::finish);
    m_deadline->start(anyDown ? LinkReturnWaitMs : m_waitMs);
    // Nothing to await: done all the same from the event loop, as a caller expects.
    if (m_waits.empty())
        QTimer::singleShot(0, this, &ReleaseWait::finish);
}

void ReleaseWait::watch(Waiting& waiting)
{
    IRigX* rig = m_link.Rig(waiting.rig);
    connect(rig, &IRigX::paramsChanged, this, [this, &waiting](int params) {
        if (params == PM_RX)
            waiting.pending = false;
        check();
    });
    connect(rig, &IRigX::statusChanged, this, [this, &waiting, rig] {
        // Online again means its release was answered; gone means it cannot be.
        if (waiting.linkDown ? rig->Status() == rsOnline : rig->Status() != rsOnline)
            waiting.pending = waiting.linkDown = false;
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
        if (waiting.linkDown)
            m_linkDown << waiting.rig;
    }
    emit done();
}
