#include "TerminalKeys.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int ForegroundCheckMs = 500;
}

struct TerminalKeys::Saved {
    termios settings {};
};

TerminalKeys::TerminalKeys(int fd, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_foregroundCheck(new QTimer(this))
{
    m_foregroundCheck->setInterval(ForegroundCheckMs);
    connect(m_foregroundCheck, &QTimer::timeout, this, [this] {
        if (inForeground())
            resume();
    });
}

TerminalKeys::~TerminalKeys()
{
    restore();
}

bool TerminalKeys::inForeground() const
{
    // A terminal that is not the controlling one has no foreground (ENOTTY) and stops no one.
    const pid_t foreground = tcgetpgrp(m_fd);
    return foreground == -1 ? errno == ENOTTY : foreground == getpgrp();
}

bool TerminalKeys::start()
{
    if (m_started || !isatty(m_fd))
        return m_started;
    m_started = true;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    m_notifier->setEnabled(false);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readKeys(); });
    resume();
    return true;
}

void TerminalKeys::suspend()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_foregroundCheck->stop();
    leaveKeyMode();
}

void TerminalKeys::resume()
{
    if (!m_started)
        return;
    if (!inForeground()) {
        // The shell has the terminal and has put its own settings back.
        m_keyMode = false;
        m_notifier->setEnabled(false);
        m_foregroundCheck->start();
        return;
    }
    m_foregroundCheck->stop();
    enterKeyMode();
    m_notifier->setEnabled(m_keyMode);
}

void TerminalKeys::restore()
{
    suspend();
    m_notifier.reset();
    m_started = false;
}

void TerminalKeys::enterKeyMode()
{
    if (m_keyMode)
        return;
    // The settings from before the first key mode are the ones put back each time: a shell
    // that keeps a stopped job's settings may hand the key mode back on `fg`.
    if (!m_saved) {
        auto saved = std::make_unique<Saved>();
        if (tcgetattr(m_fd, &saved->settings) != 0)
            return;
        m_saved = std::move(saved);
    }
    termios keys = m_saved->settings;
    keys.c_lflag &= ~tcflag_t(ICANON | ECHO);
    // Ctrl-S is a key like any other, not a stop of the output that holds the station.
    keys.c_iflag &= ~tcflag_t(IXON);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    m_keyMode = tcsetattr(m_fd, TCSANOW, &keys) == 0;
}

void TerminalKeys::leaveKeyMode()
{
    if (m_keyMode && m_saved && inForeground())
        tcsetattr(m_fd, TCSANOW, &m_saved->settings);
    m_keyMode = false;
}

void TerminalKeys::readKeys()
{
    if (!inForeground()) {
        resume(); // in the background now: read nothing until it comes back
        return;
    }
    char keys[64];
    const ssize_t count = ::read(m_fd, keys, sizeof keys);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count < 0 && errno == EIO && !inForeground()) {
        resume();
        return;
    }
    if (count <= 0) {
        // The terminal hung up: there is nothing more to read.
        m_notifier->setEnabled(false);
        return;
    }
    for (ssize_t i = 0; i < count; ++i)
        emit keyPressed(keys[i]);
}
