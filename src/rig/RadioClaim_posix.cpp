#include "RadioClaim.h"

#include <QHash>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A listening socket in the abstract namespace, one per name, shared by this process's
// claims: the kernel frees the name when the process ends, SIGKILL included.
struct Held {
    int fd = -1;
    int count = 0;
};

QHash<QString, Held>& heldNames()
{
    static QHash<QString, Held> names;
    return names;
}

sockaddr_un addressOf(const QString& name, socklen_t* length)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = "vokey-radio " + name.toUtf8();
    const std::size_t size = std::min(sizeof address.sun_path - 1, std::size_t(path.size()));
    std::memcpy(address.sun_path + 1, path.constData(), size); // sun_path[0] = 0: abstract
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}

// The process listening on the name, from its socket's credentials; 0 when not told.
qint64 holderOf(const sockaddr_un& address, socklen_t length)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return 0;
    qint64 pid = 0;
    ucred credentials {};
    socklen_t size = sizeof credentials;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0
        && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0)
        pid = credentials.pid;
    ::close(fd);
    return pid;
}

} // namespace

bool RadioClaim::take(const QString& name)
{
    if (name == m_name)
        return true;
    drop();
    Held& held = heldNames()[name];
    if (held.count == 0) {
        socklen_t length = 0;
        const sockaddr_un address = addressOf(name, &length);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0
            || ::listen(fd, 8) != 0) {
            if (fd >= 0)
                ::close(fd);
            heldNames().remove(name);
            m_holder = holderOf(address, length);
            return false;
        }
        held.fd = fd;
    }
    ++held.count;
    m_name = name;
    m_holder = 0;
    return true;
}

void RadioClaim::drop()
{
    if (m_name.isEmpty())
        return;
    auto held = heldNames().find(m_name);
    if (held != heldNames().end() && --held->count == 0) {
        ::close(held->fd);
        heldNames().erase(held);
    }
    m_name.clear();
}
