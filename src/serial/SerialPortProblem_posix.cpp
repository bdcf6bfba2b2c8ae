#include "serial/SerialPortProblem.h"

#include "serial/SerialPosix.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace {

// The holder's program name as the kernel keeps it; empty when it cannot be seen.
QString ProgramName(long pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

QString Reason(const QString& devicePath, int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("your user may not open it: add it to the dialout group (sudo "
                              "adduser $USER dialout) and log in again");
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("no such device");
    case EBUSY:
    case EWOULDBLOCK: {
        const long pid = serial_posix::HolderOf(QFile::encodeName(devicePath).toStdString());
        const QString name = pid > 0 ? ProgramName(pid) : QString();
        if (name.isEmpty())
            return QStringLiteral("in use by another program");
        return QStringLiteral("in use by %1 (PID %2)").arg(name).arg(pid);
    }
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

QString DescribeOpenFailure(const QString& devicePath, int error)
{
    if (error <= 0)
        return devicePath;
    return devicePath + QStringLiteral(": ") + Reason(devicePath, error);
}
