#include "IniProfile.h"

#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>

namespace {

struct Line {
    QByteArray text; // without its line end
    QByteArray end; // "\n", "\r\n", "\r" or empty for a last line without one
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;
    qsizetype valueStart = 0; // offset in Line::text where a key's value begins
};

struct Location {
    qsizetype section = -1; // the section's header line
    qsizetype key = -1; // the key's line
    ParsedLine keyLine;
    qsizetype lastKey = -1; // the last key line of the section
};

const QByteArray ByteOrderMark("\xEF\xBB\xBF");

// A line ends at LF, CR LF or a lone CR. A lone CR is a line end too (an editor that saves
// old Mac line ends, a hand edit): read as part of a value it would be a line break the writer
// refuses, and every later save of the settings would fail.
QList<Line> SplitLines(const QByteArray& data)
{
    QList<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = start;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        if (end == data.size()) {
            lines.append({ data.mid(start), {} });
            break;
        }
        const qsizetype next = data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n'
            ? end + 2
            : end + 1;
        lines.append({ data.mid(start, end - start), data.mid(end, next - end) });
        start = next;
    }
    return lines;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

ParsedLine Parse(QByteArrayView line)
{
    const qsizetype skipped = line.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0;
    const QByteArrayView text = line.sliced(skipped);
    const QByteArrayView trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.front() == ';' || trimmed.front() == '#')
        return {};
    if (trimmed.front() == '[') {
        const qsizetype close = trimmed.indexOf(']');
        if (close < 0)
            return {};
        return { LineKind::Section, QString::fromUtf8(trimmed.sliced(1, close - 1).trimmed()) };
    }
    const qsizetype equals = text.indexOf('=');
    if (equals < 0)
        return {};
    const QString name = QString::fromUtf8(text.first(equals).trimmed());
    if (name.isEmpty())
        return {};
    qsizetype valueStart = equals + 1;
    while (valueStart < text.size() && IsBlank(text[valueStart]))
        ++valueStart;
    return { LineKind::Key, name, skipped + valueStart };
}

Location Locate(const QList<Line>& lines, const QString& section, const QString& key)
{
    Location found;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ParsedLine line = Parse(lines[i].text);
        if (line.kind == LineKind::Section) {
            if (found.section >= 0)
                break;
            if (line.name.compare(section, Qt::CaseInsensitive) == 0)
                found.section = i;
        } else if (line.kind == LineKind::Key && found.section >= 0) {
            found.lastKey = i;
            if (found.key < 0 && line.name.compare(key, Qt::CaseInsensitive) == 0) {
                found.key = i;
                found.keyLine = line;
            }
        }
    }
    return found;
}

QString Unquoted(QString value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

QString CutToBuffer(QString value)
{
    if (value.size() > ProfileValueMaxLength) {
        value.truncate(ProfileValueMaxLength);
        if (value.back().isHighSurrogate())
            value.chop(1);
    }
    return value;
}

bool HasLineBreak(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

void SetValue(QList<Line>& lines, const QString& section, const QString& key, const QString& value)
{
    // New lines follow the file's own line ends; a new file gets LF.
    const QByteArray lineEnd
        = lines.isEmpty() || lines.front().end.isEmpty() ? QByteArray("\n") : lines.front().end;
    const auto insertAfter = [&](qsizetype index, QList<Line> added) {
        if (index >= 0 && lines[index].end.isEmpty())
            lines[index].end = lineEnd;
        for (Line& line : added)
            lines.insert(++index, std::move(line));
    };

    const Location at = Locate(lines, section, key);
    const QByteArray keyValue = key.toUtf8() + '=' + value.toUtf8();
    if (at.key >= 0) {
        Line& line = lines[at.key];
        line.text = line.text.first(at.keyLine.valueStart) + value.toUtf8();
    } else if (at.section >= 0) {
        insertAfter(std::max(at.section, at.lastKey), { { keyValue, lineEnd } });
    } else {
        insertAfter(
            lines.size() - 1, { { '[' + section.toUtf8() + ']', lineEnd }, { keyValue, lineEnd } });
    }
}

} // namespace

EIniWrite::EIniWrite(const QString& fileName, const QString& reason)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(fileName).toStdString())
    , m_fileName(fileName)
    , m_reason(reason)
{
}

QString ReadProfileString(const QString& fileName, const QString& section, const QString& key,
    const QString& defaultValue)
{
    // Only regular files: opening a pipe would wait for a writer.
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return CutToBuffer(defaultValue);
    const QList<Line> lines = SplitLines(file.readAll());
    const Location at = Locate(lines, section, key);
    if (at.key < 0)
        return CutToBuffer(defaultValue);
    const QByteArray value = lines[at.key].text.sliced(at.keyLine.valueStart).trimmed();
    return CutToBuffer(Unquoted(QString::fromUtf8(value)));
}

void WriteProfileString(
    const QString& fileName, const QString& section, const QString& key, const QString& value)
{
    WriteProfileStrings(fileName, section, { { key, value } });
}

void WriteProfileStrings(
    const QString& fileName, const QString& section, const QList<ProfileEntry>& entries)
{
    // A line break, a "]" in the section or a "=" in the key would write a different file
    // structure than the caller asked for.
    const bool storable = !HasLineBreak(section) && !section.contains(u']')
        && std::all_of(entries.begin(), entries.end(), [](const ProfileEntry& entry) {
               return !HasLineBreak(entry.first) && !HasLineBreak(entry.second)
                   && !entry.first.contains(u'=') && !entry.first.trimmed().isEmpty();
           });
    if (!storable)
        throw EIniWrite(fileName, QStringLiteral("section, key or value cannot be stored"));

    QByteArray old;
    QFile existing(fileName);
    if (existing.exists()) {
        if (!QFileInfo(fileName).isFile())
            throw EIniWrite(fileName, QStringLiteral("not a regular file"));
        if (!existing.open(QIODevice::ReadOnly))
            throw EIniWrite(fileName, existing.errorString());
        old = existing.readAll();
        existing.close();
    }

    QList<Line> lines = SplitLines(old);
    for (const auto& [key, value] : entries)
        SetValue(lines, section, key, value);

    QByteArray data;
    data.reserve(old.size() + 64 * entries.size());
    for (const Line& line : lines)
        data += line.text + line.end;

    QString reason;
    if (!ReplaceFileAtomically(fileName, data, &reason))
        throw EIniWrite(fileName, reason);
}
