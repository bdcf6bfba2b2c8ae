#include "SignalPipe.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Per signal, the descriptor its handler writes to, plus one (0: none; a static array of
// atomics starts zeroed). Read by the handlers; lock-free atomics are async-signal-safe.
std::atomic<int> g_writeFds[NSIG];
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeFds[signalNumber].load() - 1;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

void SignalPipe::setAction(int signalNumber, void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    ::sigaction(signalNumber, &action, nullptr);
}

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0) {
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalPipe::readSignals);
    for (int signalNumber : m_signals) {
        g_writeFds[signalNumber].store(m_fds[0] + 1);
        reinstall(signalNumber);
    }
}

SignalPipe::~SignalPipe()
{
    for (int signalNumber : m_signals) {
        setAction(signalNumber, SIG_DFL);
        g_writeFds[signalNumber].store(0);
    }
    m_notifier.reset();
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void SignalPipe::reinstall(int signalNumber)
{
    if (isOpen())
        setAction(signalNumber, onSignal, SA_RESTART);
}

void SignalPipe::readSignals()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(m_fds[1], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            emit arrived(bytes[i]);
}
