// System suspend: a logind delay lock is held while the station runs. Before the sleep every
// road is released and the lock dropped once the radios confirmed the release (or did not
// answer in time); after the wake nothing keys until a tick that does not pass.
#include "VoxStation.h"

#include "SleepWatch.h"

#include "rig/OmniRigX.h"

#include <QSet>
#include <QTimer>

#include <memory>

namespace {

// logind lets a delay lock hold a suspend up for InhibitDelayMaxSec, 5 s unless configured.
constexpr int SleepReleaseWaitMs = 2000;

} // namespace

void VoxStation::StartSleepWatch()
{
    if (m_sleepWatch)
        return;
    m_sleepWatch = new SleepWatch(this);
    connect(m_sleepWatch, &SleepWatch::sleeping, this, &VoxStation::PrepareForSleep);
    connect(m_sleepWatch, &SleepWatch::woken, this, &VoxStation::WakeFromSleep);
    connect(m_sleepWatch, &SleepWatch::unavailable, this, [this](const QString& reason) {
        m_log.WriteLine(1,
            QStringLiteral("System suspend not watched: %1; transmit is not released before "
                           "the computer sleeps")
                .arg(reason));
    });
    m_sleepWatch->start();
}

void VoxStation::PrepareForSleep()
{
    m_sleepHold = SleepHold::Asleep;
    const QList<RigId> keyed = KeyedRigs();
    Guarded([this] { ReleaseNow(); });
    m_log.WriteLine(1, QStringLiteral("System suspend: transmit released"));

    // The lock goes once every radio this program had keyed has answered the release, gone
    // offline, or the time is up; the serial lines dropped at once above.
    auto* waiter = new QObject(this);
    auto pending = std::make_shared<QSet<RigId>>();
    const auto finish = [this, waiter, pending] {
        if (!waiter->parent() || !pending->isEmpty())
            return;
        waiter->setParent(nullptr);
        waiter->deleteLater();
        // Woken meanwhile: the lock is the one taken for the next sleep.
        if (m_sleepHold == SleepHold::Asleep)
            m_sleepWatch->dropLock();
    };
    for (RigId id : keyed) {
        IRigX* rig = m_omniRig ? Rig(id) : nullptr;
        if (!rig || rig->Status() != rsOnline || !rig->IsParamReadable(PM_TX))
            continue;
        pending->insert(id);
        connect(rig, &IRigX::paramsChanged, waiter, [=](int params) {
            if (params == PM_RX) {
                pending->remove(id);
                finish();
            }
        });
        connect(rig, &IRigX::statusChanged, waiter, [=] {
            if (rig->Status() != rsOnline) {
                pending->remove(id);
                finish();
            }
        });
    }
    QTimer::singleShot(SleepReleaseWaitMs, waiter, [pending, finish] {
        pending->clear();
        finish();
    });
    finish();
}

void VoxStation::WakeFromSleep()
{
    m_sleepHold = SleepHold::Woken;
    m_log.WriteLine(1, QStringLiteral("System resumed: keying waits for a tick below the Gain"));
}

bool VoxStation::SleepHoldsKeying(bool passed)
{
    switch (m_sleepHold) {
    case SleepHold::None:
        return false;
    case SleepHold::Asleep:
        return true;
    case SleepHold::Woken:
        if (passed)
            return true;
        m_sleepHold = SleepHold::None;
        return false;
    }
    return false;
}
