#include "audio/WavReader.h"

#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>

bool WavReader::fail(const QString& reason)
{
    m_file.close();
    m_whole = WavFile();
    m_inMemory = false;
    m_layout = {};
    m_frameCount = 0;
    m_position = 0;
    m_error = reason;
    return false;
}

bool WavReader::open(const QString& path)
{
    m_file.close();
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("cannot read: is a directory"));
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open: %1").arg(m_file.errorString()));

    if (m_file.isSequential()) {
        m_file.close();
        if (!m_whole.load(path))
            return fail(m_whole.errorString());
        m_inMemory = true;
        m_layout.channels = m_whole.sourceChannels();
        m_frameCount = m_whole.frameCount();
        m_position = 0;
        m_error.clear();
        return true;
    }

    const auto readAt = [this](qint64 offset, qint64 length) {
        return m_file.seek(offset) ? m_file.read(length) : QByteArray();
    };
    QString error;
    if (!WavFile::parseLayout(readAt, m_file.size(), m_layout, error))
        return fail(error);
    if (m_file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read: %1").arg(m_file.errorString()));
    m_inMemory = false;
    m_frameCount = m_layout.dataBytes / (2 * m_layout.channels);
    m_error.clear();
    return rewind();
}

bool WavReader::rewind()
{
    m_position = 0;
    if (m_inMemory || !m_file.isOpen())
        return m_inMemory;
    if (!m_file.seek(m_layout.dataOffset))
        return fail(QStringLiteral("cannot read: %1").arg(m_file.errorString()));
    return true;
}

qint64 WavReader::read(std::int16_t* stereo, qint64 maxFrames)
{
    const qint64 frames = std::clamp<qint64>(m_frameCount - m_position, 0, maxFrames);
    if (frames == 0)
        return 0;
    if (m_inMemory) {
        std::memcpy(stereo, m_whole.frames().data() + 2 * m_position,
            sizeof(std::int16_t) * 2 * std::size_t(frames));
        m_position += frames;
        return frames;
    }
    const int channels = m_layout.channels;
    const qint64 bytes = frames * 2 * channels;
    m_buffer.resize(std::size_t(bytes));
    if (m_file.read(m_buffer.data(), bytes) != bytes) {
        // The file shrank since it was opened, or the disk failed.
        m_error
            = QStringLiteral("cannot read: %1")
                  .arg(m_file.error() != QFileDevice::NoError ? m_file.errorString()
                                                              : QStringLiteral("file truncated"));
        return -1;
    }
    const char* in = m_buffer.data();
    for (qint64 i = 0; i < frames; ++i) {
        const auto left = qFromLittleEndian<qint16>(in + i * 2 * channels);
        stereo[2 * i] = left;
        stereo[2 * i + 1] = channels == 2 ? qFromLittleEndian<qint16>(in + i * 4 + 2) : left;
    }
    m_position += frames;
    return frames;
}
