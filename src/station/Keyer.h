#pragma once

#include "PttRoad.h"
#include "RigPttRoad.h"

#include "rig/RigId.h"

#include <QList>
#include <QObject>

#include <array>
#include <functional>
#include <optional>

class IRigX;

// Why keying is held. Nothing keys while any reason holds; each is lifted on its own.
enum class KeyingHold : unsigned {
    Ending = 1, // the release that ends the program: never lifted
    Stopped = 2, // job control: from the stop request until the program continues
    Asleep = 4, // a system suspend is under way
    Woken = 8, // after the wake, until a tick that does not pass
};

// The keying roads as one list: rig A and rig B through the rig link, then the serial lines.
// Keying goes to the selected radios and the lines; a release goes to every road this
// program keyed as well, selected or not, so that no transmitter is left to nobody. A road
// that fails does not keep the others from being driven (above all a failing radio must
// never leave the lines raised); the first failure is raised once all are done.
class Keyer : public QObject {
    Q_OBJECT

public:
    // The rig link's radio, null while there is no link.
    using LinkOf = std::function<IRigX*(RigId)>;

    Keyer(LinkOf link, PttRoad& serialLines, QObject* parent = nullptr);

    // Transmit on or off on every road; nothing keys while a hold is set.
    void setTx(bool on);
    bool transmitting() const { return m_txOn; }
    // Runs after a release went to every road and before "keyed" is told again.
    void setAfterRelease(std::function<void()> step) { m_afterRelease = std::move(step); }

    // Selection. A rig this program keyed that leaves the selection is released at once,
    // however it left (a click, the rig monitor's follow).
    void select(RigId rig, bool exclusive);
    void setSelected(RigId rig, bool selected);
    void setSelection(bool rigA, bool rigB);
    bool selected(RigId rig) const { return slot(rig).selected; }

    void hold(KeyingHold reason);
    void lift(KeyingHold reason);
    bool held() const { return m_holds != 0; }
    bool heldBy(std::initializer_list<KeyingHold> reasons) const;

    RigPttRoad& road(RigId rig) { return slot(rig).road; }
    const RigPttRoad& road(RigId rig) const { return slot(rig).road; }
    const PttRoad& serialRoad() const { return m_serial; }
    // The radios this program keyed and has not released.
    QList<RigId> keyedRigs() const;
    bool anyRoadKeyed() const;
    // Told before a rig is keyed outside setTx (the PTT test): the guard hears it first.
    void announceKeying(RigId rig);
    // "keyed" told again from the roads themselves (after a release, a link back online).
    void updateKeyed();
    // A transmit report of the radio is its own, neither this program's keying nor the
    // answer to a release still on its way.
    bool transmitsOnItsOwn(RigId rig) const;
    // The radio transmits for someone else (it says so, and this program did not key it), or
    // another VOKEY process drives it.
    bool busyElsewhere(RigId rig) const;
    // The rig monitor saw this rig transmit on its own: it becomes the selection, at once or,
    // during an over, when the over ends.
    void follow(RigId rig);
    // The radio refused to transmit: said once per over.
    void reportRefused(RigId rig, const QString& reason);

signals:
    void transmitChanged(bool on);
    // Some road may be keyed (true: before the first road is keyed), or every road this
    // program keyed has been released (false).
    void keyedChanged(bool keyed);
    // The same for each radio: it may be keyed by this program (before it is), or its
    // release was confirmed.
    void rigKeyedChanged(RigId rig, bool keyed);
    void selectionChanged();
    // Every setTx call, after it has been carried out.
    void transmitSet(bool on);
    void refused(const QString& text);

private:
    struct Slot {
        Slot(RigId rigId, std::function<IRigX*()> link);
        RigId id;
        RigPttRoad road;
        bool selected = false;
        bool refusalShown = false;
        bool keyedTold = false; // what rigKeyedChanged said last
    };
    // One road of the list, and whether it is keyed (the lines always are).
    struct Road {
        PttRoad* road;
        const bool* selected;
    };

    Slot& slot(RigId rig) { return m_rigs[rigIndex(rig)]; }
    const Slot& slot(RigId rig) const { return m_rigs[rigIndex(rig)]; }
    void setTransmit(bool on);
    void setKeyed(bool keyed);
    void setRigKeyed(Slot& rig, bool keyed);

    LinkOf m_link;
    std::array<Slot, 2> m_rigs;
    PttRoad& m_serial;
    std::array<Road, 3> m_roads;
    std::function<void()> m_afterRelease;
    unsigned m_holds = 0;
    bool m_txOn = false;
    bool m_keyed = false;
    std::optional<RigId> m_followPending;
};
