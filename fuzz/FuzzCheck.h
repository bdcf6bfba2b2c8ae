#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// A property that must hold for every input; a violation stops the run like a crash, so that
// the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(                                                                          \
                stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition);         \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A scratch directory of this process in memory (no disk writes, no fsync cost), made once.
inline QString fuzzScratchDirectory()
{
    static const QString dir = [] {
        char path[] = "/dev/shm/vokey-fuzz.XXXXXX";
        if (!mkdtemp(path)) {
            std::strcpy(path, "/tmp/vokey-fuzz.XXXXXX");
            if (!mkdtemp(path))
                std::abort();
        }
        return QString::fromLocal8Bit(path);
    }();
    return dir;
}

// Replaces the file at path with data.
inline void writeFuzzFile(const QString& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
}
