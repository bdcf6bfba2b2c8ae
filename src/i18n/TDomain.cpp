#include "i18n/TDomain.h"

#include "i18n/EGnuGettext.h"
#include "i18n/TAssemblyAnalyzer.h"

#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t nativeMagic = 0x950412de;
constexpr std::uint32_t swappedMagic = 0xde120495;
// Magic, revision, N, O, T, hash table size and offset.
constexpr std::uint64_t headerSize = 28;

QString InvalidCatalogue(const QString& path)
{
    return QStringLiteral("This file is not a valid GNU gettext mo file: ") + path;
}

} // namespace

TDomain::TDomain(const QString& domainName, const TAssemblyAnalyzer* analyzer)
    : m_domainName(domainName)
    , m_analyzer(analyzer)
{
}

TDomain::~TDomain()
{
    CloseCatalogue();
}

QString TDomain::Directory() const
{
    QReadLocker reader(&m_lock);
    return m_directory;
}

void TDomain::SetDirectory(const QString& directory)
{
    QString withDelimiter = directory;
    if (!withDelimiter.endsWith(QLatin1Char('/')))
        withDelimiter += QLatin1Char('/');
    CloseCatalogue();
    QWriteLocker writer(&m_lock);
    m_directory = withDelimiter;
}

QString TDomain::LanguageCode() const
{
    QReadLocker reader(&m_lock);
    return m_languageCode;
}

void TDomain::SetLanguageCode(const QString& languageCode)
{
    CloseCatalogue();
    QWriteLocker writer(&m_lock);
    m_languageCode = languageCode;
}

bool TDomain::IsOpen() const
{
    QReadLocker reader(&m_lock);
    return m_isOpen;
}

int TDomain::FileProbes() const
{
    QReadLocker reader(&m_lock);
    return m_fileProbes;
}

void TDomain::CloseCatalogue()
{
    QWriteLocker writer(&m_lock);
    if (m_isOpen) {
        m_file.Close();
        m_base = nullptr;
        m_size = 0;
        m_isOpen = false;
    }
    m_mayOpen = true;
}

QByteArray TDomain::LookupMessage(const QByteArray& msgid)
{
    {
        // The read lock keeps a close on another thread from unmapping under the search.
        QReadLocker reader(&m_lock);
        if (m_isOpen)
            return Search(msgid);
        if (!m_mayOpen)
            return msgid;
    }
    {
        QWriteLocker writer(&m_lock);
        if (!m_isOpen && m_mayOpen)
            OpenCatalogue();
    }
    QReadLocker reader(&m_lock);
    return m_isOpen ? Search(msgid) : msgid;
}

bool TDomain::CataloguePresent(const QString& path)
{
    ++m_fileProbes;
    return (m_analyzer && m_analyzer->FileExists(path)) || QFileInfo(path).isFile();
}

void TDomain::OpenCatalogue()
{
    const QString tail = QStringLiteral("/LC_MESSAGES/") + m_domainName + QStringLiteral(".mo");
    QString path = m_directory + m_languageCode + tail;
    if (!CataloguePresent(path)) {
        path = m_directory + m_languageCode.left(2) + tail;
        if (!CataloguePresent(path)) {
            m_mayOpen = false;
            return;
        }
    }

    TAssemblyFileInfo embedded;
    const QString fileName = m_analyzer ? m_analyzer->FileInfo(path, embedded) : path;
    switch (m_file.Open(fileName)) {
    case TMappedFile::mfOk:
        break;
    case TMappedFile::mfCannotOpen:
        throw EGnuGettext(QStringLiteral("Cannot open file ") + path);
    case TMappedFile::mfCannotCreateMap:
        throw EGnuGettext(QStringLiteral("Cannot create memory map on file ") + path);
    case TMappedFile::mfCannotMap:
        throw EGnuGettext(QStringLiteral("Cannot map file ") + path
            + QStringLiteral(" into memory. Reason: ") + m_file.ErrorText());
    }

    // An appended catalogue must lie wholly inside the executable.
    const bool appended = fileName != path;
    if (appended
        && (embedded.offset > m_file.Size() || embedded.size > m_file.Size() - embedded.offset)) {
        m_file.Close();
        throw EGnuGettext(InvalidCatalogue(path));
    }
    m_base = m_file.Data() + embedded.offset;
    m_size = appended ? embedded.size : m_file.Size();
    try {
        Validate(path);
    } catch (...) {
        m_file.Close();
        m_base = nullptr;
        m_size = 0;
        throw;
    }
    m_isOpen = true;
}

std::uint32_t TDomain::Word(std::uint64_t offset) const
{
    std::uint32_t word;
    std::memcpy(&word, m_base + offset, sizeof word);
    return m_byteSwapped ? qbswap(word) : word;
}

// Every number of the catalogue is checked against its size before a string is read, so
// that no lookup can reach outside the mapping, whatever the file holds.
void TDomain::Validate(const QString& path)
{
    if (m_size < headerSize)
        throw EGnuGettext(InvalidCatalogue(path));
    std::uint32_t magic;
    std::memcpy(&magic, m_base, sizeof magic);
    if (magic != nativeMagic && magic != swappedMagic)
        throw EGnuGettext(InvalidCatalogue(path));
    m_byteSwapped = magic == swappedMagic;
    m_count = Word(8);
    m_originals = Word(12);
    m_translations = Word(16);

    const std::uint64_t tableSize = std::uint64_t(m_count) * 8;
    for (const std::uint64_t table : { m_originals, m_translations }) {
        if (table > m_size || tableSize > m_size - table)
            throw EGnuGettext(InvalidCatalogue(path));
        for (std::uint64_t entry = table; entry < table + tableSize; entry += 8) {
            const std::uint64_t length = Word(entry);
            const std::uint64_t offset = Word(entry + 4);
            if (offset > m_size || length > m_size - offset)
                throw EGnuGettext(InvalidCatalogue(path));
        }
    }
}

QByteArray TDomain::Search(const QByteArray& msgid) const
{
    if (m_count == 0)
        return msgid;
    // Binary search over the sorted msgids, 1-based: start at the largest power of two not
    // above N and halve the step; positions stay within 1..N even when the table is not
    // sorted.
    std::uint32_t position = 1;
    while (position <= m_count / 2)
        position *= 2;
    std::uint32_t step = position / 2;
    const auto* wanted = reinterpret_cast<const unsigned char*>(msgid.constData());
    const auto wantedLength = std::size_t(msgid.size());
    for (;;) {
        const std::uint64_t entry = std::uint64_t(position - 1) * 8;
        const std::size_t length = Word(m_originals + entry);
        const unsigned char* text = m_base + Word(m_originals + entry + 4);
        int order = std::memcmp(wanted, text, std::min(wantedLength, length));
        if (order == 0)
            order = wantedLength < length ? -1 : (wantedLength > length ? 1 : 0);
        if (order == 0) {
            const std::uint32_t translationLength = Word(m_translations + entry);
            const unsigned char* translation = m_base + Word(m_translations + entry + 4);
            return QByteArray(
                reinterpret_cast<const char*>(translation), qsizetype(translationLength));
        }
        if (step == 0)
            return msgid;
        if (order < 0)
            position = position > step ? position - step : 1;
        else
            position = std::min(position + step, m_count);
        step /= 2;
    }
}
