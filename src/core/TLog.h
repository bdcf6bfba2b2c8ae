#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Minimal plain-text log: one dated line per message. The file is opened and closed around
// every line, so other programs can read it at any time and a deleted file is simply created
// again. Only a regular file is written: a pipe or a device named as the log leaves it off.
// Every file error is silent: logging must never disturb the program.
class TLog {
public:
    TLog() = default;

    const QString& FileName() const { return m_fileName; }
    void SetFileName(const QString& fileName) { m_fileName = fileName; }

    quint32 MaxLevel() const { return m_maxLevel; }
    void SetMaxLevel(quint32 level) { m_maxLevel = level; }

    bool Enabled() const { return m_enabled; }
    // Switching on starts a fresh, empty file; if it cannot be created the log stays off.
    void SetEnabled(bool on);

    // Appends "<date> <time> <message>" when enabled and `level` is at most MaxLevel.
    void WriteLine(quint8 level, const QString& message);

    // The line for `message` at `when`: the locale's short date with a four-digit year and
    // its long time without the time zone ("06.12.2026 09:54:46" in German).
    static QString StampedLine(
        const QDateTime& when, const QString& message, const QLocale& locale = QLocale::system());

private:
    QString m_fileName;
    bool m_enabled = false;
    quint32 m_maxLevel = 0;
};
