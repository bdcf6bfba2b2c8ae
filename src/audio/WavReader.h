#pragma once

#include "audio/WavFile.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <vector>

// Reads the samples of a WAV file block by block, so that memory stays the same whatever
// the length of the recording. Accepts the files WavFile accepts, refusing the others with
// the same reasons, but has no limit on the file size. A file that cannot seek (a pipe) is
// read whole into memory, within WavFile's limit.
class WavReader {
public:
    bool open(const QString& path);

    // Frames of the data chunk (after the mono expansion, still one frame per sample time).
    qint64 frameCount() const { return m_frameCount; }
    // Channels stored in the file (1 or 2).
    int sourceChannels() const { return m_layout.channels; }
    QString errorString() const { return m_error; }

    // Reads the next frames, at most maxFrames, as interleaved stereo into stereo
    // (2 * maxFrames values). Returns the frames read: fewer only at the end of the data,
    // 0 after it, -1 when the file cannot be read (errorString() says why).
    qint64 read(std::int16_t* stereo, qint64 maxFrames);
    // Starts again at the first frame.
    bool rewind();

private:
    bool fail(const QString& reason);

    QFile m_file;
    WavFile m_whole; // only for files that cannot seek
    bool m_inMemory = false;
    WavFile::Layout m_layout;
    qint64 m_frameCount = 0;
    qint64 m_position = 0; // frames read
    std::vector<char> m_buffer;
    QString m_error;
};
