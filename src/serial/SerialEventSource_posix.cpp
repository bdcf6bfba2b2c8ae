// The event thread's waits on a Linux tty: epoll on the device (edge-triggered, so that data
// left unread does not wake the thread again) and on two eventfds (stop, modem-line change).
// The kernel's modem-line wait TIOCMIWAIT blocks, so a small second thread runs it; a signal
// interrupts it when the source stops. A driver without that wait (a pseudo-terminal) has its
// lines sampled at a low rate instead, and a driver without modem lines at all is not asked.

#include "serial/SerialPosix.h"

#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace serial_posix {

namespace {

    constexpr int kSampleIntervalMs = 50;
    constexpr int kWaiterRetryMs = 250;

    // Interrupts a thread blocked in TIOCMIWAIT. Installed without SA_RESTART so that the wait
    // returns EINTR.
    int WakeSignal()
    {
        static const int signal = [] {
            const int number = SIGRTMIN + 4;
            struct sigaction action { };
            action.sa_handler = [](int) {};
            sigemptyset(&action.sa_mask);
            sigaction(number, &action, nullptr);
            return number;
        }();
        return signal;
    }

    std::int64_t NowMs()
    {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

    void Signal(int eventFd)
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(eventFd, &one, sizeof one);
    }

    void Drain(int eventFd)
    {
        std::uint64_t value = 0;
        [[maybe_unused]] auto got = ::read(eventFd, &value, sizeof value);
    }

    class PosixEventSource final : public SerialEventSource {
    public:
        PosixEventSource(int fd, TComEvents events, std::int32_t inputSize);
        ~PosixEventSource() override;

        Result Wait(TComEvents& batch) override;
        bool Pause(int ms) override;
        void Stop() override;
        void Release() override;

    private:
        bool Wants(TComEvent event) const { return m_events.Contains(event); }
        void CloseHandles();
        void WatchModemLines();
        void ModemWaiterBody(int mask, serial_icounter_struct seen, int seenLines);
        void StopModemWaiter();
        void CheckErrors(TComEvents& batch);
        void CheckLines(TComEvents& batch);
        void CheckFill(TComEvents& batch);

        const int m_fd;
        const TComEvents m_events;
        const std::int32_t m_inputSize;
        int m_epoll = -1;
        int m_stopFd = -1;
        int m_modemFd = -1;
        bool m_rearm = false;
        bool m_failPending = false;
        bool m_released = false;

        bool m_haveErrorCounts = false;
        serial_icounter_struct m_errorCounts {};
        bool m_haveLines = false;
        int m_lines = 0;
        bool m_haveLineCounts = false;
        serial_icounter_struct m_lineCounts {};
        bool m_aboveMark = false;

        std::atomic<bool> m_sampling { false };
        std::int64_t m_nextSample = 0;

        std::thread m_waiter;
        std::atomic<bool> m_waiterStop { false };
        std::mutex m_waiterMutex;
        std::condition_variable m_waiterDone;
        bool m_waiterEnded = false;
    };

    PosixEventSource::PosixEventSource(int fd, TComEvents events, std::int32_t inputSize)
        : m_fd(fd)
        , m_events(events)
        , m_inputSize(inputSize)
    {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_modemFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_epoll < 0 || m_stopFd < 0 || m_modemFd < 0) {
            const int error = errno;
            CloseHandles();
            throw std::system_error(error, std::generic_category(), "serial event wait");
        }
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = m_stopFd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_stopFd, &event);
        event.data.fd = m_modemFd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_modemFd, &event);
        // Errors and hang-ups are always reported; received data only once per arrival.
        event.events = EPOLLIN | EPOLLET;
        event.data.fd = m_fd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_fd, &event);

        if (Wants(evError) || Wants(evBreak))
            m_haveErrorCounts = ioctl(m_fd, TIOCGICOUNT, &m_errorCounts) == 0;
        if (Wants(evCTS) || Wants(evDSR) || Wants(evRing) || Wants(evRLSD)) {
            try {
                WatchModemLines();
            } catch (...) {
                CloseHandles(); // the thread could not be made: no destructor will run
                throw;
            }
        }
    }

    PosixEventSource::~PosixEventSource()
    {
        StopModemWaiter();
        CloseHandles();
    }

    void PosixEventSource::CloseHandles()
    {
        for (int* fd : { &m_epoll, &m_stopFd, &m_modemFd }) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    void PosixEventSource::WatchModemLines()
    {
        m_haveLines = ioctl(m_fd, TIOCMGET, &m_lines) == 0;
        if (!m_haveLines)
            return;
        m_haveLineCounts = ioctl(m_fd, TIOCGICOUNT, &m_lineCounts) == 0;
        int mask = 0;
        if (Wants(evCTS))
            mask |= TIOCM_CTS;
        if (Wants(evDSR))
            mask |= TIOCM_DSR;
        if (Wants(evRing))
            mask |= TIOCM_RNG;
        if (Wants(evRLSD))
            mask |= TIOCM_CD;
        WakeSignal();
        m_waiter = std::thread([this, mask, counts = m_lineCounts, lines = m_lines] {
            ModemWaiterBody(mask, counts, lines);
        });
    }

    void PosixEventSource::ModemWaiterBody(int mask, serial_icounter_struct seen, int seenLines)
    {
        // The kernel's wait only sees changes made after it began: look for changes made since
        // the last look (or since the source was made) before each wait.
        while (!m_waiterStop.load()) {
            serial_icounter_struct counts {};
            int lines = 0;
            const bool moved = m_haveLineCounts
                ? ioctl(m_fd, TIOCGICOUNT, &counts) == 0
                    && (counts.cts != seen.cts || counts.dsr != seen.dsr || counts.rng != seen.rng
                        || counts.dcd != seen.dcd)
                : ioctl(m_fd, TIOCMGET, &lines) == 0 && ((lines ^ seenLines) & mask) != 0;
            if (moved) {
                seen = counts;
                seenLines = lines;
                Signal(m_modemFd);
            }
            if (ioctl(m_fd, TIOCMIWAIT, mask) == 0) {
                Signal(m_modemFd);
                continue;
            }
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error == ENOTTY || error == EINVAL) {
                m_sampling = true;
                Signal(m_modemFd); // the event thread starts sampling now
                break;
            }
            // The device failed (unplugged): try again later rather than spin. The stop signal
            // cuts the sleep short.
            timespec pause { 0, kWaiterRetryMs * 1000000L };
            nanosleep(&pause, nullptr);
        }
        std::lock_guard lock(m_waiterMutex);
        m_waiterEnded = true;
        m_waiterDone.notify_all();
    }

    void PosixEventSource::StopModemWaiter()
    {
        if (!m_waiter.joinable())
            return;
        m_waiterStop = true;
        std::unique_lock lock(m_waiterMutex);
        // A signal sent just before the waiter enters the wait is lost; send until it has ended.
        while (!m_waiterEnded) {
            pthread_kill(m_waiter.native_handle(), WakeSignal());
            m_waiterDone.wait_for(lock, std::chrono::milliseconds(5));
        }
        lock.unlock();
        m_waiter.join();
    }

    SerialEventSource::Result PosixEventSource::Wait(TComEvents& batch)
    {
        if (m_failPending) {
            // The failure that came with the last batch.
            m_failPending = false;
            m_rearm = true;
            return Result::Failed;
        }
        for (;;) {
            if (m_rearm) {
                // Ask again whether the device still fails.
                epoll_event event {};
                event.events = EPOLLIN | EPOLLET;
                event.data.fd = m_fd;
                epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_fd, &event);
                m_rearm = false;
            }
            int timeout = -1;
            const bool sampling = m_sampling.load();
            if (sampling)
                timeout = int(std::max<std::int64_t>(0, m_nextSample - NowMs()));
            epoll_event ready[3];
            const int count = epoll_wait(m_epoll, ready, 3, timeout);
            if (count < 0) {
                if (errno == EINTR)
                    continue;
                return Result::Failed;
            }
            bool stop = false, received = false, failed = false, modem = false;
            for (int i = 0; i < count; ++i) {
                if (ready[i].data.fd == m_stopFd) {
                    stop = true;
                } else if (ready[i].data.fd == m_modemFd) {
                    Drain(m_modemFd);
                    modem = true;
                } else {
                    received = ready[i].events & EPOLLIN;
                    failed = ready[i].events & (EPOLLHUP | EPOLLERR);
                }
            }
            // The stop wins over everything that happened at the same time.
            if (stop)
                return Result::Stopped;
            const bool sample = sampling && NowMs() >= m_nextSample;
            if (sample)
                m_nextSample = NowMs() + kSampleIntervalMs;
            // A hung-up tty always reads as readable; its queue, if it can still be read, holds
            // what arrived before the hang-up.
            int queued = 0;
            if (failed)
                received = ioctl(m_fd, FIONREAD, &queued) == 0 && queued > 0;

            batch = {};
            if (received && Wants(evRxChar))
                batch.Include(evRxChar);
            if (received)
                CheckFill(batch);
            // A line error comes with a byte (framing and parity errors, breaks and overruns all
            // put one in the queue), so the counters are read on arrivals, and when sampling.
            if (received || failed || modem || sample)
                CheckErrors(batch);
            if (modem || sample)
                CheckLines(batch);
            // What arrived with a failure is delivered first; the failure at the next wait.
            if (failed && batch.Empty()) {
                m_rearm = true;
                return Result::Failed;
            }
            m_failPending = failed;
            if (!batch.Empty())
                return Result::Events;
        }
    }

    void PosixEventSource::CheckErrors(TComEvents& batch)
    {
        serial_icounter_struct now {};
        if (!m_haveErrorCounts || ioctl(m_fd, TIOCGICOUNT, &now) < 0)
            return;
        const auto& was = m_errorCounts;
        if (Wants(evError)
            && (now.frame != was.frame || now.parity != was.parity || now.overrun != was.overrun
                || now.buf_overrun != was.buf_overrun))
            batch.Include(evError);
        if (Wants(evBreak) && now.brk != was.brk)
            batch.Include(evBreak);
        m_errorCounts = now;
    }

    void PosixEventSource::CheckLines(TComEvents& batch)
    {
        int lines = 0;
        if (!m_haveLines || ioctl(m_fd, TIOCMGET, &lines) < 0)
            return;
        serial_icounter_struct counts = m_lineCounts;
        if (m_haveLineCounts && ioctl(m_fd, TIOCGICOUNT, &counts) < 0)
            counts = m_lineCounts;
        const auto& was = m_lineCounts;
        const int changed = lines ^ m_lines;
        // The counters also catch a pulse that came and went between two looks.
        if (Wants(evCTS) && ((changed & TIOCM_CTS) || counts.cts != was.cts))
            batch.Include(evCTS);
        if (Wants(evDSR) && ((changed & TIOCM_DSR) || counts.dsr != was.dsr))
            batch.Include(evDSR);
        if (Wants(evRLSD) && ((changed & TIOCM_CD) || counts.dcd != was.dcd))
            batch.Include(evRLSD);
        // A ring is one pulse: its rise, or the driver's count of ended rings.
        const bool ringRose = (changed & TIOCM_RNG) && (lines & TIOCM_RNG);
        if (Wants(evRing) && (counts.rng != was.rng || (!m_haveLineCounts && ringRose)))
            batch.Include(evRing);
        m_lines = lines;
        m_lineCounts = counts;
    }

    void PosixEventSource::CheckFill(TComEvents& batch)
    {
        if (!Wants(evRx80Full) || m_inputSize <= 0)
            return;
        int queued = 0;
        if (ioctl(m_fd, FIONREAD, &queued) < 0)
            return;
        const bool above = std::int64_t(queued) * 5 >= std::int64_t(m_inputSize) * 4;
        if (above && !m_aboveMark)
            batch.Include(evRx80Full);
        m_aboveMark = above;
    }

    bool PosixEventSource::Pause(int ms)
    {
        pollfd stop { m_stopFd, POLLIN, 0 };
        return poll(&stop, 1, ms) > 0;
    }

    void PosixEventSource::Stop()
    {
        Signal(m_stopFd);
    }

    void PosixEventSource::Release()
    {
        if (m_released)
            return;
        m_released = true;
        StopModemWaiter();
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr);
        FlushQueues(m_fd);
    }

} // namespace

std::unique_ptr<SerialEventSource> CreateEventSource(
    int fd, TComEvents events, std::int32_t inputSize)
{
    return std::make_unique<PosixEventSource>(fd, events, inputSize);
}

} // namespace serial_posix
