#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QThread;

// Holds a logind sleep inhibitor in "delay" mode, so that a suspend waits until this program
// has released its transmitter. A timer of this program runs on the monotonic clock, which
// stops during a suspend: a release timer pending when the machine sleeps would fire only
// after it wakes, with the radio keyed all the while.
//
// logind announces the suspend with PrepareForSleep(true) and then waits (up to its
// InhibitDelayMaxSec) until every delay lock is dropped. This class says sleeping(); the owner
// releases and then calls dropLock(). After the wake (PrepareForSleep(false)) it says woken()
// and takes a new lock.
//
// Nothing here waits on the bus: the connection is made on a thread of its own (Qt connects
// and registers with the bus synchronously), the inhibitor is asked for asynchronously.
// Without a system bus, or without logind on it, it says unavailable() once and does nothing
// more.
class SleepWatch : public QObject {
    Q_OBJECT
public:
    explicit SleepWatch(QObject* parent = nullptr);
    ~SleepWatch() override;

    // Connects to the system bus and asks for the lock; returns at once.
    void start();
    // The lock is closed: the suspend may go on. Nothing when none is held.
    void dropLock();
    bool holdsLock() const { return m_lock.isValid(); }

signals:
    void sleeping();
    void woken();
    // The lock cannot be had: no system bus, no logind. Said once.
    void unavailable(const QString& reason);

private slots:
    void prepareForSleep(bool start);

private:
    void connected(bool connected, const QString& error);
    void takeLock();
    void fail(const QString& reason);

    QThread* m_connector = nullptr;
    QDBusUnixFileDescriptor m_lock;
    bool m_sleeping = false;
    bool m_failed = false;
};
