// The WAV reader, whole in memory and streamed from a file: both accept the same inputs with
// the same reasons and the same samples, and never report more frames than the file holds.
#include "FuzzCheck.h"
#include "audio/WavFile.h"
#include "audio/WavReader.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    WavFile whole;
    const bool parsed = whole.parse(bytes);
    FUZZ_CHECK(parsed == whole.errorString().isEmpty());
    // The RIFF header (12 bytes), the fmt chunk (at least 24) and the data chunk header (8).
    FUZZ_CHECK(whole.frameCount() * whole.sourceChannels() * 2 <= qint64(size) - 44 || !parsed);

    const QString path = fuzzScratchDirectory() + QStringLiteral("/input.wav");
    writeFuzzFile(path, data, size);
    WavReader reader;
    FUZZ_CHECK(reader.open(path) == parsed);
    FUZZ_CHECK(reader.errorString() == whole.errorString());
    if (!parsed)
        return 0;
    FUZZ_CHECK(reader.frameCount() == whole.frameCount());
    FUZZ_CHECK(reader.sourceChannels() == whole.sourceChannels());
    // Odd block sizes, so that blocks end anywhere in the data.
    std::vector<std::int16_t> streamed;
    std::int16_t block[2 * 37];
    for (qint64 frames; (frames = reader.read(block, 37)) > 0;)
        streamed.insert(streamed.end(), block, block + 2 * frames);
    FUZZ_CHECK(streamed == whole.frames());
    return 0;
}
