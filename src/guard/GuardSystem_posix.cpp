#include "GuardSystem.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A refused connection is tried again until this long after the program's end.
constexpr milliseconds RetryFor { 3000 };
constexpr milliseconds RetryPause { 100 };
// How long a rigctld started again gets to open its radio and answer the release, and then
// to end.
constexpr milliseconds ServerStartFor { 3000 };
constexpr milliseconds ServerEndFor { 1000 };
// Longest wait for a connection to be accepted, and for rigctld's answer to the release.
constexpr milliseconds ConnectLimit { 1000 };
constexpr milliseconds AnswerLimit { 1000 };

std::string errorText(int error)
{
    return std::strerror(error);
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Waits for `events` on `fd` until the deadline; false when the time ran out.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p { fd, events, 0 };
        const int n = ::poll(&p, 1, remainingMs(deadline));
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return true; // let the next call report it
    }
}

// A connected socket, or -1 with errno set (ECONNREFUSED when nothing listens).
int connectTo(const addrinfo* address)
{
    const int fd
        = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0)
        return fd;
    if (errno == EINPROGRESS) {
        const Clock::time_point deadline = Clock::now() + ConnectLimit;
        if (!waitFor(fd, POLLOUT, deadline)) {
            ::close(fd);
            errno = ETIMEDOUT;
            return -1;
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error == 0)
            return fd;
        errno = error;
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

// Sends the release on a connected socket and reads up to rigctld's "RPRT n" line.
// Sends the release on a fresh connection. `again` is set when the server let go of the
// connection without answering (reset, or closed at once), which is worth another try.
RoadOutcome sendRelease(int fd, std::string* error, bool* again)
{
    static const char command[] = "+\\set_ptt 0\n";
    const Clock::time_point deadline = Clock::now() + AnswerLimit;
    std::size_t sent = 0;
    while (sent < sizeof command - 1) {
        const ssize_t n = ::send(fd, command + sent, sizeof command - 1 - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLOUT, deadline)) {
                *error = "its rigctld did not take the release";
                return RoadOutcome::Failed;
            }
        } else if (n < 0 && errno != EINTR) {
            *again = errno == ECONNRESET || errno == EPIPE;
            *error = errorText(errno);
            return RoadOutcome::Failed;
        }
    }
    std::string answer;
    for (;;) {
        const std::size_t line = answer.find("RPRT ");
        if (line != std::string::npos && answer.find('\n', line) != std::string::npos) {
            const std::string code = answer.substr(line + 5, answer.find('\n', line) - line - 5);
            if (code == "0")
                return RoadOutcome::Released;
            *error = "its rigctld answered RPRT " + code;
            return RoadOutcome::Failed;
        }
        if (!waitFor(fd, POLLIN, deadline)) {
            *error = "its rigctld did not answer the release";
            return RoadOutcome::Failed;
        }
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, std::size_t(n));
        } else if (n == 0) {
            *again = true;
            *error = "its rigctld closed the connection without an answer";
            return RoadOutcome::Failed;
        } else if (errno != EAGAIN && errno != EINTR) {
            *again = errno == ECONNRESET;
            *error = errorText(errno);
            return RoadOutcome::Failed;
        }
    }
}

// A rigctld the guard starts, as the program did, because the one the program ran has
// ended and the radio still waits for its release; ended again when it goes.
class StartedServer {
public:
    explicit StartedServer(const std::vector<std::string>& command)
    {
        std::vector<char*> argv;
        for (const std::string& word : command)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        // The signals the guard ignores are the server's again (or SIGTERM would not end it).
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attributes, &all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        const int failed
            = ::posix_spawnp(&m_pid, argv[0], &files, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attributes);
        if (failed != 0) {
            m_pid = -1;
            m_error = "cannot start " + command[0] + ": " + errorText(failed);
        }
    }
    ~StartedServer()
    {
        if (m_pid <= 0 || ended())
            return;
        ::kill(m_pid, SIGTERM);
        const Clock::time_point deadline = Clock::now() + ServerEndFor;
        while (!ended() && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(20));
        if (!ended()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    StartedServer(const StartedServer&) = delete;
    StartedServer& operator=(const StartedServer&) = delete;

    // Why it cannot carry the release (not started, or ended already); empty while it can.
    std::string trouble()
    {
        if (m_error.empty() && ended())
            m_error = "its rigctld, started again, ended at once";
        return m_error;
    }

private:
    bool ended()
    {
        if (m_reaped)
            return true;
        m_reaped = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
        return m_reaped;
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    std::string m_error;
};

RoadOutcome releaseRig(
    const GuardEndpoint& rig, const std::vector<std::string>& command, std::string* error)
{
    const std::string where = rig.host + ":" + std::to_string(rig.port);
    Clock::time_point retryUntil = Clock::now() + RetryFor;
    std::optional<StartedServer> server;
    for (;;) {
        addrinfo hints {};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* addresses = nullptr;
        const int resolved
            = ::getaddrinfo(rig.host.c_str(), std::to_string(rig.port).c_str(), &hints, &addresses);
        int fd = -1;
        int lastError = 0;
        if (resolved == 0) {
            for (const addrinfo* a = addresses; a && fd < 0; a = a->ai_next) {
                fd = connectTo(a);
                if (fd < 0)
                    lastError = errno;
            }
            ::freeaddrinfo(addresses);
        }
        bool again = false;
        if (fd >= 0) {
            const RoadOutcome outcome = sendRelease(fd, error, &again);
            ::close(fd);
            // rigctld sometimes closes a connection taken while it is still clearing up after
            // the client that died: tried again on a new one, as a refused connection is.
            if (outcome != RoadOutcome::Failed || !again
                || Clock::now() + RetryPause >= retryUntil) {
                if (outcome == RoadOutcome::Failed)
                    *error = where + ": " + *error;
                return outcome;
            }
            std::this_thread::sleep_for(RetryPause);
            continue;
        }
        // Nothing listens: the program's rigctld has ended, and rigctld leaves the radio as it
        // was. The guard starts one just for the release.
        if (resolved == 0 && lastError == ECONNREFUSED && !command.empty() && !server) {
            server.emplace(command);
            retryUntil = Clock::now() + ServerStartFor;
        }
        const std::string trouble = server ? server->trouble() : std::string();
        if (!trouble.empty() || Clock::now() + RetryPause >= retryUntil) {
            *error = where + ": "
                + (!trouble.empty()     ? trouble
                        : resolved != 0 ? std::string(::gai_strerror(resolved))
                                        : errorText(lastError));
            return RoadOutcome::Failed;
        }
        std::this_thread::sleep_for(RetryPause);
    }
}

} // namespace

void DetachGuard()
{
    ::setsid();
    for (int signalNumber :
        { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU })
        ::signal(signalNumber, SIG_IGN);
    ::close_range(GuardSocketFd + 1, ~0U, 0);
    [[maybe_unused]] const int changed = ::chdir("/");
}

bool IsProgramSocket(int fd)
{
    int type = 0;
    socklen_t length = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_SEQPACKET;
}

bool SendMessage(int socket, const std::string& text)
{
    return ::send(socket, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
        == ssize_t(text.size());
}

ReceivedMessage ReceiveMessage(int socket, int timeoutMs)
{
    ReceivedMessage message;
    if (timeoutMs >= 0) {
        const Clock::time_point deadline = Clock::now() + milliseconds(timeoutMs);
        if (!waitFor(socket, POLLIN, deadline)) {
            message.timedOut = true;
            return message;
        }
    }
    char buffer[GuardProtocol::MaxMessageSize];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    for (;;) {
        iovec io { buffer, sizeof buffer };
        msghdr header {};
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            message.ended = true;
            message.error = errorText(errno);
            return message;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int fd = -1;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                    if (message.fd < 0)
                        message.fd = fd;
                    else
                        ::close(fd);
                }
            }
        }
        if (n == 0 && message.fd < 0) {
            message.ended = true;
            return message;
        }
        message.text.assign(buffer, std::size_t(n));
        return message;
    }
}

void CloseDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

RoadOutcome DropSerialLines(int fd, std::string* error)
{
    // One call per line, so that a line the driver refuses does not keep the other up.
    RoadOutcome outcome = RoadOutcome::Released;
    for (int line : { TIOCM_DTR, TIOCM_RTS }) {
        if (::ioctl(fd, TIOCMBIC, &line) != 0) {
            *error = errorText(errno);
            outcome = RoadOutcome::Failed;
        }
    }
    return outcome;
}

void ReleaseRigs(const std::array<GuardEndpoint, 2>& rigs,
    const std::array<std::vector<std::string>, 2>& commands, ReleaseOutcome* outcome)
{
    // Both at once: a rig whose server does not answer must not hold up the other.
    std::array<std::thread, 2> workers;
    for (int i = 0; i < 2; ++i) {
        if (!rigs[i].configured())
            continue;
        workers[i] = std::thread([&rigs, &commands, outcome, i] {
            outcome->rigs[i] = releaseRig(rigs[i], commands[i], &outcome->rigErrors[i]);
        });
    }
    for (std::thread& worker : workers) {
        if (worker.joinable())
            worker.join();
    }
}

void EndServers(const std::array<long, 2>& servers)
{
    for (const long pid : servers) {
        if (pid > 1)
            ::kill(pid_t(pid), SIGTERM);
    }
}
