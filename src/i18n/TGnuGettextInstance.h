#pragma once

#include "i18n/TAssemblyAnalyzer.h"

#include <QMutex>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

class QMetaObject;
class QMetaProperty;
class QObject;
class TDomain;

// A class whose named properties (upper case) are never translated, in that class and the
// classes derived from it. Without names the class's objects are skipped altogether.
struct TClassMode {
    const QMetaObject* handledClass = nullptr;
    std::set<QString> propertiesToIgnore;
};

// The program's translation engine: chooses the language, owns the text domains and
// translates texts, resource strings and the text properties of object trees. One is
// created at start, before any window, and destroyed after the last one.
class TGnuGettextInstance {
public:
    // Reads the catalogues appended to the executable (the running one when the path is
    // empty), chooses the language from the environment and binds the domain "default"
    // to the directory "locale" beside the executable. Becomes the process-wide instance.
    explicit TGnuGettextInstance(const QString& executablePath = {});
    ~TGnuGettextInstance();
    TGnuGettextInstance(const TGnuGettextInstance&) = delete;
    TGnuGettextInstance& operator=(const TGnuGettextInstance&) = delete;

    // Translation in the current domain. Raises EGnuGettext for a catalogue that cannot be
    // read and for a translation that is not UTF-8.
    QString TranslateText(const QString& text);
    // Translation in the named domain (created on first use). Carriage returns do not
    // take part in the lookup; line feeds of the result come back as CR LF.
    QString TranslateInDomain(const QString& domainName, const QString& text);

    void BindDomainDirectory(const QString& domainName, const QString& directory);
    void SetCurrentDomain(const QString& domainName);
    QString CurrentDomain() const { return m_currentDomain; }
    // An empty code takes LANG, else the system's language ("C" when nothing is set); the
    // code is cut before its first ".". Every domain is given the new language.
    void SelectLanguage(const QString& languageCode);
    QString LanguageCode() const { return m_languageCode; }
    QString LocaleDirectory() const { return m_localeDirectory; }

    // Resource strings are looked up in these domains in order ("default" first).
    void AddResourceStringDomain(const QString& domainName);
    // The first translation of the resource-string domains that differs from the text.
    QString TranslateResourceString(const QString& text);

    // Leaves out of the next TranslateComponentTree: "NAME" an owned object of that name
    // with all it owns, "NAME.PROPERTY" one property of it, ".PROPERTY" one property of the
    // root. The object is not used.
    void TP_Ignore(QObject* object, const QString& name);
    // Never translates the property in objects of the class and its descendants. Rules of
    // derived classes are kept before those of their ancestors.
    void TP_GlobalIgnoreClassProperty(const QMetaObject& handledClass, const QString& propertyName);
    const std::vector<TClassMode>& ClassRules() const { return m_classRules; }
    // Translates the text and string-list properties of the root, of the objects it owns
    // (breadth first) and of the objects its properties refer to, each once; an empty
    // domain means the current one. Empties the ignore list.
    void TranslateComponentTree(QObject* root, const QString& domainName = {});
    // Translates every non-empty line.
    void TranslateStringList(QStringList& list, const QString& domainName = {});

    // The domain of that name, created on first use with the locale directory and language.
    TDomain& Domain(const QString& domainName);
    const TAssemblyAnalyzer& Analyzer() const { return m_analyzer; }

private:
    using TQueue = std::vector<std::pair<QString, QObject*>>;
    // The properties of a class that the translation handles (texts, string lists, object
    // references), with their upper-case names; looked up once per class, as a widget has
    // dozens of other properties.
    struct TTextProperty {
        int index;
        QString upperName;
    };
    const std::vector<TTextProperty>& TextProperties(const QMetaObject* meta);
    void TranslateProperty(
        QObject* object, const QMetaProperty& property, TQueue& queue, const QString& domainName);

    TAssemblyAnalyzer m_analyzer;
    QString m_currentDomain;
    QString m_languageCode;
    QString m_localeDirectory;
    QMutex m_domainsMutex;
    std::map<QString, std::unique_ptr<TDomain>> m_domains;
    QReadWriteLock m_resourceStringLock;
    QStringList m_resourceStringDomains;
    std::set<QString> m_ignoreList;
    std::vector<TClassMode> m_classRules;
    std::map<const QMetaObject*, std::vector<TTextProperty>> m_textProperties;
};

// The process-wide instance, null before one is created and after it is destroyed.
TGnuGettextInstance* GnuGettextInstance();

// Every resource string of the program is loaded through here: its translation in the
// resource-string domains, or the text itself when there is no instance or no translation.
QString TranslateResourceString(const char* text);
