#pragma once
// A stand-in Kenwood TS-590S on the master side of a pseudo-terminal, for Hamlib's real
// TS-590S backend (rigctld -m 2031 -r <DevicePath()>). It answers what that backend asks at
// open and in use (ID, PS, FV, IF, FA, FB, FR, FT, MD, DA, AI, TX, RX) in its own thread, so it
// answers while the test's thread waits in a blocking call, and answers any other command
// with "?;" as the radio does. Every command is recorded with its CLOCK_MONOTONIC arrival time
// (the clock of QElapsedTimer::msecsSinceReference(), here in nanoseconds) and the transmit
// state after it. Bytes that cannot belong to a Kenwood command (outside printable ASCII),
// such as the Yaesu status read 00 00 00 00 FA, are counted and left out of the commands
// around them.

#include "PtyPair.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <mutex>
#include <thread>

class KenwoodRadio {
public:
    struct Command {
        QByteArray text; // without the ';'
        qint64 timeNs = 0; // CLOCK_MONOTONIC, when the ';' arrived
        bool transmitting = false; // after the command
    };

    KenwoodRadio();
    ~KenwoodRadio();
    KenwoodRadio(const KenwoodRadio&) = delete;
    KenwoodRadio& operator=(const KenwoodRadio&) = delete;

    // Starts answering; false when the pseudo-terminal could not be made.
    bool start();
    QString devicePath() const { return m_pty.SlavePath(); }

    QList<Command> commands() const;
    bool transmitting() const;
    // The operator's PTT on the radio itself.
    void setTransmitting(bool on);
    // Bytes that are no Kenwood command, and when each read that brought some arrived.
    int foreignBytes() const;
    QList<qint64> foreignArrivals() const;
    // When the first transmit command (TX, TX0, TX1, TX2) arrived at or after `sinceNs`, or -1.
    qint64 firstTransmitAt(qint64 sinceNs) const;

    static qint64 nowNs();

private:
    void run();
    void take(const char* bytes, qsizetype size);
    QByteArray answer(const QByteArray& command);
    QByteArray infoAnswer() const;

    PtyPair m_pty;
    int m_stopPipe[2] = { -1, -1 };
    std::thread m_thread;
    mutable std::mutex m_mutex;
    QByteArray m_pending; // a command still without its ';'
    QList<Command> m_commands;
    bool m_transmitting = false;
    int m_foreignBytes = 0;
    QList<qint64> m_foreignArrivals;
    qint64 m_frequencyA = 14074000;
    qint64 m_frequencyB = 14074000;
};
