#pragma once
// Test audio written as the sound card's files are: 16-bit PCM WAV.

#include <QString>
#include <QtGlobal>

#include <vector>

// `samples` holds `channels` interleaved samples per frame.
bool writeWav(
    const QString& path, const std::vector<qint16>& samples, int rate = 44100, int channels = 2);

// Stereo 44100 Hz: `seconds` of silence, or of a sine of `frequency` Hz and peak `amplitude`
// (a share of full scale) on both channels.
bool writeTestWav(const QString& path, double seconds, double frequency = 0, double amplitude = 0);
