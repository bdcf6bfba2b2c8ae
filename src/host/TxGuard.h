#pragma once

#include "rig/RigId.h"
#include "rig/RigSettings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <memory>
#include <string>

class QSocketNotifier;

// The station's side of vokey-guard, a small process that outlives the program: whatever
// ends the program (SIGKILL, a crash, Qt's exit(1) when the display goes), the guard sees
// its end of the socket pair close and, if a road may still be keyed, drops DTR and RTS and
// sends each rigctld a release on a fresh connection. The station tells it the rig servers,
// whether anything is keyed (before the first road is keyed), the serial port's descriptor
// at each opening and its release before each closing, and "bye" after its final release.
//
// A guard that ends (killed, out of memory) is seen at once by its socket closing, and a new
// one is started and told the whole state; one that cannot be started again is said.
//
// Writes never block the event loop: each message is one packet sent without waiting. A
// packet the socket cannot take now (a guard that stopped reading) is dropped; as soon as
// the socket can take packets again, the whole current state is sent, so the guard catches
// up without waiting for the program's next message.
class TxGuard : public QObject {
    Q_OBJECT

public:
    explicit TxGuard(QObject* parent = nullptr);
    ~TxGuard() override;

    // Starts the guard program; false with the reason when it cannot be started.
    bool start(const QString& program, QString* error);
    bool isRunning() const { return m_socket >= 0; }
    qint64 processId() const { return m_pid; }
    // Some of the state has not reached the guard yet: it is sent when the socket takes it.
    bool isBehind() const { return m_behind; }

    void setRigs(const RigSettings& settings);
    void setKeyed(bool keyed);
    // Rig by rig: the guard releases only the radios this program may have keyed.
    void setRigKeyed(RigId rig, bool keyed);
    // The open port's descriptor, or -1 just before it is closed.
    void setSerialHandle(int fd);
    // The rigctld this program runs for a rig, by process id; 0: none.
    void setServer(RigId rig, qint64 pid);
    // The program's final release is done: the guard ends without touching anything.
    void bye();
    // The main thread runs: sent from the render tick while keyed, at least every
    // GuardProtocol::AliveEveryMs, or the guard takes the program for hung.
    void alive();

signals:
    // The guard could not be told something; said once.
    void trouble(const QString& text);
    // The guard ended and another took its place, or none could: what to tell the operator.
    void replaced(const QString& text);
    void lost(const QString& text);
    // The program did not say it was alive while keyed, and the guard released every road.
    void releasedForHang();

private:
    void sendRig(RigId rig);
    void sendServer(RigId rig);
    void sendKeyed();
    void sendRigKeyed(RigId rig);
    void sendPort();
    void send(const std::string& message, int fd = -1);
    void catchUp();
    bool spawn(QString* error);
    // The guard's end of the socket closed: another guard in its place.
    void replace(const QString& reason);

    QString m_program;
    int m_socket = -1;
    qint64 m_pid = -1;
    std::unique_ptr<QSocketNotifier> m_readable; // the guard never writes: only its end
    QElapsedTimer m_started;
    RigSettings m_rigs;
    bool m_rigsSent = false;
    std::array<qint64, 2> m_servers {};
    bool m_keyed = false;
    std::array<bool, 2> m_rigKeyed {};
    int m_serial = -1;
    // A packet was dropped: the whole state goes out before the next message.
    bool m_behind = false;
    std::unique_ptr<QSocketNotifier> m_writable;
    bool m_troubleSaid = false;
    bool m_byeSent = false;
    bool m_replacement = false; // the guard running took the place of one that ended
    // A replacement that ends sooner than this after its start is not started again.
    static constexpr qint64 ReplaceAfterMs = 1000;
};

// The system calls behind TxGuard (TxGuard_posix.cpp).
namespace TxGuardPosix {
enum class SendResult { Sent, Full, Gone };
// Starts `program` with the other end of a new socket pair on its descriptor 3, standard
// input and output on /dev/null, standard error shared, and no other descriptor. Returns
// this program's end (close-on-exec, non-blocking) or -1 with `error` set.
int spawn(const QByteArray& program, qint64* pid, QString* error);
SendResult send(int socket, const QByteArray& message, int fd, QString* error);
// What the guard sent, one packet, without waiting: nothing (more), its end closed, or a
// message (`text`).
enum class Incoming { Nothing, Closed, Message };
Incoming receive(int socket, QByteArray* text);
void close(int socket);
// Collects the guard's exit status if it has ended ("signal 9", "exit status 2"); never
// waits; empty when it has not ended yet.
QString reap(qint64 pid);
} // namespace TxGuardPosix
