#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// A WAV file in the one form the level detector is defined for: 16-bit PCM at 44100 Hz.
// Accepted: RIFF/WAVE with a "fmt " chunk of format 1 (PCM) or WAVE_FORMAT_EXTENSIBLE with
// the PCM subtype, 1 or 2 channels, 16 bits, 44100 Hz. Chunks are walked in order (LIST, fact
// and any other chunk are skipped, odd sizes padded); the first "data" chunk after "fmt " is
// the audio. Mono is duplicated to both channels, so frames() is always interleaved stereo,
// the layout the capture engine delivers.
//
// Everything else is refused with a one-line reason (errorString()): a missing or unreadable
// file, a non-WAV file, a truncated file (a chunk that runs past the end), another sample rate
// or sample format, more than two channels, or a file larger than MaxFileBytes.
// A trailing partial frame in the data chunk is dropped.
class WavFile {
public:
    static constexpr int SampleRate = 44100;
    // About 100 minutes of stereo; mono files double in memory when expanded to stereo.
    static constexpr qint64 MaxFileBytes = qint64(1) << 30;

    // Other sample rates are accepted too (sounds to play rather than audio to measure);
    // sampleRate() then tells the file's rate.
    void setAnyRate(bool any) { m_anyRate = any; }
    int sampleRate() const { return m_sampleRate; }

    // Reads and parses the file at path. On failure frames() is empty and errorString()
    // holds the reason (without the file name; the caller names the file).
    bool load(const QString& path);
    // Parses a whole WAV file held in memory.
    bool parse(const QByteArray& bytes);

    // Interleaved left/right samples, 2 * frameCount() values.
    const std::vector<std::int16_t>& frames() const { return m_frames; }
    qint64 frameCount() const { return qint64(m_frames.size() / 2); }
    // Channels stored in the file (1 or 2) before the mono expansion.
    int sourceChannels() const { return m_sourceChannels; }
    QString errorString() const { return m_error; }

    // Where the samples of an accepted file are: channels (1 or 2), and the byte range of
    // the whole frames of the data chunk.
    struct Layout {
        int channels = 0;
        int rate = 0;
        qint64 dataOffset = 0;
        qint64 dataBytes = 0;
    };
    // Walks the header of a file of `size` bytes, reading through readAt(offset, length)
    // (which returns fewer bytes at the end), so that the samples need not be in memory.
    // Refuses exactly what parse() refuses, with the same reasons; any sample rate is taken
    // with `anyRate`.
    static bool parseLayout(const std::function<QByteArray(qint64, qint64)>& readAt, qint64 size,
        Layout& layout, QString& error, bool anyRate = false);

private:
    bool fail(const QString& reason);

    std::vector<std::int16_t> m_frames;
    int m_sourceChannels = 0;
    int m_sampleRate = 0;
    bool m_anyRate = false;
    QString m_error;
};
