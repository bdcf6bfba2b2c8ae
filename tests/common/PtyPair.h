#pragma once

// A pseudo-terminal pair: the port under test (or a program the test starts) opens the slave
// by its path, the test plays the other end on the master. Neither end is inherited by the
// programs a test starts; the master does not block.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    int Master() const { return m_master; }
    // The slave as opened here (to read back its settings); the port opens its own.
    int Slave() const { return m_slave; }
    QString SlavePath() const { return m_path; }

    // Writes all bytes to the master; false when the pty refused them.
    bool Send(const QByteArray& bytes);
    // Closes the master, as when the device goes away.
    void HangUp();
    // Closes the slave opened here, for a port that must be the slave's only user (its last
    // close then hangs up, as a real device's does).
    void CloseSlave();
    // Forks a process whose controlling terminal is the slave, on its standard input, output
    // and error, as a login shell's; the caller's copy of the slave is closed. As fork(): 0
    // in the new process (which goes on to exec), its id here, or -1.
    pid_t ForkOnSlave();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
