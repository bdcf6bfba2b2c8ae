#include "TxGuard.h"

#include "guard/GuardProtocol.h"

#include <QSocketNotifier>

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
    m_writable.reset();
    // Without "bye" the guard reads end of file here and releases whatever is still keyed.
    // It is not waited for: the program is ending, and the release takes its time.
    TxGuardPosix::close(m_socket);
}

bool TxGuard::start(const QString& program, QString* error)
{
    m_socket = TxGuardPosix::spawn(program.toLocal8Bit(), &m_pid, error);
    if (m_socket < 0)
        return false;
    // Watched only while something is waiting to be sent again.
    m_writable = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, [this] {
        catchUp();
        if (m_writable)
            m_writable->setEnabled(m_behind);
    });
    return true;
}

void TxGuard::setRigs(const RigSettings& settings)
{
    if (m_rigsSent && settings == m_rigs)
        return;
    for (RigId rig : AllRigs) {
        const bool changed = !m_rigsSent || settings.rig(rig) != m_rigs.rig(rig);
        m_rigs.rig(rig) = settings.rig(rig);
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

void TxGuard::bye()
{
    send(GuardProtocol::byeMessage());
}

void TxGuard::sendRig(RigId rig)
{
    const RigEndpoint& endpoint = m_rigs.rig(rig);
    // The host as the program's own connection takes it ("[::1]" without its brackets); one
    // that names no host is sent as no rigctld at all.
    send(GuardProtocol::rigMessage(
        guardRig(rig), RigSocketHost(endpoint.host).toStdString(), endpoint.port));
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
        // This may run in the notifier's own signal.
        m_writable->setEnabled(false);
        m_writable.release()->deleteLater();
        m_behind = false;
        TxGuardPosix::close(m_socket);
        m_socket = -1;
        TxGuardPosix::reap(m_pid);
        emit trouble(QStringLiteral("The transmit guard ended (%1): a crash of the program "
                                    "from now on may leave the radio transmitting")
                         .arg(error));
        return;
    }
}
