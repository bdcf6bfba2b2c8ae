// Renders the main window as it looks while keyed by speech, the picture of the README, and
// in silence. The test checks the pictures (the Gain meter's band among them); with
// VOKEY_SCREENSHOT=<file> it also saves them there, the one in silence with "-silence" before
// the extension (scripts/screenshot does that for docs/screenshot.png).
#include "WindowTestSupport.h"

#include "common/PtyPair.h"

#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TLed.h"

#include <QDir>
#include <QPixmap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestScreenshot : public QObject {
    Q_OBJECT

private slots:
    void window_data();
    void window();
};

namespace {

// Pixels of the Gain meter's band in the picture.
int bandPixels(const QImage& picture, const SelectionSlider& gain)
{
    const QRect area = gain.geometry();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += picture.pixelColor(x, y) == gain.bandColor();
    return count;
}

} // namespace

void TestScreenshot::window_data()
{
    QTest::addColumn<bool>("speech");
    QTest::addColumn<QString>("suffix"); // of the saved picture's name
    QTest::newRow("keyed by speech") << true << "";
    QTest::newRow("silence") << false << "-silence";
}

void TestScreenshot::window()
{
    QFETCH(bool, speech);
    QFETCH(QString, suffix);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    // The recording plays from the start-up on, over and over: however late the window is
    // shown on a loaded machine, the phrase comes again.
    if (!speech)
        QVERIFY(writeTestWav(dir.filePath("speech.wav"), 2.0));
    else if (!makeSpeechWav(dir.filePath("speech.wav"), { .before = 0.3, .after = 1.0 }))
        QSKIP("espeak-ng and sox are needed to make the test speech");
    const QString startDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    WriteProfileString(dir.filePath("VOKEY.INI"), "SETTINGS", "GAIN", "12");
    WriteProfileString(dir.filePath("VOKEY.INI"), "SETTINGS", "DELAY", "20");
    // No radios: it keys, and must never reach a rigctld running here on the usual ports.
    WriteProfileString(dir.filePath("VOKEY.INI"), "RIG1", "HOST", "");
    WriteProfileString(dir.filePath("VOKEY.INI"), "RIG2", "HOST", "");
    // A pseudo-terminal as the port, so the picture shows an open port and no real device
    // is touched.
    PtyPair port;
    port.CloseSlave();
    QVERIFY(port.IsOpen());
    WriteProfileString(dir.filePath("VOKEY.INI"), "SETTINGS", "COMPORT",
        port.SlavePath().remove(QRegularExpression("^/dev/")));

    RecordingMessageBoxes boxes;
    TForm1Options options;
    options.audioFile = dir.filePath("speech.wav");
    options.audioLoop = true;
    options.messages = &boxes;
    {
        TForm1 form(options);
        form.FormCreate();
        QVERIFY(boxes.boxes.isEmpty());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* led = form.findChild<TLed*>("LedOn");
        auto* gain = form.findChild<SelectionSlider*>("GainTrack");
        QVERIFY(gain);
        if (speech) {
            // Keyed, with a good part of the phrase on the meter.
            QTRY_VERIFY_WITH_TIMEOUT(
                form.Station().TxOn() && form.Station().Detector().levelHistory()[15] > 20, 10000);
        } else {
            // A second of ticks over silence.
            QSignalSpy ticks(&form.Station(), &VoxStation::meterChanged);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 30, 10000);
        }
        const QImage picture = form.grab().toImage();
        QCOMPARE(picture.size(), form.size());
        // Speech: the lit transmit lamp, a spectrum that is not all black and the level band
        // on the Gain meter. Silence: the lamp off, a black spectrum and no band.
        const QPoint lamp = led->geometry().center();
        QCOMPARE(led->isOn(), speech);
        if (speech)
            QVERIFY(picture.pixelColor(lamp).green() > 200);
        bool spectrum = false;
        for (int x = 8; x < 8 + 241 && !spectrum; ++x)
            spectrum = picture.pixelColor(x, 8 + 168) != QColor(Qt::black);
        QCOMPARE(spectrum, speech);
        const int band = bandPixels(picture, *gain);
        QVERIFY2(speech ? band > 100 : band == 0, qPrintable(QString::number(band)));
        QString out = qEnvironmentVariable("VOKEY_SCREENSHOT");
        if (!out.isEmpty()) {
            out.insert(out.endsWith(".png") ? out.size() - 4 : out.size(), suffix);
            QVERIFY(picture.save(QDir(startDir).absoluteFilePath(out)));
        }
    }
    QDir::setCurrent(startDir);
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
