#pragma once

#include "RigTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// One radio as the rig-control server presents it. Reads answer at once from state the
// server's link keeps current; writes go out without waiting for the radio. An
// implementation reports what changed through the signals below, on the thread that owns
// it; TOmniRigX turns them into its events. This is the seam where a substitute server
// (a test double, another rig-control program) takes the place of rigctld.
class IRigX : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Maker and model of the radio, e.g. "Hamlib Dummy"; empty until the server told us.
    virtual QString RigType() const = 0;
    // The maker alone, e.g. "Yaesu"; empty until the server told us (and for servers that
    // do not say).
    virtual QString Maker() const { return {}; }
    // A TRigStatus value; 4 (rsOnline) means the radio can be used.
    virtual int Status() const = 0;
    // The parameters whose value can be read now (PM_RX | PM_TX while the PTT is readable).
    virtual int ReadableParams() const = 0;
    virtual bool IsParamReadable(int param) const = 0;
    // PM_RX while receiving, PM_TX while transmitting, 0 when unknown.
    virtual int Tx() const = 0;
    // Keys (PM_TX) or releases (PM_RX) the radio now. Any other value throws ERigError.
    virtual void SetTx(int param) = 0;
    // Sends raw CAT bytes unchanged; the answer, if any, comes back as customReply().
    virtual void SendCustomCommand(
        const QByteArray& command, int replyLength, const QByteArray& replyEnd)
        = 0;

    // Starts (or restarts) talking to the server at the endpoint; an unconfigured endpoint
    // leaves the rig at status 0.
    virtual void Start(const RigEndpoint& endpoint, const RigTimings& timings) = 0;
    // Stops talking to the server. A radio this program keyed is released first.
    virtual void Stop() = 0;
    // A release of this program's keying has not been confirmed yet (by the server's RPRT 0,
    // or the radio read back on receive): the radio may still transmit.
    virtual bool ReleasePending() const { return false; }
    // Another VOKEY process drives this radio: nothing is sent to it from here.
    virtual bool HeldElsewhere() const { return false; }

signals:
    void statusChanged();
    void paramsChanged(int params);
    void rigTypeChanged();
    void customReply(const QByteArray& command, const QByteArray& reply);
    // The server answered a transmit command with a refusal (the radio is there, but will not
    // transmit); reason is the server's text.
    void txRefused(const QString& reason);
    // A release was answered with an error, or not at all: it is sent again until confirmed.
    void releaseUnconfirmed(const QString& reason);
    // The release waited for is confirmed: ReleasePending() is false again.
    void releaseConfirmed();
    // Another process drives this radio (another VOKEY on the same server): left alone, and
    // tried again from time to time. What to tell the operator.
    void heldElsewhere(const QString& text);
};
