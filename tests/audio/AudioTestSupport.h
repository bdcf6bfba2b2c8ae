#pragma once

#include "audio/CaptureBackend.h"
#include "common/WavWriter.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <vector>

class AudioEngine;

// Interleaved stereo 16-bit frames, as the engine delivers them.
using Frames = std::vector<qint16>;

namespace AudioTest {
constexpr int Rate = 44100;
constexpr int FftSize = 1024;

// A sine that completes `bin` periods in 1024 frames (so it lies on FFT bin `bin`),
// phase 0, with the given peak amplitudes per channel (in sample units).
Frames sine(int frames, int bin, double leftPeak, double rightPeak);
Frames constant(int frames, qint16 left, qint16 right);
// Reproducible full-range noise.
Frames noise(int frames, quint32 seed);
Frames concat(const Frames& a, const Frames& b);

using ::writeWav; // 16-bit PCM (common/WavWriter.h)
bool writeRaw(const QString& path, const Frames& frames);

// Number of the recording device called `name`, or -1.
int recordingDevice(AudioEngine& engine, const QByteArray& name);
// RecordInit on the recording device called `name`, then RecordStart at 44100 Hz stereo.
// The channel, or 0 with the reason in *error.
quint32 startCapture(
    AudioEngine& engine, const QByteArray& name, RecordProc proc, void* user, QString* error);

// Record-callback state: after every block, on the capture thread, copies the ring's newest
// frames (as many as the block) into storage reserved beforehand, checks them against the
// block, and ends the capture once `target` frames have arrived.
struct Collector {
    static constexpr std::size_t MaxBlock = 32768;
    Collector(const AudioEngine* engine, std::size_t target);
    const AudioEngine* engine;
    std::size_t target;
    Frames frames;
    std::atomic<std::size_t> filled { 0 };
    std::atomic<int> blocks { 0 };
    std::atomic<bool> mismatch { false };
    static bool proc(quint32 handle, const void* buffer, quint32 length, void* user);
};

// Record-callback state: counts the frames delivered; the capture goes on.
struct FrameCounter {
    std::atomic<quint64> frames { 0 };
    static bool proc(quint32 handle, const void* buffer, quint32 length, void* user);
};
}
