// Capture through PortAudio from a real ALSA device: a file-fed capture PCM behind a plug
// PCM, defined by this test's own ALSA configuration. The device is found by name in the
// engine's recording list and must deliver the file's frames, byte for byte, into the ring.
// (The file plugin reads as fast as it is asked, so the capture is not paced.)
#include "AudioTestSupport.h"
#include "audio/AudioEngine.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace AudioTest;

namespace {
const QByteArray DeviceName = "vokey_test_in";
}

class TestAlsaCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void deviceIsListedByName();
    void capturesFileFramesExactly();

private:
    QTemporaryDir m_dir;
    Frames m_input;
};

void TestAlsaCapture::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_input = concat(sine(4410, 30, 12000, -9000), noise(40000, 5));
    const QString raw = m_dir.filePath("input.raw");
    QVERIFY(writeRaw(raw, m_input));

    const QString conf = m_dir.filePath("asound.conf");
    QFile file(conf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // The system configuration first: PortAudio's device scan needs its definitions.
    file.write(QStringLiteral(R"(</usr/share/alsa/alsa.conf>
pcm.vokey_test_file {
    type file
    slave.pcm "null"
    file "/dev/null"
    infile "%1"
    format "raw"
}
pcm.%2 {
    type plug
    slave {
        pcm "vokey_test_file"
        format S16_LE
        rate 44100
        channels 2
    }
}
)")
                   .arg(raw, QString::fromLatin1(DeviceName))
                   .toUtf8());
    file.close();
    // ALSA reads its configuration once per process, at the first device access, which is
    // the first engine call below.
    qputenv("ALSA_CONFIG_PATH", conf.toLocal8Bit());
}

void TestAlsaCapture::deviceIsListedByName()
{
    AudioEngine engine;
    const int device = recordingDevice(engine, DeviceName);
    QVERIFY2(device >= 0, "the test's ALSA capture device is not in the recording list");
    AudioDeviceInfo info;
    QVERIFY(engine.RecordGetDeviceInfo(device, &info));
    QCOMPARE(info.driver, QByteArray("ALSA"));
}

void TestAlsaCapture::capturesFileFramesExactly()
{
    AudioEngine engine;
    const int device = recordingDevice(engine, DeviceName);
    QVERIFY(device >= 0);
    QVERIFY2(engine.RecordInit(device), qPrintable(engine.LastError()));
    AudioDeviceInfo info;
    for (int n = 0; engine.RecordGetDeviceInfo(n, &info); ++n)
        QCOMPARE(bool(info.flags & AudioDeviceInfo::Initialized), n == device);

    const std::size_t frames = m_input.size() / 2;
    Collector collector(&engine, frames);
    const quint32 channel = engine.RecordStart(44100, 2, 0, &Collector::proc, &collector);
    QVERIFY2(channel != 0, qPrintable(engine.LastError()));
    // The callback ends the capture once the whole file has arrived.
    QTRY_VERIFY_WITH_TIMEOUT(collector.filled >= frames, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(engine.ChannelIsActive(channel), 0, 20000);

    QVERIFY2(!collector.mismatch, "the ring did not hold the block given to the callback");
    for (std::size_t i = 0; i < m_input.size(); ++i) {
        if (collector.frames[i] != m_input[i])
            QFAIL(qPrintable(QStringLiteral("frame %1 channel %2: %3, expected %4")
                                 .arg(i / 2)
                                 .arg(i % 2)
                                 .arg(collector.frames[i])
                                 .arg(m_input[i])));
    }
    QVERIFY(engine.ChannelStop(channel));
    QVERIFY(engine.RecordFree());
}

QTEST_GUILESS_MAIN(TestAlsaCapture)
#include "tst_alsacapture.moc"
