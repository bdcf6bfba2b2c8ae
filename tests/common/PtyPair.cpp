#include "PtyPair.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>
#include <utmp.h>

PtyPair::PtyPair()
{
    char name[128] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    HangUp();
    CloseSlave();
}

bool PtyPair::Send(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void PtyPair::HangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

pid_t PtyPair::ForkOnSlave()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(m_master);
        if (::login_tty(m_slave) != 0)
            ::_exit(127);
        return 0;
    }
    CloseSlave();
    return pid;
}

void PtyPair::CloseSlave()
{
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}
