#include "ExitSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Read by the signal handlers; lock-free atomics are async-signal-safe.
std::atomic<int> g_writeFd { -1 };
std::atomic<int> g_serialFd { -1 };
static_assert(std::atomic<int>::is_always_lock_free);

// SIGQUIT (Ctrl+\) would otherwise end the program with no release at all.
constexpr int ExitSignalList[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
constexpr int FatalSignalList[] = { SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE };

extern "C" void onExitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

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

void install(int signalNumber, void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

ExitSignals::ExitSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0)
        m_fds[0] = m_fds[1] = -1;
    if (m_fds[0] >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &ExitSignals::readSignal);
        g_writeFd.store(m_fds[0]);
        for (int signalNumber : ExitSignalList)
            install(signalNumber, onExitSignal, SA_RESTART);
    }
    for (int signalNumber : FatalSignalList)
        install(signalNumber, onFatalSignal, SA_RESETHAND);
}

ExitSignals::~ExitSignals()
{
    for (int signalNumber : ExitSignalList)
        install(signalNumber, SIG_DFL, 0);
    for (int signalNumber : FatalSignalList)
        install(signalNumber, SIG_DFL, 0);
    g_writeFd.store(-1);
    m_notifier.reset();
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void ExitSignals::setSerialHandle(int fd)
{
    g_serialFd.store(fd);
}

int ExitSignals::serialHandle()
{
    return g_serialFd.load();
}

void ExitSignals::readSignal()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(m_fds[1], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            emit exitRequested(bytes[i]);
}
