// The rig monitor: each rig's lamp and model name kept in step with the rig link's events,
// the automatic follow of a radio that transmits on its own, and the 500 ms CAT poll of both
// radios whose replies may select the rig too.
#include "VoxStation.h"

#include "core/HexStr.h"
#include "rig/OmniRigX.h"

#include <QDebug>
#include <QTimer>

#include <array>

namespace {

constexpr int CatPollInterval = 500;
constexpr int CatBufferSize = 1024;
// The poll: the status read of the radios the server drives (five bytes, 00 00 00 00 FA),
// answered with five bytes; no end marker.
const QString CatPollCommand = QStringLiteral("00000000FA");
constexpr int CatPollReplyLength = 5;
constexpr quint8 CatStatusRead = 0xFA;
// The maker, as the rig server names it, of the radios that speak that protocol.
const QString CatPollMaker = QStringLiteral("Yaesu");

} // namespace

void VoxStation::RigUpdateStatus()
{
    if (!m_omniRig)
        return;
    // Rig A first: when both report transmit, rig B ends up selected.
    for (RigSlot& rig : m_rigs)
        UpdateRigLamp(rig);
}

void VoxStation::UpdateRigLamp(RigSlot& rig)
{
    RigLamp lamp = rig.lamp;
    IRigX* radio = Rig(rig.id);
    const int readable = radio->ReadableParams();
    const int tx = radio->Tx();
    if (tx == PM_RX && (readable & PM_RX)) {
        lamp.transmitting = false;
        setRigLamp(rig, lamp);
    } else if (tx == PM_TX && radio->IsParamReadable(PM_TX)) {
        lamp.transmitting = true;
        setRigLamp(rig, lamp);
        // Keying follows a radio that transmits on its own, not this program's own keying.
        if (TransmitsOnItsOwn(rig))
            selectRig(rig.id, true);
    }
}

void VoxStation::setRigLamp(RigSlot& rig, const RigLamp& lamp, bool always)
{
    // An event shows its rig anew even when nothing changed; the render tick's refresh only
    // what changed.
    const bool lampChanged
        = lamp.online != rig.lamp.online || lamp.transmitting != rig.lamp.transmitting;
    const bool nameChanged = lamp.name != rig.lamp.name;
    rig.lamp = lamp;
    if (lampChanged || always)
        emit rigLampChanged(rig.id);
    if (nameChanged || always)
        emit rigNameChanged(rig.id);
}

void VoxStation::ParamsChangeEvent(TOmniRigX*, RigId ARig, int)
{
    if (!m_omniRig)
        return;
    m_reportedRig = m_omniRig->Rig(ARig);
    const bool online = m_reportedRig->Status() == rsOnline;
    RigSlot& rig = slot(ARig);
    RigLamp lamp = rig.lamp;
    lamp.name = online ? m_reportedRig->RigType() : QStringLiteral("N/A");
    lamp.online = online;
    setRigLamp(rig, lamp, true);
    RigUpdateStatus();
    FollowPttTest();
    UpdatePttTestAvailability();
}

void VoxStation::StatusChangeEvent(TOmniRigX* ASender, RigId ARig)
{
    if (!m_omniRig)
        return;
    // A poll sent before the change was given up with the connection. A release that
    // waited for the link has gone out with the new one.
    RigSlot& rig = slot(ARig);
    rig.poll.outstanding = false;
    rig.road.linkStatusChanged();
    if (!m_txOn)
        setKeyed(AnyRoadKeyed());
    ParamsChangeEvent(ASender, ARig, 0);
    RigUpdateStatus();
    UpdatePttTestAvailability();
}

void VoxStation::RigTypeChangeEvent(TOmniRigX*, RigId ARig)
{
    if (!m_omniRig)
        return;
    // Another radio or server: whether it answers the poll is to be found out again.
    RigSlot& rig = slot(ARig);
    rig.poll = {};
    rig.lamp.name = Rig(ARig)->RigType();
    emit rigNameChanged(ARig);
    RigUpdateStatus();
}

void VoxStation::VisibleChangeEvent(TOmniRigX*)
{
    RigUpdateStatus();
    // A PTT test ends with its window, however the window went.
    if (m_omniRig && !m_omniRig->DialogVisible())
        EndPttTest();
    else
        UpdatePttTestAvailability();
}

void VoxStation::SendFA()
{
    if (!m_omniRig)
        return;
    const QByteArray command = HexTextToVariant(CatPollCommand).Bytes();
    const QByteArray replyEnd = HexTextToVariant(QStringLiteral(";")).Bytes();
    for (RigSlot& rig : m_rigs) {
        if (ShouldPoll(rig)) {
            Rig(rig.id)->SendCustomCommand(command, CatPollReplyLength, replyEnd);
            rig.poll.outstanding = true;
        }
    }
}

bool VoxStation::ShouldPoll(RigSlot& rig)
{
    // The rig server serves one command at a time for a radio: a raw command the radio never
    // answers holds up its keying and its release for as long as the server waits (about a
    // second with rigctld). So a radio is tried while nothing is keyed, and one that leaves a
    // poll unanswered for a whole period is not polled again until another radio takes its
    // place.
    //
    // The poll is the status read of Yaesu's binary protocol, and only a Yaesu radio is sent
    // it: any other radio takes it for noise and holds the server for the backend's whole
    // read time-out (half a second for a TS-590, a second for an IC-7300), so speech starting
    // then would be keyed that much late. Those radios are followed through their transmit
    // state alone. Until the server has named the maker nothing is sent.
    CatPollState& poll = rig.poll;
    IRigX* radio = Rig(rig.id);
    if (poll.silent || radio->Status() != rsOnline || radio->Maker() != CatPollMaker)
        return false;
    if (poll.outstanding) {
        poll.outstanding = false;
        poll.silent = true;
        qInfo().noquote() << QStringLiteral("Rig%1 does not answer the CAT poll; not polled "
                                            "until the radio changes")
                                 .arg(rigNumber(rig.id));
        return false;
    }
    return poll.answered || !m_txOn;
}

void VoxStation::CATTimerTimer()
{
    SendFA();
    // A new period starts after each poll.
    m_catTimer->setInterval(CatPollInterval);
    m_catTimer->start();
}

void VoxStation::CustomReplyEvent(
    TOmniRigX*, RigId ARig, const QByteArray& Command, const QByteArray& Reply)
{
    if (!m_omniRig)
        return;
    slot(ARig).poll = { true, false, false };
    // Only the rig of the latest parameter or status event is decoded.
    const RigId reported = m_omniRig->Rig1() == m_reportedRig ? RigId::A : RigId::B;
    if (reported != ARig)
        return;
    const QString commandText = VariantToHexText(VariantBytes(Command));
    const QString replyText = VariantToHexText(VariantBytes(Reply));
    std::array<quint8, CatBufferSize> command {};
    std::array<quint8, CatBufferSize> reply {};
    const int commandCount = DecodeHexText(commandText, command.data(), CatBufferSize);
    const int replyCount = DecodeHexText(replyText, reply.data(), CatBufferSize);
    ReceiveCAT(ARig, command.data(), commandCount, reply.data(), replyCount);
    RigUpdateStatus();
}

void VoxStation::ReceiveCAT(
    RigId ARig, const quint8* command, int commandCount, const quint8* reply, int replyCount)
{
    // The answer to the status read: bit 0 of the third byte or bit 7 of the fourth says
    // that the radio transmits. Bytes the reply does not have count as 0.
    const bool statusRead = commandCount >= 5 && command[4] == CatStatusRead;
    const bool transmitting = (replyCount > 2 && (reply[2] & 0x01) == 0x01)
        || (replyCount > 3 && (reply[3] & 0x80) == 0x80);
    if (!statusRead || !transmitting)
        return;
    // As with the status reads: this program's own keying, or its release still on its way,
    // is not the radio transmitting on its own. Taken for one, a late reply from a rig the
    // operator has just left would select it again and key it at the next tick.
    if (TransmitsOnItsOwn(slot(ARig)))
        selectRig(ARig, true);
}
