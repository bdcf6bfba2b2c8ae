// Renders the main window as it looks while keyed by speech: the picture of the README.
// The test checks the picture; with VOKEY_SCREENSHOT=<file> it also saves it there
// (scripts/screenshot does that for docs/screenshot.png).
#include "WindowTestSupport.h"

#include "common/PtyPair.h"

#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "widgets/TLed.h"

#include <QDir>
#include <QPixmap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestScreenshot : public QObject {
    Q_OBJECT

private slots:
    void windowWhileKeyed();
};

void TestScreenshot::windowWhileKeyed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    // The recording plays from the start-up on, over and over: however late the window is
    // shown on a loaded machine, the phrase comes again.
    if (!makeSpeechWav(dir.filePath("speech.wav"), { .before = 0.3, .after = 1.0 }))
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
    options.arguments = { "vokey" };
    options.audioFile = dir.filePath("speech.wav");
    options.audioLoop = true;
    options.messages = &boxes;
    {
        TForm1 form(options);
        QVERIFY(form.FormCreate());
        QVERIFY(boxes.boxes.isEmpty());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* led = form.findChild<TLed*>("LedOn");
        // Keyed, with a good part of the phrase on the meter.
        QTRY_VERIFY_WITH_TIMEOUT(form.TxOn() && form.Detector().levelHistory()[15] > 20, 10000);
        const QImage picture = form.grab().toImage();
        QCOMPARE(picture.size(), form.size());
        // The lit transmit lamp and a spectrum that is not all black.
        const QPoint lamp = led->geometry().center();
        QVERIFY(picture.pixelColor(lamp).green() > 200);
        bool spectrum = false;
        for (int x = 8; x < 8 + 241 && !spectrum; ++x)
            spectrum = picture.pixelColor(x, 8 + 168) != QColor(Qt::black);
        QVERIFY(spectrum);
        const QString out = qEnvironmentVariable("VOKEY_SCREENSHOT");
        if (!out.isEmpty())
            QVERIFY(picture.save(QDir(startDir).absoluteFilePath(out)));
    }
    QDir::setCurrent(startDir);
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
