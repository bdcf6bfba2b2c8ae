#include "ExitSignals.h"

#include "SignalPipe.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Read by the crash handler; lock-free atomics are async-signal-safe.
std::atomic<int> g_serialFd { -1 };
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int FatalSignalList[] = { SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE };

extern "C" void onFatalSignal(int signalNumber)
{
    // A transmitter must not stay keyed by a program that dies: drop both lines first.
    const int fd = g_serialFd.load();
    if (fd >= 0) {
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd, TIOCMBIC, &lines);
    }
    // Die of the same signal with the default action (core dump, exit status).
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

} // namespace

ExitSignals::ExitSignals(QObject* parent)
    : QObject(parent)
    // SIGQUIT (Ctrl+\) would otherwise end the program with no release at all.
    , m_pipe(new SignalPipe({ SIGINT, SIGTERM, SIGHUP, SIGQUIT }, this))
{
    connect(m_pipe, &SignalPipe::arrived, this, &ExitSignals::exitRequested);
    for (int signalNumber : FatalSignalList)
        SignalPipe::setAction(signalNumber, onFatalSignal, SA_RESETHAND);
}

ExitSignals::~ExitSignals()
{
    for (int signalNumber : FatalSignalList)
        SignalPipe::setAction(signalNumber, SIG_DFL);
}

void ExitSignals::setSerialHandle(int fd)
{
    g_serialFd.store(fd);
}

int ExitSignals::serialHandle()
{
    return g_serialFd.load();
}
