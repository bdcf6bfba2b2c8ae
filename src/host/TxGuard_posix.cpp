#include "TxGuard.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace TxGuardPosix {

namespace {

    // The descriptor vokey-guard reads its socket on.
    constexpr int GuardSocketFd = 3;

    QString systemError(const char* what, int error)
    {
        return QStringLiteral("%1: %2").arg(
            QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
    }

} // namespace

int spawn(const QByteArray& program, qint64* pid, QString* error)
{
    // Packets keep each message whole and carry a descriptor with the message it belongs to.
    int ends[2] = { -1, -1 };
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        *error = systemError("socketpair", errno);
        return -1;
    }
    int theirs = ends[1];
    if (theirs == GuardSocketFd) {
        // dup2 onto itself would keep close-on-exec set.
        theirs = ::fcntl(ends[1], F_DUPFD_CLOEXEC, GuardSocketFd + 1);
        ::close(ends[1]);
    }
    const int ours = ends[0];
    ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs, GuardSocketFd);
    // Nothing else of this program's: no serial port, no rig socket, no instance lock.
    posix_spawn_file_actions_addclosefrom_np(&actions, GuardSocketFd + 1);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char* argv[] = { const_cast<char*>("vokey-guard"), nullptr };
    pid_t child = -1;
    const int result
        = ::posix_spawn(&child, program.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(theirs);
    if (result != 0) {
        ::close(ours);
        *error = QStringLiteral("%1: %2").arg(
            QString::fromLocal8Bit(program), QString::fromLocal8Bit(std::strerror(result)));
        return -1;
    }
    *pid = child;
    return ours;
}

SendResult send(int socket, const QByteArray& message, int fd, QString* error)
{
    iovec io { const_cast<char*>(message.constData()), std::size_t(message.size()) };
    msghdr header {};
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    for (;;) {
        if (::sendmsg(socket, &header, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
            return SendResult::Sent;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == ENOBUFS)
            return SendResult::Full;
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return SendResult::Gone;
    }
}

Incoming receive(int socket, QByteArray* text)
{
    char buffer[64];
    for (;;) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            *text = QByteArray(buffer, n);
            return Incoming::Message;
        }
        if (n == 0)
            return Incoming::Closed;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Incoming::Nothing : Incoming::Closed;
    }
}

void close(int socket)
{
    if (socket >= 0)
        ::close(socket);
}

QString reap(qint64 pid)
{
    int status = 0;
    if (pid <= 0 || ::waitpid(pid_t(pid), &status, WNOHANG) != pid_t(pid))
        return {};
    if (WIFSIGNALED(status))
        return QStringLiteral("signal %1").arg(WTERMSIG(status));
    return QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
}

} // namespace TxGuardPosix
