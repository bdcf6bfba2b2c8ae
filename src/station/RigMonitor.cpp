#include "RigMonitor.h"

#include "Keyer.h"
#include "StationServices.h"

#include "core/HexStr.h"
#include "rig/OmniRigX.h"

#include <QDebug>
#include <QTimer>

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

RigMonitor::RigMonitor(Keyer& keyer, StationServices& services, QObject* parent)
    : QObject(parent)
    , m_keyer(keyer)
    , m_services(services)
{
    setObjectName(QStringLiteral("RigMonitor"));
    m_catTimer = new QTimer(this);
    m_catTimer->setObjectName(QStringLiteral("CATTimer"));
    m_catTimer->setInterval(CatPollInterval);
    connect(m_catTimer, &QTimer::timeout, this,
        [this] { m_services.guarded([this] { CATTimerTimer(); }); });
}

void RigMonitor::setLink(TOmniRigX* link)
{
    m_link = link;
    connectServers();
}

void RigMonitor::reset()
{
    for (RigId rig : AllRigs)
        setLamp(rig, RigLamp {}, true);
}

void RigMonitor::startPolling()
{
    m_catTimer->setInterval(CatPollInterval);
    m_catTimer->start();
}

void RigMonitor::stopPolling()
{
    m_catTimer->stop();
}

IRigX* RigMonitor::radio(RigId rig) const
{
    return m_link->Rig(rig);
}

void RigMonitor::RigUpdateStatus()
{
    if (!m_link)
        return;
    // Rig A first: when both report transmit, rig B ends up selected.
    for (RigId rig : AllRigs)
        updateLamp(rig);
}

void RigMonitor::updateLamp(RigId rig)
{
    RigLamp lamp = slot(rig).lamp;
    IRigX* rigX = radio(rig);
    const int readable = rigX->ReadableParams();
    const int tx = rigX->Tx();
    if (tx == PM_RX && (readable & PM_RX)) {
        lamp.transmitting = false;
        setLamp(rig, lamp);
    } else if (tx == PM_TX && rigX->IsParamReadable(PM_TX)) {
        lamp.transmitting = true;
        setLamp(rig, lamp);
        // Keying follows a radio that transmits on its own, not this program's own keying.
        if (m_keyer.transmitsOnItsOwn(rig))
            m_keyer.follow(rig);
    }
}

void RigMonitor::setLamp(RigId rig, const RigLamp& lamp, bool always)
{
    // An event shows its rig anew even when nothing changed; the render tick's refresh only
    // what changed.
    RigLamp& shown = slot(rig).lamp;
    const bool lampChanged = lamp.online != shown.online || lamp.transmitting != shown.transmitting;
    const bool nameChanged = lamp.name != shown.name;
    shown = lamp;
    if (lampChanged || always)
        emit rigLampChanged(rig);
    if (nameChanged || always)
        emit rigNameChanged(rig);
}

void RigMonitor::ParamsChangeEvent(TOmniRigX*, RigId Rig, int)
{
    if (!m_link)
        return;
    m_reportedRig = radio(Rig);
    const bool online = m_reportedRig->Status() == rsOnline;
    RigLamp lamp = slot(Rig).lamp;
    lamp.name = online ? m_reportedRig->RigType() : QStringLiteral("N/A");
    lamp.online = online;
    setLamp(Rig, lamp, true);
    RigUpdateStatus();
    emit rigReported();
    emit testAvailabilityChanged();
}

void RigMonitor::StatusChangeEvent(TOmniRigX* ASender, RigId Rig)
{
    if (!m_link)
        return;
    // A poll sent before the change was given up with the connection. A release that
    // waited for the link has gone out with the new one.
    slot(Rig).poll.outstanding = false;
    m_keyer.road(Rig).linkStatusChanged();
    if (!m_keyer.transmitting())
        m_keyer.updateKeyed();
    ParamsChangeEvent(ASender, Rig, 0);
    RigUpdateStatus();
    emit testAvailabilityChanged();
}

void RigMonitor::RigTypeChangeEvent(TOmniRigX*, RigId Rig)
{
    if (!m_link)
        return;
    // Another radio or server: whether it answers the poll is to be found out again.
    Slot& rig = slot(Rig);
    rig.poll = {};
    rig.lamp.name = radio(Rig)->RigType();
    emit rigNameChanged(Rig);
    RigUpdateStatus();
}

void RigMonitor::VisibleChangeEvent(TOmniRigX*)
{
    RigUpdateStatus();
    // A PTT test ends with its window, however the window went.
    if (m_link && !m_link->DialogVisible())
        emit settingsWindowClosed();
    else
        emit testAvailabilityChanged();
}

void RigMonitor::SendFA()
{
    if (!m_link)
        return;
    const QByteArray command = HexTextToVariant(CatPollCommand).Bytes();
    const QByteArray replyEnd = HexTextToVariant(QStringLiteral(";")).Bytes();
    for (RigId rig : AllRigs) {
        if (shouldPoll(rig)) {
            radio(rig)->SendCustomCommand(command, CatPollReplyLength, replyEnd);
            slot(rig).poll.outstanding = true;
        }
    }
}

bool RigMonitor::shouldPoll(RigId rig)
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
    CatPollState& poll = slot(rig).poll;
    IRigX* rigX = radio(rig);
    if (poll.silent || rigX->Status() != rsOnline || rigX->Maker() != CatPollMaker)
        return false;
    if (poll.outstanding) {
        poll.outstanding = false;
        poll.silent = true;
        qInfo().noquote() << QStringLiteral("Rig%1 does not answer the CAT poll; not polled "
                                            "until the radio changes")
                                 .arg(rigNumber(rig));
        return false;
    }
    return poll.answered || !m_keyer.transmitting();
}

void RigMonitor::CATTimerTimer()
{
    SendFA();
    // A new period starts after each poll.
    m_catTimer->setInterval(CatPollInterval);
    m_catTimer->start();
}

void RigMonitor::CustomReplyEvent(
    TOmniRigX*, RigId Rig, const QByteArray& Command, const QByteArray& Reply)
{
    if (!m_link)
        return;
    slot(Rig).poll = { true, false, false };
    // Only the rig of the latest parameter or status event is decoded; before any such
    // event, only rig B's.
    const RigId reported = m_link->Rig1() == m_reportedRig ? RigId::A : RigId::B;
    if (reported != Rig)
        return;
    const QString commandText = VariantToHexText(VariantBytes(Command));
    const QString replyText = VariantToHexText(VariantBytes(Reply));
    std::array<quint8, CatBufferSize> command {};
    std::array<quint8, CatBufferSize> reply {};
    const int commandCount = DecodeHexText(commandText, command.data(), CatBufferSize);
    const int replyCount = DecodeHexText(replyText, reply.data(), CatBufferSize);
    ReceiveCAT(Rig, command.data(), commandCount, reply.data(), replyCount);
    RigUpdateStatus();
}

void RigMonitor::ReceiveCAT(
    RigId Rig, const quint8* command, int commandCount, const quint8* reply, int replyCount)
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
    if (m_keyer.transmitsOnItsOwn(Rig))
        m_keyer.follow(Rig);
}

void RigMonitor::connectServers()
{
    // Delivered at once by the link: said to the log and the listeners (the guard among
    // them) before anything else happens.
    connect(m_link, &TOmniRigX::OnServerStarted, this, [this](RigId rig, qint64 pid) {
        m_services.logLine(
            QStringLiteral("Rig %1: rigctld started (process %2)").arg(rigLetter(rig)).arg(pid));
        emit rigServerStarted(rig, pid);
    });
    connect(m_link, &TOmniRigX::OnServerExited, this, [this](RigId rig, const QString& status) {
        m_services.logLine(
            QStringLiteral("Rig %1: rigctld exited (%2)").arg(rigLetter(rig)).arg(status));
        emit rigServerExited(rig, status);
    });
    connect(m_link, &TOmniRigX::OnServerOutput, this, [this](RigId rig, const QString& line) {
        m_services.logLine(QStringLiteral("Rig %1 rigctld: %2").arg(rigLetter(rig), line));
    });
    connect(m_link, &TOmniRigX::OnServerProblem, this,
        [this](RigId, const QString& text) { m_services.report(text); });
}
