// The station's VOX engine without a window, on the real parts: speech from a WAV file keys
// rig A and both serial lines and releases them after the Delay; mute, the engine going off,
// the transmit time-out and a lost capture device release every road; a capture device that
// comes back keys again by itself; and nothing of the widget library in the process.
#include "StationFixture.h"

#include "audio/PulseDaemon.h"
#include "serial/ComPort.h"

#include <QCoreApplication>

#include <QElapsedTimer>
#include <QProcess>
#include <unistd.h>

class TestVoxStation : public QObject, StationFixture {
    Q_OBJECT

private slots:
    void initTestCase() { setUpStationCase(); }
    void init() { QVERIFY(setUpStation()); }
    void cleanup() { tearDownStation(); }
    void noWidgetLibraryLoaded();
    void speechKeysAndReleasesAfterDelay_data();
    void speechKeysAndReleasesAfterDelay();
    void releasedOnEveryRoad_data();
    void releasedOnEveryRoad();
    void lostCaptureComesBack_data();
    void lostCaptureComesBack();
    void crashHandlerFollowsThePort();
    void releaseOfADownLinkAwaitsItsReturn();
    void serialPortComesBack_data();
    void serialPortComesBack();
    void openFailureSaysWhy_data();
    void openFailureSaysWhy();
    void noSerialPortNoMessage();

private:
    QTimer* timer(const char* name) const { return m_station->findChild<QTimer*>(name); }
};

void TestVoxStation::noWidgetLibraryLoaded()
{
    QVERIFY(!QCoreApplication::instance()->inherits("QApplication"));
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(mapped.contains("libQt6Core"));
    QVERIFY(!mapped.contains("libQt6Widgets"));
}

void TestVoxStation::speechKeysAndReleasesAfterDelay_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("muted");
    QTest::newRow("delay 10 (500 ms)") << 10 << false;
    QTest::newRow("delay 100 (5 s)") << 100 << false;
    QTest::newRow("delay 0 (next quiet tick)") << 0 << false;
    QTest::newRow("muted: never keys") << 10 << true;
}

void TestVoxStation::speechKeysAndReleasesAfterDelay()
{
    QFETCH(int, delay);
    QFETCH(bool, muted);
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    QVERIFY(startStation(m_parts.speech, 5, delay));
    // What the station shows at the moment it first keys (the over may be short under load),
    // and when each keying and release came.
    int linesAtKey = -1, levelAtKey = -1;
    bool lampAtKey = false, releaseTimerAtKey = false;
    QElapsedTimer clock;
    clock.start();
    qint64 lastKeyAt = -1, releasedAt = -1;
    QSignalSpy transmit(m_station.get(), &VoxStation::TransmitSet);
    QObject scope; // the connection ends with this function
    connect(m_station.get(), &VoxStation::TransmitSet, &scope, [&](bool on) {
        if (on && lastKeyAt < 0) {
            linesAtKey = lines();
            lampAtKey = m_station->LampOn();
            levelAtKey = m_station->VoxLevel();
            releaseTimerAtKey = timer("TimerDelay")->isActive();
        }
        if (on)
            lastKeyAt = clock.elapsed();
        else if (lastKeyAt >= 0)
            releasedAt = clock.elapsed();
    });

    // Silence first: nothing keys.
    QVERIFY(!m_station->TxOn());
    if (muted) {
        // The level is measured while muted, but nothing keys.
        m_station->setMuted(true);
        QTRY_VERIFY_WITH_TIMEOUT(m_station->MeterLevel() >= 5, 10000);
        QCOMPARE(transmit.count(QVariantList { true }), 0);
        QVERIFY(timer("TimerLed")->isActive());
        QVERIFY(released());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(lastKeyAt >= 0, 20000);
    QCOMPARE(linesAtKey, BothLines);
    QVERIFY(lampAtKey);
    QVERIFY(levelAtKey >= 5);
    QCOMPARE(releaseTimerAtKey, delay > 0);
    // With Delay 0 the first over may end before rig A's server has answered.
    if (delay > 0)
        QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 5000);

    // After the speech: released and the lamp dark.
    QTRY_VERIFY_WITH_TIMEOUT(releasedAt >= 0 && !m_station->TxOn(), 20000);
    QVERIFY(!m_station->LampOn());
    QVERIFY(releasedAt >= lastKeyAt);
    // The release timer ran out a delay after the last keying tick, not before (a slow
    // machine only makes it later; 1 ms for the two millisecond clocks' rounding).
    if (delay > 0)
        QVERIFY2(releasedAt - lastKeyAt >= delay * 50 - 1,
            qPrintable(QString::number(releasedAt - lastKeyAt)));
    QCOMPARE(transmit.first().at(0).toBool(), true);
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!m_station->Detector().isTransmitting());
    QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
    QVERIFY(m_boxes.boxes.isEmpty());
}

void TestVoxStation::releasedOnEveryRoad_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("alarm"); // the lamp blinks red afterwards
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("Mute") << "Mute" << true << QStringList();
    QTest::newRow("engine off") << "engine off" << false << QStringList();
    QTest::newRow("transmit time-out")
        << "time-out" << true << QStringList { "Transmit time-out: released after 1 s" };
}

void TestVoxStation::releasedOnEveryRoad()
{
    QFETCH(QString, way);
    QFETCH(bool, alarm);
    QFETCH(QStringList, messages);
    // Gain 0 keys on every tick; Delay 100 would hold transmit 5 s after the last one.
    // Without a break, the time-out ends it after a second.
    QVERIFY(startStation(
        m_parts.silence, 0, 100, way == "time-out" ? QStringLiteral("TXTIMEOUT=1\n") : QString()));
    QTRY_VERIFY_WITH_TIMEOUT(server(RigId::A).ptt() == 1 && lines() == BothLines, 5000);
    modemlines_log_clear();
    QSignalSpy transmit(m_station.get(), &VoxStation::TransmitSet);
    QSignalSpy selection(m_station.get(), &VoxStation::selectionChanged);
    if (way == "Mute")
        m_station->setMuted(true);
    else if (way == "engine off")
        m_station->setPowered(false);
    else // within the second after the keying seen, not ten
        QTRY_VERIFY_WITH_TIMEOUT(m_station->TimedOut(), 4000);

    // Released at once, once: the lines by the program itself, not by closing the port.
    QCOMPARE(transmit.size() == 1, way != "time-out");
    QCOMPARE(transmit.count(QVariantList { false }), 1);
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!m_station->TxOn());
    const QList<modemlines_event> events = lineEvents();
    const auto drop = std::find_if(
        events.begin(), events.end(), [](const modemlines_event& event) { return !event.value; });
    QVERIFY(events.end() - drop >= 2);
    QCOMPARE(drop[0].line, TIOCM_DTR);
    QCOMPARE(drop[1].line, TIOCM_RTS);
    for (auto event = drop; event != events.end(); ++event) {
        QCOMPARE(event->value, 0);
        QCOMPARE(QByteArray(event->cause), QByteArray("TIOCMBIC"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(released(), 5000);
    // And it stays so, the level up: ticks go on without keying; an engine that is off has
    // none.
    const qsizetype calls = transmit.size();
    if (way == "engine off")
        QVERIFY(!timer("TimerRender")->isActive());
    else
        QVERIFY(waitForTicks(10));
    QCOMPARE(transmit.size(), calls);
    QVERIFY(released());
    QCOMPARE(m_station->Muted(), way == "Mute");
    QCOMPARE(m_station->TimedOut(), way == "time-out");
    QCOMPARE(m_station->LampAlarm(), alarm);
    QCOMPARE(timer("TimerLed")->isActive(), alarm);
    QVERIFY(selected(true, false));
    QCOMPARE(selection.size(), 0);
    QCOMPARE(m_boxes.texts(), messages);
    if (way != "time-out")
        return;
    // A tick below the Gain allows keying again.
    m_station->SetGain(100);
    QTRY_VERIFY_WITH_TIMEOUT(!m_station->TimedOut(), 5000);
    QVERIFY(!timer("TimerLed")->isActive());
    QVERIFY(!m_station->LampAlarm());
    // Keyed again; under load the radio may answer only after the next time-out, so the
    // keying itself is what is waited for.
    transmit.clear();
    m_station->SetGain(0);
    QTRY_VERIFY_WITH_TIMEOUT(!transmit.isEmpty() && transmit.first().at(0).toBool(), 5000);
}

void TestVoxStation::lostCaptureComesBack_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("more");
    QTest::addColumn<QString>("device");
    // The daemon's null sink monitor is the default source; PortAudio lists it as "pulse"
    // too. A stored name is looked for first (there is no device 7), and found again.
    // Delay 0 releases at the first tick without audio; a long Delay when the loss is said.
    QTest::newRow("default device (DEVICE=-1)") << 0 << QString() << "Default";
    QTest::newRow("by its stored name (DEVICENAME=pulse)") << 0 << "DEVICE=7\nDEVICENAME=pulse\n"
                                                           << "pulse";
    QTest::newRow("delay 100 (5 s)") << 100 << QString() << "Default";
}

void TestVoxStation::lostCaptureComesBack()
{
    QFETCH(int, delay);
    QFETCH(QString, more);
    QFETCH(QString, device);
    if (m_parts.speech.isEmpty())
        QSKIP("espeak-ng and sox are needed to make the test speech");
    PulseDaemon pulse;
    if (!pulse.start(m_parts.runtime.path(), "safety_sink"))
        QSKIP("pulseaudio is needed (scripts/install-deps)");
    // The speech played into the sink over and over: what the station hears while it can.
    QProcess player;
    bool playing = true; // not while the server is down: paplay would end at once
    const auto play = [&] { player.start("paplay", { "-d", "safety_sink", m_parts.speech }); };
    QObject scope;
    connect(&player, &QProcess::finished, &scope, [&] {
        if (playing)
            play();
    });
    play();
    // Gain 5: speech keys, the sink's silence does not.
    QVERIFY(startStation({}, 5, delay, more));
    QSignalSpy lost(m_station.get(), &VoxStation::captureLost);
    bool keyedAtLoss = true;
    connect(m_station.get(), &VoxStation::captureLost, &scope,
        [&] { keyedAtLoss = m_station->TxOn() || lines() != 0; });
    QSignalSpy found(m_station.get(), &VoxStation::captureFound);
    QTRY_VERIFY_WITH_TIMEOUT(server(RigId::A).ptt() == 1 && lines() == BothLines, 20000);

    playing = false;
    QVERIFY(pulse.stop());
    // No audio: the ticks do not pass any more, every road is released, and the loss is
    // said once. The engine stays on, the serial port open.
    QTRY_VERIFY_WITH_TIMEOUT(!m_station->TxOn(), 30000);
    QCOMPARE(lines(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 30000);
    QCOMPARE(lost.first().at(0).toString(), device);
    QVERIFY(!keyedAtLoss);
    QVERIFY(m_station->Running());
    QVERIFY(m_station->CaptureLost());
    QVERIFY(m_station->ComPort().Connected());
    // Tries while the server is still down find nothing, say nothing more, key nothing.
    QSignalSpy tries(timer("CaptureWatch"), &QTimer::timeout);
    QVERIFY(waitFor([&] { return tries.size() >= 2; }));
    QVERIFY(released());
    QVERIFY(!m_station->TxOn());

    // The sound server back: capture resumes and the speech keys again, without the operator.
    QVERIFY(pulse.start(m_parts.runtime.path(), "safety_sink"));
    QElapsedTimer back;
    back.start();
    player.waitForFinished();
    playing = true;
    play();
    QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, 30000);
    const qint64 resumedMs = back.elapsed();
    QCOMPARE(found.first().at(0).toString(), device);
    QVERIFY(!m_station->CaptureLost());
    QTRY_VERIFY_WITH_TIMEOUT(server(RigId::A).ptt() == 1 && lines() == BothLines, 30000);
    qInfo("server back -> capture resumed %lld ms, keyed again %lld ms", resumedMs, back.elapsed());
    QCOMPARE(lost.size(), 1);
    QVERIFY(m_station->Running());
    // Said in the log once each way.
    QFile log(m_work->filePath("VOKEY.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QCOMPARE(logged.count(QStringLiteral(
                 "Soundcard \"%1\" stopped delivering audio: trying it again every 2 s")
                              .arg(device)),
        1);
    QCOMPARE(logged.count(QStringLiteral("Soundcard \"%1\" capturing again").arg(device)), 1);
    playing = false;
    player.kill();
    player.waitForFinished();
}

void TestVoxStation::crashHandlerFollowsThePort()
{
    // The crash handler and the guard drop the lines of the descriptor they are told: it
    // must always be the open port's, never a closed one that another file may have taken
    // meanwhile.
    QVERIFY(startStation(m_parts.silence, 100, 10));
    const auto isThePty = [this](int fd) {
        struct stat port {
        }, device {};
        return fd >= 0 && ::fstat(fd, &port) == 0
            && ::stat(m_parts.pty.toLocal8Bit().constData(), &device) == 0
            && port.st_rdev == device.st_rdev;
    };
    QVERIFY(isThePty(m_station->ComPort().NativeHandle()));
    QList<int> told;
    connect(m_station.get(), &VoxStation::serialHandleChanged, this,
        [&told, &isThePty](int fd) { told << (isThePty(fd) ? 1 : fd); });
    // A new port name that cannot be opened (as from the Comm Port dialog).
    QVERIFY_THROWS_EXCEPTION(
        EComPort, m_station->ComPort().SetPort(QStringLiteral("/dev/vokey-no-such-port")));
    QCOMPARE(told, QList<int>({ -1 }));
    m_station->ComPort().SetPort(m_parts.pty);
    m_station->ComPort().OpenPort();
    QCOMPARE(told, QList<int>({ -1, 1 }));
    m_station.reset();
    QCOMPARE(told, QList<int>({ -1, 1, -1 }));
}

void TestVoxStation::releaseOfADownLinkAwaitsItsReturn()
{
    // Rig A keyed, its rigctld gone, then a release: the link sends it only when the server
    // is back, and until then the station must not say that nothing is keyed (the guard
    // would leave the radio keyed on a crash meanwhile).
    m_loop = true;
    QVERIFY(startStation(m_parts.silence, 0, 0));
    QTRY_VERIFY_WITH_TIMEOUT(server(RigId::A).ptt() == 1, 10000);
    QSignalSpy keyedChanges(m_station.get(), &VoxStation::keyedChanged);
    server(RigId::A).kill();
    QTRY_VERIFY_WITH_TIMEOUT(rig(RigId::A)->Status() != rsOnline, 10000);
    m_station->setMuted(true);
    QVERIFY(!m_station->TxOn());
    QCOMPARE(lines(), 0);
    QVERIFY(m_station->Road(RigId::A).keyed());
    QVERIFY(!m_station->Road(RigId::B).keyed());
    QVERIFY(keyedChanges.isEmpty());
    QVERIFY(server(RigId::A).start());
    QTRY_VERIFY_WITH_TIMEOUT(rig(RigId::A)->Status() == rsOnline, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(keyedChanges.size(), 1, 5000);
    QCOMPARE(keyedChanges.first().at(0).toBool(), false);
    QVERIFY(!m_station->Road(RigId::A).keyed());
}

void TestVoxStation::serialPortComesBack_data()
{
    QTest::addColumn<bool>("presentAtStart");
    QTest::addColumn<QStringList>("boxes");
    // The port is named by a link, as /dev/serial/by-id names an adapter; a new pty behind
    // it is the adapter plugged in again under another number.
    QTest::newRow("unplugged while keyed, plugged back")
        << true << QStringList { "Serial port %1 disconnected" };
    QTest::newRow("plugged in after the start")
        << false << QStringList { "Defined COM Port not available\n%1: no such device" };
}

void TestVoxStation::serialPortComesBack()
{
    QFETCH(bool, presentAtStart);
    QFETCH(QStringList, boxes);
    const QString link = m_work->filePath("ttyUSB-adapter");
    QString device = m_parts.pty;
    if (presentAtStart)
        QVERIFY(QFile::link(device, link));
    m_parts.pty = link; // the settings and the line readings go through the link
    m_loop = true;
    QVERIFY(startStation(m_parts.silence, 0, 0)); // Gain 0: every tick keys
    QSignalSpy lost(m_station.get(), &VoxStation::serialPortLost);
    QSignalSpy found(m_station.get(), &VoxStation::serialPortFound);
    if (presentAtStart) {
        QTRY_COMPARE_WITH_TIMEOUT(lines(), TIOCM_DTR | TIOCM_RTS, 10000);
        m_parts.closePort(); // unplugged
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 10000);
        QCOMPARE(lost.first().at(0).toString(), link);
        QVERIFY(QFile::remove(link));
        QVERIFY(m_parts.newPort());
        device = m_parts.pty;
        m_parts.pty = link;
    }
    QVERIFY(QFile::link(device, link));
    QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, 10000);
    QCOMPARE(found.first().at(0).toString(), link);
    QTRY_COMPARE_WITH_TIMEOUT(lines(), TIOCM_DTR | TIOCM_RTS, 10000);
    QCOMPARE(lost.size(), presentAtStart ? 1 : 0);
    QStringList expected;
    for (const QString& box : boxes)
        expected << box.arg(link);
    QCOMPARE(m_boxes.texts(), expected);
}

void TestVoxStation::openFailureSaysWhy_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << false << "no such device";
    // A user outside the group a port belongs to (dialout) cannot open it.
    QTest::newRow("not the user's") << true
                                    << "your user may not open it: add it to the dialout group "
                                       "(sudo adduser $USER dialout) and log in again";
}

void TestVoxStation::openFailureSaysWhy()
{
    QFETCH(bool, exists);
    QFETCH(QString, reason);
    if (exists && ::geteuid() == 0)
        QSKIP("root opens every device; .ci/run runs this suite as a user too");
    const QString device = m_work->filePath("ttyUSB7");
    if (exists) {
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions({}));
    }
    m_parts.pty = device;
    QVERIFY(startStation(m_parts.silence, 100, 10));
    QCOMPARE(m_boxes.texts(),
        QStringList { "Defined COM Port not available\n" + device + ": " + reason });
    QFile log(m_work->filePath("VOKEY.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromLocal8Bit(log.readAll())
                .contains("Defined COM Port not available: " + device + ": " + reason));
}

void TestVoxStation::noSerialPortNoMessage()
{
    // A station that keys its radio by CAT alone: an empty port name, no serial keying, and
    // nothing said about it, at the start or later.
    m_parts.pty.clear();
    QVERIFY(startStation(m_parts.silence, 0, 10));
    QTRY_COMPARE_WITH_TIMEOUT(server(RigId::A).ptt(), 1, 10000);
    QVERIFY(m_station->ModeText().endsWith(" Serial:none"));
    QVERIFY(!m_station->ComPort().Connected());
    QVERIFY(waitForTicks(70)); // past a retry of the serial port
    QCOMPARE(m_boxes.texts(), QStringList {});
}

QTEST_GUILESS_MAIN(TestVoxStation)
#include "tst_voxstation.moc"
