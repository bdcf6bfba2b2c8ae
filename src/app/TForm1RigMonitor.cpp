// The rig monitor: each rig's lamp and model name kept in step with the rig link's events,
// the automatic follow of a radio that transmits on its own, and the 500 ms CAT poll of both
// radios whose replies may select the rig too.
#include "TForm1.h"

#include "core/HexStr.h"
#include "rig/OmniRigX.h"
#include "widgets/TLed.h"

#include <QDebug>
#include <QLabel>
#include <QPushButton>
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

// Lamp colours, 0x00BBGGRR.
constexpr TColor ReceiveColor1 = 0x008000, ReceiveColor2 = 0x00FF00;
constexpr TColor TransmitColor1 = 0x000080, TransmitColor2 = 0x0000FF;

} // namespace

void TForm1::RigUpdateStatus()
{
    if (!m_omniRig)
        return;
    // Rig A first: when both report transmit, rig B ends up selected.
    UpdateRigLamp(1);
    UpdateRigLamp(2);
}

void TForm1::UpdateRigLamp(int rigNumber)
{
    TLed* led = rigNumber == 1 ? m_rig1Led : m_rig2Led;
    const int readable = Rig(rigNumber)->ReadableParams();
    const int tx = Rig(rigNumber)->Tx();
    if (tx == PM_RX && (readable & PM_RX)) {
        led->setColor1(ReceiveColor1);
        led->setColor2(ReceiveColor2);
    } else if (tx == PM_TX && Rig(rigNumber)->IsParamReadable(PM_TX)) {
        led->setColor1(TransmitColor1);
        led->setColor2(TransmitColor2);
        // Keying follows a radio that transmits on its own, not this program's own keying.
        if (TransmitsOnItsOwn(rigNumber))
            rigNumber == 1 ? Rig1ButtonClick() : Rig2ButtonClick();
    }
}

void TForm1::ParamsChangeEvent(TOmniRigX*, int RigNumber, int)
{
    if (!m_omniRig)
        return;
    m_reportedRig = RigNumber == 1 ? m_omniRig->Rig1() : m_omniRig->Rig2();
    const bool online = m_reportedRig->Status() == rsOnline;
    if (RigNumber == 1 || RigNumber == 2) {
        QLabel* name = RigNumber == 1 ? m_rig1Name : m_rig2Name;
        TLed* led = RigNumber == 1 ? m_rig1Led : m_rig2Led;
        name->setText(online ? m_reportedRig->RigType() : QStringLiteral("N/A"));
        led->setOn(online);
    }
    RigUpdateStatus();
}

void TForm1::StatusChangeEvent(TOmniRigX* ASender, int RigNumber)
{
    if (!m_omniRig)
        return;
    // A poll sent before the change was given up with the connection.
    if (RigNumber == 1 || RigNumber == 2)
        m_catPoll[RigNumber - 1].outstanding = false;
    ParamsChangeEvent(ASender, RigNumber, 0);
    RigUpdateStatus();
}

void TForm1::RigTypeChangeEvent(TOmniRigX*, int RigNumber)
{
    if (!m_omniRig)
        return;
    // Another radio or server: whether it answers the poll is to be found out again.
    if (RigNumber == 1 || RigNumber == 2)
        m_catPoll[RigNumber - 1] = {};
    if (RigNumber == 1)
        m_rig1Name->setText(m_omniRig->Rig1()->RigType());
    else if (RigNumber == 2)
        m_rig2Name->setText(m_omniRig->Rig2()->RigType());
    RigUpdateStatus();
}

void TForm1::VisibleChangeEvent(TOmniRigX*)
{
    RigUpdateStatus();
}

void TForm1::SendFA()
{
    if (!m_omniRig)
        return;
    const QByteArray command = HexTextToVariant(CatPollCommand).Bytes();
    const QByteArray replyEnd = HexTextToVariant(QStringLiteral(";")).Bytes();
    for (int rigNumber : { 1, 2 }) {
        if (ShouldPoll(rigNumber)) {
            Rig(rigNumber)->SendCustomCommand(command, CatPollReplyLength, replyEnd);
            m_catPoll[rigNumber - 1].outstanding = true;
        }
    }
}

bool TForm1::ShouldPoll(int rigNumber)
{
    // The rig server serves one command at a time for a radio: a raw command the radio never
    // answers holds up its keying and its release for as long as the server waits (about a
    // second with rigctld). So a radio is tried while nothing is keyed, and one that leaves a
    // poll unanswered for a whole period is not polled again until another radio takes its
    // place.
    CatPollState& poll = m_catPoll[rigNumber - 1];
    if (poll.silent || Rig(rigNumber)->Status() != rsOnline)
        return false;
    if (poll.outstanding) {
        poll.outstanding = false;
        poll.silent = true;
        qInfo().noquote() << QStringLiteral("Rig%1 does not answer the CAT poll; not polled "
                                            "until the radio changes")
                                 .arg(rigNumber);
        return false;
    }
    return poll.answered || !m_txOn;
}

void TForm1::CATTimerTimer()
{
    SendFA();
    // A new period starts after each poll.
    m_catTimer->setInterval(CatPollInterval);
    m_catTimer->start();
}

void TForm1::CustomReplyEvent(
    TOmniRigX*, int RigNumber, const QByteArray& Command, const QByteArray& Reply)
{
    if (!m_omniRig)
        return;
    if (RigNumber == 1 || RigNumber == 2)
        m_catPoll[RigNumber - 1] = { true, false, false };
    // Only the rig of the latest parameter or status event is decoded.
    const int reported = m_omniRig->Rig1() == m_reportedRig ? 1 : 2;
    if (reported != RigNumber)
        return;
    const QString commandText = VariantToHexText(VariantBytes(Command));
    const QString replyText = VariantToHexText(VariantBytes(Reply));
    std::array<quint8, CatBufferSize> command {};
    std::array<quint8, CatBufferSize> reply {};
    const int commandCount = DecodeHexText(commandText, command.data(), CatBufferSize);
    const int replyCount = DecodeHexText(replyText, reply.data(), CatBufferSize);
    ReceiveCAT(RigNumber, command.data(), commandCount, reply.data(), replyCount);
    RigUpdateStatus();
}

void TForm1::ReceiveCAT(
    int RigNumber, const quint8* command, int commandCount, const quint8* reply, int replyCount)
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
    if ((RigNumber != 1 && RigNumber != 2) || !TransmitsOnItsOwn(RigNumber))
        return;
    if (RigNumber == 1)
        Rig1ButtonClick();
    else
        Rig2ButtonClick();
}
