#include "WavWriter.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <cmath>

namespace {

void put32(QByteArray& bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

void put16(QByteArray& bytes, quint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    bytes.append(raw, 2);
}

} // namespace

bool writeWav(const QString& path, const std::vector<qint16>& samples, int rate, int channels)
{
    QByteArray data(qsizetype(samples.size() * 2), '\0');
    for (std::size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(samples[i], data.data() + 2 * i);
    QByteArray wav("RIFF");
    put32(wav, quint32(36 + data.size()));
    wav.append("WAVEfmt ");
    put32(wav, 16);
    put16(wav, 1); // PCM
    put16(wav, quint16(channels));
    put32(wav, quint32(rate));
    put32(wav, quint32(rate * 2 * channels));
    put16(wav, quint16(2 * channels));
    put16(wav, 16);
    wav.append("data");
    put32(wav, quint32(data.size()));
    wav.append(data);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size();
}

bool writeTestWav(const QString& path, double seconds, double frequency, double amplitude)
{
    const auto frames = std::size_t(seconds * 44100);
    std::vector<qint16> samples(2 * frames, 0);
    for (std::size_t i = 0; i < frames && amplitude > 0; ++i) {
        const auto sample = qint16(amplitude * 32767 * std::sin(2 * M_PI * frequency * i / 44100));
        samples[2 * i] = samples[2 * i + 1] = sample;
    }
    return writeWav(path, samples);
}
