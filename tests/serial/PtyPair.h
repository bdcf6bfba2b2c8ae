#pragma once

// A pseudo-terminal pair for serial tests: the port under test opens the slave by its path,
// the test plays the other end on the master.

#include <QByteArray>
#include <QString>

#include <initializer_list>
#include <set>

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

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// The ids of this process's threads.
std::set<int> ThreadIds();
// The threads that exist now and did not before.
std::set<int> NewThreads(const std::set<int>& before);
// The one thread that exists now and did not before; 0 when not exactly one.
int NewThread(const std::set<int>& before);
// The number of the system call the thread sleeps in, or -1 when it runs or is unknown.
long BlockingSyscall(int tid);
// Without processing events, waits up to timeoutMs for the thread to sleep in one of the
// given system calls.
bool WaitForSyscall(int tid, std::initializer_list<long> numbers, int timeoutMs = 10000);
