#include "JobControl.h"

#include "VoxStation.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<int> g_writeFd { -1 };
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onJobSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void install(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

JobControl::JobControl(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0) {
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &JobControl::readSignal);
    g_writeFd.store(m_fds[0]);
    install(SIGTSTP, onJobSignal);
    install(SIGCONT, onJobSignal);
    install(SIGTTIN, SIG_IGN);
    install(SIGTTOU, SIG_IGN);
}

JobControl::~JobControl()
{
    for (int signalNumber : { SIGTSTP, SIGCONT, SIGTTIN, SIGTTOU })
        install(signalNumber, SIG_DFL);
    g_writeFd.store(-1);
    m_notifier.reset();
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void JobControl::stopProcess()
{
    // SIGTSTP's own action stops the process (a shell sees its job stopped by it); the
    // handler is back as soon as it continues.
    install(SIGTSTP, SIG_DFL);
    ::raise(SIGTSTP);
    if (g_writeFd.load() >= 0)
        install(SIGTSTP, onJobSignal);
}

void JobControl::keepReleased(
    VoxStation& station, std::function<void()> beforeStop, std::function<void()> continued)
{
    const auto resume = [this, &station, continued] {
        if (m_stopping || station.IsShutDown())
            return;
        if (continued)
            continued();
        station.ResumeKeying();
    };
    connect(this, &JobControl::stopRequested, this, [this, &station, beforeStop, resume] {
        if (m_stopping || station.IsShutDown())
            return;
        m_stopping = true;
        station.Guarded([&station] { station.ReleaseBeforeStop(); });
        m_stopping = false;
        if (station.IsShutDown())
            return; // an exit signal came while the radios answered: the program ends instead
        if (beforeStop)
            beforeStop();
        stopProcess();
        resume();
    });
    connect(this, &JobControl::continued, this, resume);
}

void JobControl::readSignal()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(m_fds[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] == SIGTSTP)
                emit stopRequested();
            else
                emit continued();
        }
    }
}
