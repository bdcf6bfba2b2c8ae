#pragma once

#include <QImage>

#include <array>

class QPaintDevice;

// Colours as the program stores them: 0x00BBGGRR, red in the low byte.
using TColor = quint32;

// Turns one FFT snapshot into a picture of 129 columns: falling bars (or lines) with slowly
// falling peak marks, composed on FrameBitmap and copied in one block to a target at (0, 0).
// A plain object: the owner sets the public fields directly and calls RenderFrame on every
// tick. Drawing follows the integer pixel conventions of the program: a rectangle covers
// columns left to right - 1 and rows top to bottom - 1, a line excludes its end point, y grows
// downwards; whatever falls outside the frame is clipped.
class TSpectrum {
public:
    static constexpr int Columns = 129;
    // Entries of a snapshot: the magnitudes of a 1024-point FFT in 0..511, and one spare.
    static constexpr int SnapshotLength = 513;
    static constexpr int FirstBin = 5;

    TSpectrum(int width, int height);

    // Draws one frame from snapshot[0..512] and copies the whole frame to target at (0, 0).
    // x and y place the columns' origin within the frame; the baseline is y + height.
    void RenderFrame(QPaintDevice& target, const float* snapshot, int x, int y);
    // The same without a target: only FrameBitmap is renewed.
    void RenderFrame(const float* snapshot, int x, int y);

    QImage FrameBitmap;
    QImage BackdropBitmap;
    TColor ClearColor = 0;
    int LevelCeiling = 100;
    TColor TraceColor = 0xFFFFFF;
    TColor PeakMarkColor = 0xFFFF;
    int PlotMode = 0;
    int BinStride = 1;
    bool ClearEachFrame = true;
    bool DrawBackdrop = false;
    int PeakDecay = 1;
    int BarDecay = 3;
    int BarWidth = 5;
    bool ShowPeakMarks = true;
    std::array<int, Columns> PeakLevels {};
    std::array<int, Columns> BarLevels {};

    // The Qt colour of a stored colour value.
    static QRgb toRgb(TColor color);

private:
    void fillRect(int left, int top, int right, int bottom, QRgb rgb);
    void hLine(int x0, int x1, int y, QRgb rgb);

    uchar* m_bits = nullptr;
    qsizetype m_stride = 0;
};
