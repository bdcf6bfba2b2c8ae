#pragma once

// This process's threads as /proc shows them: which exist, and in which system call one sleeps.

#include <initializer_list>
#include <set>

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
