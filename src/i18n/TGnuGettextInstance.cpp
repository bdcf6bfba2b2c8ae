#include "i18n/TGnuGettextInstance.h"

#include "i18n/EGnuGettext.h"
#include "i18n/RunningExecutable.h"
#include "i18n/TDomain.h"

#include <QLocale>
#include <QObject>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<TGnuGettextInstance*> g_instance { nullptr };

const QString defaultDomain = QStringLiteral("default");

QString DetectSystemLanguage()
{
    // Follows LC_ALL and LC_MESSAGES; "C" when neither (nor LANG) is set.
    return QLocale::system().name();
}

// Puts a carriage return before every line feed that does not already follow one.
QByteArray WithCarriageReturns(const QByteArray& text)
{
    QByteArray result;
    result.reserve(text.size() + text.count('\n'));
    char previous = 0;
    for (const char c : text) {
        if (c == '\n' && previous != '\r')
            result.append('\r');
        result.append(c);
        previous = c;
    }
    return result;
}

} // namespace

TGnuGettextInstance::TGnuGettextInstance(const QString& executablePath)
{
    m_analyzer.ScanExecutable(executablePath.isEmpty() ? RunningExecutablePath() : executablePath);
    m_resourceStringDomains = QStringList { defaultDomain };
    m_currentDomain = defaultDomain;
    m_localeDirectory = m_analyzer.BaseDirectory() + QStringLiteral("locale");
    SelectLanguage({});
    BindDomainDirectory(defaultDomain, m_localeDirectory);
    SetCurrentDomain(defaultDomain);
    // Object names identify objects; they are never words to translate.
    TP_GlobalIgnoreClassProperty(QObject::staticMetaObject, QStringLiteral("objectName"));
    g_instance = this;
}

TGnuGettextInstance::~TGnuGettextInstance()
{
    TGnuGettextInstance* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

TGnuGettextInstance* GnuGettextInstance()
{
    return g_instance;
}

TDomain& TGnuGettextInstance::Domain(const QString& domainName)
{
    QMutexLocker locker(&m_domainsMutex);
    std::unique_ptr<TDomain>& domain = m_domains[domainName];
    if (!domain) {
        domain = std::make_unique<TDomain>(domainName, &m_analyzer);
        domain->SetDirectory(m_localeDirectory);
        domain->SetLanguageCode(m_languageCode);
    }
    return *domain;
}

QString TGnuGettextInstance::TranslateText(const QString& text)
{
    return TranslateInDomain(m_currentDomain, text);
}

QString TGnuGettextInstance::TranslateInDomain(const QString& domainName, const QString& text)
{
    // The empty msgid is the catalogue's header entry, not a translation of "".
    if (text.isEmpty())
        return text;
    TDomain& domain = Domain(domainName);
    QByteArray msgid = text.toUtf8();
    const bool crLf = msgid.contains("\r\n");
    msgid.removeIf([](char c) { return c == '\r'; });
    QByteArray found = domain.LookupMessage(msgid);
    // Catalogues hold bare line feeds; a text written with CR LF gets its CR LF back. A
    // text with bare line feeds keeps them, as is the custom here.
    if (crLf)
        found = WithCarriageReturns(found);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = decoder.decode(found);
    if (decoder.hasError())
        result.clear();
    if (result.isEmpty())
        throw EGnuGettext(QStringLiteral("Error: Could not translate %1. Probably because the mo "
                                         "file doesn't contain utf-8 encoded translations.")
                              .arg(text));
    return result;
}

void TGnuGettextInstance::BindDomainDirectory(const QString& domainName, const QString& directory)
{
    Domain(domainName).SetDirectory(directory);
}

void TGnuGettextInstance::SetCurrentDomain(const QString& domainName)
{
    m_currentDomain = domainName;
}

void TGnuGettextInstance::SelectLanguage(const QString& languageCode)
{
    QString code = languageCode;
    if (code.isEmpty()) {
        code = qEnvironmentVariable("LANG");
        if (code.isEmpty())
            code = DetectSystemLanguage();
    }
    code = code.section(QLatin1Char('.'), 0, 0);
    QMutexLocker locker(&m_domainsMutex);
    m_languageCode = code;
    for (auto& [name, domain] : m_domains)
        domain->SetLanguageCode(code);
}

void TGnuGettextInstance::AddResourceStringDomain(const QString& domainName)
{
    QWriteLocker writer(&m_resourceStringLock);
    m_resourceStringDomains.append(domainName);
}

QString TGnuGettextInstance::TranslateResourceString(const QString& text)
{
    QReadLocker reader(&m_resourceStringLock);
    for (const QString& domainName : std::as_const(m_resourceStringDomains)) {
        const QString translated = TranslateInDomain(domainName, text);
        if (translated != text)
            return translated;
    }
    return text;
}

QString TranslateResourceString(const char* text)
{
    const QString loaded = QString::fromUtf8(text);
    TGnuGettextInstance* instance = g_instance;
    return instance ? instance->TranslateResourceString(loaded) : loaded;
}

void TGnuGettextInstance::TranslateStringList(QStringList& list, const QString& domainName)
{
    const QString domain = domainName.isEmpty() ? m_currentDomain : domainName;
    QStringList translated = list;
    for (QString& line : translated)
        if (!line.isEmpty())
            line = TranslateInDomain(domain, line);
    list = translated;
}
