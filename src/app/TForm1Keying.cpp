// Keying: the one operation that switches transmit on every road (the selected radios through
// the rig link, DTR and RTS of the serial port), the rig selection, the serial error handler
// and connecting the rig link at start-up.
#include "TForm1.h"

#include "rig/OmniRigX.h"
#include "serial/ComPort.h"
#include "widgets/TLedButton.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <exception>

namespace {

// Interface versions of the rig-control server this client can use.
constexpr int MinInterfaceVersion = 257;
constexpr int MaxInterfaceVersion = 409;

// How long a transmit report of a rig this program has just released is taken for that
// keying rather than for the radio transmitting on its own.
constexpr qint64 ReleaseSettleMs = 1000;

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

IRigX* TForm1::Rig(int rigNumber) const
{
    return rigNumber == 1 ? m_omniRig->Rig1() : m_omniRig->Rig2();
}

void TForm1::SendRigTx(int rigNumber, bool on)
{
    m_rigKeyed[rigNumber - 1] = on;
    if (!on)
        m_rigReleasedAt[rigNumber - 1] = m_clock.elapsed();
    Rig(rigNumber)->SetTx(on ? PM_TX : PM_RX);
}

void TForm1::SetTX(bool on)
{
    // The radios first, then the serial lines. A road that fails does not keep the others
    // from being driven: above all a failing radio must never leave the lines raised.
    if (on && m_keyingEnded)
        return;
    std::exception_ptr failure;
    if (m_omniRig) {
        if (m_rig1Button->isActive())
            drive(failure, [&] { SendRigTx(1, on); });
        if (m_rig2Button->isActive())
            drive(failure, [&] { SendRigTx(2, on); });
    }
    if (m_comPort->Connected()) {
        drive(failure, [&] { m_comPort->SetDTRState(on); });
        drive(failure, [&] { m_comPort->SetRTSState(on); });
    }
    m_txOn = on;
    emit TransmitSet(on);
    if (failure)
        std::rethrow_exception(failure);
}

void TForm1::Rig1ButtonClick()
{
    SelectRigs(true, false);
}

void TForm1::Rig2ButtonClick()
{
    SelectRigs(false, true);
}

void TForm1::SelectRigs(bool rig1, bool rig2)
{
    // The flags as they are now: a click on an LED button has already flipped its own.
    const bool was1 = m_rig1Button->isActive();
    const bool was2 = m_rig2Button->isActive();
    m_rig1Button->setIsActive(rig1);
    m_rig2Button->setIsActive(rig2);
    // The new selection is keyed at the next keying tick. A rig that leaves the selection
    // while transmit is on is released now: the release at the end would go to the new
    // selection only, and two transmitters must never stay keyed.
    if (!m_txOn || !m_omniRig)
        return;
    std::exception_ptr failure;
    if (was1 && !rig1)
        drive(failure, [&] { SendRigTx(1, false); });
    if (was2 && !rig2)
        drive(failure, [&] { SendRigTx(2, false); });
    if (failure)
        std::rethrow_exception(failure);
}

bool TForm1::TransmitsOnItsOwn(int rigNumber) const
{
    if (m_rigKeyed[rigNumber - 1])
        return false;
    const qint64 releasedAt = m_rigReleasedAt[rigNumber - 1];
    return releasedAt < 0 || m_clock.elapsed() - releasedAt >= ReleaseSettleMs;
}

void TForm1::ComPortError()
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

void TForm1::ConnectRigs()
{
    m_omniRig = m_options.makeOmniRig ? m_options.makeOmniRig().release() : new TOmniRigX;
    m_omniRig->setParent(this);
    m_omniRig->setObjectName(QStringLiteral("OmniRig"));
    if (m_options.rigTimings)
        m_omniRig->SetTimings(*m_options.rigTimings);
    // The rig settings are kept in the configuration file, which is only read later on;
    // its name is known already.
    m_omniRig->SetConfigFile(
        ConfigPathFromArguments(m_options.arguments, WorkDirFrom(QDir::currentPath())));
    try {
        m_omniRig->Connect();
        const auto handle = [this](auto handler) {
            return [this, handler](
                       auto... arguments) { guarded([&] { (this->*handler)(arguments...); }); };
        };
        connect(m_omniRig, &TOmniRigX::OnRigTypeChange, this, handle(&TForm1::RigTypeChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnStatusChange, this, handle(&TForm1::StatusChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnParamsChange, this, handle(&TForm1::ParamsChangeEvent));
        connect(m_omniRig, &TOmniRigX::OnCustomReply, this, handle(&TForm1::CustomReplyEvent));
        connect(m_omniRig, &TOmniRigX::OnVisibleChange, this, handle(&TForm1::VisibleChangeEvent));
        const int version = m_omniRig->InterfaceVersion();
        if (version < MinInterfaceVersion || version > MaxInterfaceVersion)
            return;
    } catch (...) {
        // The program runs on without rig events; each rig access tries to connect again.
    }
}

void TForm1::WaitForRigRelease(const std::array<bool, 2>& keyed)
{
    // A release may wait in the link behind a keying still in flight, and the link gives up
    // what waits when it is destroyed. So the way out waits, briefly, until each radio this
    // program had keyed has reported the release.
    if (!m_omniRig)
        return;
    std::array<bool, 2> pending {};
    QList<QMetaObject::Connection> connections;
    for (int rigNumber : { 1, 2 }) {
        IRigX* rig = Rig(rigNumber);
        if (!keyed[rigNumber - 1] || rig->Status() != rsOnline || !rig->IsParamReadable(PM_TX))
            continue;
        bool& waiting = pending[rigNumber - 1];
        waiting = true;
        connections << connect(rig, &IRigX::paramsChanged, this, [&waiting](int params) {
            if (params == PM_RX)
                waiting = false;
        });
        connections << connect(rig, &IRigX::statusChanged, this, [&waiting, rig] {
            if (rig->Status() != rsOnline)
                waiting = false;
        });
    }
    const QDeadlineTimer deadline(m_omniRig->Timings().releaseWait);
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
}

QString TForm1::SerialPortName() const
{
    return m_comPort->Port();
}
