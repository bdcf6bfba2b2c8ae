#include "OmniRigX.h"
#include "RigServerProcess.h"
#include "RigctldRig.h"

#include "core/IniProfile.h"

#include <QDebug>
#include <QPointer>

TOmniRigX::TOmniRigX(QObject* parent)
    : TOmniRigX(std::make_unique<TRigctldRig>(1), std::make_unique<TRigctldRig>(2), parent)
{
}

TOmniRigX::TOmniRigX(std::unique_ptr<IRigX> rig1, std::unique_ptr<IRigX> rig2, QObject* parent)
    : QObject(parent)
{
    m_rigs = { rig1.release(), rig2.release() };
    for (IRigX* rig : m_rigs)
        rig->setParent(this);
    attach(m_rigs[0], 1);
    attach(m_rigs[1], 2);
    for (int i = 0; i < 2; ++i)
        attachServer(i);
}

namespace {
// A rigctld this program has just started needs a moment before it listens (longer with a
// real radio, which it opens first); its link tries again soon rather than after the
// usual half second.
constexpr int ManagedReconnectMs = 100;
}

void TOmniRigX::attachServer(int index)
{
    const int rigNumber = index + 1;
    auto* server = new RigServerProcess(rigNumber, this);
    m_servers[index] = server;
    connect(server, &RigServerProcess::started, this, [this, index, rigNumber](qint64 pid) {
        emit OnServerStarted(rigNumber, pid);
        // The link may be waiting out a long retry delay from the server's absence.
        if (m_connected)
            m_rigs[index]->Start(m_settings.rigs[index], timingsOf(index));
    });
    connect(server, &RigServerProcess::output, this,
        [this, rigNumber](const QString& line) { emit OnServerOutput(rigNumber, line); });
    connect(
        server, &RigServerProcess::exited, this, [this, index, rigNumber](const QString& status) {
            emit OnServerExited(rigNumber, status);
            if (std::exchange(m_startAfterServerEnds[index], false) && m_connected)
                startRig(index);
        });
    connect(server, &RigServerProcess::problem, this,
        [this, rigNumber](const QString& text) { emit OnServerProblem(rigNumber, text); });
}

qint64 TOmniRigX::ServerProcessId(int RigNumber) const
{
    if (RigNumber < 1 || RigNumber > 2)
        return 0;
    const RigServerProcess* server = m_servers[RigNumber - 1];
    return server->isRunning() ? server->processId() : 0;
}

void TOmniRigX::SetServerBackOff(int firstMs, int maxMs)
{
    for (RigServerProcess* server : m_servers)
        server->setBackOff(firstMs, maxMs);
}

RigTimings TOmniRigX::timingsOf(int index) const
{
    RigTimings timings = m_timings;
    if (m_settings.servers[index].isManaged())
        timings.reconnectMin = std::min(timings.reconnectMin, ManagedReconnectMs);
    return timings;
}

void TOmniRigX::startRig(int index)
{
    const RigServerOptions& server = m_settings.servers[index];
    if (server.isManaged() && m_settings.rigs[index].isConfigured())
        m_servers[index]->start(server, m_settings.rigs[index].port);
    m_rigs[index]->Start(m_settings.rigs[index], timingsOf(index));
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

void TOmniRigX::attach(IRigX* rig, int rigNumber)
{
    connect(rig, &IRigX::statusChanged, this, [this, rigNumber] {
        post({ EventKind::StatusChange, rigNumber });
    });
    connect(rig, &IRigX::rigTypeChanged, this, [this, rigNumber] {
        post({ EventKind::RigTypeChange, rigNumber });
    });
    connect(rig, &IRigX::paramsChanged, this, [this, rigNumber](int params) {
        post({ EventKind::ParamsChange, rigNumber, params });
    });
    connect(rig, &IRigX::customReply, this,
        [this, rigNumber](const QByteArray& command, const QByteArray& reply) {
            post({ EventKind::CustomReply, rigNumber, 0, command, reply });
        });
    connect(rig, &IRigX::txRefused, this,
        [this, rigNumber](const QString& reason) { emit OnTxRefused(rigNumber, reason); });
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
        m_settings = ReadRigSettings(m_configFile, m_defaults);
    emit settingsChanged();
    m_connected = true;
    // The marks live beside the configuration file; without one every radio is released
    // as its link comes up.
    auto marker = std::make_shared<RigKeyMarker>(RigKeyMarker::fileNameFor(m_configFile));
    for (IRigX* rig : m_rigs) {
        if (auto* rigctld = qobject_cast<TRigctldRig*>(rig))
            rigctld->SetKeyMarker(marker);
    }
    for (int i = 0; i < 2; ++i)
        startRig(i);
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

IRigX* TOmniRigX::Rig1()
{
    Connect();
    return m_rigs[0];
}

IRigX* TOmniRigX::Rig2()
{
    Connect();
    return m_rigs[1];
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
            [this](int rigNumber) { emit OnTestPtt(rigNumber); },
            [this] {
                applyDialogSettings();
                m_dialog->setSettings(m_settings);
            } });
    }
    if (!m_dialog->isVisible())
        m_dialog->setSettings(m_settings);
    m_dialog->open();
}

void TOmniRigX::SetTestAvailable(int RigNumber, bool available, const QString& why)
{
    if (m_dialog)
        m_dialog->setTestAvailable(RigNumber, available, why);
}

void TOmniRigX::ShowTestResult(int RigNumber, const QString& text)
{
    if (m_dialog)
        m_dialog->showTestResult(RigNumber, text);
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
        for (int i = 0; i < 2; ++i) {
            if (settings.rigs[i] == old.rigs[i] && settings.servers[i] == old.servers[i])
                continue;
            // The radio released through the old server before that server ends.
            m_rigs[i]->Stop();
            m_servers[i]->stop();
            // Until it has ended, the old rigctld still holds the port, with the old radio
            // behind it: the link would key that one.
            if (m_servers[i]->isEnding())
                m_startAfterServerEnds[i] = true;
            else
                startRig(i);
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
        emit OnRigTypeChange(this, event.rigNumber);
        break;
    case EventKind::StatusChange:
        emit OnStatusChange(this, event.rigNumber);
        break;
    case EventKind::ParamsChange:
        emit OnParamsChange(this, event.rigNumber, event.params);
        break;
    case EventKind::CustomReply:
        emit OnCustomReply(this, event.rigNumber, event.command, event.reply);
        break;
    }
}
