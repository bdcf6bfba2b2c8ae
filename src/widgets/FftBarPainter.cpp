#include "widgets/FftBarPainter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

TSpectrum::TSpectrum(int width, int height)
    : FrameBitmap(width, height, QImage::Format_RGB32)
    , BackdropBitmap(width, height, QImage::Format_RGB32)
{
    FrameBitmap.fill(Qt::black);
    BackdropBitmap.fill(Qt::black);
}

QRgb TSpectrum::toRgb(TColor color)
{
    return qRgb(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

void TSpectrum::fillRect(int left, int top, int right, int bottom, QRgb rgb)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, FrameBitmap.width());
    bottom = std::min(bottom, FrameBitmap.height());
    if (right <= left)
        return;
    for (int row = top; row < bottom; ++row) {
        // Raw rows: QImage::scanLine would check for sharing on every call.
        auto* line = reinterpret_cast<QRgb*>(m_bits + qsizetype(row) * m_stride);
        std::fill(line + left, line + right, rgb);
    }
}

void TSpectrum::hLine(int x0, int x1, int y, QRgb rgb)
{
    fillRect(x0, y, x1, y + 1, rgb);
}

void TSpectrum::RenderFrame(QPaintDevice& target, const float* snapshot, int x, int y)
{
    RenderFrame(snapshot, x, y);
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, FrameBitmap);
}

void TSpectrum::RenderFrame(const float* snapshot, int x, int y)
{
    const int height = FrameBitmap.height();
    if (ClearEachFrame) {
        FrameBitmap.fill(toRgb(ClearColor));
        if (DrawBackdrop) {
            QPainter painter(&FrameBitmap);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, BackdropBitmap);
        }
    }
    m_bits = FrameBitmap.bits(); // detaches once, if an owner holds a copy
    m_stride = FrameBitmap.bytesPerLine();
    const QRgb trace = toRgb(TraceColor);
    const QRgb peakMark = toRgb(PeakMarkColor);
    const int baseline = y + height;
    for (int i = 0; i < Columns; ++i) {
        // A stride outside 0..3 would read past the snapshot: such columns are left out.
        const qint64 bin = FirstBin + qint64(i) * BinStride;
        if (bin < 0 || bin >= SnapshotLength)
            continue;
        const float m = std::fabs(snapshot[bin]);
        // m * 500 truncated, at most the ceiling; a NaN (a broken snapshot) shows nothing.
        const double scaled = std::isnan(m) ? 0.0 : double(m) * 500.0;
        const int v = scaled >= double(LevelCeiling) ? LevelCeiling : int(scaled);

        int& peak = PeakLevels[std::size_t(i)];
        int& bar = BarLevels[std::size_t(i)];
        peak = v >= peak ? v : peak - PeakDecay;
        bar = v >= bar ? v : bar - BarDecay;
        peak = std::max(peak, 0);
        bar = std::max(bar, 0);

        if (PlotMode == 0) {
            // A line from the baseline up to, not including, baseline - bar.
            fillRect(x + i, baseline - bar + 1, x + i + 1, baseline + 1, trace);
            if (ShowPeakMarks)
                fillRect(x + i, baseline - peak, x + i + 1, baseline - peak + 1, trace);
        } else if (PlotMode == 1) {
            const int left = x + i * (BarWidth + 1);
            if (ShowPeakMarks)
                hLine(left, left + BarWidth, baseline - peak, peakMark);
            fillRect(left, baseline - bar, left + BarWidth, baseline, trace);
        }
    }
}
