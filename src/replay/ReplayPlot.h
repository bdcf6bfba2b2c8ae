#pragma once

#include "replay/ReplayRunner.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

class QPainter;

// Collects what a replay shows - the audio envelope, the tick and VOX levels, the transmit
// spans - and draws it as one picture an operator reads at a glance.
//
// Memory stays small whatever the length: the envelope is kept as the peak of every
// EnvelopeBlockFrames frames, the levels as one entry per tick. Drawing summarises both per
// pixel column by their maximum, so no peak is lost however long the recording.
//
// Picture (Width x Height, white): title on top; three panels over the same time axis,
// columns PlotLeft .. PlotLeft + PlotWidth - 1, time 0 at the left edge of PlotLeft and
// axisMs() at the right edge of the last column:
//   envelope  rows EnvelopeTop .. EnvelopeTop + EnvelopeHeight - 1, symmetric about its middle
//   levels    rows LevelTop .. LevelBottom, level 0 on LevelBottom and LevelMax on
//             LevelBottom - LevelMax * LevelPixelsPerUnit (levels above LevelMax are clipped);
//             tick level filled in grey, VOX level as a green line, the Gain a red line on top
//   transmit  rows TxTop .. TxTop + TxHeight - 1, an orange bar wherever transmit is on
// Column c (0-based from PlotLeft) covers [c * axisMs / PlotWidth, (c + 1) * axisMs / PlotWidth).
class ReplayPlot {
public:
    static constexpr int Width = 1600;
    static constexpr int Height = 600;
    static constexpr int PlotLeft = 80;
    static constexpr int PlotWidth = 1500;
    static constexpr int EnvelopeTop = 50;
    static constexpr int EnvelopeHeight = 120;
    static constexpr int LevelMax = 100;
    static constexpr int LevelPixelsPerUnit = 3;
    static constexpr int LevelBottom = 490;
    static constexpr int LevelTop = LevelBottom - LevelMax * LevelPixelsPerUnit;
    static constexpr int TxTop = 510;
    static constexpr int TxHeight = 30;
    static constexpr int EnvelopeBlockFrames = 64;

    // Audio in order, interleaved stereo 16-bit at 44100 Hz; may come in any number of parts.
    void addAudio(std::span<const std::int16_t> stereoFrames);
    // Hooks the collector onto a replay's callbacks, keeping whatever they already do.
    ReplayCallbacks wrap(ReplayCallbacks callbacks);

    // The time axis: the audio and the last release, rounded up to whole seconds.
    qint64 axisMs() const;
    // title: shown on top (file name, Gain, Delay).
    QImage render(const QString& title, int gain) const;

private:
    struct Span {
        qint64 onMs;
        qint64 offMs;
    };
    struct Level {
        qint64 timeMs;
        int tickLevel;
        int voxLevel;
    };

    int columnOf(qint64 timeMs, qint64 axis) const;
    void drawFrame(QPainter& painter, const QString& title, qint64 axis) const;

    std::vector<std::uint16_t> m_peaks; // per EnvelopeBlockFrames frames, 0..32768
    std::uint16_t m_blockPeak = 0;
    qint64 m_framesInBlock = 0;
    qint64 m_frames = 0;
    std::vector<Level> m_levels;
    std::vector<Span> m_spans; // offMs < 0 while transmit is still on
};
