#include "OmniRigX.h"
#include "RigServerProcess.h"
#include "RigctldRig.h"

#include "core/IniProfile.h"

#include <QDebug>
#include <QPointer>

TOmniRigX::TOmniRigX(QObject* parent)
    : TOmniRigX(
        std::make_unique<TRigctldRig>(RigId::A), std::make_unique<TRigctldRig>(RigId::B), parent)
{
}

TOmniRigX::TOmniRigX(std::unique_ptr<IRigX> rig1, std::unique_ptr<IRigX> rig2, QObject* parent)
    : QObject(parent)
{
    m_rigs = { rig1.release(), rig2.release() };
    for (IRigX* rig : m_rigs)
        rig->setParent(this);
    for (RigId id : AllRigs) {
        attach(id);
        attachServer(id);
    }
}

namespace {
// A rigctld this program has just started needs a moment before it listens (longer with a
// real radio, which it opens first); its link tries again soon rather than after the
// usual half second.
constexpr int ManagedReconnectMs = 100;
}

void TOmniRigX::attachServer(RigId id)
{
    auto* server = new RigServerProcess(id, this);
    serverOf(id) = server;
    connect(server, &RigServerProcess::started, this, [this, id](qint64 pid) {
        emit OnServerStarted(id, pid);
        // The link may be waiting out a long retry delay from the server's absence.
        if (m_connected)
            rigOf(id)->Start(m_settings.rig(id), timingsOf(id));
    });
    connect(server, &RigServerProcess::output, this, [this, id](const QString& line) {
        emit OnServerOutput(id, line);
        // A model number Hamlib does not know ends rigctld at once, again at each restart:
        // the line of the settings is said, once for these settings.
        if (line.startsWith(QLatin1String("Unknown rig num"))
            && !std::exchange(m_unknownModelSaid[rigIndex(id)], true))
            emit OnServerProblem(
                id, UnknownModelProblem(m_configFile, id, m_settings.server(id).model));
    });
    connect(server, &RigServerProcess::exited, this, [this, id](const QString& status) {
        emit OnServerExited(id, status);
        // Not connected again until this program's next rigctld runs: another program may
        // take the port meanwhile. A release owed is kept for that one.
        if (m_connected && m_settings.server(id).isManaged())
            rigOf(id)->Stop();
        // rigctld leaves the radio as it was: one that ended before the release reached the
        // radio is started again at once to carry it.
        if (rigOf(id)->ReleasePending())
            serverOf(id)->restartSoon();
        if (std::exchange(m_startAfterServerEnds[rigIndex(id)], false) && m_connected)
            startRig(id);
    });
    connect(server, &RigServerProcess::problem, this,
        [this, id](const QString& text) { emit OnServerProblem(id, text); });
}

qint64 TOmniRigX::ServerProcessId(RigId Rig) const
{
    const RigServerProcess* server = serverOf(Rig);
    return server->isRunning() ? server->processId() : 0;
}

void TOmniRigX::ReviveRig(RigId Rig)
{
    if (!m_settings.rig(Rig).isConfigured())
        return;
    if (m_settings.server(Rig).isManaged()) {
        serverOf(Rig)->restartSoon();
        if (!serverOf(Rig)->isRunning())
            return; // its link starts with it
    }
    if (rigOf(Rig)->Status() != rsOnline)
        rigOf(Rig)->Start(m_settings.rig(Rig), timingsOf(Rig));
}

void TOmniRigX::SetServerBackOff(int firstMs, int maxMs)
{
    for (RigServerProcess* server : m_servers)
        server->setBackOff(firstMs, maxMs);
}

RigTimings TOmniRigX::timingsOf(RigId id) const
{
    RigTimings timings = m_timings;
    if (m_settings.server(id).isManaged())
        timings.reconnectMin = std::min(timings.reconnectMin, ManagedReconnectMs);
    return timings;
}

void TOmniRigX::startRig(RigId id)
{
    const RigServerOptions& server = m_settings.server(id);
    m_unknownModelSaid[rigIndex(id)] = false;
    if (server.isManaged() && m_settings.rig(id).isConfigured()) {
        // Its link connects only to the rigctld this program started (see attachServer):
        // another program's server on that port drives a radio this one does not.
        serverOf(id)->start(server, m_settings.rig(id).port);
        if (!serverOf(id)->isRunning() || serverOf(id)->isEnding()) {
            rigOf(id)->Stop();
            return;
        }
    }
    rigOf(id)->Start(m_settings.rig(id), timingsOf(id));
}

TOmniRigX::~TOmniRigX()
{
    Disconnect();
    for (IRigX* rig : m_rigs)
        rig->disconnect(this);
    for (RigServerProcess* server : m_servers)
        server->disconnect(this);
    if (m_dialog)
        m_dialog->setEvents({});
}

void TOmniRigX::attach(RigId id)
{
    IRigX* rig = rigOf(id);
    connect(rig, &IRigX::statusChanged, this, [this, id] {
        post({ EventKind::StatusChange, id });
    });
    connect(rig, &IRigX::rigTypeChanged, this, [this, id] {
        post({ EventKind::RigTypeChange, id });
    });
    connect(rig, &IRigX::paramsChanged, this, [this, id](int params) {
        post({ EventKind::ParamsChange, id, params });
    });
    connect(rig, &IRigX::customReply, this,
        [this, id](const QByteArray& command, const QByteArray& reply) {
            post({ EventKind::CustomReply, id, 0, command, reply });
        });
    connect(rig, &IRigX::txRefused, this,
        [this, id](const QString& reason) { emit OnTxRefused(id, reason); });
    connect(rig, &IRigX::releaseUnconfirmed, this,
        [this, id](const QString& reason) { emit OnReleaseUnconfirmed(id, reason); });
    connect(rig, &IRigX::releaseConfirmed, this, [this, id] { emit OnReleaseConfirmed(id); });
    connect(rig, &IRigX::heldElsewhere, this,
        [this, id](const QString& text) { emit OnServerProblem(id, text); });
}

void TOmniRigX::Close()
{
    m_closed = true;
    Disconnect();
}

void TOmniRigX::Connect()
{
    if (m_connected || m_closed)
        return;
    if (!m_configFile.isEmpty())
        m_settings = ReadRigSettings(m_configFile, m_defaults, &m_settingsProblems);
    emit settingsChanged();
    m_connected = true;
    // The marks live beside the configuration file; without one every radio is released
    // as its link comes up.
    auto marker = std::make_shared<RigKeyMarker>(RigKeyMarker::fileNameFor(m_configFile));
    marker->setProblemReport([this](const QString& text) { emit OnMarkProblem(text); });
    for (IRigX* rig : m_rigs) {
        if (auto* rigctld = qobject_cast<TRigctldRig*>(rig))
            rigctld->SetKeyMarker(marker);
    }
    for (RigId id : AllRigs)
        startRig(id);
}

void TOmniRigX::Disconnect()
{
    if (!m_connected)
        return;
    m_connected = false;
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(),
                       [](const Event& e) { return e.kind != EventKind::VisibleChange; }),
        m_events.end());
    for (IRigX* rig : m_rigs)
        rig->Stop();
    // Only now that the radios have been released: rigctld leaves a radio as it is.
    for (RigServerProcess* server : m_servers)
        server->stopAndWait();
}

IRigX* TOmniRigX::Rig(RigId id)
{
    Connect();
    return rigOf(id);
}

IRigX* TOmniRigX::Rig1()
{
    return Rig(RigId::A);
}

IRigX* TOmniRigX::Rig2()
{
    return Rig(RigId::B);
}

bool TOmniRigX::DialogVisible() const
{
    return m_dialog && m_dialog->isVisible();
}

void TOmniRigX::SetDialogVisible(bool visible)
{
    Connect();
    if (!visible) {
        if (m_dialog)
            m_dialog->hide();
        return;
    }
    if (!m_dialog) {
        if (!m_viewFactory)
            return;
        m_dialog = m_viewFactory();
        m_dialog->setEvents({ [this] { post({ EventKind::VisibleChange }); },
            [this](bool accepted) { onDialogFinished(accepted); },
            [this](RigId rig) { emit OnTestPtt(rig); },
            [this] {
                applyDialogSettings();
                m_dialog->setSettings(m_settings);
            } });
    }
    if (!m_dialog->isVisible())
        m_dialog->setSettings(m_settings);
    m_dialog->open();
}

void TOmniRigX::SetTestAvailable(RigId Rig, bool available, const QString& why)
{
    if (m_dialog)
        m_dialog->setTestAvailable(Rig, available, why);
}

void TOmniRigX::ShowTestResult(RigId Rig, const QString& text)
{
    if (m_dialog)
        m_dialog->showTestResult(Rig, text);
}

void TOmniRigX::onDialogFinished(bool accepted)
{
    if (accepted)
        applyDialogSettings();
}

void TOmniRigX::applyDialogSettings()
{
    try {
        ApplySettings(m_dialog->settings());
    } catch (const EIniWrite& error) {
        qWarning().noquote() << error.Message() << error.Reason();
        m_dialog->showError(error.Message());
    }
}

void TOmniRigX::ApplySettings(const RigSettings& settings)
{
    const RigSettings old = std::exchange(m_settings, settings);
    emit settingsChanged();
    if (m_connected) {
        for (RigId id : AllRigs) {
            if (settings.rig(id) == old.rig(id) && settings.server(id) == old.server(id))
                continue;
            // The radio released through the old server before that server ends.
            rigOf(id)->Stop();
            serverOf(id)->stop();
            // Until it has ended, the old rigctld still holds the port, with the old radio
            // behind it: the link would key that one.
            if (serverOf(id)->isEnding())
                m_startAfterServerEnds[rigIndex(id)] = true;
            else
                startRig(id);
        }
    }
    if (!m_configFile.isEmpty())
        WriteRigSettings(m_configFile, settings);
}

void TOmniRigX::post(Event event)
{
    if (!m_connected && event.kind != EventKind::VisibleChange)
        return; // a disconnected client hears nothing from the server
    m_events.push_back(std::move(event));
    if (!m_dispatchPosted) {
        m_dispatchPosted = true;
        QMetaObject::invokeMethod(this, &TOmniRigX::dispatchEvents, Qt::QueuedConnection);
    }
}

void TOmniRigX::dispatchEvents()
{
    m_dispatchPosted = false;
    // A handler that runs a nested event loop must not see the next event before it has
    // returned; the outer call goes on with the queue afterwards.
    if (m_dispatching)
        return;
    m_dispatching = true;
    // A handler may throw (a failed rig call meant for the application's error report) or
    // destroy this object; either way the events still waiting must not be stranded.
    QPointer<TOmniRigX> alive(this);
    struct Resume {
        QPointer<TOmniRigX>& self;
        ~Resume()
        {
            if (!self)
                return;
            self->m_dispatching = false;
            if (!self->m_events.empty() && !self->m_dispatchPosted) {
                self->m_dispatchPosted = true;
                QMetaObject::invokeMethod(
                    self.data(), &TOmniRigX::dispatchEvents, Qt::QueuedConnection);
            }
        }
    } resume { alive };
    while (alive && !m_events.empty()) {
        const Event event = std::move(m_events.front());
        m_events.pop_front();
        deliver(event);
    }
}

void TOmniRigX::deliver(const Event& event)
{
    switch (event.kind) {
    case EventKind::VisibleChange:
        emit OnVisibleChange(this);
        break;
    case EventKind::RigTypeChange:
        emit OnRigTypeChange(this, event.rig);
        break;
    case EventKind::StatusChange:
        emit OnStatusChange(this, event.rig);
        break;
    case EventKind::ParamsChange:
        emit OnParamsChange(this, event.rig, event.params);
        break;
    case EventKind::CustomReply:
        emit OnCustomReply(this, event.rig, event.command, event.reply);
        break;
    }
}
