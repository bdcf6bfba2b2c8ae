#include "AudioTestSupport.h"

#include "audio/AudioEngine.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace AudioTest {

Frames sine(int frames, int bin, double leftPeak, double rightPeak)
{
    Frames out(2 * std::size_t(frames));
    for (int n = 0; n < frames; ++n) {
        const double s = std::sin(2.0 * M_PI * bin * n / FftSize);
        out[2 * n] = qint16(std::lround(leftPeak * s));
        out[2 * n + 1] = qint16(std::lround(rightPeak * s));
    }
    return out;
}

Frames constant(int frames, qint16 left, qint16 right)
{
    Frames out(2 * std::size_t(frames));
    for (int n = 0; n < frames; ++n) {
        out[2 * n] = left;
        out[2 * n + 1] = right;
    }
    return out;
}

Frames noise(int frames, quint32 seed)
{
    Frames out(2 * std::size_t(frames));
    for (auto& sample : out) {
        seed = seed * 1664525u + 1013904223u;
        sample = qint16(seed >> 16);
    }
    return out;
}

Frames concat(const Frames& a, const Frames& b)
{
    Frames out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

namespace {
    QByteArray littleEndian(const Frames& frames)
    {
        QByteArray bytes(int(frames.size() * 2), Qt::Uninitialized);
        for (std::size_t i = 0; i < frames.size(); ++i)
            qToLittleEndian(frames[i], bytes.data() + 2 * i);
        return bytes;
    }

    bool writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
}

bool writeRaw(const QString& path, const Frames& frames)
{
    return writeFile(path, littleEndian(frames));
}

int recordingDevice(AudioEngine& engine, const QByteArray& name)
{
    AudioDeviceInfo info;
    for (int device = 0; engine.RecordGetDeviceInfo(device, &info); ++device) {
        if (info.name == name)
            return device;
    }
    return -1;
}

quint32 startCapture(
    AudioEngine& engine, const QByteArray& name, RecordProc proc, void* user, QString* error)
{
    const int device = recordingDevice(engine, name);
    if (device < 0) {
        *error = QStringLiteral("PortAudio lists no recording device %1").arg(QLatin1String(name));
        return 0;
    }
    const quint32 channel
        = engine.RecordInit(device) ? engine.RecordStart(44100, 2, 0, proc, user) : 0;
    *error = engine.LastError();
    return channel;
}

Collector::Collector(const AudioEngine* engine, std::size_t target)
    : engine(engine)
    , target(target)
    , frames(2 * (target + MaxBlock))
{
}

bool Collector::proc(quint32 handle, const void* buffer, quint32 length, void* user)
{
    auto* self = static_cast<Collector*>(user);
    const std::size_t count = length / 4;
    const std::size_t at = self->filled;
    if (count > MaxBlock || at + count > self->frames.size() / 2)
        return false;
    qint16* to = self->frames.data() + 2 * at;
    // What the ring holds now must end with the block just handed to the callback.
    self->engine->ChannelGetFrames(handle, to, quint32(count));
    if (std::memcmp(to, buffer, count * 4) != 0)
        self->mismatch = true;
    self->filled = at + count;
    ++self->blocks;
    return at + count < self->target;
}

bool FrameCounter::proc(quint32, const void*, quint32 length, void* user)
{
    static_cast<FrameCounter*>(user)->frames += length / 4;
    return true;
}
}
