// The translation instance: language choice, texts and line ends, resource strings, class
// rules and the translation of object trees.

#include "CatalogueSupport.h"

#include "i18n/EGnuGettext.h"
#include "i18n/TDomain.h"
#include "i18n/TGnuGettextInstance.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// An object with the kinds of property the translation handles.
class TTestComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString caption MEMBER m_caption)
    Q_PROPERTY(QStringList lines MEMBER m_lines)
    Q_PROPERTY(QObject* peer MEMBER m_peer)
    Q_PROPERTY(QString fixed READ Fixed)

public:
    TTestComponent(const QString& name, QObject* owner)
        : QObject(owner)
        , m_caption("One")
    {
        setObjectName(name);
    }
    QString Fixed() const { return "One"; }

    QString m_caption;
    QStringList m_lines;
    QObject* m_peer = nullptr;
};

class TestGettext : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void languageFromEnvironment_data();
    void languageFromEnvironment();
    void translateText_data();
    void translateText();
    void translationNotUtf8();
    void resourceStrings();
    void classRuleOrder();
    void componentTree_data();
    void componentTree();
    void objectReachableTwice();
    void propertyCannotBeTranslated();

private:
    QString Catalogue(const QString& domain) const
    {
        return m_dir.path() + "/locale/de/LC_MESSAGES/" + domain + ".mo";
    }
    QString Executable() const { return m_dir.path() + "/vokey"; }
    QTemporaryDir m_dir;
};

void TestGettext::initTestCase()
{
    qputenv("LANG", "de_DE.UTF-8");
    QVERIFY(MakeCatalogue(Catalogue("default"),
        { { "Line one\nLine two", "Zeile eins\nZeile zwei" }, { "Parity", "Parität" },
            { "Port", "Anschluss" }, { "Shared", "Allgemein" } }));
    QVERIFY(MakeCatalogue(
        Catalogue("cport"), { { "Only cport", "Nur cport" }, { "Shared", "Geteilt" } }));
    QVERIFY(MakeCatalogue(
        Catalogue("tree"), { { "Four", "Vier" }, { "One", "Two" }, { "Two", "Three" } }));
    QVERIFY(MakeCatalogue(Catalogue("latin"), { { "Summer", "\xe9t\xe9" } }, false, "ISO-8859-1"));
}

void TestGettext::languageFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("lang");
    QTest::addColumn<QString>("code");
    QTest::newRow("pt_BR.ISO-8859-1") << QByteArray("pt_BR.ISO-8859-1") << "pt_BR";
    QTest::newRow("de_DE.UTF-8") << QByteArray("de_DE.UTF-8") << "de_DE";
    QTest::newRow("C.UTF-8") << QByteArray("C.UTF-8") << "C";
    QTest::newRow("sr_RS@latin") << QByteArray("sr_RS@latin") << "sr_RS@latin";
}

void TestGettext::languageFromEnvironment()
{
    QFETCH(QByteArray, lang);
    QFETCH(QString, code);
    const QByteArray before = qgetenv("LANG");
    qputenv("LANG", lang);
    TGnuGettextInstance gettext(Executable());
    qputenv("LANG", before);
    QCOMPARE(gettext.LanguageCode(), code);
    QCOMPARE(gettext.Domain("default").LanguageCode(), code);
    QCOMPARE(gettext.Domain("default").Directory(), m_dir.path() + "/locale/");
    // Domains made before a later choice get the new language too.
    gettext.SelectLanguage("fr_CA.UTF-8");
    QCOMPARE(gettext.Domain("default").LanguageCode(), QString("fr_CA"));
}

void TestGettext::translateText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("translation");
    QTest::newRow("found") << "Port"
                           << "Anschluss";
    QTest::newRow("UTF-8") << "Parity" << QString::fromUtf8("Parität");
    QTest::newRow("CR LF") << "Line one\r\nLine two"
                           << "Zeile eins\r\nZeile zwei";
    QTest::newRow("bare LF") << "Line one\nLine two"
                             << "Zeile eins\nZeile zwei";
    QTest::newRow("missing") << "Baud rate"
                             << "Baud rate";
    QTest::newRow("missing, CR LF") << "Baud\r\nrate"
                                    << "Baud\r\nrate";
    QTest::newRow("empty") << ""
                           << "";
}

void TestGettext::translateText()
{
    QFETCH(QString, text);
    QFETCH(QString, translation);
    TGnuGettextInstance gettext(Executable());
    QCOMPARE(gettext.TranslateText(text), translation);
}

void TestGettext::translationNotUtf8()
{
    TGnuGettextInstance gettext(Executable());
    try {
        gettext.TranslateInDomain("latin", "Summer");
        QFAIL("no exception");
    } catch (const EGnuGettext& error) {
        QCOMPARE(error.Message(),
            QString("Error: Could not translate Summer. Probably because the mo file doesn't "
                    "contain utf-8 encoded translations."));
    }
}

void TestGettext::resourceStrings()
{
    QCOMPARE(TranslateResourceString("Only cport"), QString("Only cport"));
    {
        TGnuGettextInstance gettext(Executable());
        QCOMPARE(GnuGettextInstance(), &gettext);
        QCOMPARE(TranslateResourceString("Only cport"), QString("Only cport"));
        gettext.AddResourceStringDomain("cport");
        QCOMPARE(TranslateResourceString("Only cport"), QString("Nur cport"));
        QCOMPARE(TranslateResourceString("Shared"), QString("Allgemein"));
        QCOMPARE(TranslateResourceString("Neither"), QString("Neither"));
    }
    QCOMPARE(GnuGettextInstance(), nullptr);
    QCOMPARE(TranslateResourceString("Shared"), QString("Shared"));
}

void TestGettext::classRuleOrder()
{
    TGnuGettextInstance gettext(Executable());
    gettext.TP_GlobalIgnoreClassProperty(QWidget::staticMetaObject, "styleSheet");
    gettext.TP_GlobalIgnoreClassProperty(QPushButton::staticMetaObject, "shortcut");
    gettext.TP_GlobalIgnoreClassProperty(QAbstractButton::staticMetaObject, "text");
    gettext.TP_GlobalIgnoreClassProperty(QObject::staticMetaObject, "Extra");
    gettext.TP_GlobalIgnoreClassProperty(QLabel::staticMetaObject, "text");
    QStringList rules;
    for (const TClassMode& rule : gettext.ClassRules()) {
        QStringList names(rule.propertiesToIgnore.begin(), rule.propertiesToIgnore.end());
        rules << QString(rule.handledClass->className()) + ":" + names.join(",");
    }
    QCOMPARE(rules,
        QStringList({ "QPushButton:SHORTCUT", "QAbstractButton:TEXT", "QLabel:TEXT",
            "QWidget:STYLESHEET", "QObject:EXTRA,OBJECTNAME" }));
}

void TestGettext::componentTree_data()
{
    // Captions of Root, Combo1 (owned by Root), Inner (owned by Combo1) and Other (owned by
    // Root), each "One" at first; "One" translates to "Two" and "Two" to "Three".
    QTest::addColumn<QStringList>("ignore");
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second"); // after a second translation without ignores
    const QStringList two { "Two", "Two", "Two", "Two" };
    const QStringList three { "Three", "Three", "Three", "Three" };
    QTest::newRow("nothing ignored") << QStringList() << two << three;
    QTest::newRow("Combo1") << QStringList { "Combo1" }
                            << QStringList { "Two", "One", "One", "Two" }
                            << QStringList { "Three", "Two", "Two", "Three" };
    QTest::newRow("combo1, any case")
        << QStringList { "combo1" } << QStringList { "Two", "One", "One", "Two" }
        << QStringList { "Three", "Two", "Two", "Three" };
    QTest::newRow("Combo1.caption")
        << QStringList { "Combo1.caption" } << QStringList { "Two", "One", "Two", "Two" }
        << QStringList { "Three", "Two", "Three", "Three" };
    QTest::newRow(".caption of the root")
        << QStringList { ".caption" } << QStringList { "One", "Two", "Two", "Two" }
        << QStringList { "Two", "Three", "Three", "Three" };
    QTest::newRow("Combo1 and Other")
        << QStringList { "Combo1", "Other" } << QStringList { "Two", "One", "One", "One" }
        << QStringList { "Three", "Two", "Two", "Two" };
}

void TestGettext::componentTree()
{
    QFETCH(QStringList, ignore);
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    TGnuGettextInstance gettext(Executable());
    TTestComponent root("One", nullptr);
    root.m_lines = QStringList { "One", "", "Four", "Five" };
    auto* combo = new TTestComponent("Combo1", &root);
    auto* inner = new TTestComponent("Inner", combo);
    auto* other = new TTestComponent("Other", &root);
    const auto captions = [&] {
        return QStringList { root.m_caption, combo->m_caption, inner->m_caption, other->m_caption };
    };

    for (const QString& name : ignore)
        gettext.TP_Ignore(&root, name);
    gettext.TranslateComponentTree(&root, "tree");
    QCOMPARE(captions(), first);
    gettext.TranslateComponentTree(&root, "tree");
    QCOMPARE(captions(), second);
    // Names stay; string lists are translated line by line, empty lines left alone.
    QCOMPARE(root.objectName(), QString("One"));
    QCOMPARE(root.m_lines, QStringList({ "Three", "", "Vier", "Five" }));
}

void TestGettext::objectReachableTwice()
{
    // Owned objects that are also referred to, and an object reached only by reference;
    // the references form a loop.
    TGnuGettextInstance gettext(Executable());
    TTestComponent root("Root", nullptr);
    auto* a = new TTestComponent("A", &root);
    auto* b = new TTestComponent("B", &root);
    TTestComponent c("C", nullptr);
    root.m_peer = b;
    a->m_peer = b;
    b->m_peer = &c;
    c.m_peer = &root;
    gettext.SetCurrentDomain("tree");
    gettext.TranslateComponentTree(&root);
    QCOMPARE(QStringList({ root.m_caption, a->m_caption, b->m_caption, c.m_caption }),
        QStringList({ "Two", "Two", "Two", "Two" }));
}

void TestGettext::propertyCannotBeTranslated()
{
    TGnuGettextInstance gettext(Executable());
    TTestComponent root("Root", nullptr);
    root.m_caption = "Summer";
    const auto error = [&] {
        try {
            gettext.TranslateComponentTree(&root, "latin");
        } catch (const EGnuGettext& e) {
            return e.Message();
        }
        return QString();
    };
    QCOMPARE(error(),
        QString("Property cannot be translated.\r\n"
                "Use TP_GlobalIgnoreClassProperty(TTestComponent,caption) or\r\n"
                "TP_Ignore (self,'.caption') to prevent this message.\r\n"
                "Reason: Error: Could not translate Summer. Probably because the mo file "
                "doesn't contain utf-8 encoded translations."));
    gettext.TP_Ignore(&root, ".caption");
    QCOMPARE(error(), QString());
    QCOMPARE(root.m_caption, QString("Summer"));
    gettext.TP_GlobalIgnoreClassProperty(TTestComponent::staticMetaObject, "caption");
    QCOMPARE(error(), QString());
}

QTEST_MAIN(TestGettext)
#include "tst_gettext.moc"
