// A serial port as a Linux tty device.

#include "serial/SerialPosix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

namespace serial_posix {

namespace {
    std::atomic<std::uint64_t> g_calls { 0 };

    std::int64_t NowMs()
    {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

    bool NoSuchFeature(int error)
    {
        return error == ENOTTY || error == EINVAL;
    }

    // The exclusive mode belongs to the tty, not to this descriptor: it outlives the close
    // while any other descriptor holds the tty, and would then refuse every later open by a
    // user without privileges, ours included.
    void CloseDescriptor(int fd)
    {
        ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
} // namespace

void CountCall()
{
    g_calls.fetch_add(1, std::memory_order_relaxed);
}

class PosixSerialDevice final : public SerialDevice {
public:
    ~PosixSerialDevice() override { Close(); }

    int Open(const std::string& path, InitialLine dtr, InitialLine rts) override;
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }

    int ApplyLineSettings(const SerialLineSettings& settings) override
    {
        CountCall();
        return serial_posix::ApplyLineSettings(m_fd, settings);
    }
    int ApplyReadTimeouts(const SerialReadTimeouts& timeouts) override
    {
        CountCall();
        m_timeouts = timeouts;
        return 0;
    }
    // The tty's queues have fixed sizes; the sizes only place the 80% mark of evRx80Full.
    int ApplyBufferSizes(std::int32_t, std::int32_t) override
    {
        CountCall();
        return 0;
    }

    int SetLine(Line line, bool on) override
    {
        CountCall();
        return DriveLines(m_fd, line == Line::DTR ? TIOCM_DTR : TIOCM_RTS, on, false);
    }
    int ReadModemStatus(std::uint32_t& status) override;
    int PendingInput(std::int32_t& count) override
    {
        CountCall();
        int queued = 0;
        if (ioctl(m_fd, FIONREAD, &queued) < 0)
            return errno;
        count = queued;
        return 0;
    }
    int ReadErrors(std::uint32_t& errors) override;
    int Flush() override
    {
        CountCall();
        const int error = FlushQueues(m_fd);
        // A device that went away (hung up, unplugged) has no queues left to empty; failing
        // here would leave a dead port that can never be closed and opened again.
        return error == EIO || error == ENXIO || error == ENODEV ? 0 : error;
    }
    int Read(void* buffer, std::int32_t count, std::int32_t& received) override;

    int NativeHandle() const override { return m_fd.load(); }

    std::unique_ptr<SerialEventSource> CreateEventSource(
        TComEvents events, std::int32_t inputSize) override
    {
        return serial_posix::CreateEventSource(m_fd, events, inputSize);
    }

private:
    // A handler that runs on the event thread may close the port the window thread used.
    std::atomic<int> m_fd { -1 };
    SerialReadTimeouts m_timeouts;
    serial_icounter_struct m_errorCounts {};
};

int PosixSerialDevice::Open(const std::string& path, InitialLine dtr, InitialLine rts)
{
    CountCall();
    if (m_fd >= 0)
        return EBUSY;
    // Opening raises DTR and RTS even when the lock below then fails: a port that another
    // program holds is refused before it is opened.
    if (const int error = HeldByAnother(path))
        return error;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Taken at once, so that a program that opens the port after us sees it held.
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    // Opening raised DTR and RTS; a transmitter keyed by them must drop at once.
    int drop = 0;
    int raise = 0;
    for (const auto& [wish, bit] : { std::pair { dtr, TIOCM_DTR }, std::pair { rts, TIOCM_RTS } }) {
        if (wish == InitialLine::Low)
            drop |= bit;
        else if (wish == InitialLine::High)
            raise |= bit;
    }
    // A tty without modem lines has none to drive; applying the settings reports a line
    // that should be up and cannot be.
    int error = drop ? DriveLines(fd, drop, false, true) : 0;
    if (!error && raise)
        error = DriveLines(fd, raise, true, true);
    if (!error && ioctl(fd, TIOCEXCL) < 0)
        error = errno;
    if (!error)
        error = SetHangUpOnClose(fd);
    if (error) {
        CloseDescriptor(fd);
        return error;
    }
    m_fd = fd;
    // Errors from before this opening are not this opening's.
    if (ioctl(fd, TIOCGICOUNT, &m_errorCounts) < 0)
        m_errorCounts = {};
    return 0;
}

void PosixSerialDevice::Close()
{
    if (m_fd < 0)
        return;
    CountCall();
    CloseDescriptor(m_fd);
    m_fd = -1;
}

int PosixSerialDevice::ReadModemStatus(std::uint32_t& status)
{
    CountCall();
    int lines = 0;
    if (ioctl(m_fd, TIOCMGET, &lines) < 0) {
        // A tty without modem lines (a pseudo-terminal) has no input line up.
        if (!NoSuchFeature(errno))
            return errno;
        lines = 0;
    }
    status = 0;
    if (lines & TIOCM_CTS)
        status |= SerialStatusCTS;
    if (lines & TIOCM_DSR)
        status |= SerialStatusDSR;
    if (lines & TIOCM_RNG)
        status |= SerialStatusRing;
    if (lines & TIOCM_CD)
        status |= SerialStatusRLSD;
    return 0;
}

int PosixSerialDevice::ReadErrors(std::uint32_t& errors)
{
    CountCall();
    errors = 0;
    serial_icounter_struct now {};
    if (ioctl(m_fd, TIOCGICOUNT, &now) < 0) {
        // A driver without error counters reports no errors.
        return NoSuchFeature(errno) ? 0 : errno;
    }
    const serial_icounter_struct& was = m_errorCounts;
    if (now.frame != was.frame)
        errors |= SerialErrorFrame;
    if (now.parity != was.parity)
        errors |= SerialErrorParity;
    if (now.overrun != was.overrun)
        errors |= SerialErrorOverrun;
    if (now.brk != was.brk)
        errors |= SerialErrorBreak;
    if (now.buf_overrun != was.buf_overrun)
        errors |= SerialErrorRxOver;
    m_errorCounts = now;
    return 0;
}

// Reads as the timeouts say: with no limits set, at once what is queued; with a total limit,
// until count bytes or the limit; with an interval, until the line is quiet that long after
// a byte. Interval and multiplier both at the all-ones value with a constant: the first byte
// within the constant.
int PosixSerialDevice::Read(void* buffer, std::int32_t count, std::int32_t& received)
{
    CountCall();
    received = 0;
    if (count <= 0)
        return 0;
    constexpr std::uint32_t kAll = 0xFFFFFFFF;
    const auto& t = m_timeouts;
    const bool immediate = t.interval == kAll && t.totalMultiplier == 0 && t.totalConstant == 0;
    const bool firstByte = t.interval == kAll && t.totalMultiplier == kAll && t.totalConstant > 0
        && t.totalConstant < kAll;
    const std::int64_t start = NowMs();
    std::int64_t deadline = -1;
    if (firstByte)
        deadline = start + t.totalConstant;
    else if (t.totalMultiplier != 0 || t.totalConstant != 0)
        deadline = start + std::int64_t(t.totalMultiplier) * count + t.totalConstant;
    const bool useInterval = !firstByte && t.interval != kAll && t.interval != 0;
    std::int64_t lastByte = start;

    auto* bytes = static_cast<unsigned char*>(buffer);
    for (;;) {
        const ssize_t n = ::read(m_fd, bytes + received, std::size_t(count - received));
        if (n > 0) {
            received += std::int32_t(n);
            lastByte = NowMs();
            if (received == count || immediate || firstByte)
                return 0;
            continue;
        }
        if (n == 0)
            return 0; // hung up
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return errno;
        if (immediate)
            return 0;
        const std::int64_t now = NowMs();
        std::int64_t wait = -1; // no limit
        if (deadline >= 0) {
            wait = deadline - now;
            if (wait <= 0)
                return 0;
        }
        if (useInterval && received > 0) {
            const std::int64_t quiet = lastByte + t.interval - now;
            if (quiet <= 0)
                return 0;
            wait = wait < 0 ? quiet : std::min(wait, quiet);
        }
        pollfd p { m_fd, POLLIN, 0 };
        if (poll(&p, 1, int(wait)) < 0 && errno != EINTR)
            return errno;
    }
}

} // namespace serial_posix

std::unique_ptr<SerialDevice> SerialDevice::Create()
{
    return std::make_unique<serial_posix::PosixSerialDevice>();
}

std::uint64_t SerialDevice::CallCount()
{
    return serial_posix::g_calls.load(std::memory_order_relaxed);
}
