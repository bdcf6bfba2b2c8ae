#include "core/IniProfile.h"
#include "core/TextHelpers.h"
#include "core/VokeySettings.h"

#include "core/FileTraps.h"

#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();

    void textTests_data();
    void textTests();

    void readINI_data();
    void readINI();

    void baudMapping_data();
    void baudMapping();
    void txTimeout_data();
    void txTimeout();
    void attackKey_data();
    void attackKey();

    void writeNewFile();
    void writeRoundTripKeepsFile_data();
    void writeRoundTripKeepsFile();
    void writeNormalisesValues();
    void writeWithoutPathUsesCurrentDir();
    void writeFailure();
    void writeFailureKeepsOldFile();

private:
    QString Expand(QString text) const
    {
        return text.replace("$WORK/", m_work->path() + '/')
            .replace("$OTHER/", m_other->path() + '/');
    }
    QString WorkDir() const { return m_work->path() + '/'; }

    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<QTemporaryDir> m_other;
};

void TestSettings::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    m_other = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid() && m_other->isValid());
}

void TestSettings::textTests_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<bool>("flag");

    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("digits") << "0123456789" << true << false;
    QTest::newRow("number forms are not checked") << "--1.2,3" << true << false;
    QTest::newRow("blank") << "1 2" << false << false;
    QTest::newRow("plus") << "+5" << false << false;
    QTest::newRow("hex") << "1F" << false << false;
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("\u0661") << false << false;
    QTest::newRow("on") << "on" << false << true;
    QTest::newRow("True") << "True" << false << true;
    QTest::newRow("yes") << "yes" << false << true;
    QTest::newRow("NOT") << "NOT" << false << false;
    QTest::newRow("no") << "no" << false << false;
    QTest::newRow("1") << "1" << true << false;
    QTest::newRow("yes with a blank") << "yes " << false << false;
}

void TestSettings::textTests()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(bool, flag);
    QCOMPARE(IsNumericText(text), numeric);
    QCOMPARE(ParseFlagText(text), flag);
}

void TestSettings::readINI_data()
{
    QTest::addColumn<QStringList>("files"); // name, content, name, content, ...
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("configPath");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("comBaud");
    QTest::addColumn<QString>("logFile");
    QTest::addColumn<QString>("logPath");
    QTest::addColumn<bool>("trace");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("delay");

    const QString ini = "$WORK/VOKEY.INI";
    const QString log = "$WORK/VOKEY.LOG";
    const auto settings = [](const QString& body) {
        return QStringList { "VOKEY.INI", "[SETTINGS]\n" + body };
    };

    // files, args, configPath, device, port, baud, speed, comBaud, logFile, logPath, trace, gain,
    // delay
    QTest::newRow("no file, no arguments")
        << QStringList {} << QStringList {} << ini << -1 << "COM1" << 4800 << 4800 << "4800"
        << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("empty file") << QStringList { "VOKEY.INI", "" } << QStringList {} << ini << -1
                                << "COM1" << 4800 << 4800 << "4800"
                                << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("other section only")
        << QStringList { "VOKEY.INI", "[RADIO]\nGAIN=50\n" } << QStringList {} << ini << -1
        << "COM1" << 4800 << 4800 << "4800"
        << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("every key") << settings(
        "DEVICE=3\nCOMPORT=/dev/ttyUSB0\nBAUDRATE=9600\nLOGFILE=radio.log\n"
        "TRACE=no\nGAIN=55\nDELAY=20\n")
                               << QStringList {} << ini << 3 << "/dev/ttyUSB0" << 9600 << 9600
                               << "9600"
                               << "radio.log"
                               << "$WORK/radio.log" << false << 55 << 20;
    QTest::newRow("lower-case section and keys, CR LF, blanks")
        << QStringList { "VOKEY.INI",
               "[settings]\r\n device = 2 \r\n baudrate=1200\r\n gain = 7\r\n" }
        << QStringList {} << ini << 2 << "COM1" << 1200 << 1200 << "1200"
        << "VOKEY.LOG" << log << true << 7 << 1;
    QTest::newRow("empty values") << settings(
        "DEVICE=\nCOMPORT=\nBAUDRATE=\nLOGFILE=\nTRACE=\nGAIN=\nDELAY=\n")
                                  << QStringList {} << ini << -1 << "" << 4800 << 4800 << "4800"
                                  << ""
                                  << "$WORK/" << false << 10 << 10;
    QTest::newRow("abc") << settings("DEVICE=abc\nBAUDRATE=abc\nGAIN=abc\nDELAY=abc\n")
                         << QStringList {} << ini << -1 << "COM1" << 4800 << 4800 << "4800"
                         << "VOKEY.LOG" << log << true << 10 << 10;
    QTest::newRow("below range clamped") << settings("GAIN=-5\nDELAY=-1\n") << QStringList {} << ini
                                         << -1 << "COM1" << 4800 << 4800 << "4800"
                                         << "VOKEY.LOG" << log << true << 0 << 0;
    QTest::newRow("above range clamped") << settings("GAIN=250\nDELAY=101\n") << QStringList {}
                                         << ini << -1 << "COM1" << 4800 << 4800 << "4800"
                                         << "VOKEY.LOG" << log << true << 100 << 100;
    QTest::newRow("range ends") << settings("GAIN=100\nDELAY=0\n") << QStringList {} << ini << -1
                                << "COM1" << 4800 << 4800 << "4800"
                                << "VOKEY.LOG" << log << true << 100 << 0;
    QTest::newRow("14400 baud starts at 4800") << settings("BAUDRATE=14400\n") << QStringList {}
                                               << ini << -1 << "COM1" << 14400 << 4800 << "14400"
                                               << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("19200 baud") << settings("BAUDRATE=19200\n") << QStringList {} << ini << -1
                                << "COM1" << 19200 << 19200 << "19200"
                                << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("TRACE on") << settings("TRACE=on\n") << QStringList {} << ini << -1 << "COM1"
                              << 4800 << 4800 << "4800"
                              << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("TRACE True") << settings("TRACE=True\n") << QStringList {} << ini << -1 << "COM1"
                                << 4800 << 4800 << "4800"
                                << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("TRACE NOT") << settings("TRACE=NOT\n") << QStringList {} << ini << -1 << "COM1"
                               << 4800 << 4800 << "4800"
                               << "VOKEY.LOG" << log << false << 1 << 1;
    QTest::newRow("TRACE 1") << settings("TRACE=1\n") << QStringList {} << ini << -1 << "COM1"
                             << 4800 << 4800 << "4800"
                             << "VOKEY.LOG" << log << false << 1 << 1;
    QTest::newRow("non-integers fall back")
        << settings("DEVICE=1.5\nBAUDRATE=1.5\nGAIN=1.5\nDELAY=1,2\n") << QStringList {} << ini
        << -1 << "COM1" << 4800 << 4800 << "1.5"
        << "VOKEY.LOG" << log << true << 10 << 10;
    QTest::newRow("lone and double minus")
        << settings("DEVICE=-\nBAUDRATE=--3\nGAIN=-\nDELAY=--3\n") << QStringList {} << ini << -1
        << "COM1" << 4800 << 4800 << "--3"
        << "VOKEY.LOG" << log << true << 10 << 10;
    QTest::newRow("lone minus baud")
        << settings("BAUDRATE=-\n") << QStringList {} << ini << -1 << "COM1" << 4800 << 4800 << "-"
        << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("numbers beyond 32 bits")
        << settings("DEVICE=99999999999\nBAUDRATE=99999999999\nGAIN=99999999999\n")
        << QStringList {} << ini << -1 << "COM1" << 4800 << 4800 << "99999999999"
        << "VOKEY.LOG" << log << true << 10 << 1;
    QTest::newRow("-f relative keeps letter case")
        << QStringList { "myset.ini", "[SETTINGS]\nGAIN=33\n", "MYSET.INI",
               "[SETTINGS]\nGAIN=44\n" }
        << QStringList { "-f", "myset.ini" } << "$WORK/myset.ini" << -1 << "COM1" << 4800 << 4800
        << "4800"
        << "VOKEY.LOG" << log << true << 33 << 1;
    QTest::newRow("-F relative in a subdirectory")
        << QStringList { "sub/a.ini", "[SETTINGS]\nDELAY=9\n" } << QStringList { "-F", "sub/a.ini" }
        << "$WORK/sub/a.ini" << -1 << "COM1" << 4800 << 4800 << "4800"
        << "VOKEY.LOG" << log << true << 1 << 9;
    QTest::newRow("-F absolute") << QStringList { "$OTHER/abs.ini", "[SETTINGS]\nGAIN=66\n" }
                                 << QStringList { "-F", "$OTHER/abs.ini" } << "$OTHER/abs.ini" << -1
                                 << "COM1" << 4800 << 4800 << "4800"
                                 << "VOKEY.LOG" << log << true << 66 << 1;
    QTest::newRow("-F absolute, no such file")
        << QStringList {} << QStringList { "-F", "$OTHER/none/x.ini" } << "$OTHER/none/x.ini" << -1
        << "COM1" << 4800 << 4800 << "4800"
        << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("-F alone") << QStringList {} << QStringList { "-F" } << ini << -1 << "COM1"
                              << 4800 << 4800 << "4800"
                              << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("-F with empty name") << QStringList {} << QStringList { "-F", "" } << ini << -1
                                        << "COM1" << 4800 << 4800 << "4800"
                                        << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("-Fname is no switch") << QStringList {} << QStringList { "-Fmyset.ini" } << ini
                                         << -1 << "COM1" << 4800 << 4800 << "4800"
                                         << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("/F is no switch") << QStringList {} << QStringList { "/F", "myset.ini" } << ini
                                     << -1 << "COM1" << 4800 << 4800 << "4800"
                                     << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("-F not first") << QStringList {} << QStringList { "x", "-F", "myset.ini" } << ini
                                  << -1 << "COM1" << 4800 << 4800 << "4800"
                                  << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("blank before -F") << QStringList {} << QStringList { " -F", "myset.ini" } << ini
                                     << -1 << "COM1" << 4800 << 4800 << "4800"
                                     << "VOKEY.LOG" << log << true << 1 << 1;
    QTest::newRow("LOGFILE absolute") << settings("LOGFILE=$OTHER/radio.log\n") << QStringList {}
                                      << ini << -1 << "COM1" << 4800 << 4800 << "4800"
                                      << "$OTHER/radio.log"
                                      << "$OTHER/radio.log" << true << 1 << 1;
    QTest::newRow("LOGFILE relative with directory")
        << settings("LOGFILE=logs/Radio.Log\n") << QStringList {} << ini << -1 << "COM1" << 4800
        << 4800 << "4800"
        << "logs/Radio.Log"
        << "$WORK/logs/Radio.Log" << true << 1 << 1;
}

void TestSettings::readINI()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, args);
    QFETCH(QString, configPath);
    for (qsizetype i = 0; i + 1 < files.size(); i += 2) {
        const QString name = ResolveAgainst(WorkDir(), Expand(files[i]));
        QDir().mkpath(QFileInfo(name).absolutePath());
        WriteBytes(name, Expand(files[i + 1]).toUtf8());
    }
    for (QString& arg : args)
        arg = Expand(arg);
    args.prepend("vokey");

    const QString workDir = WorkDirFrom(m_work->path());
    QCOMPARE(workDir, WorkDir());
    QCOMPARE(WorkDirFrom(WorkDir()), WorkDir());
    const QString path = ConfigPathFromArguments(args, workDir);
    QCOMPARE(path, Expand(configPath));
    const VokeySettings s = ReadINI(path, workDir);

    QFETCH(int, device);
    QFETCH(QString, port);
    QFETCH(QString, comBaud);
    QFETCH(QString, logFile);
    QFETCH(QString, logPath);
    QFETCH(bool, trace);
    QFETCH(int, gain);
    QFETCH(int, delay);
    QCOMPARE(s.InputDevice, device);
    QCOMPARE(s.ComPort, port);
    QTEST(s.BaudRate, "baud");
    QTEST(SpeedFromBaudSetting(s.BaudRate), "speed");
    QCOMPARE(s.LogFile, Expand(logFile));
    QCOMPARE(s.LogPath(), Expand(logPath));
    QCOMPARE(s.Trace, trace);
    QCOMPARE(s.Gain, gain);
    QCOMPARE(s.Delay, delay);

    const QStringList header {
        "--------------Parameters ----------------",
        "Configuration File " + Expand(configPath),
        QString("LOGGING=") + (trace ? "TRUE" : "FALSE"),
        "LOGFILE=" + Expand(logFile),
        "PORTNRO=" + port,
        "COMBAUD=" + comBaud,
        "GAIN=" + QString::number(gain),
        "DELAY=" + QString::number(delay),
        "DEVICE=" + QString::number(device),
        "TXTIMEOUT=300",
        "-----------------------------------------",
    };
    QCOMPARE(LogHeaderLines(s), header);
}

void TestSettings::baudMapping_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("mapped"); // both ways

    for (int speed : { 1200, 2400, 4800, 9600, 19200 })
        QTest::addRow("%d", speed) << speed << speed;
    for (int speed : { 110, 300, 600, 14400, 38400, 57600, 115200, 256000, 0, -1, 1201 })
        QTest::addRow("%d", speed) << speed << 4800;
}

void TestSettings::baudMapping()
{
    QFETCH(int, value);
    QFETCH(int, mapped);
    QCOMPARE(SpeedFromBaudSetting(value), mapped);
    QCOMPARE(BaudSettingFromSpeed(value), mapped);

    // The speed chosen in the serial dialog reaches the file as mapped.
    VokeySettings s;
    s.IniFile = m_work->filePath("VOKEY.INI");
    s.BaudRate = value;
    WriteINI(s);
    QCOMPARE(ReadProfileString(s.IniFile, "SETTINGS", "BAUDRATE", ""), QString::number(mapped));
}

void TestSettings::txTimeout_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("seconds");
    QTest::newRow("absent") << "" << 300;
    QTest::newRow("off") << "TXTIMEOUT=0" << 0;
    QTest::newRow("whole seconds, blanks") << "txtimeout = 45 " << 45;
    QTest::newRow("negative") << "TXTIMEOUT=-5" << 300;
    QTest::newRow("fraction") << "TXTIMEOUT=1.5" << 300;
    QTest::newRow("not a number") << "TXTIMEOUT=long" << 300;
    QTest::newRow("empty") << "TXTIMEOUT=" << 300;
}

void TestSettings::txTimeout()
{
    QFETCH(QString, line);
    QFETCH(int, seconds);
    const QString path = m_work->filePath("VOKEY.INI");
    WriteBytes(path, ("[SETTINGS]\nDEVICE=2\n" + line + "\n").toUtf8());
    const VokeySettings s = ReadINI(path, WorkDir());
    QCOMPARE(s.TxTimeout, seconds);
    // In the log right after the capture device.
    const QStringList header = LogHeaderLines(s);
    QCOMPARE(
        header.mid(8, 2), QStringList({ "DEVICE=2", QStringLiteral("TXTIMEOUT=%1").arg(seconds) }));
}

void TestSettings::attackKey_data()
{
    QTest::addColumn<QString>("line"); // in [SETTINGS] before; empty: none
    QTest::addColumn<bool>("fast"); // as read
    QTest::addColumn<bool>("written"); // set before the write
    QTest::addColumn<QString>("after"); // ATTACK in the file after the write
    QTest::newRow("absent, kept average: not written") << "" << false << false << "absent";
    QTest::newRow("absent, fast chosen") << "" << false << true << "FAST";
    QTest::newRow("fast, any letter case") << "attack = fast" << true << true << "FAST";
    QTest::newRow("fast, average chosen") << "ATTACK=FAST" << true << false << "AVERAGE";
    QTest::newRow("anything else is average") << "ATTACK=quick" << false << false << "AVERAGE";
}

void TestSettings::attackKey()
{
    QFETCH(QString, line);
    QFETCH(bool, fast);
    QFETCH(bool, written);
    const QString path = m_work->filePath("VOKEY.INI");
    WriteBytes(path, ("[SETTINGS]\nGAIN=5\n" + line + "\n").toUtf8());
    VokeySettings s = ReadINI(path, WorkDir());
    QCOMPARE(s.Attack == VoxDetector::Attack::Fast, fast);
    // The log names the fast attack before its closing line.
    QCOMPARE(LogHeaderLines(s).contains("ATTACK=FAST"), fast);
    s.Attack = written ? VoxDetector::Attack::Fast : VoxDetector::Attack::Average;
    WriteINI(s);
    QTEST(ReadProfileString(path, "SETTINGS", "ATTACK", "absent"), "after");
}

void TestSettings::writeNewFile()
{
    VokeySettings s;
    s.IniFile = m_work->filePath("VOKEY.INI");
    WriteINI(s);
    QCOMPARE(ReadBytes(s.IniFile),
        QByteArray("[SETTINGS]\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\nDEVICENAME=\nTRACE=YES\n"
                   "LOGFILE=VOKEY.LOG\nGAIN=1\nDELAY=1\nTXTIMEOUT=300\n"));

    s.ComPort = "/dev/ttyUSB0";
    s.BaudRate = 9600;
    s.InputDevice = 2;
    s.DeviceName = "USB Audio CODEC";
    s.Trace = false;
    s.LogFile = "radio.log";
    s.Gain = 0;
    s.Delay = 100;
    s.TxTimeout = 0;
    WriteINI(s);
    QCOMPARE(ReadBytes(s.IniFile),
        QByteArray("[SETTINGS]\nCOMPORT=/dev/ttyUSB0\nBAUDRATE=9600\nDEVICE=2\n"
                   "DEVICENAME=USB Audio CODEC\nTRACE=NOT\n"
                   "LOGFILE=radio.log\nGAIN=0\nDELAY=100\nTXTIMEOUT=0\n"));
    QCOMPARE(Entries(m_work->path()), QStringList { "VOKEY.INI" });
}

void TestSettings::writeRoundTripKeepsFile_data()
{
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("other sections and comments") << QByteArray(
        "; VOKEY settings for the contest station\n"
        "[RADIO]\nGAIN=80\n\n"
        "[SETTINGS]\n"
        "; serial keying\n"
        "COMPORT=/dev/ttyUSB1\nBAUDRATE=19200\n\n"
        "DEVICE=4\nDEVICENAME=Scarlett 2i2\nTRACE=NOT\nLOGFILE=Logs/Station.log\nGAIN=42\n"
        "DELAY=17\n"
        "TXTIMEOUT=120\n"
        "\n[NOTES]\n; keep me\nTEXT=anything = goes\n");
    QTest::newRow("fast attack") << QByteArray(
        "[SETTINGS]\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\nDEVICENAME=\nTRACE=YES\n"
        "LOGFILE=VOKEY.LOG\nGAIN=1\nDELAY=1\nTXTIMEOUT=300\nATTACK=FAST\n");
    QTest::newRow("CR LF, other order, lower case") << QByteArray(
        "[settings]\r\ndelay=5\r\ngain=6\r\ntrace=YES\r\ndevice=-1\r\ndevicename=\r\n"
        "logfile=VOKEY.LOG\r\ncomport=COM1\r\nbaudrate=4800\r\ntxtimeout=0\r\n[X]\r\nY=1");
}

void TestSettings::writeRoundTripKeepsFile()
{
    QFETCH(QByteArray, file);
    const QString path = m_other->filePath("station.ini");
    WriteBytes(path, file);
    VokeySettings s
        = ReadINI(ConfigPathFromArguments({ "vokey", "-F", path }, WorkDir()), WorkDir());
    WriteINI(s);
    QCOMPARE(ReadBytes(path), file);
    QCOMPARE(Entries(m_other->path()), QStringList { "station.ini" });
}

void TestSettings::writeNormalisesValues()
{
    const QString path = m_work->filePath("VOKEY.INI");
    WriteBytes(path,
        "[OTHER]\nA=1\n[SETTINGS]\nTRACE=on\nBAUDRATE=14400\nGAIN=250\nDELAY=\n"
        "DEVICE=abc\nLOGFILE=radio.log\n; end\n");
    VokeySettings s = ReadINI(ConfigPathFromArguments({ "vokey" }, WorkDir()), WorkDir());
    WriteINI(s);
    QCOMPARE(ReadBytes(path),
        QByteArray(
            "[OTHER]\nA=1\n[SETTINGS]\nTRACE=YES\nBAUDRATE=4800\nGAIN=100\nDELAY=10\n"
            "DEVICE=-1\nLOGFILE=radio.log\nCOMPORT=COM1\nDEVICENAME=\nTXTIMEOUT=300\n; end\n"));
}

void TestSettings::writeWithoutPathUsesCurrentDir()
{
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_work->path()));
    VokeySettings s;
    WriteINI(s);
    QDir::setCurrent(saved);
    QCOMPARE(s.IniFile, WorkDir() + "VOKEY.INI");
    QCOMPARE(ReadProfileString(s.IniFile, "SETTINGS", "GAIN", ""), QStringLiteral("1"));
}

void TestSettings::writeFailure()
{
    WriteBytes(m_work->filePath("plain"), "a file, not a directory");
    for (const QString& path :
        { m_work->filePath("plain/VOKEY.INI"), m_work->filePath("missing/VOKEY.INI") }) {
        VokeySettings s = ReadINI(path, WorkDir());
        QCOMPARE(s.Gain, 1);
        try {
            WriteINI(s);
            QFAIL("no error raised");
        } catch (const EIniWrite& error) {
            QCOMPARE(QString::fromUtf8(error.what()), "Unable to write to " + path);
        }
    }
}

void TestSettings::writeFailureKeepsOldFile()
{
    const QString path = m_work->filePath("VOKEY.INI");
    const QByteArray old("[SETTINGS]\nCOMPORT=COM7\nGAIN=5\n");
    WriteBytes(path, old);
    VokeySettings s = ReadINI(path, WorkDir());
    s.Gain = 77;
    {
        FileSizeLimit fullDisk(16);
        QVERIFY_THROWS_EXCEPTION(EIniWrite, WriteINI(s));
    }
    QCOMPARE(ReadBytes(path), old);
    {
        LockedDirectory locked(m_work->path());
        if (locked.Locked())
            QVERIFY_THROWS_EXCEPTION(EIniWrite, WriteINI(s));
    }
    QCOMPARE(ReadBytes(path), old);
    QCOMPARE(Entries(m_work->path()), QStringList { "VOKEY.INI" });
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
