#pragma once
// What a program under test wrote to a file (its log, its messages): the text as it is now,
// empty while there is no file.

#include <QFile>
#include <QString>

inline QString textOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Writes the whole file anew; false when it cannot.
inline bool writeTextFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}
