#include "LinesLog.h"

#include "TextFile.h"

namespace LinesLog {

QStringList calls(const QString& log)
{
    return textOf(log).split('\n', Qt::SkipEmptyParts);
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
