#include "LinesLog.h"

#include "TextFile.h"

namespace LinesLog {

QStringList calls(const QString& log)
{
    QStringList result;
    for (const QString& line : textOf(log).split('\n', Qt::SkipEmptyParts))
        result << line.section(' ', 0, 1);
    return result;
}

qint64 firstCallAt(const QString& log, const QString& call, qint64 sinceNs)
{
    for (const QString& line : textOf(log).split('\n', Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 time = line.section(' ', 2, 2).toLongLong(&ok);
        if (ok && time >= sinceNs && line.section(' ', 0, 1) == call)
            return time;
    }
    return -1;
}

QStringList callsAfterLastRaise(const QString& log)
{
    const QStringList all = calls(log);
    qsizetype last = all.size() - 1;
    while (last >= 0 && !all[last].startsWith(QLatin1String("TIOCMBIS")))
        --last;
    return last < 0 ? QStringList() : all.mid(last + 1);
}

}
