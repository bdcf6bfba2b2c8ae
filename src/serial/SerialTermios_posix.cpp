// The tty's line settings through the kernel's termios2 interface, which also takes speeds
// outside the B-constant table (BOTHER). <termios.h> must stay out of this file: its
// struct termios is not the kernel's.

#include "serial/SerialPosix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <iterator>

namespace serial_posix {

namespace {

    struct SpeedCode {
        std::int32_t speed;
        unsigned code;
    };

    constexpr SpeedCode kSpeedCodes[] = { { 50, B50 }, { 75, B75 }, { 110, B110 }, { 134, B134 },
        { 150, B150 }, { 200, B200 }, { 300, B300 }, { 600, B600 }, { 1200, B1200 },
        { 1800, B1800 }, { 2400, B2400 }, { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 },
        { 38400, B38400 }, { 57600, B57600 }, { 115200, B115200 }, { 230400, B230400 },
        { 460800, B460800 }, { 500000, B500000 }, { 576000, B576000 }, { 921600, B921600 },
        { 1000000, B1000000 }, { 1152000, B1152000 }, { 1500000, B1500000 }, { 2000000, B2000000 },
        { 2500000, B2500000 }, { 3000000, B3000000 }, { 3500000, B3500000 },
        { 4000000, B4000000 } };

    unsigned SpeedCodeOf(std::int32_t speed)
    {
        for (const auto& entry : kSpeedCodes) {
            if (entry.speed == speed)
                return entry.code;
        }
        return BOTHER;
    }

    std::int32_t SpeedOf(const termios2& tio)
    {
        const unsigned code = tio.c_cflag & CBAUD;
        for (const auto& entry : kSpeedCodes) {
            if (entry.code == code)
                return entry.speed;
        }
        return static_cast<std::int32_t>(tio.c_ospeed);
    }

    // A UART makes its speed by dividing a clock; the rounding of the divisor leaves up to
    // about 3 % off the speed asked for, which the far end still reads.
    bool CloseEnough(std::int32_t made, std::int32_t asked)
    {
        const std::int64_t off = std::int64_t(made) - asked;
        return (off < 0 ? -off : off) * 100 <= std::int64_t(asked) * 3;
    }

    constexpr unsigned kSizes[] = { CS5, CS6, CS7, CS8 };

    // What a Linux tty cannot do fails rather than being set to something else.
    bool Possible(const SerialLineSettings& s)
    {
        if (s.baudRate <= 0 || s.dataBits < 5 || s.dataBits > 8)
            return false;
        // The UART makes one and a half stop bits from CSTOPB with five data bits only, and
        // then it cannot make two.
        if (s.stopBits == sbOne5StopBits && s.dataBits != 5)
            return false;
        if (s.stopBits == sbTwoStopBits && s.dataBits == 5)
            return false;
        if (s.controlDTR == dtrHandshake || s.controlRTS == rtsToggle)
            return false;
        // CRTSCTS couples CTS output flow with RTS input handshaking: one without the other
        // does not exist.
        if ((s.controlRTS == rtsHandshake) != s.outCTSFlow)
            return false;
        // A byte with a parity error reads as NUL; no other replacement exists.
        if (s.parityCheck && s.replaceErrors && s.replaceChar != 0)
            return false;
        return true;
    }

} // namespace

int ApplyLineSettings(int fd, const SerialLineSettings& s)
{
    if (!Possible(s))
        return EINVAL;
    termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return errno;
    const termios2 before = tio;

    // Raw bytes: no line editing, echo, signals or output processing.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF
        | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // Reads never block (the descriptor is non-blocking); with MIN 1 an empty queue reads
    // as EAGAIN and only a hang-up as end of file.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    tio.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL | HUPCL | kSizes[s.dataBits - 5];
    const unsigned speedCode = SpeedCodeOf(s.baudRate);
    tio.c_cflag |= speedCode;
    tio.c_ispeed = static_cast<speed_t>(s.baudRate);
    tio.c_ospeed = static_cast<speed_t>(s.baudRate);

    switch (s.parity) {
    case prNone:
        break;
    case prOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case prEven:
        tio.c_cflag |= PARENB;
        break;
    case prMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case prSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (s.stopBits != sbOneStopBit)
        tio.c_cflag |= CSTOPB;
    if (s.controlRTS == rtsHandshake)
        tio.c_cflag |= CRTSCTS;
    if (s.xonXoffOut)
        tio.c_iflag |= IXON;
    if (s.xonXoffIn)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    // Checking parity on input replaces a faulty byte (by NUL); without it the byte passes as
    // received. Either way the driver counts the error for the error events.
    if (s.parityCheck && s.replaceErrors)
        tio.c_iflag |= INPCK;

    if (ioctl(fd, TCSETS2, &tio) < 0)
        return errno;
    // A driver stores the speed it can make instead of one it cannot, without failing.
    termios2 made {};
    if (ioctl(fd, TCGETS2, &made) < 0)
        return errno;
    if (!CloseEnough(SpeedOf(made), s.baudRate)) {
        ioctl(fd, TCSETS2, &before);
        return EINVAL;
    }

    int raise = 0;
    int drop = 0;
    (s.controlDTR == dtrEnable ? raise : drop) |= TIOCM_DTR;
    if (s.controlRTS == rtsEnable)
        raise |= TIOCM_RTS;
    else if (s.controlRTS == rtsDisable)
        drop |= TIOCM_RTS;
    // A line without a driver behind it can only be low: dropping it is done.
    if (const int error = DriveLines(fd, drop, false, true))
        return error;
    return raise ? DriveLines(fd, raise, true, false) : 0;
}

int SetHangUpOnClose(int fd)
{
    termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return errno;
    if (tio.c_cflag & HUPCL)
        return 0;
    tio.c_cflag |= HUPCL;
    return ioctl(fd, TCSETS2, &tio) < 0 ? errno : 0;
}

int FlushQueues(int fd)
{
    return ioctl(fd, TCFLSH, TCIOFLUSH) < 0 ? errno : 0;
}

int DriveLines(int fd, int bits, bool on, bool noLinesOk)
{
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0)
        return 0;
    const int error = errno;
    if (noLinesOk && (error == ENOTTY || error == EINVAL))
        return 0;
    return error;
}

} // namespace serial_posix
