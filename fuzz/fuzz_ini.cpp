// The settings file reader and writer: every value read is written back and read again to
// the same value, the file's other values stay as they were, and a new value reads back.
#include "FuzzCheck.h"
#include "core/IniProfile.h"

#include <QList>
#include <algorithm>
#include <utility>

namespace {

struct Entry {
    QString section;
    QString key;
    QString value;
};

// Section and key names as the lines of the file show them (a few, in file order), plus one
// that is most likely new, so that adding a section is tried as well.
QList<Entry> namesIn(QByteArray text)
{
    QList<Entry> entries;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QString section;
    bool inSection = false;
    // Lines end at LF, CR LF or a lone CR, as the reader splits them.
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            const qsizetype close = trimmed.indexOf(']');
            if (close > 0) {
                section = QString::fromUtf8(trimmed.mid(1, close - 1).trimmed());
                inSection = true;
            }
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        const QString key = QString::fromUtf8(line.left(equals).trimmed());
        if (inSection && equals >= 0 && !key.isEmpty())
            entries.append({ section, key, {} });
        if (entries.size() == 6)
            break;
    }
    entries.append({ QStringLiteral("VOKEY fuzz"), QStringLiteral("Added"), {} });
    return entries;
}

// A value the file can hold as it is: the reader drops blanks at both ends and one pair of
// enclosing quotes, so such values are not written back unchanged by design. A value starting
// with a byte order mark loses it when read again (UTF-8 decoding drops one).
bool storableAsIs(const QString& value)
{
    if (value.startsWith(QChar(0xFEFF)))
        return false;
    if (value != value.trimmed())
        return false;
    return !(value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front());
}

const QString missing = QStringLiteral("\n(missing)"); // never a value: values are one line

void readAll(const QString& path, QList<Entry>& entries)
{
    for (Entry& entry : entries)
        entry.value = ReadProfileString(path, entry.section, entry.key, missing);
}

bool sameName(const Entry& a, const Entry& b)
{
    return a.section.compare(b.section, Qt::CaseInsensitive) == 0
        && a.key.compare(b.key, Qt::CaseInsensitive) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0; // long files only repeat what short ones show, far more slowly
    const QString path = fuzzScratchDirectory() + QStringLiteral("/VOKEY.INI");
    writeFuzzFile(path, data, size);
    QList<Entry> entries
        = namesIn(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    readAll(path, entries);

    // Writing back what was read changes nothing that can be read.
    for (const Entry& entry : std::as_const(entries)) {
        if (entry.value == missing)
            continue;
        // Values are single lines: a line break read back would make every later save fail.
        FUZZ_CHECK(!entry.value.contains(u'\r') && !entry.value.contains(u'\n'));
        if (storableAsIs(entry.value))
            WriteProfileString(path, entry.section, entry.key, entry.value);
    }
    QList<Entry> again = entries;
    readAll(path, again);
    for (qsizetype i = 0; i < entries.size(); ++i)
        FUZZ_CHECK(again[i].value == entries[i].value);

    // A new value reads back, and no other key changes.
    // A key the file holds (names taken from the text may be ones the reader never sees, as
    // in a comment behind a byte order mark), else the new one.
    const auto held = std::find_if(
        entries.begin(), entries.end(), [](const Entry& entry) { return entry.value != missing; });
    const Entry& changed = held != entries.end() ? *held : entries.back();
    WriteProfileString(path, changed.section, changed.key, QStringLiteral("fuzz value"));
    readAll(path, again);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (sameName(entries[i], changed))
            FUZZ_CHECK(again[i].value == QStringLiteral("fuzz value"));
        else
            FUZZ_CHECK(again[i].value == entries[i].value);
    }
    return 0;
}
