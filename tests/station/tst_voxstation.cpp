// The station without a window, on the real parts: speech from a WAV file keys rig A and
// both serial lines and releases them after the Delay; the selection, mute and the transmit
// time-out through its operations; and nothing of the widget library in the process.
#include "KeyingParts.h"

#include "common/modemlines.h"
#include "rig/OmniRigX.h"
#include "serial/ComPort.h"
#include "station/ExitSignals.h"
#include "station/VoxStation.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestVoxStation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void noWidgetLibraryLoaded();
    void speechKeysRigAAndTheLines();
    void operations_data();
    void operations();
    void crashHandlerFollowsThePort();

private:
    // Starts a station on these settings and waits for both radios online.
    bool startStation(const QString& audio, int gain, int delay, const QString& more = {});
    int lines() const
    {
        return modemlines_get(m_parts.pty.toLocal8Bit().constData()) & (TIOCM_DTR | TIOCM_RTS);
    }
    bool keyed(int rig) { return (rig == 1 ? m_parts.server1 : m_parts.server2)->ptt() == 1; }
    bool released()
    {
        return m_parts.server1->ptt() == 0 && m_parts.server2->ptt() == 0 && lines() == 0;
    }

    KeyingParts m_parts;
    QString m_startDir;
    std::unique_ptr<QTemporaryDir> m_work;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<VoxStation> m_station;
};

void TestVoxStation::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    if (!modemlines_loaded())
        QSKIP("the modem-line library is not preloaded");
    QVERIFY(m_parts.start());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_parts.runtime.path()));
    m_startDir = QDir::currentPath();
}

void TestVoxStation::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid() && QDir::setCurrent(m_work->path()));
    QVERIFY(m_parts.newPort());
    modemlines_reset(m_parts.pty.toLocal8Bit().constData());
    m_boxes = RecordingMessageBoxes();
}

void TestVoxStation::cleanup()
{
    m_station.reset();
    m_parts.closePort();
    QDir::setCurrent(m_startDir);
    m_work.reset();
}

bool TestVoxStation::startStation(const QString& audio, int gain, int delay, const QString& more)
{
    if (!m_parts.writeConfig(m_work->filePath("VOKEY.INI"), gain, delay, more))
        return false;
    VoxStationOptions options;
    options.arguments = { QStringLiteral("vokey") };
    options.audioFile = audio;
    options.messages = &m_boxes;
    options.handleSignals = false;
    RigTimings timings = fastTimings();
    // The dummy radio holds its server for about a second on the first CAT poll.
    timings.readTimeout = 2500;
    options.rigTimings = timings;
    m_station = std::make_unique<VoxStation>(options);
    if (!m_station->AcquireInstance())
        return false;
    if (!m_station->Guarded([this] {
            m_station->Configure();
            m_station->Run();
        }))
        return false;
    const auto online = [this] {
        return m_station->OmniRig()->Rig1()->Status() == rsOnline
            && m_station->OmniRig()->Rig2()->Status() == rsOnline;
    };
    return waitUntil(online, 10000) && m_station->Running();
}

void TestVoxStation::noWidgetLibraryLoaded()
{
    QVERIFY(!QCoreApplication::instance()->inherits("QApplication"));
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(mapped.contains("libQt6Core"));
    QVERIFY(!mapped.contains("libQt6Widgets"));
}

void TestVoxStation::speechKeysRigAAndTheLines()
{
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // Delay 10: released 500 ms after the voice stops.
    QVERIFY(startStation(m_parts.speech, 5, 10));
    // What the station shows at the moment it keys: the over may be short under load.
    struct Keyed {
        int lines = -1;
        bool lamp = false;
        int level = -1;
    };
    QList<Keyed> keyings;
    QSignalSpy transmit(m_station.get(), &VoxStation::transmitChanged);
    QObject watcher; // the connection ends with this case
    connect(m_station.get(), &VoxStation::transmitChanged, &watcher, [&](bool on) {
        if (on)
            keyings.append({ lines(), m_station->LampOn(), m_station->VoxLevel() });
    });
    QTRY_VERIFY_WITH_TIMEOUT(!keyings.isEmpty(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(keyed(1), 5000);
    QCOMPARE(keyings.first().lines, TIOCM_DTR | TIOCM_RTS);
    QVERIFY(keyings.first().lamp);
    QVERIFY(keyings.first().level >= 5);
    QTRY_VERIFY_WITH_TIMEOUT(!m_station->TxOn(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
    QVERIFY(!m_station->LampOn());
    QVERIFY(transmit.size() >= 2);
    QCOMPARE(transmit.first().at(0).toBool(), true);
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(m_boxes.boxes.isEmpty());
}

void TestVoxStation::operations_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("keyedRig"); // 0: nothing keyed afterwards
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("select B") << "b" << QString() << 2 << QStringList();
    QTest::newRow("mute") << "m" << QString() << 0 << QStringList();
    QTest::newRow("time-out") << "" << QStringLiteral("TXTIMEOUT=1\n") << 0
                              << QStringList { "Transmit time-out: released after 1 s" };
}

void TestVoxStation::operations()
{
    QFETCH(QString, operation);
    QFETCH(QString, settings);
    QFETCH(int, keyedRig);
    QFETCH(QStringList, messages);
    // Gain 0 keys on every tick, silence included.
    QVERIFY(startStation(m_parts.silence, 0, 100, settings));
    QTRY_VERIFY_WITH_TIMEOUT(m_station->TxOn() || m_station->TimedOut(), 10000);
    // Switched only once rig A's server has the keying: the release of the rig that leaves
    // must be what releases it, not a keying that had not arrived yet.
    if (operation == "b")
        QTRY_VERIFY_WITH_TIMEOUT(keyed(1), 10000);
    QSignalSpy selection(m_station.get(), &VoxStation::selectionChanged);
    if (operation == "b")
        m_station->Rig2ButtonClick();
    else if (operation == "m")
        m_station->MuteButtonClick();
    else
        QTRY_VERIFY_WITH_TIMEOUT(m_station->TimedOut(), 10000);

    QCOMPARE(m_station->Rig1Selected(), keyedRig != 2);
    QCOMPARE(m_station->Rig2Selected(), keyedRig == 2);
    QCOMPARE(selection.size(), keyedRig == 2 ? 1 : 0);
    QCOMPARE(m_station->Muted(), operation == "m");
    QCOMPARE(m_station->LampAlarm(), keyedRig == 0);
    if (keyedRig == 0) {
        QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
        // The level stays up: released it stays, tick after tick.
        QSignalSpy ticks(m_station->findChild<QTimer*>("TimerRender"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 10, 5000);
        QVERIFY(released());
        QVERIFY(!m_station->TxOn());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(keyed(2) && m_parts.server1->ptt() == 0, 5000);
        QCOMPARE(lines(), TIOCM_DTR | TIOCM_RTS);
    }
    QCOMPARE(m_boxes.texts(), messages);
}

void TestVoxStation::crashHandlerFollowsThePort()
{
    // The crash handler drops the lines of the descriptor it is given: it must always be
    // the open port's, never a closed one that another file may have taken meanwhile.
    QVERIFY(startStation(m_parts.silence, 100, 10));
    const auto isThePty = [this](int fd) {
        struct stat port {
        }, device {};
        return fd >= 0 && ::fstat(fd, &port) == 0
            && ::stat(m_parts.pty.toLocal8Bit().constData(), &device) == 0
            && port.st_rdev == device.st_rdev;
    };
    QVERIFY(isThePty(ExitSignals::serialHandle()));
    // A new port name that cannot be opened (as from the Comm Port dialog).
    QVERIFY_THROWS_EXCEPTION(
        EComPort, m_station->ComPort().SetPort(QStringLiteral("/dev/vokey-no-such-port")));
    QCOMPARE(ExitSignals::serialHandle(), -1);
    m_station->ComPort().SetPort(m_parts.pty);
    m_station->ComPort().OpenPort();
    QVERIFY(isThePty(ExitSignals::serialHandle()));
    m_station.reset();
    QCOMPARE(ExitSignals::serialHandle(), -1);
}

QTEST_GUILESS_MAIN(TestVoxStation)
#include "tst_voxstation.moc"
