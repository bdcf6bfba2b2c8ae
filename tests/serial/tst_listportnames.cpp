#include <serial/EComPort.h>
#include <serial/ListPortNames.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

// ListPortNames against fake sysfs trees laid out like /sys/class/tty: one directory per
// tty, a "device" entry for those with hardware behind them, and a "type" attribute for
// ports of the serial core.
class TestListPortNames : public QObject {
    Q_OBJECT

private slots:
    void listsRealPortsInOrder();
    void emptyTreeGivesEmptyList();
    void unreadableDirectoryRaises_data();
    void unreadableDirectoryRaises();
    void failureLeavesListAlone();
    void stableNamesFirstConsoleLeftOut_data();
    void stableNamesFirstConsoleLeftOut();

private:
    struct Tty {
        QString name;
        bool device;
        QString type; // empty: no type attribute
    };
    static void build(const QString& root, const QList<Tty>& ttys);
    // The by-id directory and the consoles file beside the sysfs tree, both absent.
    static TPortListRoots roots(const QString& sysfs)
    {
        return { sysfs, sysfs + "/../by-id", sysfs + "/../consoles" };
    }
};

void TestListPortNames::build(const QString& root, const QList<Tty>& ttys)
{
    QDir dir(root);
    for (const Tty& tty : ttys) {
        QVERIFY(dir.mkpath(tty.name));
        if (tty.device) {
            // On a real system "device" is a link to the parent device's directory.
            QVERIFY(dir.mkpath("devices/" + tty.name));
            QVERIFY(QFile::link(
                dir.filePath("devices/" + tty.name), dir.filePath(tty.name + "/device")));
        }
        if (!tty.type.isNull()) {
            QFile type(dir.filePath(tty.name + "/type"));
            QVERIFY(type.open(QIODevice::WriteOnly));
            type.write(tty.type.toUtf8());
        }
    }
}

void TestListPortNames::listsRealPortsInOrder()
{
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    build(tree.path(),
        {
            { "ttyUSB1", true, {} },
            { "ttyUSB0", true, {} },
            { "ttyACM0", true, {} },
            { "ttyS0", true, "4\n" }, // 16550A
            { "ttyS1", true, "0\n" }, // placeholder UART
            { "ttyS2", true, "4\n" },
            { "ttyS10", true, "4\n" },
            { "ttyS3", true, {} }, // type not known
            { "ttyS4", true, "garbage\n" }, // type not known
            { "ttymxc0", true, "6\n" },
            { "ttyAMA0", true, "0\n" }, // placeholder of another serial-core driver
            { "tty0", false, {} },
            { "tty63", false, {} },
            { "console", false, {} },
            { "ptmx", false, {} },
        });
    // "devices" is a plain directory without a device behind it, like the virtual ttys.
    QStringList list { "stale entry" };
    ListPortNames(list, roots(tree.path()));
    // Text order without regard to case: ttyS10 before ttyS2, ttymxc0 before ttyS0.
    QCOMPARE(list,
        QStringList({ "/dev/ttyACM0", "/dev/ttymxc0", "/dev/ttyS0", "/dev/ttyS10", "/dev/ttyS2",
            "/dev/ttyUSB0", "/dev/ttyUSB1" }));
}

void TestListPortNames::emptyTreeGivesEmptyList()
{
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    build(tree.path(), { { "tty0", false, {} }, { "ttyS0", true, "0" } });
    QStringList list { "/dev/ttyUSB9" };
    ListPortNames(list, roots(tree.path()));
    QVERIFY(list.isEmpty());
}

void TestListPortNames::unreadableDirectoryRaises_data()
{
    // Tests may run as root, for whom permissions do not make a directory unreadable: a
    // missing path and a plain file stand for the directory that cannot be read.
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("systemCode");
    QTest::newRow("missing") << "missing" << ENOENT;
    QTest::newRow("not a directory") << "file" << ENOTDIR;
}

void TestListPortNames::unreadableDirectoryRaises()
{
    QFETCH(QString, what);
    QFETCH(int, systemCode);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QString root = tree.filePath(what);
    if (what == "file") {
        QFile file(root);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QStringList list;
    try {
        ListPortNames(list, roots(root));
        QFAIL("no exception");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), 23);
        QCOMPARE(error.SystemErrorCode(), systemCode);
        QVERIFY2(QString::fromUtf8(error.what()).startsWith("Registry error"), error.what());
    }
}

void TestListPortNames::failureLeavesListAlone()
{
    QStringList list { "/dev/ttyUSB0" };
    QVERIFY_THROWS_EXCEPTION(EComPort, ListPortNames(list, roots("/nonexistent/vokey/tty")));
    QCOMPARE(list, QStringList { "/dev/ttyUSB0" });
}

void TestListPortNames::stableNamesFirstConsoleLeftOut_data()
{
    // ttys: "name" or "name=console flag"; links: "link>device file" in the by-id directory
    // (a device file that does not exist makes a dangling link).
    QTest::addColumn<QStringList>("ttys");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QByteArray>("consoles");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("by-id first, sorted")
        << QStringList { "ttyUSB1", "ttyUSB0", "ttyACM0" }
        << QStringList { "usb-FTDI_B-if00-port0>ttyUSB1", "usb-FTDI_A-if00-port0>ttyUSB0" }
        << QByteArray()
        << QStringList { "by-id/usb-FTDI_A-if00-port0", "by-id/usb-FTDI_B-if00-port0",
               "/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1" };
    QTest::newRow("dangling link left out")
        << QStringList { "ttyUSB0" } << QStringList { "usb-gone>ttyUSB5", "usb-here>ttyUSB0" }
        << QByteArray() << QStringList { "by-id/usb-here", "/dev/ttyUSB0" };
    QTest::newRow("console by sysfs flag")
        << QStringList { "ttyS0=Y", "ttyS1=N", "ttyUSB0" } << QStringList() << QByteArray()
        << QStringList { "/dev/ttyS1", "/dev/ttyUSB0" };
    QTest::newRow("console by consoles file")
        << QStringList { "ttyS0", "ttyS1", "ttyUSB0" } << QStringList { "usb-cons>ttyS1" }
        << QByteArray("tty0                 -WU (EC p  )    4:1\nttyS1                -W- (E  p a) "
                      "   4:65\n")
        << QStringList { "/dev/ttyS0", "/dev/ttyUSB0" };
}

void TestListPortNames::stableNamesFirstConsoleLeftOut()
{
    QFETCH(QStringList, ttys);
    QFETCH(QStringList, links);
    QFETCH(QByteArray, consoles);
    QFETCH(QStringList, expected);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    QDir dir(tree.path());
    QVERIFY(dir.mkpath("sys") && dir.mkpath("by-id") && dir.mkpath("dev"));
    QList<Tty> entries;
    for (const QString& tty : ttys)
        entries << Tty { tty.section('=', 0, 0), true, tty.startsWith("ttyS") ? "4" : QString() };
    build(dir.filePath("sys"), entries);
    for (const QString& tty : ttys) {
        QFile(dir.filePath("dev/" + tty.section('=', 0, 0))).open(QIODevice::WriteOnly);
        if (tty.contains('=')) {
            QFile flag(dir.filePath("sys/" + tty.section('=', 0, 0) + "/console"));
            QVERIFY(flag.open(QIODevice::WriteOnly));
            flag.write(tty.section('=', 1).toUtf8() + "\n");
        }
    }
    for (const QString& link : links)
        QVERIFY(QFile::link(dir.filePath("dev/" + link.section('>', 1)),
            dir.filePath("by-id/" + link.section('>', 0, 0))));
    QFile consolesFile(dir.filePath("consoles"));
    QVERIFY(consolesFile.open(QIODevice::WriteOnly));
    consolesFile.write(consoles);
    consolesFile.close();

    QStringList list;
    ListPortNames(list, { dir.filePath("sys"), dir.filePath("by-id"), dir.filePath("consoles") });
    list.replaceInStrings(tree.path() + "/", QString());
    QCOMPARE(list, expected);
}

QTEST_MAIN(TestListPortNames)
#include "tst_listportnames.moc"
