#include "RigctldConnection.h"

#include "RigSettings.h"

#include <QDeadlineTimer>

#include <optional>

namespace {
// rigctld's longest lines (capability lists) are a few hundred bytes; anything near these
// limits is not rigctld talking.
constexpr qsizetype MaxLineLength = 8192;
constexpr qsizetype MaxReplyLines = 2000;

// Hamlib error numbers (returned negated in "RPRT n").
constexpr int HamlibTimeout = 5;
constexpr int HamlibIoError = 6;
constexpr int HamlibProtocolError = 8;
constexpr int HamlibBusError = 13;
constexpr int HamlibBusBusy = 14;
constexpr int HamlibPowerOff = 20;
}

RigctldConnection::RigctldConnection(QObject* parent)
    : QObject(parent)
    , m_socket(this)
    , m_timer(this)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_socket.state() == QAbstractSocket::ConnectedState)
            fail(rsNotResponding, QStringLiteral("no answer within %1 ms").arg(m_readTimeout));
        else
            fail(rsPortBusy, QStringLiteral("no connection within %1 ms").arg(m_readTimeout));
    });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_timer.stop();
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit opened();
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this,
        [this](QAbstractSocket::SocketError) { fail(rsPortBusy, m_socket.errorString()); });
    connect(&m_socket, &QTcpSocket::readyRead, this, &RigctldConnection::onReadyRead);
}

RigctldConnection::~RigctldConnection()
{
    m_socket.disconnect(this);
    m_socket.abort();
}

void RigctldConnection::open(const RigEndpoint& endpoint)
{
    close();
    m_endpoint = endpoint;
    // "[::1]" is how users write an IPv6 address; the socket wants it without brackets.
    m_socket.connectToHost(RigSocketHost(endpoint.host), endpoint.port);
    m_timer.start(m_readTimeout);
}

void RigctldConnection::close()
{
    m_timer.stop();
    m_pending.clear();
    m_buffer.clear();
    m_socket.abort();
}

bool RigctldConnection::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool RigctldConnection::isConnecting() const
{
    return m_socket.state() == QAbstractSocket::HostLookupState
        || m_socket.state() == QAbstractSocket::ConnectingState;
}

void RigctldConnection::send(const QByteArray& name, const QByteArray& args, Handler handler)
{
    if (!isOpen())
        return;
    QByteArray line = "+\\" + name;
    if (!args.isEmpty())
        line += ' ' + args;
    line += '\n';
    m_pending.push_back(Request { name, std::move(handler), false, {} });
    m_socket.write(line);
    // Out now, not at the next turn of the event loop: a PTT change must not wait.
    m_socket.flush();
    if (m_pending.size() == 1)
        armTimer();
}

bool RigctldConnection::sendAndWait(const QByteArray& name, const QByteArray& args, int timeoutMs)
{
    if (!isOpen())
        return false;
    // Earlier requests still owe answers; their owners are going away, so only skip them.
    for (Request& request : m_pending)
        request.handler = {};
    bool done = false;
    bool ok = false;
    send(name, args, [&done, &ok](const Reply& reply) {
        done = true;
        ok = reply.code == 0;
    });
    const QDeadlineTimer deadline(timeoutMs);
    m_socket.flush();
    while (!done && isOpen() && !deadline.hasExpired())
        m_socket.waitForReadyRead(int(deadline.remainingTime()));
    if (!done) {
        // The handler refers to this stack frame: it must never run.
        for (Request& request : m_pending)
            request.handler = {};
    }
    return ok;
}

bool RigctldConnection::waitUntilAnswered(int timeoutMs)
{
    // Whoever asked is going away: the answers are only waited for, and only the last one's
    // outcome is kept.
    int lastCode = 0;
    for (Request& request : m_pending)
        request.handler = [&lastCode](const Reply& reply) { lastCode = reply.code; };
    const QDeadlineTimer deadline(timeoutMs);
    m_socket.flush();
    while (!m_pending.empty() && isOpen() && !deadline.hasExpired())
        m_socket.waitForReadyRead(int(deadline.remainingTime()));
    // The handlers refer to this stack frame: they must never run.
    for (Request& request : m_pending)
        request.handler = {};
    return m_pending.empty() && isOpen() && lastCode == 0;
}

bool RigctldConnection::isCommunicationError(int code)
{
    switch (-code) {
    case HamlibTimeout:
    case HamlibIoError:
    case HamlibProtocolError:
    case HamlibBusError:
    case HamlibBusBusy:
    case HamlibPowerOff:
        return true;
    default:
        return false;
    }
}

void RigctldConnection::onReadyRead()
{
    m_buffer += m_socket.readAll();
    qsizetype start = 0;
    while (isOpen()) {
        const qsizetype end = m_buffer.indexOf('\n', start);
        if (end < 0)
            break;
        QByteArray line = m_buffer.mid(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!takeLine(line))
            return; // the connection failed and was reset
    }
    if (!isOpen())
        return;
    m_buffer.remove(0, start);
    if (m_buffer.size() > MaxLineLength)
        fail(rsNotResponding, QStringLiteral("line from server too long"));
}

namespace {
// rigctld answers a raw command that got no reply from the radio with "Reply: RPRT n" in
// place of the reply and of the last line.
std::optional<int> bareReplyCode(const QByteArray& line)
{
    static const QByteArray label = "Reply: RPRT ";
    const qsizetype at = line.indexOf(label);
    if (at < 0)
        return std::nullopt;
    bool isNumber = false;
    const int code = line.mid(at + label.size()).trimmed().toInt(&isNumber);
    return isNumber ? std::optional<int>(code) : std::nullopt;
}
}

bool RigctldConnection::takeLine(const QByteArray& line)
{
    if (m_pending.empty()) {
        fail(rsNotResponding, QStringLiteral("unexpected data from server"));
        return false;
    }
    Request& request = m_pending.front();
    if (line.startsWith("RPRT ")) {
        bool isNumber = false;
        const int code = line.mid(5).trimmed().toInt(&isNumber);
        if (!isNumber) {
            fail(rsNotResponding, QStringLiteral("malformed answer from server"));
            return false;
        }
        return complete(code, std::move(request.reply.lines));
    }
    if (const std::optional<int> code = bareReplyCode(line))
        return complete(*code, {});
    if (!request.headerSeen) {
        if (!line.startsWith(request.name + ':')) {
            fail(rsNotResponding, QStringLiteral("unexpected answer from server"));
            return false;
        }
        request.headerSeen = true;
        return true;
    }
    if (request.reply.lines.size() >= MaxReplyLines) {
        fail(rsNotResponding, QStringLiteral("answer from server too long"));
        return false;
    }
    request.reply.lines.append(line);
    return true;
}

bool RigctldConnection::complete(int code, QList<QByteArray> lines)
{
    Reply reply { code, std::move(lines) };
    Handler handler = std::move(m_pending.front().handler);
    m_pending.pop_front();
    armTimer();
    if (handler)
        handler(reply);
    return isOpen();
}

void RigctldConnection::fail(TRigStatus status, const QString& reason)
{
    close();
    emit failed(status, reason);
}

void RigctldConnection::armTimer()
{
    if (m_pending.empty())
        m_timer.stop();
    else
        m_timer.start(m_readTimeout);
}
