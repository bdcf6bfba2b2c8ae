#pragma once

#include <QList>
#include <QString>

#include <utility>

#include <stdexcept>

// Reading and writing single values of an INI file the way users' existing settings files
// expect: "[SECTION]" lines, "KEY=value" lines, names compared without regard to letter case.
//
// Choices made for files that come from elsewhere:
// - A value enclosed in one pair of matching quotes ("..." or '...') is returned without them.
// - A UTF-8 byte order mark at the start of the file is ignored.
// - Lines starting with ";" or "#", and lines without "=", are never keys.
// - The first matching section and, inside it, the first matching key count.
// - Text is UTF-8.

// Raised when a value cannot be stored. what() is "Unable to write to <file>".
class EIniWrite : public std::runtime_error {
public:
    EIniWrite(const QString& fileName, const QString& reason);

    QString Message() const { return QString::fromUtf8(what()); }
    const QString& FileName() const { return m_fileName; }
    // The system's explanation, for diagnostics only.
    const QString& Reason() const { return m_reason; }

private:
    QString m_fileName;
    QString m_reason;
};

// Longest value handed back, as with a 2048-character result buffer.
inline constexpr int ProfileValueMaxLength = 2047;

// The value of `key` in `section`, blanks at both ends dropped; `defaultValue` when the
// file, the section or the key is missing. Never fails.
QString ReadProfileString(const QString& fileName, const QString& section, const QString& key,
    const QString& defaultValue);

// Stores `value` for `key` in `section`, creating the file, section or key as needed. Every
// other byte of the file stays as it was. The new file replaces the old one atomically and
// is on disk when the call returns; the old file's permissions are kept. Throws EIniWrite.
void WriteProfileString(
    const QString& fileName, const QString& section, const QString& key, const QString& value);

using ProfileEntry = std::pair<QString, QString>; // key, value

// Stores several keys of one section in one atomic replacement of the file: the result is
// that of WriteProfileString called for each entry in order, but no reader and no crash can
// ever see only some of them written.
void WriteProfileStrings(
    const QString& fileName, const QString& section, const QList<ProfileEntry>& entries);
