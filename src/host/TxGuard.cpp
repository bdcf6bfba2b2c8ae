#include "TxGuard.h"

#include "guard/GuardProtocol.h"
#include "rig/RigServerProcess.h"
#include "rig/RigServerProgram.h"

#include <QSocketNotifier>
#include <QTimer>

namespace {

// The rig as the guard knows it.
GuardRig guardRig(RigId rig)
{
    return rig == RigId::A ? GuardRig::A : GuardRig::B;
}

} // namespace

TxGuard::TxGuard(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("TxGuard"));
}

TxGuard::~TxGuard()
{
    m_readable.reset();
    m_writable.reset();
    // Without "bye" the guard reads end of file here and releases whatever is still keyed.
    // It is not waited for: the program is ending, and the release takes its time.
    TxGuardPosix::close(m_socket);
}

bool TxGuard::start(const QString& program, QString* error)
{
    m_program = program;
    return spawn(error);
}

bool TxGuard::spawn(QString* error)
{
    m_socket = TxGuardPosix::spawn(m_program.toLocal8Bit(), &m_pid, error);
    if (m_socket < 0)
        return false;
    m_started.start();
    // Watched only while something is waiting to be sent again.
    m_writable = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, [this] {
        catchUp();
        if (m_writable)
            m_writable->setEnabled(m_behind);
    });
    // What the guard says, and its end closing.
    m_readable = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, [this] {
        QByteArray text;
        for (;;) {
            switch (TxGuardPosix::receive(m_socket, &text)) {
            case TxGuardPosix::Incoming::Nothing:
                return;
            case TxGuardPosix::Incoming::Closed:
                replace(QString());
                return;
            case TxGuardPosix::Incoming::Message:
                if (text.toStdString() == GuardProtocol::releasedMessage())
                    emit releasedForHang();
                break;
            }
        }
    });
    return true;
}

void TxGuard::replace(const QString& reason)
{
    // This may run in a notifier's own signal.
    m_readable->setEnabled(false);
    m_readable.release()->deleteLater();
    m_writable->setEnabled(false);
    m_writable.release()->deleteLater();
    m_behind = false;
    TxGuardPosix::close(m_socket);
    m_socket = -1;
    if (m_byeSent)
        return; // it ended as told
    QString status = TxGuardPosix::reap(m_pid);
    if (status.isEmpty()) {
        status = reason;
        // Its socket closes a moment before it can be collected.
        QTimer::singleShot(ReplaceAfterMs, this, [pid = m_pid] { TxGuardPosix::reap(pid); });
    }
    const QString ended = status.isEmpty()
        ? QStringLiteral("The transmit guard ended")
        : QStringLiteral("The transmit guard ended (%1)").arg(status);
    // A replacement that ends as soon as it is started would be started over and over.
    const bool again = !m_replacement || m_started.hasExpired(ReplaceAfterMs);
    QString error = QStringLiteral("it ended right after its start");
    if (again && spawn(&error)) {
        m_replacement = true;
        emit replaced(ended + QStringLiteral("; a new one was started"));
        catchUp();
        return;
    }
    emit lost(ended
        + QStringLiteral(" and could not be started again (%1): a crash of the "
                         "program from now on may leave the radio transmitting")
              .arg(error));
}

void TxGuard::setRigs(const RigSettings& settings)
{
    if (m_rigsSent && settings == m_rigs)
        return;
    for (RigId rig : AllRigs) {
        const bool changed = !m_rigsSent || settings.rig(rig) != m_rigs.rig(rig)
            || settings.server(rig) != m_rigs.server(rig);
        m_rigs.rig(rig) = settings.rig(rig);
        m_rigs.server(rig) = settings.server(rig);
        if (changed)
            sendRig(rig);
    }
    m_rigsSent = true;
}

void TxGuard::setKeyed(bool keyed)
{
    m_keyed = keyed;
    sendKeyed();
}

void TxGuard::setSerialHandle(int fd)
{
    m_serial = fd;
    sendPort();
}

void TxGuard::alive()
{
    send(GuardProtocol::aliveMessage());
}

void TxGuard::bye()
{
    m_byeSent = true;
    send(GuardProtocol::byeMessage());
}

void TxGuard::sendRig(RigId rig)
{
    const RigEndpoint& endpoint = m_rigs.rig(rig);
    // The host as the program's own connection takes it ("[::1]" without its brackets); one
    // that names no host is sent as no rigctld at all.
    send(GuardProtocol::rigMessage(
        guardRig(rig), RigSocketHost(endpoint.host).toStdString(), endpoint.port));
    // How this program starts the rig's rigctld: the guard starts it again for a release.
    std::vector<std::string> command;
    const RigServerOptions& server = m_rigs.server(rig);
    if (server.isManaged() && endpoint.isConfigured()) {
        command.push_back(RigServerProgram().toStdString());
        for (const QString& argument : RigServerProcess::argumentsFor(server, endpoint.port))
            command.push_back(argument.toStdString());
    }
    if (!m_behind)
        send(GuardProtocol::commandMessage(guardRig(rig), command));
}

void TxGuard::setServer(RigId rig, qint64 pid)
{
    m_servers[rigIndex(rig)] = pid;
    sendServer(rig);
}

void TxGuard::sendServer(RigId rig)
{
    send(GuardProtocol::serverMessage(guardRig(rig), long(m_servers[rigIndex(rig)])));
}

void TxGuard::sendKeyed()
{
    send(GuardProtocol::keyedMessage(m_keyed));
}

void TxGuard::setRigKeyed(RigId rig, bool keyed)
{
    m_rigKeyed[rigIndex(rig)] = keyed;
    sendRigKeyed(rig);
}

void TxGuard::sendRigKeyed(RigId rig)
{
    send(GuardProtocol::txMessage(guardRig(rig), m_rigKeyed[rigIndex(rig)]));
}

void TxGuard::sendPort()
{
    if (m_serial >= 0)
        send(GuardProtocol::portMessage(), m_serial);
    else
        send(GuardProtocol::noPortMessage());
}

void TxGuard::catchUp()
{
    m_behind = false;
    for (RigId rig : AllRigs) {
        if (m_rigsSent && !m_behind)
            sendRig(rig);
    }
    for (RigId rig : AllRigs) {
        if (!m_behind)
            sendServer(rig);
        if (!m_behind)
            sendRigKeyed(rig);
    }
    if (!m_behind)
        sendPort();
    if (!m_behind)
        sendKeyed();
}

void TxGuard::send(const std::string& message, int fd)
{
    if (m_socket < 0)
        return;
    if (m_behind) {
        catchUp();
        if (m_behind)
            return;
        // The state just sent includes what this message says, except for "bye".
        if (message != GuardProtocol::byeMessage())
            return;
    }
    QString error;
    switch (TxGuardPosix::send(m_socket, QByteArray::fromStdString(message), fd, &error)) {
    case TxGuardPosix::SendResult::Sent:
        return;
    case TxGuardPosix::SendResult::Full:
        m_behind = true;
        m_writable->setEnabled(true);
        if (!m_troubleSaid) {
            m_troubleSaid = true;
            emit trouble(QStringLiteral("The transmit guard is not reading; its messages are "
                                        "sent again when it reads"));
        }
        return;
    case TxGuardPosix::SendResult::Gone:
        replace(error);
        return;
    }
}
