#pragma once

#include "rig/RigId.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <array>

class IRigX;
class Keyer;
class QTimer;
class TOmniRigX;
struct StationServices;

// A rig's lamp and name: lit while its server is online, in the transmit colour while the
// radio last reported transmit.
struct RigLamp {
    bool online = false;
    bool transmitting = false;
    QString name = QStringLiteral("N/A");
};

// The rig monitor: each rig's lamp and model name kept in step with the rig link's events,
// the automatic follow of a radio that transmits on its own (never this program's own
// keying), the 500 ms CAT poll of the radios that answer it, and what the rigctld processes
// the link runs report (their start, output, exit and problems).
class RigMonitor : public QObject {
    Q_OBJECT

public:
    RigMonitor(Keyer& keyer, StationServices& services, QObject* parent = nullptr);

    // The rig link, once made; every event handler does nothing before.
    void setLink(TOmniRigX* link);
    // Lamps dark and names "N/A", each shown anew.
    void reset();
    // The CAT poll: started with the station, stopped at its end.
    void startPolling();
    void stopPolling();

    const RigLamp& lamp(RigId rig) const { return slot(rig).lamp; }
    // The rig of the latest parameter or status event; null before the first.
    IRigX* ReportedRig() const { return m_reportedRig; }

    // The rig link's events and the poll, under the names the program documents.
    void RigUpdateStatus();
    void RigTypeChangeEvent(TOmniRigX* ASender, RigId Rig);
    void StatusChangeEvent(TOmniRigX* ASender, RigId Rig);
    void ParamsChangeEvent(TOmniRigX* ASender, RigId Rig, int Params);
    void CustomReplyEvent(
        TOmniRigX* ASender, RigId Rig, const QByteArray& Command, const QByteArray& Reply);
    void VisibleChangeEvent(TOmniRigX* ASender);
    void SendFA();
    void CATTimerTimer();
    void ReceiveCAT(
        RigId Rig, const quint8* command, int commandCount, const quint8* reply, int replyCount);

signals:
    void rigLampChanged(RigId rig);
    void rigNameChanged(RigId rig);
    // A rig reported its parameters or status: what the PTT test waits for.
    void rigReported();
    // The PTT test may have become possible or impossible.
    void testAvailabilityChanged();
    // The rig settings window was closed.
    void settingsWindowClosed();
    void rigServerStarted(RigId rig, qint64 pid);
    void rigServerExited(RigId rig, const QString& status);

private:
    // How a radio answers the CAT poll.
    struct CatPollState {
        bool answered = false; // a reply came since the radio last changed
        bool outstanding = false; // a poll went out and no reply has come yet
        bool silent = false; // a poll stayed unanswered for a whole period
    };
    struct Slot {
        RigLamp lamp;
        CatPollState poll;
    };
    Slot& slot(RigId rig) { return m_rigs[rigIndex(rig)]; }
    const Slot& slot(RigId rig) const { return m_rigs[rigIndex(rig)]; }
    IRigX* radio(RigId rig) const;
    void connectServers();
    void updateLamp(RigId rig);
    void setLamp(RigId rig, const RigLamp& lamp, bool always = false);
    bool shouldPoll(RigId rig);

    Keyer& m_keyer;
    StationServices& m_services;
    TOmniRigX* m_link = nullptr;
    IRigX* m_reportedRig = nullptr;
    std::array<Slot, 2> m_rigs;
    QTimer* m_catTimer = nullptr;
};
