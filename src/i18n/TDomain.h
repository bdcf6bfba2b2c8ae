#pragma once

#include "i18n/MappedFile.h"

#include <QByteArray>
#include <QReadWriteLock>
#include <QString>

#include <cstdint>

class TAssemblyAnalyzer;

// One text domain: finds the GNU gettext catalogue for its language, maps it read-only at
// the first lookup and searches it in place.
//
// The catalogue is <directory><language>/LC_MESSAGES/<domain>.mo, or, when that is missing,
// the same under the first two characters of the language ("de_DE" falls back to "de").
// A catalogue appended to the executable wins over a file of the same name. A search that
// found nothing is remembered until the language or the directory changes.
class TDomain {
public:
    // The analyzer (may be null) tells about catalogues appended to the executable; it must
    // outlive the domain.
    explicit TDomain(const QString& domainName, const TAssemblyAnalyzer* analyzer = nullptr);
    ~TDomain();
    TDomain(const TDomain&) = delete;
    TDomain& operator=(const TDomain&) = delete;

    QString DomainName() const { return m_domainName; }
    // Always ends in "/". Setting it closes the catalogue.
    QString Directory() const;
    void SetDirectory(const QString& directory);
    QString LanguageCode() const;
    void SetLanguageCode(const QString& languageCode);

    // The translation of a UTF-8 msgid, or the msgid itself. Raises EGnuGettext when a
    // catalogue is found but cannot be opened or is not a valid catalogue.
    QByteArray LookupMessage(const QByteArray& msgid);

    bool IsOpen() const;
    void CloseCatalogue();
    // How often the file system was asked whether a catalogue exists.
    int FileProbes() const;

private:
    bool CataloguePresent(const QString& path);
    void OpenCatalogue();
    void Validate(const QString& path);
    std::uint32_t Word(std::uint64_t offset) const;
    QByteArray Search(const QByteArray& msgid) const;

    const QString m_domainName;
    const TAssemblyAnalyzer* const m_analyzer;
    mutable QReadWriteLock m_lock;
    QString m_directory;
    QString m_languageCode;
    bool m_isOpen = false;
    bool m_mayOpen = true;
    bool m_byteSwapped = false;
    std::uint32_t m_count = 0; // N
    std::uint64_t m_originals = 0; // O
    std::uint64_t m_translations = 0; // T
    TMappedFile m_file;
    const unsigned char* m_base = nullptr;
    std::uint64_t m_size = 0; // of the catalogue, which may be a part of the mapped file
    int m_fileProbes = 0;
};
