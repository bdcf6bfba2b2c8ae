#include "core/TLog.h"
#include "core/VokeySettings.h"

#include "core/FileTraps.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class TestLog : public QObject {
    Q_OBJECT

private slots:
    void init();

    void traceOffTouchesNoFile_data();
    void traceOffTouchesNoFile();
    void traceOnEmptiesAndWritesHeader();
    void deletedLogIsCreatedAgain();
    void unwritableDirectoryDisablesSilently();
    void levels_data();
    void levels();
    void logFileNamingTheSettingsFileStaysOff();
    void onlyRegularFilesAreWritten_data();
    void onlyRegularFilesAreWritten();
    void stampFollowsTheLocale_data();
    void stampFollowsTheLocale();

private:
    // Checks that `lines` are `messages`, each stamped with a clock reading in [from, to].
    static void VerifyStamped(const QList<QByteArray>& lines, const QStringList& messages,
        const QDateTime& from, const QDateTime& to);
    VokeySettings Settings(bool trace) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

VokeySettings TestLog::Settings(bool trace) const
{
    VokeySettings s;
    s.WorkDir = m_dir->path() + '/';
    s.IniFile = s.WorkDir + "VOKEY.INI";
    s.Trace = trace;
    return s;
}

void TestLog::VerifyStamped(const QList<QByteArray>& lines, const QStringList& messages,
    const QDateTime& from, const QDateTime& to)
{
    QCOMPARE(lines.size(), messages.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        bool matched = false;
        for (QDateTime t = from.addMSecs(-from.time().msec()); t <= to && !matched;
             t = t.addSecs(1))
            matched = line == TLog::StampedLine(t, messages[i]);
        QVERIFY2(matched, qPrintable(line));
    }
}

// Lines of a log file; each must end with LF alone.
static QList<QByteArray> LogLines(const QString& path)
{
    const QByteArray data = ReadBytes(path);
    if (data.isEmpty())
        return {};
    if (!data.endsWith('\n') || data.contains('\r'))
        return { "bad line ends: " + data };
    QList<QByteArray> lines = data.split('\n');
    lines.removeLast();
    return lines;
}

void TestLog::traceOffTouchesNoFile_data()
{
    QTest::addColumn<QByteArray>("existing"); // null: no file

    QTest::newRow("no file") << QByteArray();
    QTest::newRow("old log") << QByteArray("yesterday's log\n");
}

void TestLog::traceOffTouchesNoFile()
{
    QFETCH(QByteArray, existing);
    const VokeySettings s = Settings(false);
    if (!existing.isNull())
        WriteBytes(s.LogPath(), existing);
    TLog log;
    log.SetMaxLevel(1);
    StartLog(log, s);
    QVERIFY(!log.Enabled());
    QCOMPARE(log.FileName(), s.LogPath());
    QCOMPARE(QFileInfo::exists(s.LogPath()), !existing.isNull());
    QCOMPARE(ReadBytes(s.LogPath()), existing);
}

void TestLog::traceOnEmptiesAndWritesHeader()
{
    const VokeySettings s = Settings(true);
    WriteBytes(s.LogPath(), QByteArray(5000, 'x') + "\nold lines\n");
    TLog log;
    log.SetMaxLevel(1);
    const QDateTime from = QDateTime::currentDateTime();
    StartLog(log, s);
    const QDateTime to = QDateTime::currentDateTime();
    QVERIFY(log.Enabled());
    VerifyStamped(LogLines(s.LogPath()), LogHeaderLines(s), from, to);
}

void TestLog::deletedLogIsCreatedAgain()
{
    TLog log;
    log.SetFileName(m_dir->filePath("radio.log"));
    log.SetMaxLevel(1);
    log.SetEnabled(true);
    QVERIFY(log.Enabled());
    QVERIFY(QFileInfo::exists(log.FileName()));
    QCOMPARE(ReadBytes(log.FileName()), QByteArray());
    log.WriteLine(1, "first");
    QVERIFY(QFile::remove(log.FileName()));
    const QDateTime from = QDateTime::currentDateTime();
    log.WriteLine(1, "second");
    log.WriteLine(0, "third");
    VerifyStamped(
        LogLines(log.FileName()), { "second", "third" }, from, QDateTime::currentDateTime());
}

void TestLog::unwritableDirectoryDisablesSilently()
{
    WriteBytes(m_dir->filePath("plain"), "a file, not a directory");
    TLog log;
    log.SetMaxLevel(1);
    log.SetFileName(m_dir->filePath("plain/VOKEY.LOG"));
    log.SetEnabled(true);
    QVERIFY(!log.Enabled());
    log.WriteLine(1, "lost");

    QVERIFY(QDir(m_dir->path()).mkdir("locked"));
    LockedDirectory locked(m_dir->filePath("locked"));
    if (locked.Locked()) {
        log.SetFileName(m_dir->filePath("locked/VOKEY.LOG"));
        log.SetEnabled(true);
        QVERIFY(!log.Enabled());
        log.WriteLine(1, "lost");
        QCOMPARE(Entries(m_dir->filePath("locked")), QStringList());
    }
    QCOMPARE(Entries(m_dir->path()), (QStringList { "locked", "plain" }));
}

void TestLog::levels_data()
{
    QTest::addColumn<quint32>("maxLevel");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("written");

    QTest::newRow("2 over 1") << 1u << 2 << false;
    QTest::newRow("1 at 1") << 1u << 1 << true;
    QTest::newRow("0 under 1") << 1u << 0 << true;
    QTest::newRow("1 over 0") << 0u << 1 << false;
    QTest::newRow("255 under maximum") << 0xFFFFFFFFu << 255 << true;
}

void TestLog::levels()
{
    QFETCH(quint32, maxLevel);
    QFETCH(int, level);
    QFETCH(bool, written);
    TLog log;
    log.SetFileName(m_dir->filePath("VOKEY.LOG"));
    log.SetMaxLevel(maxLevel);
    log.WriteLine(quint8(level), "before switching on");
    QVERIFY(!QFileInfo::exists(log.FileName()));
    log.SetEnabled(true);
    log.WriteLine(quint8(level), "message");
    QCOMPARE(LogLines(log.FileName()).size(), written ? 1 : 0);
    log.SetEnabled(false);
    log.WriteLine(quint8(level), "after switching off");
    QCOMPARE(LogLines(log.FileName()).size(), written ? 1 : 0);
}

void TestLog::logFileNamingTheSettingsFileStaysOff()
{
    VokeySettings s = Settings(true);
    const QByteArray settings("[SETTINGS]\nLOGFILE=./VOKEY.INI\n");
    WriteBytes(s.IniFile, settings);
    s.LogFile = "./VOKEY.INI";
    TLog log;
    log.SetMaxLevel(1);
    StartLog(log, s);
    QVERIFY(!log.Enabled());
    QCOMPARE(ReadBytes(s.IniFile), settings);
}

void TestLog::onlyRegularFilesAreWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("pipe at start") << "pipe";
    QTest::newRow("device at start") << "device";
    QTest::newRow("pipe once running") << "pipe later";
}

void TestLog::onlyRegularFilesAreWritten()
{
    // Opening a pipe without a reader would wait for one for ever; a device must not be
    // written at all. Neither is opened: the log stays off, or loses its line.
    QFETCH(QString, kind);
    const QString fifo = m_dir->filePath("VOKEY.LOG");
    TLog log;
    log.SetMaxLevel(1);
    if (kind == "device") {
        log.SetFileName("/dev/null");
    } else {
        log.SetFileName(fifo);
        if (kind == "pipe later") {
            log.SetEnabled(true);
            QVERIFY(log.Enabled());
            QVERIFY(QFile::remove(fifo));
        }
        QCOMPARE(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    }
    if (kind != "pipe later") {
        log.SetEnabled(true);
        QVERIFY(!log.Enabled());
    }
    log.WriteLine(1, "lost");
    if (kind != "device")
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

void TestLog::stampFollowsTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("line");
    QTest::newRow("German") << "de_DE"
                            << "06.12.2026 09:54:46 start";
    QTest::newRow("US English") << "en_US"
                                << "12/6/2026 9:54:46 AM start";
    QTest::newRow("British English") << "en_GB"
                                     << "06/12/2026 09:54:46 start";
    QTest::newRow("Finnish") << "fi_FI"
                             << "6.12.2026 9.54.46 start";
}

void TestLog::stampFollowsTheLocale()
{
    QFETCH(QString, locale);
    const QDateTime when(QDate(2026, 12, 6), QTime(9, 54, 46));
    QTEST(TLog::StampedLine(when, "start", QLocale(locale)), "line");
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
