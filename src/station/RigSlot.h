#pragma once

#include "RigPttRoad.h"

#include "rig/RigId.h"

#include <QString>

class IRigX;

// A rig's lamp and name: lit while its server is online, in the transmit colour while the
// radio last reported transmit.
struct RigLamp {
    bool online = false;
    bool transmitting = false;
    QString name = QStringLiteral("N/A");
};

// How a radio answers the CAT poll.
struct CatPollState {
    bool answered = false; // a reply came since the radio last changed
    bool outstanding = false; // a poll went out and no reply has come yet
    bool silent = false; // a poll stayed unanswered for a whole period
};

// Everything the station keeps of one radio: its keying road, whether the operator selected
// it, its lamp and name as shown, how it answers the CAT poll, and whether its refusal to
// transmit was reported in this over.
struct RigSlot {
    RigSlot(RigId rigId, std::function<IRigX*()> link)
        : id(rigId)
        , road(QStringLiteral("Rig ") + rigLetter(rigId), link)
        , rig(std::move(link))
    {
    }

    RigId id;
    RigPttRoad road;
    // The radio on the rig link; only while the link exists.
    std::function<IRigX*()> rig;
    bool selected = false;
    RigLamp lamp;
    CatPollState poll;
    bool refusalShown = false;
};
