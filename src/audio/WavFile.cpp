#include "audio/WavFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>

namespace {

constexpr quint16 formatPcm = 1;
constexpr quint16 formatFloat = 3;
constexpr quint16 formatExtensible = 0xFFFE;
constexpr qsizetype fmtBaseSize = 16;
constexpr qsizetype fmtExtensibleSize = 40;
// KSDATAFORMAT_SUBTYPE_xxx GUIDs share these bytes after the 2-byte format code.
constexpr unsigned char subtypeGuidTail[14]
    = { 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 };

quint16 u16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

QString formatName(quint16 format, quint16 bits)
{
    switch (format) {
    case formatPcm:
        return QStringLiteral("%1-bit PCM").arg(bits);
    case formatFloat:
        return QStringLiteral("%1-bit IEEE float").arg(bits);
    case 6:
        return QStringLiteral("A-law");
    case 7:
        return QStringLiteral("mu-law");
    default:
        return QStringLiteral("format code 0x%1").arg(format, 4, 16, QLatin1Char('0'));
    }
}

// A chunk id for a message: four characters, anything unprintable shown as '?'.
QString chunkName(const char* id)
{
    QString name;
    for (int i = 0; i < 4; ++i)
        name += (id[i] >= 0x20 && id[i] < 0x7F) ? QLatin1Char(id[i]) : QLatin1Char('?');
    return name;
}

struct Format {
    quint16 code = 0;
    quint16 channels = 0;
    quint32 rate = 0;
    quint16 blockAlign = 0;
    quint16 bits = 0;
};

} // namespace

bool WavFile::fail(const QString& reason)
{
    m_frames.clear();
    m_frames.shrink_to_fit();
    m_sourceChannels = 0;
    m_sampleRate = 0;
    m_error = reason;
    return false;
}

bool WavFile::load(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return fail(QStringLiteral("cannot read: is a directory"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open: %1").arg(file.errorString()));
    if (file.size() > MaxFileBytes)
        return fail(QStringLiteral("file too large (over %1 MiB)").arg(MaxFileBytes >> 20));
    // read() with a limit also bounds pipes and other files without a size.
    const QByteArray bytes = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read: %1").arg(file.errorString()));
    if (bytes.size() > MaxFileBytes)
        return fail(QStringLiteral("file too large (over %1 MiB)").arg(MaxFileBytes >> 20));
    return parse(bytes);
}

bool WavFile::parse(const QByteArray& bytes)
{
    const auto readAt = [&bytes](qint64 offset, qint64 length) {
        return bytes.mid(qsizetype(offset), qsizetype(length));
    };
    Layout layout;
    QString error;
    if (!parseLayout(readAt, bytes.size(), layout, error, m_anyRate))
        return fail(error);

    const int blockAlign = layout.channels * 2;
    const qsizetype frames = qsizetype(layout.dataBytes / blockAlign);
    const char* samples = bytes.constData() + layout.dataOffset;
    m_frames.assign(std::size_t(frames) * 2, 0);
    for (qsizetype i = 0; i < frames; ++i) {
        const char* frame = samples + i * blockAlign;
        const auto left = qFromLittleEndian<qint16>(frame);
        const auto right = layout.channels == 2 ? qFromLittleEndian<qint16>(frame + 2) : left;
        m_frames[std::size_t(2 * i)] = left;
        m_frames[std::size_t(2 * i + 1)] = right;
    }
    m_sourceChannels = layout.channels;
    m_sampleRate = layout.rate;
    m_error.clear();
    return true;
}

bool WavFile::parseLayout(const std::function<QByteArray(qint64, qint64)>& readAt, qint64 size,
    Layout& layout, QString& error, bool anyRate)
{
    const auto fail = [&error](const QString& reason) {
        error = reason;
        return false;
    };
    const QByteArray riff = readAt(0, 12);
    const char* base = riff.constData();
    if (riff.size() < 12 || std::memcmp(base, "RIFF", 4) != 0
        || std::memcmp(base + 8, "WAVE", 4) != 0) {
        if (size > 0 && size < 12
            && std::memcmp(base, "RIFF", std::min<qsizetype>(riff.size(), 4)) == 0)
            return fail(QStringLiteral("truncated file (incomplete RIFF header)"));
        return fail(QStringLiteral("not a WAV file (no RIFF/WAVE header)"));
    }

    Format fmt;
    bool haveFmt = false;
    qint64 dataOffset = -1;
    qint64 dataSize = 0;
    qint64 offset = 12;
    while (dataOffset < 0 || !haveFmt) {
        if (size - offset < 8) {
            if (size != offset)
                return fail(QStringLiteral("truncated file (incomplete chunk header)"));
            return fail(haveFmt ? QStringLiteral("no data chunk") : QStringLiteral("no fmt chunk"));
        }
        const QByteArray headerBytes = readAt(offset, 8);
        if (headerBytes.size() < 8)
            return fail(QStringLiteral("truncated file (incomplete chunk header)"));
        const char* header = headerBytes.constData();
        const quint32 chunkSize = u32(header + 4);
        const qint64 body = offset + 8;
        // Compared in 64 bits: a size near 4 GiB must not wrap.
        if (qint64(chunkSize) > size - body)
            return fail(QStringLiteral("truncated file (chunk '%1' runs past the end)")
                            .arg(chunkName(header)));

        if (std::memcmp(header, "fmt ", 4) == 0 && !haveFmt) {
            if (chunkSize < fmtBaseSize)
                return fail(QStringLiteral("malformed fmt chunk"));
            const QByteArray fmtBytes
                = readAt(body, std::min<qint64>(chunkSize, fmtExtensibleSize));
            if (fmtBytes.size() < std::min<qint64>(chunkSize, fmtExtensibleSize))
                return fail(QStringLiteral("truncated file (chunk '%1' runs past the end)")
                                .arg(chunkName(header)));
            const char* p = fmtBytes.constData();
            fmt.code = u16(p);
            fmt.channels = u16(p + 2);
            fmt.rate = u32(p + 4);
            fmt.blockAlign = u16(p + 12);
            fmt.bits = u16(p + 14);
            if (fmt.code == formatExtensible) {
                if (chunkSize < fmtExtensibleSize || u16(p + 16) < 22)
                    return fail(QStringLiteral("malformed fmt chunk"));
                const char* guid = p + 24;
                if (std::memcmp(guid + 2, subtypeGuidTail, sizeof subtypeGuidTail) != 0)
                    return fail(QStringLiteral("unsupported sample format: unknown subtype"));
                fmt.code = u16(guid);
            }
            haveFmt = true;
        } else if (std::memcmp(header, "data", 4) == 0 && dataOffset < 0) {
            if (!haveFmt)
                return fail(QStringLiteral("malformed file (data chunk before fmt chunk)"));
            dataOffset = body;
            dataSize = chunkSize;
        }
        // Chunks are padded to even sizes; a missing pad byte at the very end is tolerated.
        offset = std::min<qint64>(size, body + qint64(chunkSize) + (chunkSize & 1));
    }

    if (fmt.code != formatPcm || fmt.bits != 16)
        return fail(QStringLiteral("unsupported sample format: %1 (only 16-bit PCM)")
                        .arg(formatName(fmt.code, fmt.bits)));
    if (anyRate ? (fmt.rate == 0 || fmt.rate > 1000000) : fmt.rate != quint32(SampleRate))
        return fail(QStringLiteral("unsupported sample rate %1 Hz (only %2 Hz)")
                        .arg(fmt.rate)
                        .arg(SampleRate));
    if (fmt.channels != 1 && fmt.channels != 2)
        return fail(
            QStringLiteral("unsupported channel count %1 (only mono or stereo)").arg(fmt.channels));
    if (fmt.blockAlign != fmt.channels * 2)
        return fail(QStringLiteral("malformed fmt chunk (block size %1)").arg(fmt.blockAlign));

    layout.channels = fmt.channels;
    layout.rate = int(fmt.rate);
    layout.dataOffset = dataOffset;
    // A trailing partial frame is dropped.
    layout.dataBytes = dataSize - dataSize % fmt.blockAlign;
    error.clear();
    return true;
}
