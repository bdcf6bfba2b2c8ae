#include "TLog.h"

#include <QFile>
#include <QLocale>

void TLog::SetEnabled(bool on)
{
    m_enabled = on;
    if (!on)
        return;
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        m_enabled = false;
}

void TLog::WriteLine(quint8 level, const QString& message)
{
    if (!m_enabled || level > m_maxLevel)
        return;
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)
        && !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    // A short write loses this line only; nothing to report.
    file.write((StampedLine(QDateTime::currentDateTime(), message) + u'\n').toUtf8());
}

QString TLog::StampedLine(const QDateTime& when, const QString& message)
{
    const QLocale locale = QLocale::system();
    return locale.toString(when.date(), QLocale::ShortFormat) + u' '
        + locale.toString(when.time(), QLocale::LongFormat) + u' ' + message;
}
