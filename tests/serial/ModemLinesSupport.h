#pragma once

// Helpers of the tests that run on the modem-line model (modemlines.h): its log, lines and
// error counters for one pseudo-terminal, and the port's modem-line waiter thread.

#include "ThreadProbe.h"
#include "common/ModemLineLog.h"
#include "common/PtyPair.h"

#include <QDeadlineTimer>
#include <QString>

#include <memory>

#include <set>
#include <sys/syscall.h>
#include <thread>
#include <vector>

namespace modemlines_support {

inline QList<modemlines_event> LogOf(const QString& path)
{
    return modemLineEvents(path);
}

// A fresh pseudo-terminal on the model, which answers both kernel calls and stores every
// speed; its lines and the log are cleared. Null when it cannot be made.
inline std::unique_ptr<PtyPair> FreshModemPty()
{
    modemlines_set_features(1, 1);
    modemlines_set_baud_base(0);
    auto pty = std::make_unique<PtyPair>();
    if (!pty->IsOpen() || modemlines_reset(pty->SlavePath().toLocal8Bit().constData()) != 0)
        return nullptr;
    modemlines_log_clear();
    return pty;
}

inline int LinesOf(const PtyPair& pty)
{
    return modemlines_get(pty.SlavePath().toLocal8Bit().constData());
}

inline void SetInputs(const PtyPair& pty, int bits)
{
    modemlines_set_inputs(pty.SlavePath().toLocal8Bit().constData(), bits);
}

inline void AddErrors(const PtyPair& pty, int frame, int parity)
{
    modemlines_add_errors(pty.SlavePath().toLocal8Bit().constData(), frame, parity, 0, 0, 0);
}

// The port's modem-line waiter among the threads made since before: the one that sleeps in
// the (modelled) kernel wait while the event thread sleeps in epoll. 0 when there is none.
inline int ModemWaiter(const std::set<int>& before)
{
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const auto added = NewThreads(before);
        int waiting = 0;
        int polling = 0;
        for (int tid : added) {
            const long call = BlockingSyscall(tid);
            if (call == SYS_futex)
                waiting = tid;
            else if (call == SYS_epoll_wait || call == SYS_epoll_pwait)
                polling = tid;
        }
        if (added.size() == 2 && waiting && polling)
            return waiting;
        std::this_thread::yield();
    }
    return 0;
}

// Lines changed while the waiter is between two kernel waits are seen at the next change
// only (the kernel's wait does not latch changes): change them while it waits.
inline bool WaitUntilWaiting(int waiter)
{
    return WaitForSyscall(waiter, { SYS_futex });
}

} // namespace modemlines_support
