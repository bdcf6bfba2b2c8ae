// The engine's calling surface: device numbering, failures that must return quietly, and the
// WAV-file source feeding the ring at real-time pace.
#include "AudioTestSupport.h"
#include "audio/AudioEngine.h"

#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <climits>

using namespace AudioTest;

class TestAudioEngine : public QObject {
    Q_OBJECT

private slots:
    void callsWithoutChannelFailQuietly();
    void badRecordingDevice_data();
    void badRecordingDevice();
    void deviceListsEndAtFirstGap();
    void unreadableFileSource_data();
    void unreadableFileSource();
    void fileSourcePlaysThenSilence_data();
    void fileSourcePlaysThenSilence();
    void stoppedChannelIsGone();

private:
    QTemporaryDir m_dir;
};

void TestAudioEngine::callsWithoutChannelFailQuietly()
{
    AudioEngine engine;
    std::array<float, 513> buffer;
    buffer.fill(7.0f);
    for (quint32 handle : { 0u, 1u, 0x10001u, 0xffffffffu }) {
        QCOMPARE(engine.ChannelIsActive(handle), 0);
        QCOMPARE(engine.ChannelFrames(handle), 0u);
        QCOMPARE(engine.ChannelGetData(handle, buffer.data(), AudioEngine::DataFft1024), -1);
        QVERIFY(!engine.ChannelStop(handle));
    }
    QVERIFY(std::all_of(buffer.begin(), buffer.end(), [](float v) { return v == 7.0f; }));
    // Start before any device was initialised.
    QCOMPARE(engine.RecordStart(44100, 2, 0, nullptr, nullptr), 0u);
    QVERIFY(!engine.LastError().isEmpty());
    QVERIFY(!engine.RecordFree());
    QVERIFY(engine.Free());
    QVERIFY(engine.Free());
}

void TestAudioEngine::badRecordingDevice_data()
{
    QTest::addColumn<int>("device");
    QTest::newRow("far past the list") << 9999;
    QTest::newRow("-2") << -2;
    QTest::newRow("most negative") << INT_MIN;
}

void TestAudioEngine::badRecordingDevice()
{
    QFETCH(int, device);
    AudioEngine engine;
    QVERIFY(!engine.RecordInit(device));
    QVERIFY(engine.LastError().contains(QString::number(device)));
    // The power-on sequence goes on regardless; the channel it gets is never active.
    const quint32 channel = engine.RecordStart(44100, 2, 0, nullptr, nullptr);
    QCOMPARE(channel, 0u);
    QCOMPARE(engine.ChannelIsActive(channel), 0);
    float magnitudes[513];
    QCOMPARE(engine.ChannelGetData(channel, magnitudes, AudioEngine::DataFft1024), -1);
    QVERIFY(!engine.ChannelStop(channel));
    QVERIFY(!engine.RecordFree());
}

void TestAudioEngine::deviceListsEndAtFirstGap()
{
    AudioEngine engine;
    using Lister = bool (AudioEngine::*)(int, AudioDeviceInfo*);
    for (Lister list : { &AudioEngine::RecordGetDeviceInfo, &AudioEngine::GetDeviceInfo }) {
        AudioDeviceInfo info;
        QVERIFY(!(engine.*list)(-1, &info));
        QVERIFY(!(engine.*list)(INT_MIN, &info));
        int count = 0;
        while (count < 256 && (engine.*list)(count, &info)) {
            QVERIFY(!info.name.isEmpty());
            QVERIFY(info.flags & AudioDeviceInfo::Enabled);
            ++count;
        }
        QVERIFY(count < 256);
        QVERIFY(!(engine.*list)(count + 1, &info));
        QVERIFY(!(engine.*list)(count, nullptr));
    }
}

void TestAudioEngine::unreadableFileSource_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not a WAV file") << QByteArray("plain text, not audio\n");
}

void TestAudioEngine::unreadableFileSource()
{
    QFETCH(QByteArray, content);
    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".wav");
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    AudioEngine engine;
    engine.SetFileSource(path);
    QVERIFY(engine.RecordInit(-1));
    const quint32 channel = engine.RecordStart(44100, 2, 0, nullptr, nullptr);
    QCOMPARE(channel, 0u);
    QVERIFY2(engine.LastError().contains(path), qPrintable(engine.LastError()));
    QCOMPARE(engine.ChannelIsActive(channel), 0);
    QVERIFY(engine.RecordFree());
}

void TestAudioEngine::fileSourcePlaysThenSilence_data()
{
    QTest::addColumn<bool>("loop");
    QTest::newRow("once, then silence") << false;
    QTest::newRow("over and over") << true;
}

void TestAudioEngine::fileSourcePlaysThenSilence()
{
    QFETCH(bool, loop);
    // Half a second of noise: every frame is distinguishable from silence and from its
    // neighbours, so a lost, repeated or reordered block shows.
    const Frames file = noise(22050, 11);
    const std::size_t fileFrames = file.size() / 2;
    const QString path = m_dir.filePath("noise.wav");
    QVERIFY(writeWav(path, file));

    AudioEngine engine;
    engine.SetFileSource(path, loop);
    QVERIFY(engine.RecordInit(-1));
    Collector collector(&engine, fileFrames + 44100);
    const quint32 channel = engine.RecordStart(44100, 2, 0, &Collector::proc, &collector);
    QVERIFY(channel != 0);
    QCOMPARE(engine.ChannelIsActive(channel), 1);

    QTRY_VERIFY_WITH_TIMEOUT(collector.filled >= fileFrames, 20000);
    QCOMPARE(engine.ChannelIsActive(channel), 1);
    QVERIFY(engine.ChannelFrames(channel) >= fileFrames);
    // After the file: silence, or the file again, and the channel keeps running.
    QTRY_VERIFY_WITH_TIMEOUT(collector.filled >= fileFrames + 4410, 20000);
    QCOMPARE(engine.ChannelIsActive(channel), 1);
    std::array<float, 513> magnitudes;
    QCOMPARE(engine.ChannelGetData(channel, magnitudes.data(), AudioEngine::DataFft1024), 4096);
    QCOMPARE(std::all_of(
                 magnitudes.begin(), magnitudes.begin() + 512, [](float m) { return m == 0.0f; }),
        !loop);

    QVERIFY(engine.ChannelStop(channel));
    QVERIFY(!collector.mismatch);
    // Delivered in small blocks, as a sound card would, not in one piece.
    QVERIFY(collector.blocks >= int(collector.filled / 441));
    const std::size_t got = std::min<std::size_t>(collector.filled, 2 * fileFrames);
    const auto after = collector.frames.begin() + file.size();
    QVERIFY(std::equal(file.begin(), file.end(), collector.frames.begin()));
    if (loop)
        QVERIFY(std::equal(after, collector.frames.begin() + 2 * got, file.begin()));
    else
        QVERIFY(std::all_of(
            after, collector.frames.begin() + 2 * got, [](qint16 s) { return s == 0; }));
}

void TestAudioEngine::stoppedChannelIsGone()
{
    const QString path = m_dir.filePath("tone.wav");
    QVERIFY(writeWav(path, sine(44100, 50, 10000, 10000)));
    AudioEngine engine;
    engine.SetFileSource(path);
    QVERIFY(engine.RecordInit(-1));
    QVERIFY(!engine.RecordInit(-1));
    const quint32 first = engine.RecordStart(44100, 2, 0, nullptr, nullptr);
    QVERIFY(first != 0);
    std::array<float, 513> magnitudes;
    QTRY_VERIFY_WITH_TIMEOUT(
        engine.ChannelGetData(first, magnitudes.data(), AudioEngine::DataFft1024) == 4096
            && magnitudes[50] > 0.1f,
        20000);

    // Power-off order, then power-on again: the old handle stays dead.
    QVERIFY(engine.ChannelStop(first));
    QVERIFY(engine.RecordFree());
    magnitudes.fill(3.0f);
    QCOMPARE(engine.ChannelIsActive(first), 0);
    QCOMPARE(engine.ChannelFrames(first), 0u);
    QCOMPARE(engine.ChannelGetData(first, magnitudes.data(), AudioEngine::DataFft1024), -1);
    QCOMPARE(magnitudes[0], 3.0f);
    QVERIFY(!engine.ChannelStop(first));

    QVERIFY(engine.RecordInit(-1));
    const quint32 second = engine.RecordStart(44100, 2, 0, nullptr, nullptr);
    QVERIFY(second != 0 && second != first);
    QCOMPARE(engine.ChannelIsActive(second), 1);
    QCOMPARE(engine.ChannelIsActive(first), 0);
    // Window close without power-off first.
    QVERIFY(engine.RecordFree());
    QVERIFY(engine.Free());
    QCOMPARE(engine.ChannelIsActive(second), 0);
}

QTEST_GUILESS_MAIN(TestAudioEngine)
#include "tst_audioengine.moc"
