#include "OmniRigX.h"
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
}

TOmniRigX::~TOmniRigX()
{
    Disconnect();
    for (IRigX* rig : m_rigs)
        rig->disconnect(this);
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

void TOmniRigX::Connect()
{
    if (m_connected)
        return;
    if (!m_configFile.isEmpty())
        m_settings = ReadRigSettings(m_configFile, m_defaults);
    emit settingsChanged();
    m_connected = true;
    for (int i = 0; i < 2; ++i)
        m_rigs[i]->Start(m_settings.rigs[i], m_timings);
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
            if (settings.rigs[i] != old.rigs[i])
                m_rigs[i]->Start(settings.rigs[i], m_timings);
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
