// Keying: the one operation that switches transmit on every road (the selected radios through
// the rig link, DTR and RTS of the serial port), the rig selection, the serial error handler
// and connecting the rig link at start-up.
#include "VoxStation.h"

#include "MessageBoxes.h"

#include "rig/OmniRigX.h"
#include "serial/ComPort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <utility>

namespace {

// Interface versions of the rig-control server this client can use.
constexpr int MinInterfaceVersion = 257;
constexpr int MaxInterfaceVersion = 409;

// How long a transmit report of a rig this program has just released is taken for that
// keying rather than for the radio transmitting on its own.
constexpr qint64 ReleaseSettleMs = 1000;

// How long the way out waits for a radio's link that is down while the radio is keyed.
constexpr int LinkReturnWaitMs = 1000;

// Runs one road of a keying. Every road is tried; the first failure is kept for the caller
// to raise once all of them are done.
template <typename Road> void drive(std::exception_ptr& failure, Road road)
{
    try {
        road();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
}

} // namespace

IRigX* VoxStation::Rig(int rigNumber) const
{
    return rigNumber == 1 ? m_omniRig->Rig1() : m_omniRig->Rig2();
}

void VoxStation::SendRigTx(int rigNumber, bool on)
{
    m_rigKeyed[rigNumber - 1] = on;
    if (!on)
        m_rigReleasedAt[rigNumber - 1] = m_clock.elapsed();
    Rig(rigNumber)->SetTx(on ? PM_TX : PM_RX);
}

void VoxStation::SetTX(bool on)
{
    // The radios first, then the serial lines. A road that fails does not keep the others
    // from being driven: above all a failing radio must never leave the lines raised.
    // Keying goes to the selected radios; a release goes to every radio this program keyed
    // as well, selected or not, so that no transmitter is left to nobody.
    if (on && (m_keyingEnded || m_keyingHeld))
        return;
    if (on)
        setKeyed(true); // before anything can go out
    std::exception_ptr failure;
    if (m_omniRig) {
        for (int rigNumber : { 1, 2 }) {
            const int index = rigNumber - 1;
            if (m_selected[index] || (!on && m_rigKeyed[index]))
                drive(failure, [&] { SendRigTx(rigNumber, on); });
        }
    }
    if (m_comPort->Connected()) {
        m_linesKeyed = on;
        drive(failure, [&] { m_comPort->SetDTRState(on); });
        drive(failure, [&] { m_comPort->SetRTSState(on); });
    }
    setTransmit(on);
    if (!on)
        setKeyed(m_rigKeyed[0] || m_rigKeyed[1] || (m_linesKeyed && m_comPort->Connected()));
    emit TransmitSet(on);
    if (failure)
        std::rethrow_exception(failure);
}

void VoxStation::setTransmit(bool on)
{
    if (on == m_txOn)
        return;
    m_txOn = on;
    if (!on)
        m_refusalShown = { false, false };
    emit transmitChanged(on);
}

void VoxStation::setKeyed(bool keyed)
{
    if (keyed == m_keyed)
        return;
    m_keyed = keyed;
    emit keyedChanged(keyed);
}

void VoxStation::Rig1ButtonClick()
{
    SetSelection(true, false);
}

void VoxStation::Rig2ButtonClick()
{
    SetSelection(false, true);
}

void VoxStation::SetSelection(bool rig1, bool rig2)
{
    if (m_selected == std::array<bool, 2> { rig1, rig2 })
        return;
    m_selected = { rig1, rig2 };
    emit selectionChanged(rig1, rig2);
    // The new selection is keyed at the next keying tick. A rig this program keyed that
    // leaves the selection is released now, however it left (a click, a press held on its
    // button, the rig monitor): two transmitters must never stay keyed, nor one that no
    // release would reach.
    if (!m_omniRig)
        return;
    std::exception_ptr failure;
    for (int rigNumber : { 1, 2 }) {
        const int index = rigNumber - 1;
        if (m_rigKeyed[index] && !m_selected[index])
            drive(failure, [&] { SendRigTx(rigNumber, false); });
    }
    if (failure)
        std::rethrow_exception(failure);
}

void VoxStation::ReportTxRefused(int rigNumber, const QString& reason)
{
    // Once per over: the operator needs to know that the radio does not transmit, not a box
    // per attempt (and the error report keeps a repeated text quiet for a while).
    if (std::exchange(m_refusalShown[rigNumber - 1], true))
        return;
    const QString text
        = QStringLiteral("Rig %1 refused transmit: %2").arg(rigNumber == 1 ? 'A' : 'B').arg(reason);
    m_log.WriteLine(1, text);
    m_errorReport->show(text);
}

bool VoxStation::TransmitsOnItsOwn(int rigNumber) const
{
    if (m_rigKeyed[rigNumber - 1])
        return false;
    const qint64 releasedAt = m_rigReleasedAt[rigNumber - 1];
    return releasedAt < 0 || m_clock.elapsed() - releasedAt >= ReleaseSettleMs;
}

void VoxStation::ComPortError()
{
    // A line error drops both lines at once; the next keying tick raises them again. RTS
    // is dropped even when dropping DTR fails; the first failure is raised afterwards.
    if (!m_comPort->Connected())
        return;
    std::exception_ptr failure;
    drive(failure, [&] { m_comPort->SetDTRState(false); });
    drive(failure, [&] { m_comPort->SetRTSState(false); });
    if (failure)
        std::rethrow_exception(failure);
}

void VoxStation::ConnectRigs()
{
    m_omniRig = m_options.makeOmniRig ? m_options.makeOmniRig().release() : new TOmniRigX;
    m_omniRig->setParent(this);
    m_omniRig->setObjectName(QStringLiteral("OmniRig"));
    if (m_options.rigTimings)
        m_omniRig->SetTimings(*m_options.rigTimings);
    m_omniRig->SetSettingsViewFactory(m_options.rigSettingsView);
    // The rig settings are kept in the configuration file, which is only read later on;
    // its name is known already.
    m_omniRig->SetConfigFile(
        ConfigPathFromArguments(m_options.arguments, WorkDirFrom(QDir::currentPath())));
    try {
        m_omniRig->Connect();
        const auto handle = [this](auto handler) {
            return [this, handler](
                       auto... arguments) { Guarded([&] { (this->*handler)(arguments...); }); };
        };
        connect(
            m_omniRig, &TOmniRigX::OnRigTypeChange, this, handle(&VoxStation::RigTypeChangeEvent));
        connect(
            m_omniRig, &TOmniRigX::OnStatusChange, this, handle(&VoxStation::StatusChangeEvent));
        connect(
            m_omniRig, &TOmniRigX::OnParamsChange, this, handle(&VoxStation::ParamsChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnCustomReply, this, handle(&VoxStation::CustomReplyEvent));
        connect(
            m_omniRig, &TOmniRigX::OnVisibleChange, this, handle(&VoxStation::VisibleChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnTxRefused, this, &VoxStation::ReportTxRefused);
        const int version = m_omniRig->InterfaceVersion();
        if (version < MinInterfaceVersion || version > MaxInterfaceVersion)
            return;
    } catch (...) {
        // The program runs on without rig events; each rig access tries to connect again.
    }
}

void VoxStation::WaitForRigRelease(const std::array<bool, 2>& keyed, bool untilSeen)
{
    // A release may wait in the link behind a keying still in flight, and the link gives up
    // what waits when it is destroyed. So the way out waits, briefly, until each radio this
    // program had keyed has reported the release. A radio whose link is down cannot be
    // released: its link is tried once more at once (it releases the radio as it comes
    // back), and the operator is told when it does not come back in time.
    if (!m_omniRig)
        return;
    std::array<bool, 2> pending {};
    std::array<bool, 2> linkDown {};
    QList<QMetaObject::Connection> connections;
    for (int rigNumber : { 1, 2 }) {
        const int index = rigNumber - 1;
        IRigX* rig = Rig(rigNumber);
        if (!keyed[index] || !m_omniRig->Settings().rigs[index].isConfigured())
            continue;
        if (rig->Status() != rsOnline) {
            linkDown[index] = pending[index] = true;
            rig->Start(m_omniRig->Settings().rigs[index], m_omniRig->Timings());
        } else if (!rig->IsParamReadable(PM_TX)) {
            continue;
        }
        bool& waiting = pending[index];
        waiting = true;
        connections << connect(rig, &IRigX::paramsChanged, this, [&waiting](int params) {
            if (params == PM_RX)
                waiting = false;
        });
        connections << connect(rig, &IRigX::statusChanged, this, [&, rig, index] {
            // Online again means its release was answered; gone means it cannot be.
            if (linkDown[index] ? rig->Status() == rsOnline : rig->Status() != rsOnline)
                waiting = linkDown[index] = false;
        });
    }
    const bool anyLinkDown = linkDown[0] || linkDown[1];
    const QDeadlineTimer deadline(
        anyLinkDown ? LinkReturnWaitMs : m_omniRig->Timings().releaseWait);
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if ((!pending[0] && !pending[1]) || deadline.hasExpired())
            loop.quit();
    });
    if (pending[0] || pending[1]) {
        check.start(1);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    for (const QMetaObject::Connection& connection : connections)
        disconnect(connection);
    for (int rigNumber : { 1, 2 }) {
        if (!linkDown[rigNumber - 1])
            continue;
        const QString text = QStringLiteral(
            "Rig %1 may still be transmitting: its rigctld did not answer the release")
                                 .arg(rigNumber == 1 ? 'A' : 'B');
        m_log.WriteLine(1, text);
        // On the way out, said where the operator is sure to see it before the program is
        // gone; otherwise as any other error, without holding anything up.
        if (untilSeen)
            m_messages.fatal(ApplicationTitle(), text);
        else
            m_errorReport->show(text);
    }
}

void VoxStation::OmniRigSettings()
{
    // The rig-control server shows its own settings window.
    if (m_omniRig)
        m_omniRig->SetDialogVisible(true);
}
