#include "RigServerProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

void RigServerProcess::keepFromTerminalSignals(QProcess& process)
{
    // Ctrl-C, Ctrl-\ and a closing terminal signal the whole foreground process group. The
    // rigctld must outlive this program's own end by that long: the release of a keyed
    // radio goes out through it.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

namespace {

// The inode of the socket listening on this TCP port, from the kernel's table; 0: none.
QByteArray listeningInode(const QString& table, quint16 port)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.readLine(); // the header
    const QByteArray wanted = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        // sl local_address rem_address st ... inode; state 0A is LISTEN
        if (fields.size() > 9 && fields[1].endsWith(wanted) && fields[3] == "0A")
            return fields[9];
    }
    return {};
}

} // namespace

QString RigServerProcess::portHolder(quint16 port)
{
    QByteArray inode = listeningInode(QStringLiteral("/proc/net/tcp"), port);
    if (inode.isEmpty())
        inode = listeningInode(QStringLiteral("/proc/net/tcp6"), port);
    if (inode.isEmpty())
        return {};
    // The processes whose descriptors this user may look at: the holder when it is one of
    // them.
    const QString socket = QStringLiteral("socket:[%1]").arg(QString::fromLatin1(inode));
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.isEmpty() || !pid[0].isDigit())
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            // Qt gives the target as a path: ".../fd/socket:[N]".
            if (QFileInfo(fds.filePath(fd)).symLinkTarget().endsWith('/' + socket)) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                const QString name = comm.open(QIODevice::ReadOnly)
                    ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                    : QStringLiteral("a program");
                return QStringLiteral("%1 (PID %2)").arg(name, pid);
            }
        }
    }
    return {};
}
