#include "KenwoodRadio.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

bool isKenwoodByte(char byte)
{
    return byte >= 0x20 && byte <= 0x7E;
}

// A read command is the two letters alone; a set command carries its value after them.
bool isRead(const QByteArray& command, const char* name)
{
    return command == name;
}

bool isSet(const QByteArray& command, const char* name)
{
    return command.size() > 2 && command.startsWith(name);
}

} // namespace

KenwoodRadio::KenwoodRadio()
{
    // Until the backend makes the port raw, the slave's line discipline would echo the
    // answers back to this side as if the radio had been sent them.
    if (m_pty.IsOpen()) {
        termios settings {};
        if (tcgetattr(m_pty.Slave(), &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(m_pty.Slave(), TCSANOW, &settings);
        }
    }
}

KenwoodRadio::~KenwoodRadio()
{
    if (m_thread.joinable()) {
        const char stop = 'q';
        (void)::write(m_stopPipe[1], &stop, 1);
        m_thread.join();
    }
    for (int fd : m_stopPipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

qint64 KenwoodRadio::nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool KenwoodRadio::start()
{
    // The slave stays open here as well: when rigctld closes it, the master reads no hang-up.
    if (!m_pty.IsOpen() || m_thread.joinable() || ::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return false;
    m_thread = std::thread(&KenwoodRadio::run, this);
    return true;
}

void KenwoodRadio::run()
{
    pollfd fds[2] = { { m_pty.Master(), POLLIN, 0 }, { m_stopPipe[0], POLLIN, 0 } };
    char buffer[512];
    while (true) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const ssize_t n = ::read(m_pty.Master(), buffer, sizeof buffer);
        if (n > 0)
            take(buffer, n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
    }
}

void KenwoodRadio::take(const char* bytes, qsizetype size)
{
    const qint64 now = nowNs();
    QByteArray answers;
    {
        std::lock_guard lock(m_mutex);
        bool foreign = false;
        for (qsizetype i = 0; i < size; ++i) {
            const char byte = bytes[i];
            if (byte == ';') {
                const QByteArray command = std::exchange(m_pending, QByteArray());
                answers += answer(command);
                m_commands.append(Command { command, now, m_transmitting });
            } else if (isKenwoodByte(byte)) {
                m_pending += byte;
            } else {
                ++m_foreignBytes;
                foreign = true;
            }
        }
        if (foreign)
            m_foreignArrivals.append(now);
    }
    if (!answers.isEmpty())
        m_pty.Send(answers);
}

QByteArray KenwoodRadio::answer(const QByteArray& command)
{
    if (isRead(command, "ID"))
        return "ID023;";
    if (isRead(command, "PS"))
        return "PS1;";
    if (isRead(command, "FV"))
        return "FV1.04;";
    if (isRead(command, "IF"))
        return infoAnswer();
    if (isRead(command, "FA"))
        return "FA" + QByteArray::number(m_frequencyA).rightJustified(11, '0') + ';';
    if (isRead(command, "FB"))
        return "FB" + QByteArray::number(m_frequencyB).rightJustified(11, '0') + ';';
    if (isSet(command, "FA") || isSet(command, "FB")) {
        bool ok = false;
        const qint64 frequency = command.mid(2).toLongLong(&ok);
        if (!ok)
            return "?;";
        (command[1] == 'A' ? m_frequencyA : m_frequencyB) = frequency;
        return {};
    }
    if (isRead(command, "FR"))
        return "FR0;";
    if (isRead(command, "FT"))
        return "FT0;";
    if (isRead(command, "MD"))
        return "MD2;"; // USB
    if (isRead(command, "DA"))
        return "DA0;";
    if (isRead(command, "AI"))
        return "AI0;";
    if (command == "TX" || command == "TX0" || command == "TX1") {
        m_transmitting = true;
        return {};
    }
    if (command == "RX") {
        m_transmitting = false;
        return {};
    }
    // Settings the backend may write; the radio takes them without a word.
    for (const char* name : { "PS", "FR", "FT", "MD", "DA", "AI" }) {
        if (isSet(command, name))
            return {};
    }
    return "?;";
}

QByteArray KenwoodRadio::infoAnswer() const
{
    // IF: frequency (11), 5 spaces, RIT/XIT offset (5), RIT on, XIT on, memory channel (3),
    // transmitting (the backend reads it at offset 28), mode, VFO, scan, split, tone, tone
    // number (2), and one more: 37 characters before the ';'.
    return "IF" + QByteArray::number(m_frequencyA).rightJustified(11, '0') + "     " + "+0000"
        + "00" + "000" + (m_transmitting ? "1" : "0") + "2" + "0" + "0" + "0" + "0" + "00" + "0"
        + ";";
}

QList<KenwoodRadio::Command> KenwoodRadio::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

bool KenwoodRadio::transmitting() const
{
    std::lock_guard lock(m_mutex);
    return m_transmitting;
}

void KenwoodRadio::setTransmitting(bool on)
{
    std::lock_guard lock(m_mutex);
    m_transmitting = on;
}

int KenwoodRadio::foreignBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_foreignBytes;
}

QList<qint64> KenwoodRadio::foreignArrivals() const
{
    std::lock_guard lock(m_mutex);
    return m_foreignArrivals;
}

qint64 KenwoodRadio::firstTransmitAt(qint64 sinceNs) const
{
    std::lock_guard lock(m_mutex);
    for (const Command& command : m_commands) {
        if (command.timeNs >= sinceNs
            && (command.text == "TX" || command.text == "TX0" || command.text == "TX1"))
            return command.timeNs;
    }
    return -1;
}
