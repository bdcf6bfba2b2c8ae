#pragma once

#include "rig/RigId.h"

#include <QElapsedTimer>
#include <QObject>

#include <optional>

class Keyer;
class QTimer;
class TOmniRigX;
struct StationServices;

// The rig settings window's PTT test: the rig keyed on its own road until the radio
// confirms transmit (1 s at most), then released and its receive awaited (2 s at most); the
// window is shown what was seen and when. Any other release, and the window going away,
// end it too. It is offered only while nothing keys and the radio is online and not
// transmitting on its own (whose transmission would pass for the test's).
class PttTest : public QObject {
    Q_OBJECT

public:
    PttTest(Keyer& keyer, StationServices& services, QObject* parent = nullptr);

    void setLink(TOmniRigX* link);
    std::optional<RigId> rig() const { return m_test.rig; }

    // The operator asked for a test of this rig.
    void start(RigId rig);
    // The radio reported: transmit or receive confirmed?
    void follow();
    // The release of every road: the test's rig is released with them, only followed here.
    void release();
    void end();
    // The settings window is told whether a test may start now, and why not.
    void updateAvailability();

private:
    struct State {
        std::optional<RigId> rig;
        QElapsedTimer clock;
        qint64 txSeenMs = -1;
        qint64 rxSeenMs = -1;
        qint64 releasedAtMs = 0;
        bool releasing = false;
    };
    // Empty when a test of the rig may start now; otherwise why not.
    QString unavailable(RigId rig) const;

    Keyer& m_keyer;
    StationServices& m_services;
    TOmniRigX* m_link = nullptr;
    State m_test;
    QTimer* m_timer = nullptr;
};
