// The rig link's settings window: what it shows, what OK and Cancel store, the radio list of
// the real rigctld, and the PTT test button. Apply and the PTT test in the program: see
// tests/window/tst_rigsettingswindow.cpp.
#include "common/RigTestSupport.h"
#include "core/IniProfile.h"
#include "rig/OmniRigX.h"
#include "rig/RigModelList.h"
#include "widgets/RigSettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {
TRigSettingsDialog* openDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<TRigSettingsDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

const QString None = QStringLiteral("none");
const QString Running = QStringLiteral("Use a rigctld already running at host:port");
const QString Start = QStringLiteral("Start rigctld for this radio");

template <class T> T* child(QWidget& parent, const QString& name)
{
    T* widget = parent.findChild<T*>(name);
    if (!widget)
        qFatal("no widget %s", qPrintable(name));
    return widget;
}

QPushButton* okButton(QWidget& dialog)
{
    return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// The radio list of the real rigctld, read once for all tests.
bool modelsLoaded()
{
    TRigModelReader* reader = TRigModelReader::shared();
    QSignalSpy finished(reader, &TRigModelReader::finished);
    return !reader->isLoading() || finished.wait(20000);
}

// The radios the list shows, as "Maker Model".
QStringList shownModels(QWidget& dialog, const QString& rig)
{
    QStringList shown;
    auto* list = child<QTreeWidget>(dialog, rig + "Models");
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (!list->topLevelItem(i)->isHidden())
            shown << list->topLevelItem(i)->text(0) + ' ' + list->topLevelItem(i)->text(1);
    }
    return shown;
}

RigSettings startRig1(const RigServerOptions& server, quint16 port = 4532)
{
    RigSettings settings = RigSettings::defaults();
    settings.rig(RigId::A) = { "127.0.0.1", port };
    settings.server(RigId::A) = server;
    return settings;
}

void writeFile(const QString& fileName, const QByteArray& text)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}
}

class tst_RigSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(modelsLoaded()); }
    void dialogWritesSettings();
    void roundTrip_data();
    void roundTrip();
    void pttDevice_data();
    void pttDevice();
    void filter_data();
    void filter();
    void startNeedsModel_data();
    void startNeedsModel();
    void testPtt_data();
    void testPtt();
};

void tst_RigSettingsDialog::dialogWritesSettings()
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("VOKEY.INI"));
    writeFile(config, "[SETTINGS]\nGAIN=5\n");
    TOmniRigX omniRig;
    omniRig.SetTimings(fastTimings());
    omniRig.SetConfigFile(config);
    omniRig.SetSettingsViewFactory(RigSettingsDialogFactory());
    EventRecorder recorder(&omniRig);

    omniRig.SetDialogVisible(true);
    QVERIFY(omniRig.DialogVisible());
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 1);
    TRigSettingsDialog* dialog = openDialog();
    QVERIFY(dialog);
    auto* rig1Kind = child<QComboBox>(*dialog, "Rig1Kind");
    auto* rig2Kind = child<QComboBox>(*dialog, "Rig2Kind");
    auto* rig1Port = child<QSpinBox>(*dialog, "Rig1Port");
    QCOMPARE(rig1Kind->currentText(), Running);
    QCOMPARE(rig2Kind->currentText(), Running);
    QCOMPARE(child<QLineEdit>(*dialog, "Rig1Host")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(rig1Port->value(), 4532);
    QCOMPARE(child<QSpinBox>(*dialog, "Rig2Port")->value(), 4534);

    // OK only for hosts the link can reach; an IPv6 address is written in brackets.
    auto* rig1Host = child<QLineEdit>(*dialog, "Rig1Host");
    QPushButton* ok = okButton(*dialog);
    rig1Host->setText(QStringLiteral("[::1"));
    QVERIFY(!ok->isEnabled());
    rig1Kind->setCurrentText(None);
    QVERIFY(ok->isEnabled());
    rig1Kind->setCurrentText(Running);
    rig1Host->setText(QStringLiteral("[::1]"));
    QVERIFY(ok->isEnabled());
    rig1Port->setValue(4600);
    rig2Kind->setCurrentText(None);
    ok->click();
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 2);
    QVERIFY(!omniRig.DialogVisible());
    QCOMPARE(ReadProfileString(config, "RIG1", "HOST", "?"), QStringLiteral("[::1]"));
    QCOMPARE(ReadProfileString(config, "RIG1", "PORT", "?"), QStringLiteral("4600"));
    QCOMPARE(ReadProfileString(config, "RIG2", "HOST", "?"), QString());
    QCOMPARE(ReadProfileString(config, "SETTINGS", "GAIN", "?"), QStringLiteral("5"));
    QTRY_COMPARE(omniRig.Rig2()->Status(), int(rsNotConfigured));
    QCOMPARE(recorder.statuses(2).last(), int(rsNotConfigured));
    QCOMPARE(omniRig.Settings().rig(RigId::A), (RigEndpoint { "[::1]", 4600 }));

    // Cancel changes nothing.
    omniRig.SetDialogVisible(true);
    dialog = openDialog();
    QVERIFY(dialog);
    QCOMPARE(child<QComboBox>(*dialog, "Rig2Kind")->currentText(), None);
    child<QSpinBox>(*dialog, "Rig1Port")->setValue(4700);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 4);
    QCOMPARE(ReadProfileString(config, "RIG1", "PORT", "?"), QStringLiteral("4600"));
    QCOMPARE(ReadRigSettings(config).rig(RigId::A).port, 4600);
}

void tst_RigSettingsDialog::roundTrip_data()
{
    QTest::addColumn<RigSettings>("settings");
    QTest::addColumn<QString>("radio"); // what the window says about rig A's radio
    RigSettings none = RigSettings::defaults();
    none.rig(RigId::A) = {};
    QTest::newRow("none") << none << "No radio chosen";
    RigSettings running = RigSettings::defaults();
    running.rig(RigId::A) = { "radio.local", 4600 };
    QTest::newRow("running") << running << "No radio chosen";
    QTest::newRow("start, every field")
        << startRig1({ 3073, "/dev/ttyUSB0", 19200, "DTR", "/dev/ttyUSB1" }, 4540)
        << "Icom IC-7300 (Hamlib model 3073)";
    QTest::newRow("start, typed speed, network radio")
        << startRig1({ 2031, "192.168.1.5:4992", 31250, "CM108", "/dev/hidraw0" })
        << "Kenwood TS-590S (Hamlib model 2031)";
    QTest::newRow("start, defaults") << startRig1({ 1 }) << "Hamlib Dummy (Hamlib model 1)";
    RigSettings both = startRig1({ 1, "", 0, "RIG", "" });
    both.server(RigId::B) = { 3073, "/dev/ttyACM0", 115200, "NONE", "" };
    QTest::newRow("start, both rigs") << both << "Hamlib Dummy (Hamlib model 1)";
}

void tst_RigSettingsDialog::roundTrip()
{
    QFETCH(RigSettings, settings);
    QFETCH(QString, radio);
    TRigSettingsDialog dialog;
    dialog.setSettings(settings);
    QCOMPARE(dialog.settings(), settings);
    QCOMPARE(child<QLabel>(dialog, "Rig1Radio")->text(), radio);
}

void tst_RigSettingsDialog::pttDevice_data()
{
    QTest::addColumn<QString>("method"); // as shown
    QTest::addColumn<bool>("device");
    QTest::newRow("CAT") << "CAT" << false;
    QTest::newRow("DTR") << "DTR" << true;
    QTest::newRow("RTS") << "RTS" << true;
    QTest::newRow("CM108") << "CM108" << true;
    QTest::newRow("GPIO") << "GPIO" << true;
    QTest::newRow("GPION") << "GPION" << true;
    QTest::newRow("NONE") << "NONE" << false;
}

void tst_RigSettingsDialog::pttDevice()
{
    QFETCH(QString, method);
    QFETCH(bool, device);
    TRigSettingsDialog dialog;
    dialog.setSettings(startRig1({ 1, "", 0, "DTR", "/dev/ttyUSB1" }));
    child<QComboBox>(dialog, "Rig1Ptt")->setCurrentText(method);
    QCOMPARE(child<QComboBox>(dialog, "Rig1Ptt")->currentText(), method);
    QCOMPARE(child<QComboBox>(dialog, "Rig1PttDevice")->isEnabled(), device);
    QCOMPARE(dialog.settings().server(RigId::A).pttDevice, device ? "/dev/ttyUSB1" : "");
}

void tst_RigSettingsDialog::filter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("model number") << "7300" << QStringList { "Icom IC-7300" };
    QTest::newRow("maker and model, any case")
        << "kenwood 590" << QStringList { "Kenwood TS-590S", "Kenwood TS-590SG" };
    QTest::newRow("Hamlib number") << "3073" << QStringList { "Icom IC-7300" };
}

void tst_RigSettingsDialog::filter()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, shown);
    TRigSettingsDialog dialog;
    dialog.setSettings(startRig1({ 1 }));
    QVERIFY(shownModels(dialog, "Rig1").size() > 200);
    QTest::keyClicks(child<QLineEdit>(dialog, "Rig1Filter"), filter);
    QCOMPARE(shownModels(dialog, "Rig1"), shown);
    QVERIFY(shownModels(dialog, "Rig2").size() > 200); // each rig has its own
    // Enter takes the first radio left, and leaves the window open.
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::keyClick(child<QLineEdit>(dialog, "Rig1Filter"), Qt::Key_Return);
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(child<QLabel>(dialog, "Rig1Radio")->text().section(" (", 0, 0), shown.first());
}

void tst_RigSettingsDialog::startNeedsModel_data()
{
    QTest::addColumn<QByteArray>("program"); // rigctld for the list; empty: the shared list
    QTest::addColumn<int>("model"); // the radio chosen before OK
    QTest::addColumn<QString>("listText"); // the list's only line; empty: the radios
    QTest::addColumn<QString>("why"); // OK's tool tip; empty: enabled
    QTest::newRow("list loading") << QByteArray("rigctld") << 0 << "Loading the radio list…"
                                  << "Rig A: choose the radio once the list has loaded";
    QTest::newRow("rigctld missing")
        << QByteArray("/nonexistent/rigctld") << 0
        << "rigctld not found: install Debian's libhamlib-utils"
        << "Rig A: no radio list: rigctld not found: install Debian's libhamlib-utils";
    QTest::newRow("no radio chosen")
        << QByteArray() << 0 << QString() << "Rig A: choose the radio from the list";
    QTest::newRow("radio chosen") << QByteArray() << 3073 << QString() << QString();
}

void tst_RigSettingsDialog::startNeedsModel()
{
    QFETCH(QByteArray, program);
    QFETCH(int, model);
    QFETCH(QString, listText);
    QFETCH(QString, why);
    const QByteArray saved = qgetenv("VOKEY_RIGCTLD");
    qputenv("VOKEY_RIGCTLD", program);
    TRigModelReader reader;
    reader.start();
    qputenv("VOKEY_RIGCTLD", saved);
    QSignalSpy finished(&reader, &TRigModelReader::finished);
    // A list being loaded is shown before the event loop runs again.
    if (program.startsWith('/'))
        QVERIFY(!reader.isLoading() || finished.wait(20000));
    TRigSettingsDialog dialog(nullptr, program.isEmpty() ? TRigModelReader::shared() : &reader);
    child<QComboBox>(dialog, "Rig1Kind")->setCurrentText(Start);
    auto* list = child<QTreeWidget>(dialog, "Rig1Models");
    if (!listText.isEmpty()) {
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), listText);
        list->setCurrentItem(list->topLevelItem(0)); // not a radio: chooses nothing
    }
    for (int i = 0; model && i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->data(0, Qt::UserRole).toInt() == model)
            list->setCurrentItem(list->topLevelItem(i));
    }
    QCOMPARE(dialog.settings().server(RigId::A).model, model);
    QCOMPARE(okButton(dialog)->isEnabled(), why.isEmpty());
    QCOMPARE(okButton(dialog)->toolTip(), why);
}

void tst_RigSettingsDialog::testPtt_data()
{
    QTest::addColumn<RigId>("rig");
    QTest::addColumn<RigSettings>("settings");
    QTest::addColumn<bool>("available");
    QTest::addColumn<bool>("change"); // the port changed after the settings were given
    QTest::addColumn<QString>("why"); // the button's tool tip; empty: enabled
    const RigSettings start = startRig1({ 1 });
    RigSettings none = RigSettings::defaults();
    none.rig(RigId::B) = {};
    QTest::newRow("started rig") << RigId::A << start << true << false << QString();
    QTest::newRow("running rig B") << RigId::B << start << true << false << QString();
    QTest::newRow("owner says no")
        << RigId::A << start << false << false << "rigctld for Rig A is not running";
    QTest::newRow("changed") << RigId::A << start << true << true
                             << "Apply the changed settings first";
    QTest::newRow("none") << RigId::B << none << true << false << "Rig B is set to none";
}

void tst_RigSettingsDialog::testPtt()
{
    QFETCH(RigId, rig);
    QFETCH(RigSettings, settings);
    QFETCH(bool, available);
    QFETCH(bool, change);
    QFETCH(QString, why);
    TRigSettingsDialog dialog;
    QSignalSpy tests(&dialog, &TRigSettingsDialog::testPtt);
    dialog.setSettings(settings);
    dialog.setTestAvailable(rig, available, available ? "" : "rigctld for Rig A is not running");
    const QString name = QStringLiteral("Rig%1").arg(rigNumber(rig));
    if (change)
        child<QSpinBox>(dialog, name + "Port")->setValue(4600);
    auto* button = child<QPushButton>(dialog, name + "TestPtt");
    QCOMPARE(button->isEnabled(), why.isEmpty());
    QCOMPARE(button->toolTip(), why);
    // The other rig's button waits for its own word.
    QVERIFY(!child<QPushButton>(dialog, QStringLiteral("Rig%1TestPtt").arg(3 - rigNumber(rig)))
                 ->isEnabled());
    button->click();
    QCOMPARE(tests.count(), why.isEmpty() ? 1 : 0);
    if (why.isEmpty())
        QCOMPARE(tests.first().first().value<RigId>(), rig);
    dialog.showTestResult(rig, "transmit confirmed after 12 ms");
    QCOMPARE(child<QLabel>(dialog, name + "TestResult")->text(), "transmit confirmed after 12 ms");
}

QTEST_MAIN(tst_RigSettingsDialog)
#include "tst_rigsettingsdialog.moc"
