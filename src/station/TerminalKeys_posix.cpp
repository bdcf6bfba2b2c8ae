#include "TerminalKeys.h"

#include <QSocketNotifier>

#include <cerrno>
#include <termios.h>
#include <unistd.h>

struct TerminalKeys::Saved {
    termios settings {};
};

TerminalKeys::TerminalKeys(int fd, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
{
}

TerminalKeys::~TerminalKeys()
{
    restore();
}

bool TerminalKeys::start()
{
    if (m_notifier || !isatty(m_fd))
        return false;
    // Started in the background (`vokey --headless &`), changing or reading the terminal
    // would stop the program (SIGTTOU, SIGTTIN): the keys belong to the shell then.
    // A terminal that is not the controlling one has no foreground (ENOTTY) and stops no one.
    const pid_t foreground = tcgetpgrp(m_fd);
    if (foreground != -1 && foreground != getpgrp())
        return false;
    auto saved = std::make_unique<Saved>();
    if (tcgetattr(m_fd, &saved->settings) != 0)
        return false;
    termios keys = saved->settings;
    keys.c_lflag &= ~tcflag_t(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    if (tcsetattr(m_fd, TCSANOW, &keys) != 0)
        return false;
    m_saved = std::move(saved);
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readKeys(); });
    return true;
}

void TerminalKeys::readKeys()
{
    char keys[64];
    const ssize_t count = ::read(m_fd, keys, sizeof keys);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        // The terminal hung up: there is nothing more to read.
        m_notifier->setEnabled(false);
        return;
    }
    for (ssize_t i = 0; i < count; ++i)
        emit keyPressed(keys[i]);
}

void TerminalKeys::restore()
{
    m_notifier.reset();
    if (m_saved)
        tcsetattr(m_fd, TCSANOW, &m_saved->settings);
    m_saved.reset();
}
