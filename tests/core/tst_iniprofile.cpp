#include "core/IniProfile.h"

#include "core/FileTraps.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestIniProfile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void read_data();
    void read();
    void readDirectoryGivesDefault();

    void write_data();
    void write();
    void writeThenReadRoundTrip();
    void writeSeveralAtOnce();
    void writeFollowsSymlink_data();
    void writeFollowsSymlink();
    void readOnlyFileIsLeftAlone();
    void writeKeepsPermissions();
    void writeNewFileUsesUmask();

    void writeFailure_data();
    void writeFailure();
    void fullDiskKeepsOldFile();
    void lockedDirectoryKeepsOldFile();

private:
    QString path(const QString& name = QStringLiteral("test.ini")) const
    {
        return m_dir->filePath(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIniProfile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestIniProfile::read_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no file at all
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("fallback");
    QTest::addColumn<QString>("expected");

    const QString dflt = QStringLiteral("dflt");
    QTest::newRow("no file") << QByteArray() << "SETTINGS"
                             << "GAIN" << dflt << dflt;
    QTest::newRow("empty file") << QByteArray("") << "SETTINGS"
                                << "GAIN" << dflt << dflt;
    QTest::newRow("no section") << QByteArray("[OTHER]\nGAIN=5\n") << "SETTINGS"
                                << "GAIN" << dflt << dflt;
    QTest::newRow("no key") << QByteArray("[SETTINGS]\nDELAY=5\n") << "SETTINGS"
                            << "GAIN" << dflt << dflt;
    QTest::newRow("key before any section") << QByteArray("GAIN=5\n[SETTINGS]\n") << "SETTINGS"
                                            << "GAIN" << dflt << dflt;
    QTest::newRow("key of the next section")
        << QByteArray("[SETTINGS]\nDELAY=1\n[OTHER]\nGAIN=5\n") << "SETTINGS"
        << "GAIN" << dflt << dflt;
    QTest::newRow("plain") << QByteArray("[SETTINGS]\nGAIN=5\n") << "SETTINGS"
                           << "GAIN" << dflt << "5";
    QTest::newRow("letter case of names") << QByteArray("[Settings]\ncomPort=COM3\n") << "SETTINGS"
                                          << "COMPORT" << dflt << "COM3";
    QTest::newRow("letter case of value kept")
        << QByteArray("[SETTINGS]\nLOGFILE=Radio.log\n") << "settings"
        << "logfile" << dflt << "Radio.log";
    QTest::newRow("blanks and tabs trimmed")
        << QByteArray("  [ SETTINGS ]  \n \tGAIN \t=  4 2 \t \n") << "SETTINGS"
        << "GAIN" << dflt << "4 2";
    QTest::newRow("empty value is not the default")
        << QByteArray("[SETTINGS]\nGAIN=\n") << "SETTINGS"
        << "GAIN" << dflt << "";
    QTest::newRow("CR LF lines") << QByteArray("[SETTINGS]\r\nDELAY=3\r\nGAIN=5\r\n") << "SETTINGS"
                                 << "GAIN" << dflt << "5";
    QTest::newRow("lone CR ends a line")
        << QByteArray("[SETTINGS]\nDEVICE=0\rkey.log\n") << "SETTINGS"
        << "DEVICE" << dflt << "0";
    QTest::newRow("no line end at the end") << QByteArray("[SETTINGS]\nGAIN=5") << "SETTINGS"
                                            << "GAIN" << dflt << "5";
    QTest::newRow("double quotes dropped")
        << QByteArray("[SETTINGS]\nCOMPORT=\"COM 3\"\n") << "SETTINGS"
        << "COMPORT" << dflt << "COM 3";
    QTest::newRow("single quotes dropped") << QByteArray("[SETTINGS]\nCOMPORT='x'\n") << "SETTINGS"
                                           << "COMPORT" << dflt << "x";
    QTest::newRow("unmatched quote kept") << QByteArray("[SETTINGS]\nCOMPORT=\"x'\n") << "SETTINGS"
                                          << "COMPORT" << dflt << "\"x'";
    QTest::newRow("first key wins") << QByteArray("[SETTINGS]\nGAIN=5\nGAIN=6\n") << "SETTINGS"
                                    << "GAIN" << dflt << "5";
    QTest::newRow("comment is no key") << QByteArray("[SETTINGS]\n;GAIN=7\n#GAIN=8\n") << "SETTINGS"
                                       << "GAIN" << dflt << dflt;
    QTest::newRow("line without equals is no key") << QByteArray("[SETTINGS]\nGAIN\n") << "SETTINGS"
                                                   << "GAIN" << dflt << dflt;
    QTest::newRow("equals inside value") << QByteArray("[SETTINGS]\nA=b=c\n") << "SETTINGS"
                                         << "A" << dflt << "b=c";
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[SETTINGS]\nGAIN=5\n") << "SETTINGS"
                                     << "GAIN" << dflt << "5";
    QTest::newRow("UTF-8 value") << QByteArray("[SETTINGS]\nLOGFILE=f\xC3\xBCr.log\n") << "SETTINGS"
                                 << "LOGFILE" << dflt << QString::fromUtf8("für.log");
    QTest::newRow("long value cut to 2047")
        << QByteArray("[SETTINGS]\nV=" + QByteArray(3000, 'v') + "\n") << "SETTINGS"
        << "V" << dflt << QString(2047, u'v');
    QTest::newRow("value of 2047 kept")
        << QByteArray("[SETTINGS]\nV=" + QByteArray(2047, 'v')) << "SETTINGS"
        << "V" << dflt << QString(2047, u'v');
    QTest::newRow("long default cut to 2047") << QByteArray() << "SETTINGS"
                                              << "V" << QString(2500, u'd') << QString(2047, u'd');
}

void TestIniProfile::read()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, fallback);
    QFETCH(QString, expected);
    if (!file.isNull())
        WriteBytes(path(), file);
    QCOMPARE(ReadProfileString(path(), section, key, fallback), expected);
}

void TestIniProfile::readDirectoryGivesDefault()
{
    QCOMPARE(ReadProfileString(m_dir->path(), "SETTINGS", "GAIN", "1"), QStringLiteral("1"));
    // A pipe is not read: that would wait for a writer.
    QVERIFY(mkfifo(path("pipe").toLocal8Bit().constData(), 0600) == 0);
    QCOMPARE(ReadProfileString(path("pipe"), "SETTINGS", "GAIN", "1"), QStringLiteral("1"));
}

void TestIniProfile::write_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << "SETTINGS"
                              << "GAIN"
                              << "5" << QByteArray("[SETTINGS]\nGAIN=5\n");
    QTest::newRow("empty file") << QByteArray("") << "SETTINGS"
                                << "GAIN"
                                << "5" << QByteArray("[SETTINGS]\nGAIN=5\n");
    QTest::newRow("replace only the value")
        << QByteArray("; radio one\n[OTHER]\nGAIN=9\n\n[SETTINGS]\nDELAY=3\nGAIN=5\n; end\n")
        << "SETTINGS"
        << "GAIN"
        << "77"
        << QByteArray("; radio one\n[OTHER]\nGAIN=9\n\n[SETTINGS]\nDELAY=3\nGAIN=77\n; end\n");
    QTest::newRow("spelling and spacing of the key kept")
        << QByteArray("[settings]\n  Gain =  5   \n") << "SETTINGS"
        << "GAIN"
        << "7" << QByteArray("[settings]\n  Gain =  7\n");
    QTest::newRow("first of two keys replaced")
        << QByteArray("[SETTINGS]\nGAIN=5\nGAIN=6\n") << "SETTINGS"
        << "GAIN"
        << "7" << QByteArray("[SETTINGS]\nGAIN=7\nGAIN=6\n");
    QTest::newRow("new key after the last key of its section")
        << QByteArray("[SETTINGS]\nDELAY=3\n\n; next\n[OTHER]\nX=1\n") << "SETTINGS"
        << "GAIN"
        << "5" << QByteArray("[SETTINGS]\nDELAY=3\nGAIN=5\n\n; next\n[OTHER]\nX=1\n");
    QTest::newRow("new key in a section without keys")
        << QByteArray("[SETTINGS]\n[OTHER]\nX=1\n") << "SETTINGS"
        << "GAIN"
        << "5" << QByteArray("[SETTINGS]\nGAIN=5\n[OTHER]\nX=1\n");
    QTest::newRow("new key in a last line without line end")
        << QByteArray("[SETTINGS]\nDELAY=3") << "SETTINGS"
        << "GAIN"
        << "5" << QByteArray("[SETTINGS]\nDELAY=3\nGAIN=5\n");
    QTest::newRow("new section at the end")
        << QByteArray("[OTHER]\nX=1\n\n") << "SETTINGS"
        << "GAIN"
        << "5" << QByteArray("[OTHER]\nX=1\n\n[SETTINGS]\nGAIN=5\n");
    QTest::newRow("new section after a last line without line end")
        << QByteArray("; only a comment") << "SETTINGS"
        << "GAIN"
        << "5" << QByteArray("; only a comment\n[SETTINGS]\nGAIN=5\n");
    QTest::newRow("CR LF file keeps its line ends")
        << QByteArray("[OTHER]\r\nX=1\r\n[SETTINGS]\r\nGAIN=5\r\n") << "SETTINGS"
        << "GAIN"
        << "6" << QByteArray("[OTHER]\r\nX=1\r\n[SETTINGS]\r\nGAIN=6\r\n");
    QTest::newRow("CR LF file gets CR LF new lines")
        << QByteArray("[SETTINGS]\r\nGAIN=5\r\n") << "SETTINGS"
        << "DELAY"
        << "2" << QByteArray("[SETTINGS]\r\nGAIN=5\r\nDELAY=2\r\n");
    QTest::newRow("byte order mark and foreign bytes kept")
        << QByteArray("\xEF\xBB\xBF[SETTINGS]\n; \xFF\xFE latin-1 \xE9\nGAIN=5\n") << "SETTINGS"
        << "GAIN"
        << "6" << QByteArray("\xEF\xBB\xBF[SETTINGS]\n; \xFF\xFE latin-1 \xE9\nGAIN=6\n");
    QTest::newRow("empty value") << QByteArray("[SETTINGS]\nGAIN=5\n") << "SETTINGS"
                                 << "GAIN"
                                 << "" << QByteArray("[SETTINGS]\nGAIN=\n");
    QTest::newRow("same value rewrites the same bytes")
        << QByteArray("[SETTINGS]\r\nGAIN=5\r\n") << "SETTINGS"
        << "GAIN"
        << "5" << QByteArray("[SETTINGS]\r\nGAIN=5\r\n");
}

void TestIniProfile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    if (!before.isNull())
        WriteBytes(path(), before);
    WriteProfileString(path(), section, key, value);
    QCOMPARE(ReadBytes(path()), after);
    // No temporary file is left beside it.
    QCOMPARE(Entries(m_dir->path()), QStringList { "test.ini" });
}

void TestIniProfile::writeThenReadRoundTrip()
{
    const QString value = QString::fromUtf8("/dev/ttyUSB0 \"für\" = x");
    WriteProfileString(path(), "SETTINGS", "COMPORT", value);
    WriteProfileString(path(), "SETTINGS", "GAIN", "5");
    QCOMPARE(ReadProfileString(path(), "settings", "comport", "COM1"), value);
    QCOMPARE(ReadProfileString(path(), "SETTINGS", "GAIN", "1"), QStringLiteral("5"));
}

void TestIniProfile::writeSeveralAtOnce()
{
    const QByteArray before("[OTHER]\r\nGAIN=9\r\n[SETTINGS]\r\nDELAY=3\r\n");
    const QList<ProfileEntry> entries { { "GAIN", "5" }, { "delay", "4" }, { "GAIN", "6" },
        { "TRACE", "YES" } };
    WriteBytes(path("one.ini"), before);
    for (const auto& [key, value] : entries)
        WriteProfileString(path("one.ini"), "SETTINGS", key, value);
    WriteBytes(path(), before);
    WriteProfileStrings(path(), "SETTINGS", entries);
    QCOMPARE(ReadBytes(path()), ReadBytes(path("one.ini")));
    QCOMPARE(ReadBytes(path()),
        QByteArray("[OTHER]\r\nGAIN=9\r\n[SETTINGS]\r\nDELAY=4\r\nGAIN=6\r\nTRACE=YES\r\n"));

    WriteProfileStrings(path("new.ini"), "NEW", { { "A", "1" }, { "B", "2" } });
    QCOMPARE(ReadBytes(path("new.ini")), QByteArray("[NEW]\nA=1\nB=2\n"));
    QVERIFY_THROWS_EXCEPTION(
        EIniWrite, WriteProfileStrings(path(), "SETTINGS", { { "A", "1" }, { "B", "2\n" } }));
    QCOMPARE(ReadBytes(path()), ReadBytes(path("one.ini")));
}

void TestIniProfile::writeFollowsSymlink_data()
{
    // The link's text, and where the file it names is, relative to the test directory.
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("file");
    QTest::newRow("beside it") << "real.ini"
                               << "real.ini";
    QTest::newRow("in a dotfiles folder") << "dotfiles/vokey.ini"
                                          << "dotfiles/vokey.ini";
    QTest::newRow("relative, up and over") << "../$DIR/dotfiles/vokey.ini"
                                           << "dotfiles/vokey.ini";
    QTest::newRow("a link to a link") << "second.ini"
                                      << "dotfiles/vokey.ini";
}

void TestIniProfile::writeFollowsSymlink()
{
    QFETCH(QString, link);
    QFETCH(QString, file);
    link.replace("$DIR", QFileInfo(m_dir->path()).fileName());
    QVERIFY(QDir(m_dir->path()).mkdir("dotfiles"));
    WriteBytes(path(file), "[SETTINGS]\nGAIN=5\n");
    QVERIFY(QFile::link("dotfiles/vokey.ini", path("second.ini")));
    QCOMPARE(::symlink(link.toLocal8Bit().constData(), path().toLocal8Bit().constData()), 0);
    WriteProfileString(path(), "SETTINGS", "GAIN", "6");
    QCOMPARE(QFileInfo(path()).symLinkTarget(), QFileInfo(path(link)).absoluteFilePath());
    QCOMPARE(ReadBytes(path(file)), QByteArray("[SETTINGS]\nGAIN=6\n"));
    // No temporary file left beside the link or the file.
    const QStringList left = Entries(m_dir->path()) + Entries(m_dir->filePath("dotfiles"));
    QVERIFY2(left.filter(".tmp").isEmpty(), qPrintable(left.join(' ')));
}

void TestIniProfile::readOnlyFileIsLeftAlone()
{
    // Made read-only on purpose: refused like any other failed write, as root too.
    const QByteArray old("[SETTINGS]\nGAIN=1\n");
    WriteBytes(path(), old);
    QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup));
    QVERIFY_THROWS_EXCEPTION(EIniWrite, WriteProfileString(path(), "SETTINGS", "GAIN", "6"));
    QCOMPARE(ReadBytes(path()), old);
    QCOMPARE(QFile::permissions(path()) & ~(QFile::ReadUser | QFile::WriteUser),
        QFile::ReadOwner | QFile::ReadGroup);
}

void TestIniProfile::writeKeepsPermissions()
{
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    WriteBytes(path(), "[SETTINGS]\nGAIN=5\n");
    QVERIFY(QFile::setPermissions(path(), mode));
    WriteProfileString(path(), "SETTINGS", "GAIN", "6");
    QCOMPARE(QFile::permissions(path()) & ~(QFile::ReadUser | QFile::WriteUser), mode);
}

void TestIniProfile::writeNewFileUsesUmask()
{
    const mode_t mask = umask(022);
    WriteProfileString(path(), "SETTINGS", "GAIN", "6");
    umask(mask);
    const auto expected
        = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QCOMPARE(QFile::permissions(path()) & ~(QFile::ReadUser | QFile::WriteUser), expected);
}

void TestIniProfile::writeFailure_data()
{
    QTest::addColumn<QString>("target"); // relative to the test directory
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("parent is a file") << "file/test.ini"
                                      << "SETTINGS"
                                      << "GAIN"
                                      << "5";
    QTest::newRow("parent is missing") << "missing/test.ini"
                                       << "SETTINGS"
                                       << "GAIN"
                                       << "5";
    QTest::newRow("target is a directory") << "dir"
                                           << "SETTINGS"
                                           << "GAIN"
                                           << "5";
    QTest::newRow("line break in value") << "test.ini"
                                         << "SETTINGS"
                                         << "GAIN"
                                         << "5\n[X]";
    QTest::newRow("line break in key") << "test.ini"
                                       << "SETTINGS"
                                       << "GA\rIN"
                                       << "5";
    QTest::newRow("bracket in section") << "test.ini"
                                        << "SET]TINGS"
                                        << "GAIN"
                                        << "5";
    QTest::newRow("equals in key") << "test.ini"
                                   << "SETTINGS"
                                   << "GA=IN"
                                   << "5";
    QTest::newRow("empty key") << "test.ini"
                               << "SETTINGS"
                               << " "
                               << "5";
}

void TestIniProfile::writeFailure()
{
    QFETCH(QString, target);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    WriteBytes(path("file"), "not a directory");
    QVERIFY(QDir(m_dir->path()).mkdir("dir"));
    QVERIFY(mkfifo(path("pipe").toLocal8Bit().constData(), 0600) == 0);
    const QByteArray old("[SETTINGS]\nGAIN=1\n");
    WriteBytes(path(), old);
    const QString fileName = path(target);
    try {
        WriteProfileString(fileName, section, key, value);
        QFAIL("no error raised");
    } catch (const EIniWrite& error) {
        QCOMPARE(error.Message(), QStringLiteral("Unable to write to ") + fileName);
        QCOMPARE(error.FileName(), fileName);
    }
    QCOMPARE(ReadBytes(path()), old);
    QCOMPARE(Entries(m_dir->path()), (QStringList { "dir", "file", "pipe", "test.ini" }));
    QVERIFY(QFileInfo(path("pipe")).exists() && !QFileInfo(path("pipe")).isFile());
}

void TestIniProfile::fullDiskKeepsOldFile()
{
    const QByteArray old = "[OTHER]\n" + QByteArray(300, 'x') + "\n[SETTINGS]\nGAIN=1\n";
    WriteBytes(path(), old);
    {
        FileSizeLimit limit(64);
        QVERIFY_THROWS_EXCEPTION(
            EIniWrite, WriteProfileString(path(), "SETTINGS", "GAIN", QString(500, u'9')));
    }
    QCOMPARE(ReadBytes(path()), old);
    QCOMPARE(Entries(m_dir->path()), QStringList { "test.ini" });
}

void TestIniProfile::lockedDirectoryKeepsOldFile()
{
    const QByteArray old("[SETTINGS]\nGAIN=1\n");
    WriteBytes(path(), old);
    LockedDirectory locked(m_dir->path());
    if (!locked.Locked())
        QSKIP("this file system cannot lock a directory against root");
    QVERIFY_THROWS_EXCEPTION(EIniWrite, WriteProfileString(path(), "SETTINGS", "GAIN", "2"));
    QCOMPARE(ReadBytes(path()), old);
    QCOMPARE(Entries(m_dir->path()), QStringList { "test.ini" });
}

QTEST_GUILESS_MAIN(TestIniProfile)
#include "tst_iniprofile.moc"
