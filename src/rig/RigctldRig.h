#pragma once

#include "RadioClaim.h"
#include "RigId.h"
#include "RigKeyMarker.h"
#include "RigX.h"
#include "RigctldConnection.h"

#include <QElapsedTimer>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>

// A radio behind one rigctld instance. Two connections: the control connection carries
// the transmit-state poll, PTT writes and the capability query; raw CAT commands travel on
// a connection of their own, so a radio that answers them slowly (or a server that never
// does) cannot hold up keying.
//
// Transmit safety that rigctld does not give: when the link comes up and this program is
// not keying the radio, it is released once if this program may have left it keyed (see
// RigKeyMarker; a transmission another client of the same rigctld started is left alone);
// Stop() releases a radio this program keyed before it hangs up.
class TRigctldRig : public IRigX {
    Q_OBJECT
public:
    explicit TRigctldRig(RigId rig, QObject* parent = nullptr);
    ~TRigctldRig() override;

    QString RigType() const override { return m_rigType; }
    QString Maker() const override { return m_maker; }
    int Status() const override { return m_status; }
    int ReadableParams() const override;
    bool IsParamReadable(int param) const override;
    int Tx() const override { return m_tx; }
    void SetTx(int param) override;
    void SendCustomCommand(
        const QByteArray& command, int replyLength, const QByteArray& replyEnd) override;

    void Start(const RigEndpoint& endpoint, const RigTimings& timings) override;
    // Where this program notes the radios it may have left keyed; none: every radio counts
    // as possibly keyed.
    void SetKeyMarker(std::shared_ptr<RigKeyMarker> marker) { m_marker = std::move(marker); }
    void Stop() override;
    bool ReleasePending() const override { return m_releaseOwed; }
    bool HeldElsewhere() const override { return m_heldSaid; }

    // Raw commands waiting or in flight never exceed this; older waiting ones are dropped.
    static constexpr int MaxCustomBacklog = 2;
    static constexpr int MaxCustomCommandLength = 128;

private:
    struct CustomCommand {
        QByteArray command;
        QByteArray args;
    };

    void hangUp();
    void openControl();
    // The claim on this rig's server: false (said once, tried again later) when another
    // VOKEY process holds it.
    bool claimServer();
    void onControlOpened();
    void onControlFailed(TRigStatus status, const QString& reason);
    void poll();
    void onPttReply(const RigctldConnection::Reply& reply);
    void writePtt(int param);
    void onPttWritten(int param, const RigctldConnection::Reply& reply);
    void pumpCustom();
    void onCustomFailed(TRigStatus status, const QString& reason);
    void setStatus(int status);
    void setRigType(const QString& type);
    void logDropped(const char* what);
    QString describe() const;

    void mark(bool keyed);
    // The owed release confirmed, or sent again soon after an error or no answer.
    void releaseConfirmedNow();
    void releaseNotConfirmed(const QString& reason);

    const RigId m_rig;
    std::shared_ptr<RigKeyMarker> m_marker;
    RadioClaim m_claim;
    bool m_heldSaid = false;
    RigctldConnection m_control;
    RigctldConnection m_custom;
    QTimer m_pollTimer;
    QTimer m_reconnectTimer;
    RigEndpoint m_endpoint;
    RigTimings m_timings;
    bool m_running = false;

    int m_status = rsDisabled;
    QString m_rigType;
    QString m_maker;
    int m_tx = 0;
    bool m_pttReadable = false;
    bool m_programKeyed = false; // the last transmit-state write from this program was TX
    bool m_pttWriteInFlight = false;
    int m_pttInFlight = 0; // the write in flight
    int m_nextPtt = 0; // latest write that arrived while one was in flight
    int m_reconnectDelay = 0;
    // This program's release of its keying is not confirmed yet: sent again every
    // ReleaseRetryMs while the connection is open, and on each new connection.
    bool m_releaseOwed = false;
    bool m_unconfirmedSaid = false;
    QTimer m_releaseRetry;
    static constexpr int ReleaseRetryMs = 250;
    bool m_dropLogged = false;
    // The last transmit command sent: repeated while keyed at most this often.
    QElapsedTimer m_txSent;
    static constexpr int TxRepeatMs = 1000;
    bool m_refusalSaid = false; // the server's refusal of this over is logged

    std::optional<QByteArray> m_customInFlight;
    std::deque<CustomCommand> m_customQueue;
};
