// Every way that ends keying releases every road, and nothing keys again behind it: mute and
// the engine going off while keyed, a line error whose first line fails, a signal while a
// settings dialog is open, the capture device going away with Delay 0, and the transmit
// time-out. Real rigctld dummies, a pseudo-terminal answered by the modem-line library, and
// for the lost device a PulseAudio daemon of this test's own that it kills.
#include "KeyingFixture.h"

#include "audio/PulseDaemon.h"

#include "serial/ComPort.h"
#include "serial/EComPort.h"
#include "widgets/ModalDriver.h"
#include "widgets/SelectionSlider.h"

#include <QTimer>

#include <csignal>

class TestTxSafety : public QObject, KeyingFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void releasedOnEveryRoad_data();
    void releasedOnEveryRoad();
    void lineErrorDropsRtsWhenDtrFails();
    void signalDuringSettingsDialog_data();
    void signalDuringSettingsDialog();
    void lostCaptureReleasesWithDelayZero();
    void timeOutReleasesUntilTheLevelFalls();

private:
    // Waits for `count` render ticks.
    bool waitTicks(int count)
    {
        QSignalSpy ticks(child<QTimer>("TimerRender"), &QTimer::timeout);
        return waitUntil([&] { return ticks.count() >= count; }, 10000);
    }
    bool keyedEverywhere() { return m_server1->ptt() == 1 && lines() == BothLines; }
    bool releasedEverywhere() { return m_server1->ptt() == 0 && lines() == 0; }

    PulseDaemon m_pulse;
};

void TestTxSafety::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    if (!modemlines_loaded())
        QSKIP("run with LD_PRELOAD=libvokey_modemlines_preload.so");
    QVERIFY(setUpKeyingCase());
}

void TestTxSafety::cleanupTestCase()
{
    m_pulse.stop();
}

void TestTxSafety::init()
{
    QVERIFY(setUpKeying());
}

void TestTxSafety::cleanup()
{
    tearDownKeying();
}

void TestTxSafety::releasedOnEveryRoad_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Mute") << "Mute";
    QTest::newRow("engine off") << "engine off";
}

void TestTxSafety::releasedOnEveryRoad()
{
    QFETCH(QString, way);
    // Gain 0 keys on every tick; Delay 100 would hold transmit 5 s after the last one.
    QVERIFY(startKeyed(0, 100));
    QTRY_VERIFY_WITH_TIMEOUT(keyedEverywhere(), 5000);
    modemlines_log_clear();
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    if (way == "Mute")
        m_form->MuteButtonClick();
    else
        m_form->PowerOn();

    // Released at once: the lines by the program itself, not by closing the port.
    QCOMPARE(transmit.size(), 1);
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!m_form->TxOn());
    const QList<modemlines_event> events = lineEvents();
    QVERIFY(events.size() >= 2);
    QCOMPARE(events[0].line, TIOCM_DTR);
    QCOMPARE(events[1].line, TIOCM_RTS);
    for (const modemlines_event& event : events.mid(0, 2)) {
        QCOMPARE(event.value, 0);
        QCOMPARE(QByteArray(event.cause), QByteArray("TIOCMBIC"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    // And it stays so: muted ticks go on without keying; an engine that is off has none.
    if (way == "Mute")
        QVERIFY(waitTicks(10));
    else
        QVERIFY(!child<QTimer>("TimerRender")->isActive());
    QCOMPARE(transmit.size(), 1);
    QCOMPARE(m_server1->ptt(), 0);
    QCOMPARE(m_server2->ptt(), 0);
    QCOMPARE(reports(), 0);
}

void TestTxSafety::lineErrorDropsRtsWhenDtrFails()
{
    QVERIFY(startKeyed(100, 1));
    m_form->SetTX(true);
    QCOMPARE(lines(), BothLines);
    QCOMPARE(modemlines_set_failing(m_pty.toLocal8Bit().constData(), TIOCM_DTR), 0);
    // DTR cannot be dropped; RTS is dropped all the same, and the failure is raised after.
    QVERIFY_THROWS_EXCEPTION(EComPort, m_form->ComPortError());
    QCOMPARE(lines(), TIOCM_DTR);
    QCOMPARE(modemlines_set_failing(m_pty.toLocal8Bit().constData(), 0), 0);
    m_form->SetTX(false);
}

void TestTxSafety::signalDuringSettingsDialog_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("Soundcard") << int(TForm1::CmdSoundcard);
    QTest::newRow("Comm Port") << int(TForm1::CmdCommPort);
}

void TestTxSafety::signalDuringSettingsDialog()
{
    QFETCH(int, command);
    QVERIFY(startKeyed(0, 2));
    m_form->show();
    QTRY_VERIFY_WITH_TIMEOUT(keyedEverywhere(), 5000);
    const QByteArray config = [this] {
        QFile file(path("VOKEY.INI"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    bool dialogClosedByProgram = false;
    vokeytest::ModalAction action([&](QWidget* dialog) {
        ::raise(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->isVisible(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 5000);
        dialogClosedByProgram = true;
    });
    m_form->SystemCommand(command);
    QVERIFY(action.ran());
    QVERIFY(dialogClosedByProgram);

    // The action stopped where it was: nothing written, nothing opened again.
    QVERIFY(!child<QTimer>("TimerRender")->isActive());
    QVERIFY(!m_form->ComPort().Connected());
    QFile file(path("VOKEY.INI"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), config);
    QVERIFY(!m_form->TxOn());
    QCOMPARE(lines(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
}

void TestTxSafety::lostCaptureReleasesWithDelayZero()
{
    if (!m_pulse.start(m_runtime.path(), "safety_sink"))
        QSKIP("pulseaudio is needed (scripts/install-deps)");
    // The default device is the daemon's null sink monitor: silence, which Gain 0 keys.
    m_soundCard = true;
    QVERIFY(startKeyed(0, 0));
    QTRY_VERIFY_WITH_TIMEOUT(keyedEverywhere(), 20000);
    QVERIFY(m_form->TxOn());

    QVERIFY(m_pulse.stop());
    // No audio: the ticks do not pass any more, and Delay 0 releases at the first of them.
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->TxOn(), 30000);
    QVERIFY(m_form->Running());
    QCOMPARE(lines(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QVERIFY(waitTicks(10));
    QVERIFY(releasedEverywhere());
}

void TestTxSafety::timeOutReleasesUntilTheLevelFalls()
{
    writeConfig("VOKEY.INI", { { "TXTIMEOUT", "1" } });
    QVERIFY(startKeyed(100, 2));
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    // Gain 0 keys on every tick: without a break, the time-out ends it after a second.
    auto* gain = child<SelectionSlider>("GainTrack");
    gain->setValue(0);
    QTRY_VERIFY_WITH_TIMEOUT(m_form->TimedOut(), 10000);
    QVERIFY(!transmit.isEmpty() && transmit.first().at(0).toBool());
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!m_form->TxOn());
    QCOMPARE(lines(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
    QVERIFY(!m_form->Muted());
    QVERIFY(child<QTimer>("TimerLed")->isActive()); // the lamp blinks as when muted
    QCOMPARE(m_boxes.texts(), QStringList { "Transmit time-out: released after 1 s" });
    // The level stays up (Gain 0): released it stays.
    QVERIFY(waitTicks(10));
    QVERIFY(m_form->TimedOut());
    QVERIFY(releasedEverywhere());

    // A tick below the Gain allows keying again.
    gain->setValue(100);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->TimedOut(), 5000);
    QVERIFY(!child<QTimer>("TimerLed")->isActive());
    // Keyed again; under load the radio may answer only after the next time-out, so the
    // keying itself is what is waited for.
    transmit.clear();
    gain->setValue(0);
    QTRY_VERIFY_WITH_TIMEOUT(!transmit.isEmpty() && transmit.first().at(0).toBool(), 5000);
}

QTEST_MAIN(TestTxSafety)
#include "tst_txsafety.moc"
