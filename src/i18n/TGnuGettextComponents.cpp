// The translation of object trees: the text properties of an object, of the objects it
// owns and of the objects its properties refer to, with rules for what to leave alone.

#include "i18n/TGnuGettextInstance.h"

#include "i18n/EGnuGettext.h"

#include <QMetaObject>
#include <QMetaProperty>
#include <QObject>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>

void TGnuGettextInstance::TP_Ignore(QObject* /*object*/, const QString& name)
{
    m_ignoreList.insert(name.toUpper());
}

void TGnuGettextInstance::TP_GlobalIgnoreClassProperty(
    const QMetaObject& handledClass, const QString& propertyName)
{
    const QString name = propertyName.toUpper();
    for (TClassMode& rule : m_classRules) {
        if (rule.handledClass == &handledClass) {
            rule.propertiesToIgnore.insert(name);
            return;
        }
    }
    // Before its first ancestor, so that the rules of a class precede those of its bases.
    const auto ancestor = std::find_if(m_classRules.begin(), m_classRules.end(),
        [&](const TClassMode& rule) { return handledClass.inherits(rule.handledClass); });
    m_classRules.insert(ancestor, TClassMode { &handledClass, { name } });
}

void TGnuGettextInstance::TranslateComponentTree(QObject* root, const QString& domainName)
{
    const auto emptyIgnoreList = qScopeGuard([this] { m_ignoreList.clear(); });
    const QString domain = domainName.isEmpty() ? m_currentDomain : domainName;
    TQueue queue { { QString(), root } };
    QSet<QObject*> visited;
    // Breadth first: the queue grows behind the entry being handled.
    for (std::size_t next = 0; next < queue.size(); ++next) {
        const auto [name, object] = queue[next];
        if (!object || visited.contains(object))
            continue;
        visited.insert(object);

        const QMetaObject* meta = object->metaObject();
        std::set<QString> ignored;
        bool skipObject = false;
        for (const TClassMode& rule : m_classRules) {
            if (!meta->inherits(rule.handledClass))
                continue;
            skipObject = skipObject || rule.propertiesToIgnore.empty();
            ignored.insert(rule.propertiesToIgnore.begin(), rule.propertiesToIgnore.end());
        }
        if (skipObject)
            continue;

        for (const TTextProperty& property : TextProperties(meta)) {
            if (m_ignoreList.count(name + QLatin1Char('.') + property.upperName)
                || ignored.count(property.upperName))
                continue;
            TranslateProperty(object, meta->property(property.index), queue, domain);
        }

        for (QObject* child : object->children()) {
            const QString childName = child->objectName().toUpper();
            if (!m_ignoreList.count(childName))
                queue.emplace_back(childName, child);
        }
    }
}

const std::vector<TGnuGettextInstance::TTextProperty>& TGnuGettextInstance::TextProperties(
    const QMetaObject* meta)
{
    const auto known = m_textProperties.find(meta);
    if (known != m_textProperties.end())
        return known->second;
    std::vector<TTextProperty> properties;
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        const QMetaType type = property.metaType();
        if (type.id() == QMetaType::QString || type.id() == QMetaType::QStringList
            || type.flags().testFlag(QMetaType::PointerToQObject))
            properties.push_back({ i, QString::fromLatin1(property.name()).toUpper() });
    }
    return m_textProperties.emplace(meta, std::move(properties)).first->second;
}

void TGnuGettextInstance::TranslateProperty(
    QObject* object, const QMetaProperty& property, TQueue& queue, const QString& domainName)
{
    try {
        const QMetaType type = property.metaType();
        if (type.id() == QMetaType::QString) {
            if (!property.isWritable())
                return;
            const QString text = property.read(object).toString();
            if (text.isEmpty())
                return;
            const QString translated = TranslateInDomain(domainName, text);
            if (translated != text)
                property.write(object, translated);
        } else if (type.id() == QMetaType::QStringList) {
            if (!property.isWritable())
                return;
            const QStringList lines = property.read(object).toStringList();
            QStringList translated = lines;
            TranslateStringList(translated, domainName);
            if (translated != lines)
                property.write(object, translated);
        } else if (type.flags().testFlag(QMetaType::PointerToQObject)) {
            queue.emplace_back(QString(), property.read(object).value<QObject*>());
        }
    } catch (const std::exception& error) {
        const QString name = QString::fromLatin1(property.name());
        throw EGnuGettext(QStringLiteral("Property cannot be translated.\r\n"
                                         "Use TP_GlobalIgnoreClassProperty(")
            + QString::fromLatin1(object->metaObject()->className()) + QLatin1Char(',') + name
            + QStringLiteral(") or\r\nTP_Ignore (self,'.") + name
            + QStringLiteral("') to prevent this message.\r\nReason: ")
            + QString::fromUtf8(error.what()));
    }
}
