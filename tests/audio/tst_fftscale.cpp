// The engine's spectrum scale, checked against its definition: both channels averaged,
// samples / 32768, periodic Hann window, magnitude k = 2 |X[k]| / 1024. On a bin centre a
// sine of peak a reads a/2 in its bin and a/4 in each neighbour; DC d reads d in bin 0 and
// d/2 in bin 1; everything else reads 0. Audio reaches the engine as a WAV file played
// through its file source, so the spectrum comes from the ring like live capture.
#include "AudioTestSupport.h"
#include "audio/AudioEngine.h"

#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <cmath>

using namespace AudioTest;

class TestFftScale : public QObject {
    Q_OBJECT

private slots:
    void scale_data();
    void scale();
    void onlyTheLatestFramesCount();

private:
    // Plays frames through the file source until its last frame is in the ring, then
    // takes the spectrum.
    std::array<float, 513> spectrumAfter(const Frames& frames);

    QTemporaryDir m_dir;
    int m_files = 0;
};

std::array<float, 513> TestFftScale::spectrumAfter(const Frames& frames)
{
    std::array<float, 513> magnitudes;
    magnitudes.fill(-1.0f);
    const QString path = m_dir.filePath(QStringLiteral("case%1.wav").arg(++m_files));
    if (!writeWav(path, frames)) {
        qWarning("cannot write %s", qPrintable(path));
        return magnitudes;
    }
    AudioEngine engine;
    engine.SetFileSource(path);
    Collector collector(&engine, frames.size() / 2);
    if (!engine.RecordInit(-1))
        return magnitudes;
    const quint32 channel = engine.RecordStart(44100, 2, 0, &Collector::proc, &collector);
    // The callback ends the capture right after the file's last block.
    if (!channel || !QTest::qWaitFor([&] { return engine.ChannelIsActive(channel) == 0; }, 20000))
        return magnitudes;
    if (collector.filled != frames.size() / 2)
        return magnitudes;
    if (engine.ChannelGetData(channel, magnitudes.data(), AudioEngine::DataFft1024) != 4096)
        magnitudes.fill(-1.0f);
    return magnitudes;
}

void TestFftScale::scale_data()
{
    QTest::addColumn<int>("bin");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("right");
    QTest::addColumn<int>("dcLeft");
    QTest::addColumn<int>("dcRight");

    QTest::newRow("silence") << 0 << 0.0 << 0.0 << 0 << 0;
    QTest::newRow("full-scale sine, bin 20, both channels") << 20 << 32767.0 << 32767.0 << 0 << 0;
    QTest::newRow("half-scale sine, bin 100, both channels") << 100 << 16384.0 << 16384.0 << 0 << 0;
    QTest::newRow("sine on bin 64, right channel silent") << 64 << 16384.0 << 0.0 << 0 << 0;
    QTest::newRow("sine on bin 300, left channel silent") << 300 << 0.0 << 32000.0 << 0 << 0;
    QTest::newRow("quiet sine, bin 5 (first counted bin)") << 5 << 128.0 << 128.0 << 0 << 0;
    QTest::newRow("sine on bin 386 (last counted bin)") << 386 << 8192.0 << 8192.0 << 0 << 0;
    QTest::newRow("DC half scale") << 0 << 0.0 << 0.0 << 16384 << 16384;
    QTest::newRow("DC negative full scale") << 0 << 0.0 << 0.0 << -32768 << -32768;
    QTest::newRow("DC in one channel") << 0 << 0.0 << 0.0 << 0 << 8192;
}

void TestFftScale::scale()
{
    QFETCH(int, bin);
    QFETCH(double, left);
    QFETCH(double, right);
    QFETCH(int, dcLeft);
    QFETCH(int, dcRight);

    Frames frames = sine(FftSize, bin, left, right);
    for (std::size_t i = 0; i < frames.size(); i += 2) {
        frames[i] = qint16(frames[i] + dcLeft);
        frames[i + 1] = qint16(frames[i + 1] + dcRight);
    }

    std::array<double, 512> expected {};
    const double peak = (left + right) / 2.0 / 32768.0;
    if (peak != 0.0) {
        expected[bin] = peak / 2.0;
        expected[bin - 1] = expected[bin + 1] = peak / 4.0;
    }
    const double dc = std::abs(dcLeft + dcRight) / 2.0 / 32768.0;
    expected[0] += dc;
    expected[1] += dc / 2.0;

    const auto magnitudes = spectrumAfter(frames);
    for (int k = 0; k < 512; ++k) {
        if (std::abs(magnitudes[k] - expected[k]) > 1e-4)
            QFAIL(qPrintable(QStringLiteral("bin %1: %2, expected %3")
                                 .arg(k)
                                 .arg(magnitudes[k])
                                 .arg(expected[k])));
    }
}

void TestFftScale::onlyTheLatestFramesCount()
{
    // Loud noise, then exactly one transform length of a sine: the noise must not show.
    const Frames frames = concat(noise(4410, 7), sine(FftSize, 40, 16384.0, 16384.0));
    const auto magnitudes = spectrumAfter(frames);
    QVERIFY2(std::abs(magnitudes[40] - 0.25f) < 1e-4, qPrintable(QString::number(magnitudes[40])));
    QVERIFY(std::abs(magnitudes[39] - 0.125f) < 1e-4);
    for (int k = 0; k < 512; ++k) {
        if (std::abs(k - 40) > 1)
            QVERIFY2(magnitudes[k] < 1e-4, qPrintable(QStringLiteral("bin %1").arg(k)));
    }
}

QTEST_GUILESS_MAIN(TestFftScale)
#include "tst_fftscale.moc"
