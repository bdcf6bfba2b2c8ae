#include "SleepWatch.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QThread>

#include <memory>
#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.login1");
const QString Path = QStringLiteral("/org/freedesktop/login1");
const QString Manager = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

SleepWatch::SleepWatch(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("SleepWatch"));
}

SleepWatch::~SleepWatch()
{
    // A bus that never answers keeps the connecting thread until the bus's own time limit;
    // it refers to nothing of this object and ends on its own.
    if (m_connector && m_connector->isRunning()) {
        m_connector->disconnect(this);
        connect(m_connector, &QThread::finished, m_connector, &QObject::deleteLater);
        m_connector->setParent(nullptr);
    }
}

void SleepWatch::start()
{
    if (m_connector)
        return;
    auto result = std::make_shared<std::pair<bool, QString>>();
    m_connector = QThread::create([result] {
        const QDBusConnection bus = QDBusConnection::systemBus();
        *result = { bus.isConnected(), bus.lastError().message() };
    });
    m_connector->setObjectName(QStringLiteral("SystemBusConnector"));
    m_connector->setParent(this);
    connect(m_connector, &QThread::finished, this,
        [this, result] { connected(result->first, result->second); });
    m_connector->start();
}

void SleepWatch::connected(bool connected, const QString& error)
{
    if (!connected) {
        fail(QStringLiteral("no system bus (%1)").arg(error));
        return;
    }
    // The signal is matched without a sender: naming logind would make Qt look up its owner
    // with a call that waits. Another program sending it can only cause a release.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.connect(QString(), Path, Manager, QStringLiteral("PrepareForSleep"), this,
            SLOT(prepareForSleep(bool)))) {
        fail(QStringLiteral("PrepareForSleep cannot be watched (%1)")
                 .arg(bus.lastError().message()));
        return;
    }
    takeLock();
}

void SleepWatch::takeLock()
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(Service, Path, Manager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("VOKEY")
         << QStringLiteral("Release the transmitter before the suspend") << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this](QDBusPendingCallWatcher* finished) {
            // The reply message keeps a descriptor of the lock of its own: it goes with it.
            finished->deleteLater();
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
            if (reply.isError()) {
                fail(QStringLiteral("no sleep inhibitor from logind (%1)")
                         .arg(reply.error().message()));
                return;
            }
            // A suspend announced while the lock was on its way: the lock would hold it up.
            if (!m_sleeping)
                m_lock = reply.value();
        });
}

void SleepWatch::dropLock()
{
    m_lock = QDBusUnixFileDescriptor();
}

void SleepWatch::prepareForSleep(bool start)
{
    if (start == m_sleeping)
        return;
    m_sleeping = start;
    if (start) {
        emit sleeping();
    } else {
        takeLock();
        emit woken();
    }
}

void SleepWatch::fail(const QString& reason)
{
    if (m_failed)
        return;
    m_failed = true;
    emit unavailable(reason);
}
