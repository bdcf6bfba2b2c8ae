// A signal while a settings dialog is open releases every road, and nothing keys again behind
// it. Real rigctld dummies and a pseudo-terminal answered by the modem-line library.
#include "KeyingFixture.h"

#include "serial/ComPort.h"
#include "widgets/ModalDriver.h"

#include <QTimer>

#include <csignal>

class TestTxSafety : public QObject, KeyingFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void signalDuringSettingsDialog_data();
    void signalDuringSettingsDialog();

private:
    bool keyedEverywhere() { return m_server1->ptt() == 1 && lines() == BothLines; }
};

void TestTxSafety::initTestCase()
{
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    if (!modemlines_loaded())
        QSKIP("run with LD_PRELOAD=libvokey_modemlines_preload.so");
    QVERIFY(setUpKeyingCase());
}

void TestTxSafety::init()
{
    QVERIFY(setUpKeying());
}

void TestTxSafety::cleanup()
{
    tearDownKeying();
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
    QVERIFY(!m_form->Station().ComPort().Connected());
    QFile file(path("VOKEY.INI"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), config);
    QVERIFY(!m_form->Station().TxOn());
    QCOMPARE(lines(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server1->ptt(), 0, 5000);
}

QTEST_MAIN(TestTxSafety)
#include "tst_txsafety.moc"
