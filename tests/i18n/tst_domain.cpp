// Catalogues and domains: lookup in both byte orders, the language fallback and its
// remembered failure, malformed catalogues, catalogues appended to an executable.

#include "CatalogueSupport.h"

#include "i18n/EGnuGettext.h"
#include "i18n/TAssemblyAnalyzer.h"
#include "i18n/TDomain.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <functional>

namespace {

using TMutation = std::function<void(QByteArray& catalogue)>;
using TPatch = std::function<void(QByteArray& executable, int slot)>;

// Catalogues of count entries "k00" -> "t00", "k01" -> "t01", ...
TMessages Numbered(int count)
{
    TMessages messages;
    for (int i = 0; i < count; ++i)
        messages.append({ QByteArray("k") + QByteArray::number(i).rightJustified(2, '0'),
            QByteArray("t") + QByteArray::number(i).rightJustified(2, '0') });
    return messages;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

void PutLittle(QByteArray& bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void PutBig(QByteArray& bytes, int at, quint32 value)
{
    qToBigEndian(value, bytes.data() + at);
}

// The error a lookup raises, empty when it raises none.
QString LookupError(TDomain& domain, const QByteArray& msgid)
{
    try {
        domain.LookupMessage(msgid);
    } catch (const EGnuGettext& error) {
        return error.Message();
    }
    return {};
}

QByteArray Marker()
{
    // Put together at run time so that this executable holds the marker only once.
    return QByteArray("6637DB2E-62E1-4A60-") + QByteArray("AC19-C23867046A89");
}

} // namespace

Q_DECLARE_METATYPE(TMutation)
Q_DECLARE_METATYPE(TPatch)

class TestDomain : public QObject {
    Q_OBJECT

private slots:
    void lookupFindsEveryEntry_data();
    void lookupFindsEveryEntry();
    void emptyCatalogue();
    void languageFallback_data();
    void languageFallback();
    void malformedCatalogues_data();
    void malformedCatalogues();
    void unsortedCatalogue();
    void embeddedCatalogues();
    void embeddedTableFaults_data();
    void embeddedTableFaults();

private:
    static int Embed(const QString& executable, const QStringList& pairs);
    QString EmbeddedCopy();
    QString CataloguePath(const QString& language, const QString& domain = "test") const
    {
        return m_dir.path() + "/locale/" + language + "/LC_MESSAGES/" + domain + ".mo";
    }
    QTemporaryDir m_dir;
};

void TestDomain::lookupFindsEveryEntry_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("bigEndian");
    for (const int count : { 1, 2, 6, 7, 16, 40 }) {
        QTest::addRow("%d entries, little-endian", count) << count << false;
        QTest::addRow("%d entries, big-endian", count) << count << true;
    }
}

void TestDomain::lookupFindsEveryEntry()
{
    QFETCH(int, count);
    QFETCH(bool, bigEndian);
    const TMessages messages = Numbered(count);
    QVERIFY(MakeCatalogue(CataloguePath("de"), messages, bigEndian));
    TDomain domain("test");
    domain.SetDirectory(m_dir.path() + "/locale");
    domain.SetLanguageCode("de");
    for (const auto& [msgid, msgstr] : messages)
        QCOMPARE(domain.LookupMessage(msgid), msgstr);
    QVERIFY(domain.IsOpen());
    for (const QByteArray miss : { "a", "k", "k00x", "k0", "t00", "z", "\xff" })
        QCOMPARE(domain.LookupMessage(miss), miss);
}

void TestDomain::emptyCatalogue()
{
    QVERIFY(MakeCatalogue(CataloguePath("de"), Numbered(3)));
    QByteArray catalogue = ReadAll(CataloguePath("de"));
    PutLittle(catalogue, 8, 0); // N
    QVERIFY(WriteAll(CataloguePath("de"), catalogue));
    TDomain domain("test");
    domain.SetDirectory(m_dir.path() + "/locale");
    domain.SetLanguageCode("de");
    for (const QByteArray msgid : { "", "k00", "k02", "z" })
        QCOMPARE(domain.LookupMessage(msgid), msgid);
    QVERIFY(domain.IsOpen());
}

void TestDomain::languageFallback_data()
{
    QTest::addColumn<QStringList>("catalogues");
    QTest::addColumn<QByteArray>("translation");
    QTest::addColumn<int>("probes");
    QTest::newRow("exact language") << QStringList { "de_DE", "de" } << QByteArray("de_DE") << 1;
    QTest::newRow("first two letters") << QStringList { "de", "fr_FR" } << QByteArray("de") << 2;
    QTest::newRow("none") << QStringList { "fr" } << QByteArray("Port") << 2;
}

void TestDomain::languageFallback()
{
    QFETCH(QStringList, catalogues);
    QFETCH(QByteArray, translation);
    QFETCH(int, probes);
    QTemporaryDir dir;
    for (const QString& language : catalogues)
        QVERIFY(MakeCatalogue(dir.path() + "/" + language + "/LC_MESSAGES/test.mo",
            { { "Port", language.toUtf8() } }));
    TDomain domain("test");
    domain.SetDirectory(dir.path());
    domain.SetLanguageCode("de_DE");
    QCOMPARE(domain.LookupMessage("Port"), translation);
    QCOMPARE(domain.FileProbes(), probes);
    // Found or not, the file system is not asked again ...
    QCOMPARE(domain.LookupMessage("Port"), translation);
    QCOMPARE(domain.LookupMessage("Baud"), QByteArray("Baud"));
    QCOMPARE(domain.FileProbes(), probes);
    // ... until the language changes.
    domain.SetLanguageCode("de_DE");
    QCOMPARE(domain.LookupMessage("Port"), translation);
    QCOMPARE(domain.FileProbes(), 2 * probes);
}

void TestDomain::malformedCatalogues_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<TMutation>("mutation");
    QTest::addColumn<QString>("error");
    const QString invalid = "This file is not a valid GNU gettext mo file: ";
    // The catalogue: header entry and k00..k02; tables at 28 (msgids) and 60 (translations).
    QTest::newRow("wrong magic") << false
                                 << TMutation([](QByteArray& c) { PutLittle(c, 0, 0x950412df); })
                                 << invalid;
    QTest::newRow("shorter than the header")
        << false << TMutation([](QByteArray& c) { c.truncate(27); }) << invalid;
    QTest::newRow("empty file") << false << TMutation([](QByteArray& c) { c.clear(); })
                                << QString("Cannot create memory map on file ");
    QTest::newRow("count past the end")
        << false << TMutation([](QByteArray& c) { PutLittle(c, 8, 0x20000000); }) << invalid;
    QTest::newRow("msgid table past the end")
        << false << TMutation([](QByteArray& c) { PutLittle(c, 12, quint32(c.size() - 8)); })
        << invalid;
    QTest::newRow("translation table offset wraps")
        << false << TMutation([](QByteArray& c) { PutLittle(c, 16, 0xfffffff8); }) << invalid;
    QTest::newRow("msgid offset past the end")
        << false << TMutation([](QByteArray& c) { PutLittle(c, 28 + 8 + 4, quint32(c.size())); })
        << invalid;
    QTest::newRow("msgid length past the end")
        << false << TMutation([](QByteArray& c) { PutLittle(c, 28 + 16, 0xffffffff); }) << invalid;
    QTest::newRow("translation reaches past the end") << false << TMutation([](QByteArray& c) {
        PutLittle(c, 60 + 24, 2);
        PutLittle(c, 60 + 28, quint32(c.size() - 1));
    }) << invalid;
    QTest::newRow("cut inside the strings")
        << false << TMutation([](QByteArray& c) { c.chop(3); }) << invalid;
    QTest::newRow("big-endian, count past the end")
        << true << TMutation([](QByteArray& c) { PutBig(c, 8, 0x01000000); }) << invalid;
    QTest::newRow("big-endian, msgid offset past the end")
        << true << TMutation([](QByteArray& c) { PutBig(c, 28 + 12, quint32(c.size() + 64)); })
        << invalid;
}

void TestDomain::malformedCatalogues()
{
    QFETCH(bool, bigEndian);
    QFETCH(TMutation, mutation);
    QFETCH(QString, error);
    const QString path = CataloguePath("de");
    QVERIFY(MakeCatalogue(path, Numbered(3), bigEndian));
    QByteArray catalogue = ReadAll(path);
    const auto word = [&](int at) {
        return bigEndian ? qFromBigEndian<quint32>(catalogue.constData() + at)
                         : qFromLittleEndian<quint32>(catalogue.constData() + at);
    };
    QCOMPARE(word(8), 4u); // the places the mutations rely on
    QCOMPARE(word(12), 28u);
    QCOMPARE(word(16), 60u);
    mutation(catalogue);
    QVERIFY(WriteAll(path, catalogue));

    TDomain domain("test");
    domain.SetDirectory(m_dir.path() + "/locale");
    domain.SetLanguageCode("de");
    QCOMPARE(LookupError(domain, "k01"), error + path);
    QVERIFY(!domain.IsOpen());
    // Not remembered as missing: the next lookup tries again.
    QCOMPARE(LookupError(domain, "k02"), error + path);
}

void TestDomain::unsortedCatalogue()
{
    const QString path = CataloguePath("de");
    const TMessages messages = Numbered(9);
    QVERIFY(MakeCatalogue(path, messages));
    QByteArray catalogue = ReadAll(path);
    // Reverse both tables: every number stays inside the file, the order is broken.
    const int count = 10;
    for (const int table : { qFromLittleEndian<quint32>(catalogue.constData() + 12),
             qFromLittleEndian<quint32>(catalogue.constData() + 16) }) {
        for (int i = 0; i < count / 2; ++i) {
            const QByteArray first = catalogue.mid(table + 8 * i, 8);
            catalogue.replace(table + 8 * i, 8, catalogue.mid(table + 8 * (count - 1 - i), 8));
            catalogue.replace(table + 8 * (count - 1 - i), 8, first);
        }
    }
    QVERIFY(WriteAll(path, catalogue));
    TDomain domain("test");
    domain.SetDirectory(m_dir.path() + "/locale");
    domain.SetLanguageCode("de");
    int found = 0;
    for (const auto& [msgid, msgstr] : messages) {
        const QByteArray result = domain.LookupMessage(msgid);
        QVERIFY2(result == msgid || result == msgstr, result.constData());
        found += result == msgstr;
    }
    QVERIFY(found > 0);
}

int TestDomain::Embed(const QString& executable, const QStringList& pairs)
{
    QProcess script;
    script.start(VOKEY_SCRIPTS_DIR "/embed-catalogues", QStringList { executable } + pairs);
    return script.waitForFinished(60000) ? script.exitCode() : -1;
}

// A copy of this test program with a German and a (big-endian) French catalogue appended.
QString TestDomain::EmbeddedCopy()
{
    const QString executable = m_dir.path() + "/vokey";
    QFile::remove(executable);
    if (!QFile::copy(QCoreApplication::applicationFilePath(), executable)
        || !MakeCatalogue(m_dir.path() + "/de.mo", { { "Port", "Anschluss" } })
        || !MakeCatalogue(m_dir.path() + "/fr.mo", { { "Port", "Connecteur" } }, true)
        || Embed(executable,
               { "locale/de/LC_MESSAGES/cport.mo=" + m_dir.path() + "/de.mo",
                   "locale/fr/LC_MESSAGES/cport.mo=" + m_dir.path() + "/fr.mo" })
            != 0)
        return {};
    return executable;
}

void TestDomain::embeddedCatalogues()
{
    // This test program is built like the program: the table offset after the marker is 0.
    TAssemblyAnalyzer own;
    own.ScanExecutable(QCoreApplication::applicationFilePath());
    QCOMPARE(own.FileNames(), QStringList());

    const QString executable = EmbeddedCopy();
    QVERIFY(!executable.isEmpty());
    QCOMPARE(Embed(executable, { "locale/it/LC_MESSAGES/cport.mo=" + m_dir.path() + "/de.mo" }), 1);
    // A file of the same name beside the executable loses against the embedded one.
    QVERIFY(MakeCatalogue(CataloguePath("de", "cport"), { { "Port", "Hafen" } }));
    const auto removeFile = qScopeGuard([this] { QFile::remove(CataloguePath("de", "cport")); });

    TAssemblyAnalyzer analyzer;
    analyzer.ScanExecutable(executable);
    QCOMPARE(analyzer.FileNames(),
        QStringList({ "locale/de/lc_messages/cport.mo", "locale/fr/lc_messages/cport.mo" }));
    TDomain domain("cport", &analyzer);
    domain.SetDirectory(m_dir.path() + "/locale");
    for (const auto& [language, translation] :
        { std::pair { "de_DE", "Anschluss" }, { "fr", "Connecteur" }, { "it", "Port" } }) {
        domain.SetLanguageCode(language);
        QCOMPARE(domain.LookupMessage("Port"), QByteArray(translation));
    }
}

void TestDomain::embeddedTableFaults_data()
{
    // The patch is given the executable and the offset of the table offset after the marker.
    QTest::addColumn<TPatch>("patch");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("result"); // of looking up "Port" in German
    const QStringList both { "locale/de/lc_messages/cport.mo", "locale/fr/lc_messages/cport.mo" };
    const auto entry = [](const QByteArray& file, int slot, int index) {
        qint64 at = qFromLittleEndian<qint64>(file.constData() + slot);
        for (int i = 0; i < index; ++i)
            at = qFromLittleEndian<qint64>(file.constData() + at);
        return int(at);
    };
    const auto put
        = [](QByteArray& file, int at, qint64 value) { qToLittleEndian(value, file.data() + at); };
    QTest::newRow("table offset past the end")
        << TPatch([=](QByteArray& f, int slot) { put(f, slot, f.size() - 4); }) << QStringList()
        << "Port";
    QTest::newRow("second entry pointing back")
        << TPatch([=](QByteArray& f, int slot) { put(f, entry(f, slot, 1), entry(f, slot, 0)); })
        << QStringList { both[0] } << "Anschluss";
    QTest::newRow("catalogue size past the end")
        << TPatch([=](QByteArray& f, int slot) { put(f, entry(f, slot, 0) + 16, f.size()); })
        << both << "This file is not a valid GNU gettext mo file: ";
    QTest::newRow("catalogue offset past the end")
        << TPatch([=](QByteArray& f, int slot) { put(f, entry(f, slot, 0) + 8, f.size() - 20); })
        << both << "This file is not a valid GNU gettext mo file: ";
}

void TestDomain::embeddedTableFaults()
{
    QFETCH(TPatch, patch);
    QFETCH(QStringList, names);
    QFETCH(QString, result);
    const QString executable = EmbeddedCopy();
    QVERIFY(!executable.isEmpty());
    QByteArray file = ReadAll(executable);
    QCOMPARE(file.count(Marker()), 1);
    patch(file, int(file.indexOf(Marker()) + Marker().size()));
    QVERIFY(WriteAll(executable, file));

    TAssemblyAnalyzer analyzer;
    analyzer.ScanExecutable(executable);
    QCOMPARE(analyzer.FileNames(), names);
    TDomain domain("cport", &analyzer);
    domain.SetDirectory(m_dir.path() + "/locale");
    domain.SetLanguageCode("de");
    const QString error = LookupError(domain, "Port");
    if (error.isEmpty())
        QCOMPARE(QString::fromUtf8(domain.LookupMessage("Port")), result);
    else
        QCOMPARE(error, result + CataloguePath("de", "cport"));
}

QTEST_GUILESS_MAIN(TestDomain)
#include "tst_domain.moc"
