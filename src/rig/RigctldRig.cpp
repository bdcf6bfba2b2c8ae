#include "RigctldRig.h"
#include "RigctldReply.h"

#include <QDebug>

TRigctldRig::TRigctldRig(RigId rig, QObject* parent)
    : IRigX(parent)
    , m_rig(rig)
    , m_control(this)
    , m_custom(this)
    , m_pollTimer(this)
    , m_reconnectTimer(this)
{
    m_pollTimer.setSingleShot(true);
    m_reconnectTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &TRigctldRig::poll);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &TRigctldRig::openControl);
    connect(&m_control, &RigctldConnection::opened, this, &TRigctldRig::onControlOpened);
    connect(&m_control, &RigctldConnection::failed, this, &TRigctldRig::onControlFailed);
    connect(&m_custom, &RigctldConnection::opened, this, &TRigctldRig::pumpCustom);
    m_releaseRetry.setSingleShot(true);
    connect(&m_releaseRetry, &QTimer::timeout, this, [this] {
        if (m_releaseOwed && !m_programKeyed && !m_pttWriteInFlight && m_control.isOpen())
            writePtt(PM_RX);
    });
    connect(&m_custom, &RigctldConnection::failed, this, &TRigctldRig::onCustomFailed);
}

TRigctldRig::~TRigctldRig()
{
    // Nobody listens any more, but the radio must still be released.
    blockSignals(true);
    Stop();
}

int TRigctldRig::ReadableParams() const
{
    return m_status == rsOnline && m_pttReadable ? PM_RX | PM_TX : 0;
}

bool TRigctldRig::IsParamReadable(int param) const
{
    return param != 0 && (ReadableParams() & param) == param;
}

void TRigctldRig::Start(const RigEndpoint& endpoint, const RigTimings& timings)
{
    hangUp();
    if (endpoint != m_endpoint) {
        m_maker.clear();
        setRigType(QString());
        m_releaseOwed = false;
    }
    m_endpoint = endpoint;
    m_timings = timings;
    m_control.setReadTimeout(timings.readTimeout);
    m_custom.setReadTimeout(timings.customReplyTimeout);
    m_reconnectDelay = timings.reconnectMin;
    if (!endpoint.isConfigured()) {
        setStatus(rsNotConfigured);
        return;
    }
    // Until the server has answered, the rig is not online, whatever it was before.
    if (m_status == rsOnline || m_status == rsNotConfigured)
        setStatus(rsDisabled);
    m_running = true;
    openControl();
}

void TRigctldRig::Stop()
{
    hangUp();
    setStatus(m_endpoint.isConfigured() ? rsDisabled : rsNotConfigured);
}

void TRigctldRig::hangUp()
{
    m_running = false;
    m_pollTimer.stop();
    m_reconnectTimer.stop();
    // A keying still on its way to the server may be followed only by a release that is
    // queued here; the server works through this connection in order, so one more release
    // sent now lands after it.
    // A release already on its way is only waited for: another one behind it would wait for
    // the radio once more (real backends pause after each release) and could time out.
    const bool releaseUnderWay = m_pttWriteInFlight && m_pttInFlight == PM_RX && m_nextPtt == 0;
    const bool mayBeKeyed = m_programKeyed || m_pttWriteInFlight || m_nextPtt != 0 || m_releaseOwed;
    m_releaseRetry.stop();
    if (mayBeKeyed && m_control.isOpen()) {
        // One that was answered with an error is sent once more.
        bool confirmed = releaseUnderWay && !m_programKeyed
            && m_control.waitUntilAnswered(m_timings.releaseWait);
        if (!confirmed)
            confirmed = m_control.sendAndWait("set_ptt", "0", m_timings.releaseWait);
        if (!confirmed) {
            qWarning().noquote() << describe() << "did not confirm the release of PTT";
        } else {
            mark(false);
            if (m_releaseOwed)
                releaseConfirmedNow();
        }
    }
    m_programKeyed = false;
    m_pttWriteInFlight = false;
    m_nextPtt = 0;
    m_control.close();
    m_custom.close();
    m_claim.drop();
    m_customInFlight.reset();
    m_customQueue.clear();
}

void TRigctldRig::openControl()
{
    if (m_running && claimServer())
        m_control.open(m_endpoint);
}

bool TRigctldRig::claimServer()
{
    if (m_claim.take(QStringLiteral("rigctld %1:%2").arg(m_endpoint.host).arg(m_endpoint.port))) {
        m_heldSaid = false;
        return true;
    }
    if (!std::exchange(m_heldSaid, true)) {
        const QString holder
            = m_claim.holder() > 0 ? QStringLiteral(" (PID %1)").arg(m_claim.holder()) : QString();
        emit heldElsewhere(QStringLiteral("Rig %1: %2:%3 is driven by another VOKEY%4; this "
                                          "one leaves it alone")
                               .arg(rigLetter(m_rig))
                               .arg(m_endpoint.host)
                               .arg(m_endpoint.port)
                               .arg(holder));
    }
    setStatus(rsNotResponding);
    m_reconnectTimer.start(m_timings.reconnectMax);
    return false;
}

void TRigctldRig::onControlOpened()
{
    m_control.send("dump_caps", {}, [this](const RigctldConnection::Reply& reply) {
        if (reply.code == 0) {
            m_maker = RigctldReply::maker(reply.lines);
            setRigType(RigctldReply::rigType(reply.lines));
        }
    });
    // A radio left keyed by a client that went away stays keyed in rigctld: this program's
    // own keying from before a crash is released. Another program's transmission through the
    // same server is not this program's to end.
    const bool mayBeKeyed = !m_marker || m_marker->mayBeKeyed(m_rig, m_endpoint);
    if (!m_programKeyed && m_releaseOwed) {
        writePtt(PM_RX); // the release owed from before the connection was lost
    } else if (!m_programKeyed && mayBeKeyed) {
        m_control.send("set_ptt", "0", [this](const RigctldConnection::Reply& reply) {
            if (reply.code != 0)
                qInfo().noquote() << describe() << "could not release PTT: RPRT" << reply.code;
            else if (!m_programKeyed && !m_pttWriteInFlight)
                mark(false);
        });
    }
    poll();
}

void TRigctldRig::onControlFailed(TRigStatus status, const QString& reason)
{
    qInfo().noquote() << describe() << reason;
    m_pollTimer.stop();
    m_releaseRetry.stop();
    // An owed release goes out again on the next connection; one that got no answer is said
    // (a link that is only down is not: the rig's lamp says that).
    const bool releaseUnanswered = m_pttWriteInFlight && m_pttInFlight == PM_RX;
    if (m_releaseOwed && releaseUnanswered && !std::exchange(m_unconfirmedSaid, true))
        emit releaseUnconfirmed(reason);
    m_pttWriteInFlight = false;
    m_nextPtt = 0;
    setStatus(status);
    if (!m_running)
        return;
    m_reconnectTimer.start(m_reconnectDelay);
    m_reconnectDelay = std::min(m_reconnectDelay * 2, m_timings.reconnectMax);
}

void TRigctldRig::poll()
{
    m_control.send(
        "get_ptt", {}, [this](const RigctldConnection::Reply& reply) { onPttReply(reply); });
}

void TRigctldRig::onPttReply(const RigctldConnection::Reply& reply)
{
    if (reply.code == 0) {
        const std::optional<int> ptt = RigctldReply::ptt(reply.lines);
        if (!ptt) {
            m_control.close();
            onControlFailed(rsNotResponding, QStringLiteral("malformed PTT answer"));
            return;
        }
        const int tx = *ptt != 0 ? PM_TX : PM_RX;
        // The radio read back on receive confirms a release as well.
        if (tx == PM_RX && m_releaseOwed && !m_programKeyed && !m_pttWriteInFlight)
            releaseConfirmedNow();
        const bool changed = m_tx != tx;
        m_tx = tx;
        m_pttReadable = true;
        if (m_status != rsOnline) {
            m_reconnectDelay = m_timings.reconnectMin;
            m_dropLogged = false;
            setStatus(rsOnline);
        } else if (changed) {
            emit paramsChanged(tx);
        }
    } else if (RigctldConnection::isCommunicationError(reply.code)) {
        setStatus(rsNotResponding);
    } else {
        // The server answers, but this radio's transmit state cannot be read.
        m_pttReadable = false;
        m_tx = 0;
        setStatus(rsOnline);
    }
    m_pollTimer.start(m_timings.pollInterval);
}

void TRigctldRig::SetTx(int param)
{
    if (param != PM_TX && param != PM_RX)
        throw ERigError(QStringLiteral("Invalid transmit state value 0x%1").arg(param, 0, 16));
    // Releasing is always safe to send while the server listens; keying only when the
    // radio is known to answer. Nothing is kept for later: a late transmit is dangerous.
    const bool canSend = m_control.isOpen() && (param == PM_RX || m_status == rsOnline);
    // Owed from a keying of this program until confirmed; a new keying takes its place once
    // it is sent (one dropped leaves the radio as the earlier keying left it).
    if (param == PM_RX && (m_programKeyed || m_pttWriteInFlight || m_nextPtt == PM_TX))
        m_releaseOwed = true;
    if (!canSend) {
        if (param == PM_RX)
            m_programKeyed = false;
        logDropped(param == PM_TX ? "transmit command" : "receive command");
        return;
    }
    // The station asks for transmit at every tick; a server shared with a logger gets it when
    // it changes, and again once a second (a radio that dropped transmit by itself is keyed
    // again).
    if (param == PM_TX && m_programKeyed && m_txSent.isValid() && !m_txSent.hasExpired(TxRepeatMs))
        return;
    if (param == PM_TX) {
        m_releaseOwed = false;
        m_releaseRetry.stop();
    } else {
        m_refusalSaid = false;
    }
    m_programKeyed = param == PM_TX;
    if (m_pttWriteInFlight) {
        // At most one write waits, and it is the latest one; a release behind a release
        // already on its way is not sent twice.
        m_nextPtt = param == PM_RX && m_pttInFlight == PM_RX ? 0 : param;
        return;
    }
    writePtt(param);
}

void TRigctldRig::writePtt(int param)
{
    if (!m_control.isOpen())
        return;
    if (param == PM_TX) {
        mark(true); // before the keying can reach the radio
        m_txSent.start();
    }
    m_pttWriteInFlight = true;
    m_pttInFlight = param;
    m_control.send("set_ptt", param == PM_TX ? "1" : "0",
        [this, param](const RigctldConnection::Reply& reply) { onPttWritten(param, reply); });
}

void TRigctldRig::onPttWritten(int param, const RigctldConnection::Reply& reply)
{
    m_pttWriteInFlight = false;
    if (param == PM_RX && m_nextPtt == 0 && !m_programKeyed && m_releaseOwed) {
        if (reply.code == 0)
            releaseConfirmedNow();
        else
            releaseNotConfirmed(RigctldReply::errorText(reply.code));
    }
    if (reply.code == 0) {
        if (param == PM_RX && m_nextPtt == 0 && !m_programKeyed)
            mark(false);
        if (m_status == rsOnline && m_pttReadable && m_tx != param) {
            m_tx = param;
            emit paramsChanged(param);
        }
    } else if (RigctldConnection::isCommunicationError(reply.code)) {
        setStatus(rsNotResponding);
    } else {
        // Once an over: the station reports the refusal to the operator.
        if (!std::exchange(m_refusalSaid, true))
            qWarning().noquote() << describe() << "refused the transmit state: RPRT" << reply.code;
        if (param == PM_TX)
            emit txRefused(RigctldReply::errorText(reply.code));
    }
    const int next = std::exchange(m_nextPtt, 0);
    if (next == PM_RX || (next == PM_TX && m_status == rsOnline))
        writePtt(next);
}

void TRigctldRig::SendCustomCommand(
    const QByteArray& command, int replyLength, const QByteArray& replyEnd)
{
    if (command.isEmpty())
        return;
    if (command.size() > MaxCustomCommandLength)
        throw ERigError(
            QStringLiteral("Custom command longer than %1 bytes").arg(MaxCustomCommandLength));
    if (m_status != rsOnline) {
        logDropped("custom command");
        return;
    }
    QByteArray args = RigctldReply::encodeRaw(command) + ' ';
    if (replyLength > 0)
        args += QByteArray::number(replyLength);
    else if (!replyEnd.isEmpty())
        args += RigctldReply::encodeRaw(replyEnd.left(1));
    else
        args += '0';
    const int backlog = int(m_customQueue.size()) + (m_customInFlight ? 1 : 0);
    if (backlog >= MaxCustomBacklog && !m_customQueue.empty()) {
        qDebug().noquote() << describe() << "does not keep up with custom commands; one dropped";
        m_customQueue.pop_front();
    }
    m_customQueue.push_back(CustomCommand { command, args });
    pumpCustom();
}

void TRigctldRig::pumpCustom()
{
    if (m_customInFlight || m_customQueue.empty() || !m_running)
        return;
    if (!m_custom.isOpen()) {
        if (!m_custom.isConnecting())
            m_custom.open(m_endpoint);
        return;
    }
    CustomCommand next = std::move(m_customQueue.front());
    m_customQueue.pop_front();
    m_customInFlight = next.command;
    m_custom.send("send_cmd_rx", next.args, [this](const RigctldConnection::Reply& reply) {
        const QByteArray command = *std::exchange(m_customInFlight, std::nullopt);
        if (reply.code == 0)
            emit customReply(command, RigctldReply::rawReply(reply.lines));
        pumpCustom();
    });
}

void TRigctldRig::onCustomFailed(TRigStatus status, const QString& reason)
{
    // An unanswered raw command: the connection was closed so that a late answer cannot be
    // taken for the next one's; the waiting commands go out on a fresh connection.
    qDebug().noquote() << describe() << "custom command connection:" << reason;
    m_customInFlight.reset();
    if (status == rsNotResponding && m_status == rsOnline)
        pumpCustom();
    else
        m_customQueue.clear();
}

void TRigctldRig::releaseConfirmedNow()
{
    m_releaseOwed = false;
    m_unconfirmedSaid = false;
    m_releaseRetry.stop();
    emit releaseConfirmed();
}

void TRigctldRig::releaseNotConfirmed(const QString& reason)
{
    // Said once for each release; sent again a few times a second until confirmed.
    if (!std::exchange(m_unconfirmedSaid, true))
        emit releaseUnconfirmed(reason);
    m_releaseRetry.start(ReleaseRetryMs);
}

void TRigctldRig::mark(bool keyed)
{
    if (m_marker)
        m_marker->mark(m_rig, keyed, m_endpoint);
}

void TRigctldRig::setStatus(int status)
{
    if (status != rsOnline) {
        m_tx = 0;
        m_pttReadable = false;
        m_customQueue.clear();
    }
    if (status == m_status)
        return;
    m_status = status;
    m_dropLogged = false;
    emit statusChanged();
}

void TRigctldRig::setRigType(const QString& type)
{
    if (type == m_rigType)
        return;
    m_rigType = type;
    emit rigTypeChanged();
}

void TRigctldRig::logDropped(const char* what)
{
    // A rig set to none has nothing to drop a command for.
    if (!m_endpoint.isConfigured() || std::exchange(m_dropLogged, true))
        return;
    qWarning().noquote() << describe()
                         << QStringLiteral("is not online (status %1): %2 dropped")
                                .arg(m_status)
                                .arg(QLatin1String(what));
}

QString TRigctldRig::describe() const
{
    return QStringLiteral("Rig%1 (rigctld at %2:%3)")
        .arg(rigNumber(m_rig))
        .arg(m_endpoint.host)
        .arg(m_endpoint.port);
}
