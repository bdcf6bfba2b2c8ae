#include "PttTest.h"

#include "Keyer.h"
#include "StationServices.h"

#include "rig/OmniRigX.h"

#include <QTimer>

#include <exception>
#include <utility>

namespace {
// The longest a PTT test keeps a radio keyed, and how long it then waits for the radio to
// report receive.
constexpr int PttTestKeyMs = 1000;
constexpr int PttTestReleaseWaitMs = 2000;
} // namespace

PttTest::PttTest(Keyer& keyer, StationServices& services, QObject* parent)
    : QObject(parent)
    , m_keyer(keyer)
    , m_services(services)
{
    setObjectName(QStringLiteral("PttTest"));
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this,
        [this] { m_services.guarded([this] { m_test.releasing ? end() : release(); }); });
}

void PttTest::setLink(TOmniRigX* link)
{
    m_link = link;
    connect(m_link, &TOmniRigX::OnTestPtt, this,
        [this](RigId rig) { m_services.guarded([&] { start(rig); }); });
}

QString PttTest::unavailable(RigId rig) const
{
    if (!m_link || !m_link->IsConnected()
        || m_keyer.heldBy({ KeyingHold::Ending, KeyingHold::Stopped }))
        return QStringLiteral("The program is not keying now");
    if (m_test.rig)
        return QStringLiteral("A PTT test is under way");
    if (m_keyer.transmitting())
        return QStringLiteral("Transmitting: wait for the end of the over");
    IRigX* radio = m_link->Rig(rig);
    if (radio->Status() != rsOnline)
        return QStringLiteral("Rig %1 is not online").arg(rigLetter(rig));
    // Its own transmission would pass for the test's.
    if (radio->Tx() == PM_TX)
        return QStringLiteral("Rig %1 is transmitting").arg(rigLetter(rig));
    return {};
}

void PttTest::updateAvailability()
{
    if (!m_link || !m_link->IsConnected())
        return;
    for (RigId rig : AllRigs) {
        const QString why = unavailable(rig);
        m_link->SetTestAvailable(rig, why.isEmpty(), why);
    }
}

void PttTest::start(RigId rig)
{
    const QString why = unavailable(rig);
    if (!why.isEmpty()) {
        m_link->ShowTestResult(rig, why);
        return;
    }
    m_test = State {};
    m_test.rig = rig;
    m_test.clock.start();
    updateAvailability();
    m_link->ShowTestResult(rig, QStringLiteral("Keyed: waiting for the radio"));
    m_timer->start(PttTestKeyMs);
    m_keyer.announceKeying(rig); // the guard hears of it before the radio is keyed
    try {
        m_keyer.road(rig).key();
    } catch (...) {
        release();
        throw;
    }
    follow();
}

void PttTest::follow()
{
    if (!m_test.rig)
        return;
    IRigX* radio = m_link->Rig(*m_test.rig);
    const int tx = radio->Tx();
    if (!m_test.releasing && tx == PM_TX && m_test.txSeenMs < 0)
        m_test.txSeenMs = m_test.clock.elapsed();
    if (m_test.releasing && tx == PM_RX) {
        m_test.rxSeenMs = m_test.clock.elapsed() - m_test.releasedAtMs;
        end();
        return;
    }
    // Keying confirmed: released at once, the test has shown what it is for.
    if (!m_test.releasing && m_test.txSeenMs >= 0)
        release();
}

void PttTest::release()
{
    if (!m_test.rig || m_test.releasing)
        return;
    m_test.releasing = true;
    m_test.releasedAtMs = m_test.clock.elapsed();
    m_timer->start(PttTestReleaseWaitMs);
    const RigId rig = *m_test.rig;
    std::exception_ptr failure;
    // An over that started meanwhile keeps the radio it keys.
    if (!(m_keyer.transmitting() && m_keyer.selected(rig)))
        driveRoad(failure, [&] { m_keyer.road(rig).release(); });
    if (!m_keyer.transmitting())
        m_keyer.updateKeyed();
    if (failure) {
        end();
        std::rethrow_exception(failure);
    }
    follow();
}

void PttTest::end()
{
    if (!m_test.rig)
        return;
    if (!m_test.releasing)
        release();
    const RigId rig = *m_test.rig;
    const State test = std::exchange(m_test, State {});
    m_timer->stop();
    const QString transmit = test.txSeenMs >= 0
        ? QStringLiteral("transmit confirmed after %1 ms").arg(test.txSeenMs)
        : QStringLiteral("transmit NOT confirmed");
    const QString receive = test.rxSeenMs >= 0
        ? QStringLiteral("receive confirmed after %1 ms").arg(test.rxSeenMs)
        : QStringLiteral("receive NOT confirmed");
    const QString text = transmit + QStringLiteral(", ") + receive;
    m_services.logLine(QStringLiteral("Rig %1 PTT test: %2").arg(rigLetter(rig), text));
    if (m_link) {
        m_link->ShowTestResult(rig, text);
        updateAvailability();
    }
}
