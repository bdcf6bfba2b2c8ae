#pragma once
// The state of another process as /proc shows it.

#include <QDir>
#include <QFile>
#include <QList>
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

// The living children of process `pid` whose name is `name` (as /proc/N/stat gives it).
inline QList<qint64> childProcesses(qint64 pid, const QByteArray& name)
{
    QList<qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 child = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const qsizetype open = s.indexOf('(');
        const qsizetype close = s.lastIndexOf(')');
        const QList<QByteArray> rest = s.mid(close + 2).split(' ');
        if (open >= 0 && close > open && s.mid(open + 1, close - open - 1) == name
            && rest.size() > 1 && rest[0] != "Z" && rest[1].toLongLong() == pid)
            children << child;
    }
    return children;
}
