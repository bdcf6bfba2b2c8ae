#include "replay/ReplayPlot.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr qint64 sampleRate = 44100;
constexpr qint64 tickMs = 33;

const QColor background(0xff, 0xff, 0xff);
const QColor envelopeColor(0x30, 0x60, 0xc0);
const QColor tickColor(0xc8, 0xc8, 0xc8);
const QColor voxColor(0x00, 0x80, 0x00);
const QColor gainColor(0xe0, 0x00, 0x00);
const QColor txColor(0xff, 0x99, 0x00);
const QColor inkColor(0x40, 0x40, 0x40);

// Seconds between labels on the time axis, so that at most about 20 labels appear.
qint64 labelStepSeconds(qint64 axisMs)
{
    for (const qint64 step : { 1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1200, 1800, 3600 }) {
        if (axisMs / 1000 / step <= 20)
            return step;
    }
    return 7200;
}

int levelRow(int level)
{
    return ReplayPlot::LevelBottom
        - std::clamp(level, 0, ReplayPlot::LevelMax) * ReplayPlot::LevelPixelsPerUnit;
}

} // namespace

void ReplayPlot::addAudio(std::span<const std::int16_t> stereoFrames)
{
    for (std::size_t i = 0; i + 1 < stereoFrames.size(); i += 2) {
        const int peak
            = std::max(std::abs(int(stereoFrames[i])), std::abs(int(stereoFrames[i + 1])));
        m_blockPeak = std::max<std::uint16_t>(m_blockPeak, std::uint16_t(peak));
        if (++m_framesInBlock == EnvelopeBlockFrames) {
            m_peaks.push_back(m_blockPeak);
            m_blockPeak = 0;
            m_framesInBlock = 0;
        }
        ++m_frames;
    }
}

ReplayCallbacks ReplayPlot::wrap(ReplayCallbacks callbacks)
{
    ReplayCallbacks wrapped = callbacks;
    wrapped.ticked = [this, next = callbacks.ticked](const ReplayTick& tick) {
        m_levels.push_back({ tick.timeMs, tick.tickLevel, tick.voxLevel });
        if (next)
            next(tick);
    };
    wrapped.txChanged = [this, next = callbacks.txChanged](bool on, qint64 timeMs) {
        if (on)
            m_spans.push_back({ timeMs, -1 });
        else if (!m_spans.empty())
            m_spans.back().offMs = timeMs;
        if (next)
            next(on, timeMs);
    };
    return wrapped;
}

qint64 ReplayPlot::axisMs() const
{
    qint64 end = (m_frames * 1000 + sampleRate - 1) / sampleRate;
    for (const Span& span : m_spans)
        end = std::max(end, span.offMs);
    return std::max<qint64>(1, (end + 999) / 1000) * 1000;
}

int ReplayPlot::columnOf(qint64 timeMs, qint64 axis) const
{
    return int(std::clamp<qint64>(timeMs * PlotWidth / axis, 0, PlotWidth - 1));
}

QImage ReplayPlot::render(const QString& title, int gain) const
{
    const qint64 axis = axisMs();
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);

    // Envelope: every block counts in each column it touches, so short files leave no gaps.
    std::vector<int> envelope(PlotWidth, 0);
    const qint64 lastFrameOfAxis = axis * sampleRate / 1000;
    for (std::size_t b = 0; b <= m_peaks.size(); ++b) {
        const bool partial = b == m_peaks.size();
        if (partial && m_framesInBlock == 0)
            break;
        const qint64 first = qint64(b) * EnvelopeBlockFrames;
        const qint64 last = first + (partial ? m_framesInBlock : EnvelopeBlockFrames) - 1;
        if (first >= lastFrameOfAxis)
            break;
        const int peak = partial ? m_blockPeak : m_peaks[b];
        const int from = columnOf(first * 1000 / sampleRate, axis);
        const int to = columnOf(last * 1000 / sampleRate, axis);
        for (int c = from; c <= to; ++c)
            envelope[c] = std::max(envelope[c], peak);
    }
    const int middle = EnvelopeTop + EnvelopeHeight / 2;
    const int halfHeight = EnvelopeHeight / 2 - 1;
    for (int c = 0; c < PlotWidth; ++c) {
        const int h = (envelope[c] * halfHeight + 16384) / 32768;
        if (envelope[c] > 0)
            painter.fillRect(PlotLeft + c, middle - h, 1, 2 * h + 1, envelopeColor);
    }

    // Levels: a tick's level holds until the next tick.
    std::vector<int> tickLevels(PlotWidth, 0);
    std::vector<int> voxLevels(PlotWidth, 0);
    for (const Level& level : m_levels) {
        if (level.timeMs >= axis)
            continue;
        const int from = columnOf(level.timeMs, axis);
        const int to = columnOf(std::min(level.timeMs + tickMs - 1, axis - 1), axis);
        for (int c = from; c <= to; ++c) {
            tickLevels[c] = std::max(tickLevels[c], level.tickLevel);
            voxLevels[c] = std::max(voxLevels[c], level.voxLevel);
        }
    }
    for (int c = 0; c < PlotWidth; ++c) {
        const int top = levelRow(tickLevels[c]);
        if (top < LevelBottom)
            painter.fillRect(PlotLeft + c, top, 1, LevelBottom - top, tickColor);
    }
    QPolygon vox(PlotWidth);
    for (int c = 0; c < PlotWidth; ++c)
        vox.setPoint(c, PlotLeft + c, levelRow(voxLevels[c]));
    painter.setPen(QPen(voxColor, 2));
    painter.drawPolyline(vox);
    painter.fillRect(PlotLeft, levelRow(gain), PlotWidth, 1, gainColor);

    for (const Span& span : m_spans) {
        const qint64 off = span.offMs < 0 ? axis : span.offMs;
        if (off <= span.onMs)
            continue;
        const int from = columnOf(span.onMs, axis);
        const int to = columnOf(off - 1, axis);
        painter.fillRect(PlotLeft + from, TxTop, to - from + 1, TxHeight, txColor);
    }

    drawFrame(painter, title, axis);
    return image;
}

void ReplayPlot::drawFrame(QPainter& painter, const QString& title, qint64 axis) const
{
    const int right = PlotLeft + PlotWidth;
    painter.setPen(QPen(inkColor, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(PlotLeft - 1, EnvelopeTop - 1, PlotWidth + 1, EnvelopeHeight + 1);
    painter.drawRect(PlotLeft - 1, LevelTop - 1, PlotWidth + 1, LevelBottom - LevelTop + 2);
    painter.drawRect(PlotLeft - 1, TxTop - 1, PlotWidth + 1, TxHeight + 1);

    QFont font = painter.font();
    font.setPixelSize(13);
    painter.setFont(font);
    const QRect leftLabel(4, 0, PlotLeft - 44, 0);
    painter.drawText(leftLabel.adjusted(0, EnvelopeTop, 0, EnvelopeTop + EnvelopeHeight),
        Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("audio"));
    painter.drawText(leftLabel.adjusted(0, LevelTop, 0, LevelBottom),
        Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("level"));
    painter.drawText(leftLabel.adjusted(0, TxTop, 0, TxTop + TxHeight),
        Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TX"));

    // Level axis: a mark and a number every 20 units.
    for (int level = 0; level <= LevelMax; level += 20) {
        const int y = levelRow(level);
        painter.drawLine(PlotLeft - 6, y, PlotLeft - 2, y);
        painter.drawText(QRect(PlotLeft - 40, y - 8, 32, 16), Qt::AlignRight | Qt::AlignVCenter,
            QString::number(level));
    }
    // Time axis in seconds.
    const qint64 step = labelStepSeconds(axis);
    const int axisY = TxTop + TxHeight + 1;
    for (qint64 s = 0; s * 1000 <= axis; s += step) {
        const int x = PlotLeft + int(s * 1000 * PlotWidth / axis);
        painter.drawLine(x, axisY, x, axisY + 5);
        painter.drawText(
            QRect(x - 40, axisY + 6, 80, 16), Qt::AlignHCenter | Qt::AlignTop, QString::number(s));
    }
    painter.drawText(QRect(PlotLeft, axisY + 24, PlotWidth, 20), Qt::AlignHCenter | Qt::AlignTop,
        QStringLiteral("time (s)"));

    // Title and legend.
    QFont bold = font;
    bold.setPixelSize(16);
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(
        QRect(PlotLeft, 8, PlotWidth / 2, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.setFont(font);
    struct Entry {
        QColor color;
        QString text;
    };
    const Entry legend[] = { { envelopeColor, QStringLiteral("audio peak") },
        { tickColor, QStringLiteral("tick level") }, { voxColor, QStringLiteral("VOX level") },
        { gainColor, QStringLiteral("Gain") }, { txColor, QStringLiteral("transmit") } };
    int x = right - 560;
    for (const Entry& entry : legend) {
        painter.fillRect(x, 14, 12, 12, entry.color);
        painter.drawText(QRect(x + 16, 8, 96, 24), Qt::AlignLeft | Qt::AlignVCenter, entry.text);
        x += 112;
    }
}
