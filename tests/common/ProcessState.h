#pragma once
// The state of another process as /proc shows it.

#include <QFile>
#include <QString>

// "R" running or sleeping, "T" stopped, "" gone (a zombie counts as gone).
inline QString processState(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    // A process that has just ended may leave its file open but empty: gone as well.
    const QByteArray s = stat.readAll();
    const qsizetype at = s.lastIndexOf(')') + 2;
    if (at < 2 || at >= s.size())
        return {};
    const char c = s.at(at);
    return c == 'Z' ? QString() : c == 'T' ? QStringLiteral("T") : QStringLiteral("R");
}

inline bool processAlive(qint64 pid)
{
    return !processState(pid).isEmpty();
}
