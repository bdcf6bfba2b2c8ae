#include <widgets/TForm2.h>

#include "ModalDriver.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestForm2 : public QObject {
    Q_OBJECT

private slots:
    void listAndSelection_data();
    void listAndSelection();
    void labelAndListFollowMode();
    void windowUsage();
    void closingKeepsDevice();
};

namespace {
const QStringList threeDevices { "pulse", "default", "sysdefault" };
}

void TestForm2::listAndSelection_data()
{
    QTest::addColumn<int>("device");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("shownEntry");
    QTest::addColumn<QString>("deviceName");
    QTest::addColumn<int>("pick"); // entry the user chooses, -1 for none
    QTest::addColumn<int>("result");

    QTest::newRow("default kept") << -1 << threeDevices << 0 << "Default" << -1 << -1;
    QTest::newRow("device 2 kept") << 2 << threeDevices << 3 << "sysdefault" << -1 << 2;
    QTest::newRow("no devices") << -1 << QStringList() << 0 << "Default" << -1 << -1;
    QTest::newRow("pick device 1") << -1 << threeDevices << 0 << "Default" << 2 << 1;
    QTest::newRow("pick Default") << 1 << threeDevices << 2 << "default" << 0 << -1;
    // A device that went away: nothing is shown, and Ok without a choice keeps the setting.
    QTest::newRow("unknown kept") << 5 << threeDevices << -1 << "" << -1 << 5;
    QTest::newRow("unknown, pick device 0") << 5 << threeDevices << -1 << "" << 1 << 0;
    QTest::newRow("negative unknown kept") << -7 << threeDevices << -1 << "" << -1 << -7;
}

void TestForm2::listAndSelection()
{
    QFETCH(int, device);
    QFETCH(QStringList, names);
    QFETCH(int, shownEntry);
    QFETCH(QString, deviceName);
    QFETCH(int, pick);
    QFETCH(int, result);

    TForm2 form;
    form.setDeviceNames(names, {});
    form.setDevice(device);
    form.setSO2RMode(TSO2RMode::ddIn);
    form.SetList();

    QStringList expected { "Default" };
    expected += names;
    QStringList shown;
    for (int i = 0; i < form.ComboBox4()->count(); ++i)
        shown << form.ComboBox4()->itemText(i);
    QCOMPARE(shown, expected);
    QCOMPARE(form.ComboBox4()->currentIndex(), shownEntry);
    QCOMPARE(form.DeviceName(), deviceName);

    vokeytest::ModalAction driver([&](QWidget*) {
        if (pick >= 0)
            form.ComboBox4()->setCurrentIndex(pick);
        QTest::mouseClick(form.Button1(), Qt::LeftButton);
    });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QVERIFY(driver.ran());
    QCOMPARE(form.Device(), result);
}

void TestForm2::labelAndListFollowMode()
{
    for (TSO2RMode mode : { TSO2RMode::ddIn, TSO2RMode::ddOut }) {
        TForm2 form;
        form.setDeviceNames({ "capture" }, { "speaker", "headset" });
        form.setSO2RMode(mode);
        form.setDevice(0);
        form.SetList();
        const bool in = mode == TSO2RMode::ddIn;
        QCOMPARE(form.Label4()->text(),
            in ? QString("Input Soundcard device") : QString("Output Soundcard device"));
        QCOMPARE(form.ComboBox4()->count(), in ? 2 : 3);
        QCOMPARE(form.DeviceName(), in ? QString("capture") : QString("speaker"));
    }
}

void TestForm2::windowUsage()
{
    // The window's sequence: caption and prompt first, then SetList, which sets the prompt
    // again; the names come from a callable that ends at the first missing device.
    int asked = 0;
    TForm2 form;
    form.setWindowTitle("Select Input Device");
    form.Label4()->setText("Select Input");
    form.setDevice(1);
    form.setSO2RMode(TSO2RMode::ddIn);
    form.setDeviceNameSource([&](TSO2RMode mode, int n) -> std::optional<QString> {
        ++asked;
        if (mode != TSO2RMode::ddIn || n > 1)
            return std::nullopt;
        return QString("dev%1").arg(n);
    });
    form.SetList();
    QCOMPARE(form.windowTitle(), QString("Select Input Device"));
    QCOMPARE(form.Label4()->text(), QString("Input Soundcard device"));
    QCOMPARE(form.ComboBox4()->count(), 3);
    QCOMPARE(form.ComboBox4()->currentText(), QString("dev1"));
    QCOMPARE(form.DeviceName(), QString("dev1"));
    QCOMPARE(asked, 4); // the device's own name, then devices 0, 1 and the missing 2
}

void TestForm2::closingKeepsDevice()
{
    TForm2 form;
    form.setDeviceNames(threeDevices, {});
    form.setDevice(2);
    form.SetList();
    vokeytest::ModalAction driver([&](QWidget* modal) {
        form.ComboBox4()->setCurrentIndex(0);
        modal->close(); // the window's close button
    });
    QCOMPARE(form.exec(), int(QDialog::Rejected));
    QVERIFY(driver.ran());
    QCOMPARE(form.Device(), 2);
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
