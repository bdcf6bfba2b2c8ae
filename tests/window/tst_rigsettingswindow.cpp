// The rig settings window in the program: Test PTT keys a radio through its rigctld, one
// already running or one the window has just set up and applied, and shows what the radio
// did. A settings change waits for no rigctld that is slow to end.
#include "KeyingFixture.h"

#include "common/ProcessState.h"

#include "widgets/RigSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTreeWidget>

class TestRigSettingsWindow : public QObject, KeyingFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!RigctldServer::available())
            QSKIP("rigctld is needed");
        QVERIFY(setUpKeyingCase());
    }
    void init()
    {
        QVERIFY(setUpKeying());
        writeConfig("VOKEY.INI", { { "COMPORT", "COM1" } }); // CAT alone
    }
    void cleanup() { tearDownKeying(); }
    void testPtt_data();
    void testPtt();
    void closingTheWindowEndsTheTest();
    void applyingWaitsForNoStuckServer();

private:
    TRigSettingsDialog* openWindow();
};

TRigSettingsDialog* TestRigSettingsWindow::openWindow()
{
    m_form->Station().OmniRig()->SetDialogVisible(true);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<TRigSettingsDialog*>(widget); found && found->isVisible())
            return found;
    }
    return nullptr;
}

void TestRigSettingsWindow::testPtt_data()
{
    QTest::addColumn<bool>("startHere");
    QTest::newRow("rigctld already running") << false;
    QTest::newRow("rigctld started for the dummy radio") << true;
}

void TestRigSettingsWindow::testPtt()
{
    QFETCH(bool, startHere);
    QVERIFY(startKeyed(100, 1)); // the silence never keys
    TOmniRigX* link = m_form->Station().OmniRig();
    TRigSettingsDialog* dialog = openWindow();
    QVERIFY(dialog);
    auto* test = dialog->findChild<QPushButton*>("Rig1TestPtt");
    if (startHere) {
        dialog->findChild<QComboBox*>("Rig1Kind")->setCurrentText("Start rigctld for this radio");
        auto* filter = dialog->findChild<QLineEdit*>("Rig1Filter");
        QTRY_VERIFY_WITH_TIMEOUT(
            dialog->findChild<QTreeWidget*>("Rig1Models")->topLevelItemCount() > 200, 20000);
        QTest::keyClicks(filter, "hamlib dummy");
        QTest::keyClick(filter, Qt::Key_Return);
        dialog->findChild<QSpinBox*>("Rig1Port")->setValue(freeLoopbackPort());
        QVERIFY(!test->isEnabled());
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
        QCOMPARE(ReadProfileString(path("VOKEY.INI"), "RIG1", "MODEL", "?"), "1");
        QTRY_VERIFY_WITH_TIMEOUT(link->ServerProcessId(RigId::A) > 0, 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(test->isEnabled(), 10000);
    test->click();
    auto* result = dialog->findChild<QLabel*>("Rig1TestResult");
    const QRegularExpression done(
        "^transmit confirmed after \\d+ ms, receive confirmed after \\d+ ms$");
    QTRY_VERIFY_WITH_TIMEOUT(done.match(result->text()).hasMatch(), 10000);
    qInfo().noquote() << "Test PTT:" << result->text(); // the round trip, for the record
    if (!startHere)
        QCOMPARE(m_server1->ptt(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(test->isEnabled(), 10000); // once more, when wanted
}

void TestRigSettingsWindow::closingTheWindowEndsTheTest()
{
    // A radio slow to confirm: the window is closed while the test waits for it.
    FakeRigctld slow(FakeRigctld::Mode::Good);
    QVERIFY(slow.listen());
    slow.keyDelayMs = 3000;
    configureRigs(slow.endpoint(), m_server2->endpoint());
    QVERIFY(startKeyed(100, 1));
    TRigSettingsDialog* dialog = openWindow();
    QVERIFY(dialog);
    auto* test = dialog->findChild<QPushButton*>("Rig1TestPtt");
    QTRY_VERIFY_WITH_TIMEOUT(test->isEnabled(), 10000);
    QSignalSpy shown(m_form->Station().OmniRig(), &TOmniRigX::OnVisibleChange);
    test->click();
    QCOMPARE(m_form->Station().PttTestRig(), std::optional<RigId>(RigId::A));
    dialog->reject();
    QVERIFY(shown.wait(5000));
    // Ended with the window, before the radio answered; the release follows the keying, and
    // the road counts as keyed until the radio confirmed it.
    QCOMPARE(m_form->Station().PttTestRig(), std::nullopt);
    QVERIFY(m_form->Station().Road(RigId::A).keyed());
    QTRY_COMPARE_WITH_TIMEOUT(slow.pttWrites, QList<QByteArray>({ "1", "0" }), 10000);
    QCOMPARE(slow.ptt, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->Station().Road(RigId::A).keyed(), 5000);
}

void TestRigSettingsWindow::applyingWaitsForNoStuckServer()
{
    // A rigctld that goes on serving after SIGTERM ends only on the SIGKILL a second later.
    QFile deaf(path("deaf-rigctld"));
    QVERIFY(deaf.open(QIODevice::WriteOnly));
    deaf.write("#!/bin/sh\ntrap '' TERM\nexec rigctld \"$@\"\n");
    deaf.close();
    QVERIFY(deaf.setPermissions(deaf.permissions() | QFile::ExeOwner));
    qputenv("VOKEY_RIGCTLD", deaf.fileName().toLocal8Bit());
    const auto restore = qScopeGuard([] { qunsetenv("VOKEY_RIGCTLD"); });
    const QString ini = path("VOKEY.INI");
    WriteProfileString(ini, "RIG1", "MODEL", "1");
    WriteProfileString(ini, "RIG1", "PORT", QString::number(freeLoopbackPort()));
    QVERIFY(startKeyed(100, 1));
    TOmniRigX* link = m_form->Station().OmniRig();
    const qint64 old = link->ServerProcessId(RigId::A);
    QVERIFY(old > 0);
    QSignalSpy started(link, &TOmniRigX::OnServerStarted);
    QSignalSpy exited(link, &TOmniRigX::OnServerExited);
    bool onlineThroughOld = false;
    connect(link, &TOmniRigX::OnStatusChange, this,
        [&] { onlineThroughOld |= rigOnline(RigId::A) && exited.isEmpty(); });
    TRigSettingsDialog* dialog = openWindow();
    QVERIFY(dialog);
    dialog->findChild<QComboBox*>("Rig1Speed")->setCurrentText("9600");
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
    QVERIFY(processAlive(old)); // the click did not wait for its end
    // The new one on the same port once the old one has gone, and the radio online on it.
    QTRY_VERIFY_WITH_TIMEOUT(rigOnline(RigId::A) && started.size() == 1, 10000);
    QCOMPARE(exited.size(), 1);
    QCOMPARE(exited[0][1], QVariant("signal 9"));
    QVERIFY(started[0][1].toLongLong() != old);
    QVERIFY(!processAlive(old));
    QVERIFY(!onlineThroughOld);
}

QTEST_MAIN(TestRigSettingsWindow)
#include "tst_rigsettingswindow.moc"
