#include "TLog.h"

#include "AtomicFile.h"

#include <QFile>
#include <QLocale>

namespace {

// Opens the log at its end, or emptied; only ever a regular file.
bool OpenLog(QFile& file, bool truncate)
{
    const int fd = OpenRegularFileForWriting(file.fileName(), truncate);
    return fd >= 0
        && file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle);
}

// A time format without its time-zone fields ("t"), and the blanks in front of them.
QString WithoutZone(const QString& format)
{
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't') {
            while (result.endsWith(u' '))
                result.chop(1);
            continue;
        }
        result += c;
    }
    return result;
}

} // namespace

void TLog::SetEnabled(bool on)
{
    m_enabled = on;
    if (!on)
        return;
    QFile file(m_fileName);
    if (!OpenLog(file, true))
        m_enabled = false;
}

void TLog::WriteLine(quint8 level, const QString& message)
{
    if (!m_enabled || level > m_maxLevel)
        return;
    QFile file(m_fileName);
    if (!OpenLog(file, false))
        return;
    // A short write loses this line only; nothing to report.
    file.write((StampedLine(QDateTime::currentDateTime(), message) + u'\n').toUtf8());
}

QString TLog::StampedLine(const QDateTime& when, const QString& message, const QLocale& locale)
{
    // The user's short date, always with the whole year, and long time, without the zone.
    QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    if (!dateFormat.contains(QLatin1String("yyyy")))
        dateFormat.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    const QString timeFormat = WithoutZone(locale.timeFormat(QLocale::LongFormat));
    return locale.toString(when.date(), dateFormat) + u' '
        + locale.toString(when.time(), timeFormat) + u' ' + message;
}
