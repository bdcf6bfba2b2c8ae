// The capture device across a change of device numbers (a USB sound interface plugged in or
// out): two ALSA capture devices whose order in the ALSA configuration is swapped between
// runs, and the Soundcard action picking one of them.
#include "WindowFixture.h"

#include "audio/AudioEngine.h"
#include "widgets/ModalDriver.h"
#include "widgets/TForm2.h"

#include <QComboBox>
#include <QPushButton>

class TestSoundDevice : public QObject, WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void deviceFoundByName_data();
    void deviceFoundByName();
    void soundcardActionStoresNumberAndName();

private:
    // The ALSA configuration with the two devices in this order.
    bool configure(const QStringList& order);
    // PortAudio's number of the recording device `name` under the current configuration.
    static int deviceNumber(const QByteArray& name);

    QString m_raw;
    QString m_conf;
};

void TestSoundDevice::initTestCase()
{
    QVERIFY(setUpCase());
    m_raw = m_runtime.filePath("silence.raw");
    QFile raw(m_raw);
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write(QByteArray(4 * 44100, '\0'));
    raw.close();
    m_conf = m_runtime.filePath("asound.conf");
    qputenv("ALSA_CONFIG_PATH", m_conf.toLocal8Bit());
}

void TestSoundDevice::init()
{
    QVERIFY(setUp());
    m_soundCard = true;
}

void TestSoundDevice::cleanup()
{
    tearDown();
}

bool TestSoundDevice::configure(const QStringList& order)
{
    // The system configuration first: PortAudio's device scan needs its definitions.
    QString text = QStringLiteral("</usr/share/alsa/alsa.conf>\n");
    for (const QString& name : order)
        text += QStringLiteral(R"(pcm.%1_file {
    type file
    slave.pcm "null"
    file "/dev/null"
    infile "%2"
    format "raw"
}
pcm.%1 {
    type plug
    slave { pcm "%1_file" format S16_LE rate 44100 channels 2 }
}
)")
                    .arg(name, m_raw);
    // ALSA reads the file again when it has changed.
    QFile file(m_conf);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(text.toUtf8()) == text.toUtf8().size();
}

int TestSoundDevice::deviceNumber(const QByteArray& name)
{
    AudioEngine engine;
    AudioDeviceInfo info;
    for (int device = 0; engine.RecordGetDeviceInfo(device, &info); ++device) {
        if (info.name == name)
            return device;
    }
    return -1;
}

void TestSoundDevice::deviceFoundByName_data()
{
    QTest::addColumn<QString>("name"); // DEVICENAME
    QTest::addColumn<bool>("followed"); // the device of that name is used
    QTest::newRow("moved: found by its name") << "vox_a" << true;
    QTest::newRow("name not present: the number stays") << "vox_gone" << false;
}

void TestSoundDevice::deviceFoundByName()
{
    QFETCH(QString, name);
    QFETCH(bool, followed);
    QVERIFY(configure({ "vox_a", "vox_b" }));
    const int before = deviceNumber("vox_a");
    QVERIFY(configure({ "vox_b", "vox_a" }));
    const int after = deviceNumber("vox_a");
    QVERIFY2(before >= 0 && after >= 0 && before != after,
        qPrintable(QStringLiteral("vox_a is device %1, then %2").arg(before).arg(after)));

    writeConfig("VOKEY.INI", { { "DEVICE", QString::number(before) }, { "DEVICENAME", name } });
    QVERIFY(start());
    const int used = followed ? after : before;
    QCOMPARE(m_form->Station().InputDevice(), used);
    QCOMPARE(m_form->StatusText(),
        QStringLiteral("Soundcard:%1 %2 Serial:COM1").arg(used).arg(followed ? "vox_a" : "vox_b"));
    QFile log(path("VOKEY.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().contains("\"vox_a\" is device"), followed);
}

void TestSoundDevice::soundcardActionStoresNumberAndName()
{
    QVERIFY(configure({ "vox_b", "vox_a" }));
    const int device = deviceNumber("vox_b");
    QVERIFY(device >= 0);
    QVERIFY(start());
    vokeytest::ModalAction pick([device](QWidget* modal) {
        auto* dialog = qobject_cast<TForm2*>(modal);
        QVERIFY(dialog);
        dialog->ComboBox4()->setCurrentIndex(device + 1); // entry 0 is "Default"
        dialog->Button1()->click();
    });
    m_form->SystemCommand(TForm1::CmdSoundcard);
    QVERIFY(pick.ran());
    QCOMPARE(
        ReadProfileString(path("VOKEY.INI"), "SETTINGS", "DEVICE", ""), QString::number(device));
    QCOMPARE(ReadProfileString(path("VOKEY.INI"), "SETTINGS", "DEVICENAME", ""), "vox_b");
    QCOMPARE(m_form->StatusText(), QStringLiteral("Soundcard:%1 vox_b Serial:COM1").arg(device));
    QVERIFY(m_form->Station().Running());
}

QTEST_MAIN(TestSoundDevice)
#include "tst_sounddevice.moc"
