// The window's VOX engine on real audio: espeak-ng speech and test tones played through the
// capture engine's WAV source at real-time pace, as a sound card would deliver them.
#include "WindowTestSupport.h"

#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TLed.h"
#include "widgets/TPaintBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestVoxLive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void keysDuringSpeechAndReleasesAfterDelay_data();
    void keysDuringSpeechAndReleasesAfterDelay();
    void mutedNeverKeys();
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
    if (!makeSpeechWav(m_data.path(), "speech.wav", 0.5, 2.5))
        QSKIP("espeak-ng and sox are needed to make the test speech");
    // A loud tone on bin 70 (70 * 44100 / 1024 Hz): column 20 of the spectrum.
    QVERIFY(writeTestWav(m_data.filePath("tone.wav"), 3.0, 70 * 44100.0 / 1024, 0.9));
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
    TForm1Options options;
    options.arguments = { "vokey" };
    options.audioFile = m_data.filePath(audio);
    options.messages = &m_boxes;
    m_form = std::make_unique<TForm1>(options);
    QVERIFY(m_form->FormCreate());
    m_form->show();
}

void TestVoxLive::keysDuringSpeechAndReleasesAfterDelay_data()
{
    QTest::addColumn<int>("delay");
    QTest::newRow("delay 10 (500 ms)") << 10;
    QTest::newRow("delay 0 (next quiet tick)") << 0;
}

void TestVoxLive::keysDuringSpeechAndReleasesAfterDelay()
{
    QFETCH(int, delay);
    start("speech.wav", 5, delay);
    auto* led = child<TLed>("LedOn");
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    QElapsedTimer clock;
    clock.start();
    qint64 keyedAt = -1, lastKeyAt = -1, releasedAt = -1;
    connect(m_form.get(), &TForm1::TransmitSet, this, [&](bool on) {
        if (on) {
            if (keyedAt < 0)
                keyedAt = clock.elapsed();
            lastKeyAt = clock.elapsed();
        } else if (keyedAt >= 0) {
            releasedAt = clock.elapsed();
        }
    });

    // Silence first: nothing keys.
    QVERIFY(!m_form->TxOn());
    QTRY_VERIFY_WITH_TIMEOUT(m_form->TxOn(), 10000);
    QVERIFY(led->isOn());
    QVERIFY(child<QTimer>("TimerDelay")->isActive() == (delay > 0));

    // After the speech: released, lamp dark, and it stays released over the trailing silence.
    QTRY_VERIFY_WITH_TIMEOUT(releasedAt >= 0 && !m_form->TxOn(), 15000);
    QVERIFY(!led->isOn());
    QVERIFY(releasedAt >= lastKeyAt);
    // The release timer ran out a delay after the last keying tick, not before (a slow
    // machine only makes it later; coarse timers may fire up to 5 % early).
    if (delay > 0)
        QVERIFY2(releasedAt - lastKeyAt >= delay * 50 * 9 / 10,
            qPrintable(QString::number(releasedAt - lastKeyAt)));
    QCOMPARE(transmit.last().at(0).toBool(), false);
    QVERIFY(!m_form->Detector().isTransmitting());
    QVERIFY(m_boxes.texts().filter("COM").size() == m_boxes.texts().size());
}

void TestVoxLive::mutedNeverKeys()
{
    start("speech.wav", 5, 10);
    m_form->MuteButtonClick();
    QSignalSpy transmit(m_form.get(), &TForm1::TransmitSet);
    auto* gain = child<SelectionSlider>("GainTrack");
    // The level is measured and shown while muted ...
    QTRY_VERIFY_WITH_TIMEOUT(gain->selEnd() >= 5, 10000);
    // ... but nothing keys.
    QVERIFY(!m_form->TxOn());
    for (const QList<QVariant>& call : transmit)
        QCOMPARE(call.at(0).toBool(), false);
    QVERIFY(child<QTimer>("TimerLed")->isActive());
}

void TestVoxLive::spectrumShowsTheTone()
{
    start("tone.wav", 100, 1);
    auto* frame = child<TPaintBox>("PaintFrame");
    const QImage& canvas = frame->surface();
    const int toneX = 20 * canvas.width() / 129; // column 20: bin 10 + 20 * 3 = 70
    const int quietX = 100 * canvas.width() / 129;
    const int bottom = canvas.height() - 1;
    QTRY_VERIFY_WITH_TIMEOUT(canvas.pixelColor(toneX, bottom) != QColor(Qt::black), 10000);
    QCOMPARE(canvas.pixelColor(quietX, bottom), QColor(Qt::black));
}

void TestVoxLive::meterFollowsTheLevel()
{
    // A loud tone drives the level past the top of the meter: the band stops at 100 and,
    // with Gain 100, the unclamped level keys.
    start("tone71.wav", 100, 2);
    auto* gain = child<SelectionSlider>("GainTrack");
    QTRY_VERIFY_WITH_TIMEOUT(m_form->TxOn(), 10000);
    QCOMPARE(gain->selEnd(), 100);
    QVERIFY(!gain->selectionRect().isEmpty());
}

QTEST_MAIN(TestVoxLive)
#include "tst_voxlive.moc"
