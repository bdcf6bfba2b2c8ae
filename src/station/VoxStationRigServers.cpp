// The rigctld processes the rig link runs for radios set up in the program (their start, exit,
// output and problems reach the log, the operator and the guard), and the rig settings
// window's PTT test.
#include "VoxStation.h"

#include "MessageBoxes.h"
#include "TxGuard.h"

#include "rig/OmniRigX.h"

#include <QTimer>

#include <exception>

namespace {
// The longest a PTT test keeps a radio keyed, and how long it then waits for the radio to
// report receive.
constexpr int PttTestKeyMs = 1000;
constexpr int PttTestReleaseWaitMs = 2000;
} // namespace

void VoxStation::ConnectRigServers()
{
    connect(m_omniRig, &TOmniRigX::OnServerStarted, this, [this](RigId rig, qint64 pid) {
        m_log.WriteLine(
            1, QStringLiteral("Rig %1: rigctld started (process %2)").arg(rigLetter(rig)).arg(pid));
        if (m_guard)
            m_guard->setServer(rig, pid);
        emit rigServerStarted(rig);
    });
    connect(m_omniRig, &TOmniRigX::OnServerExited, this, [this](RigId rig, const QString& status) {
        m_log.WriteLine(
            1, QStringLiteral("Rig %1: rigctld exited (%2)").arg(rigLetter(rig)).arg(status));
        if (m_guard)
            m_guard->setServer(rig, 0);
        emit rigServerExited(rig, status);
    });
    connect(m_omniRig, &TOmniRigX::OnServerOutput, this, [this](RigId rig, const QString& line) {
        m_log.WriteLine(1, QStringLiteral("Rig %1 rigctld: %2").arg(rigLetter(rig), line));
    });
    connect(m_omniRig, &TOmniRigX::OnServerProblem, this, [this](RigId, const QString& text) {
        m_log.WriteLine(1, text);
        m_errorReport->show(text);
    });
    connect(m_omniRig, &TOmniRigX::OnTestPtt, this,
        [this](RigId rig) { Guarded([&] { StartPttTest(rig); }); });
    m_pttTestTimer = new QTimer(this);
    m_pttTestTimer->setSingleShot(true);
    connect(m_pttTestTimer, &QTimer::timeout, this,
        [this] { Guarded([this] { m_pttTest.releasing ? EndPttTest() : ReleasePttTest(); }); });
}

QString VoxStation::PttTestUnavailable(RigId rig) const
{
    if (!m_omniRig || !m_omniRig->IsConnected() || m_shutDown || m_keyingEnded || m_keyingHeld)
        return QStringLiteral("The program is not keying now");
    if (m_pttTest.rig)
        return QStringLiteral("A PTT test is under way");
    if (m_txOn)
        return QStringLiteral("Transmitting: wait for the end of the over");
    if (Rig(rig)->Status() != rsOnline)
        return QStringLiteral("Rig %1 is not online").arg(rigLetter(rig));
    // Its own transmission would pass for the test's.
    if (Rig(rig)->Tx() == PM_TX)
        return QStringLiteral("Rig %1 is transmitting").arg(rigLetter(rig));
    return {};
}

void VoxStation::UpdatePttTestAvailability()
{
    if (!m_omniRig || !m_omniRig->IsConnected())
        return;
    for (const RigSlot& rig : m_rigs) {
        const QString why = PttTestUnavailable(rig.id);
        m_omniRig->SetTestAvailable(rig.id, why.isEmpty(), why);
    }
}

void VoxStation::StartPttTest(RigId rig)
{
    const QString why = PttTestUnavailable(rig);
    if (!why.isEmpty()) {
        m_omniRig->ShowTestResult(rig, why);
        return;
    }
    m_pttTest = PttTest {};
    m_pttTest.rig = rig;
    m_pttTest.clock.start();
    UpdatePttTestAvailability();
    m_omniRig->ShowTestResult(rig, QStringLiteral("Keyed: waiting for the radio"));
    m_pttTestTimer->start(PttTestKeyMs);
    setKeyed(true); // the guard hears of it before the radio is keyed
    try {
        slot(rig).road.key();
    } catch (...) {
        ReleasePttTest();
        throw;
    }
    FollowPttTest();
}

void VoxStation::FollowPttTest()
{
    if (!m_pttTest.rig)
        return;
    const int tx = Rig(*m_pttTest.rig)->Tx();
    if (!m_pttTest.releasing && tx == PM_TX && m_pttTest.txSeenMs < 0)
        m_pttTest.txSeenMs = m_pttTest.clock.elapsed();
    if (m_pttTest.releasing && tx == PM_RX) {
        m_pttTest.rxSeenMs = m_pttTest.clock.elapsed() - m_pttTest.releasedAtMs;
        EndPttTest();
        return;
    }
    // Keying confirmed: released at once, the test has shown what it is for.
    if (!m_pttTest.releasing && m_pttTest.txSeenMs >= 0)
        ReleasePttTest();
}

void VoxStation::ReleasePttTest()
{
    if (!m_pttTest.rig || m_pttTest.releasing)
        return;
    m_pttTest.releasing = true;
    m_pttTest.releasedAtMs = m_pttTest.clock.elapsed();
    m_pttTestTimer->start(PttTestReleaseWaitMs);
    RigSlot& rig = slot(*m_pttTest.rig);
    std::exception_ptr failure;
    // An over that started meanwhile keeps the radio it keys.
    if (!(m_txOn && rig.selected))
        driveRoad(failure, [&] { rig.road.release(); });
    if (!m_txOn)
        setKeyed(AnyRoadKeyed());
    if (failure) {
        EndPttTest();
        std::rethrow_exception(failure);
    }
    FollowPttTest();
}

void VoxStation::EndPttTest()
{
    if (!m_pttTest.rig)
        return;
    if (!m_pttTest.releasing)
        ReleasePttTest();
    const RigId rig = *m_pttTest.rig;
    const PttTest test = std::exchange(m_pttTest, PttTest {});
    m_pttTestTimer->stop();
    const QString transmit = test.txSeenMs >= 0
        ? QStringLiteral("transmit confirmed after %1 ms").arg(test.txSeenMs)
        : QStringLiteral("transmit NOT confirmed");
    const QString receive = test.rxSeenMs >= 0
        ? QStringLiteral("receive confirmed after %1 ms").arg(test.rxSeenMs)
        : QStringLiteral("receive NOT confirmed");
    const QString text = transmit + QStringLiteral(", ") + receive;
    m_log.WriteLine(1, QStringLiteral("Rig %1 PTT test: %2").arg(rigLetter(rig), text));
    if (m_omniRig) {
        m_omniRig->ShowTestResult(rig, text);
        UpdatePttTestAvailability();
    }
}
