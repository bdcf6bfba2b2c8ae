// The window's VOX engine on real audio: test tones played through the capture engine's WAV
// source at real-time pace, as a sound card would deliver them.
#include "WindowTestSupport.h"

#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TPaintBox.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestVoxLive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void spectrumShowsTheTone();
    void meterFollowsTheLevel();

private:
    void start(const QString& audio, int gain, int delay);
    template <typename T> T* child(const char* name) const
    {
        return m_form->findChild<T*>(QLatin1String(name));
    }

    QTemporaryDir m_data;
    QString m_startDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<TForm1> m_form;
};

void TestVoxLive::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_data.path()));
    m_startDir = QDir::currentPath();
    // One on bin 71, a bin the level counts (5 + 3 * 22): tick level 35, VOX level 105.
    QVERIFY(writeTestWav(m_data.filePath("tone71.wav"), 3.0, 71 * 44100.0 / 1024, 0.9));
}

void TestVoxLive::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_boxes = RecordingMessageBoxes();
}

void TestVoxLive::cleanup()
{
    m_form.reset();
    QDir::setCurrent(m_startDir);
    m_dir.reset();
}

void TestVoxLive::start(const QString& audio, int gain, int delay)
{
    const QString ini = m_dir->filePath("VOKEY.INI");
    WriteProfileString(ini, "SETTINGS", "GAIN", QString::number(gain));
    WriteProfileString(ini, "SETTINGS", "DELAY", QString::number(delay));
    // No radios: a rigctld that happens to run on this machine is never keyed by a test.
    WriteProfileString(ini, "RIG1", "HOST", "");
    WriteProfileString(ini, "RIG2", "HOST", "");
    TForm1Options options;
    options.audioFile = m_data.filePath(audio);
    options.messages = &m_boxes;
    m_form = std::make_unique<TForm1>(options);
    m_form->FormCreate();
    m_form->show();
}

void TestVoxLive::spectrumShowsTheTone()
{
    // Bin 71 feeds column 22 (5 + 22 * 3): a bar 5 pixels wide at x = 10 + 22 * 6 in
    // PaintFrame, which stands at (8, 8) in the window. The tone is far above the ceiling, so
    // the bar stands 100 pixels high on the frame's bottom row, 168.
    start("tone71.wav", 2, 2);
    const QRgb cyan = 0xFF00FFFF, black = 0xFF000000;
    struct Probe {
        QPoint at;
        QRgb colour;
    };
    const QList<Probe> probes {
        { { 8 + 142, 8 + 168 }, cyan }, // the bar: bottom left
        { { 8 + 146, 8 + 69 }, cyan }, // top right
        { { 8 + 142, 8 + 68 }, black }, // above it
        { { 8 + 141, 8 + 168 }, black }, // the gap to column 21
        { { 8 + 147, 8 + 168 }, black }, // the gap to column 23
        { { 8 + 70, 8 + 168 }, black }, // column 10: bin 35, quiet
        // The transmit lamp lit: ring 0 green 128, ring 23 green 243 (steps of 5).
        { { 105, 272 + 24 }, qRgb(0, 128, 0) },
        { { 105 + 24, 272 + 24 }, qRgb(0, 243, 0) },
        // Rig A's lamp dark, black to green: ring 0 black, ring 7 green 112 (steps of 16).
        { { 8, 328 + 8 }, qRgb(0, 0, 0) },
        { { 8 + 8, 328 + 8 }, qRgb(0, 112, 0) },
    };
    QString mismatch;
    const auto matches = [&] {
        const QImage window = m_form->grab().toImage();
        mismatch.clear();
        for (const Probe& probe : probes)
            if (window.pixel(probe.at) != probe.colour)
                mismatch += QStringLiteral(" (%1,%2): %3")
                                .arg(probe.at.x())
                                .arg(probe.at.y())
                                .arg(window.pixel(probe.at), 8, 16);
        return mismatch.isEmpty();
    };
    // Until the onset's marks have fallen away and the lamp is lit.
    QTRY_VERIFY2_WITH_TIMEOUT(matches(), qPrintable(mismatch), 10000);
    QVERIFY(m_form->Station().TxOn());
    // The paint box shows the same frame again when the window is repainted.
    const QImage surface = child<TPaintBox>("PaintFrame")->surface().copy();
    QCOMPARE(child<TPaintBox>("PaintFrame")->grab().toImage().convertToFormat(QImage::Format_RGB32),
        surface);
}

void TestVoxLive::meterFollowsTheLevel()
{
    // A loud tone drives the level past the top of the meter: the band stops at 100 and,
    // with Gain 100, the unclamped level keys.
    start("tone71.wav", 100, 2);
    auto* gain = child<SelectionSlider>("GainTrack");
    QTRY_VERIFY_WITH_TIMEOUT(m_form->Station().TxOn(), 10000);
    QCOMPARE(gain->selEnd(), 100);
    QVERIFY(!gain->selectionRect().isEmpty());
}

QTEST_MAIN(TestVoxLive)
#include "tst_voxlive.moc"
