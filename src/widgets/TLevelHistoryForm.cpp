#include "widgets/TLevelHistoryForm.h"

#include <QPainter>
#include <algorithm>

namespace {

const QColor background(0xff, 0xff, 0xff);
const QColor levelColor(0x00, 0x80, 0x00);
const QColor gainColor(0xe0, 0x00, 0x00);
const QColor txColor(0xff, 0x99, 0x00);
const QColor frameColor(0x80, 0x80, 0x80);

} // namespace

TLevelHistoryForm::TLevelHistoryForm(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("LevelHistory"));
    setWindowTitle(QStringLiteral("Level history"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(480, 180);
}

void TLevelHistoryForm::addTick(int voxLevel, int gain, bool transmitting)
{
    if (!isVisible())
        return;
    m_ring[std::size_t(m_next)] = { short(std::clamp(voxLevel, 0, LevelMax)), transmitting };
    m_next = (m_next + 1) % Capacity;
    m_count = std::min(m_count + 1, Capacity);
    m_gain = std::clamp(gain, 0, LevelMax);
    update();
}

void TLevelHistoryForm::showEvent(QShowEvent* event)
{
    // Ticks were not kept while the window was closed: start afresh rather than join two
    // stretches of time.
    m_next = 0;
    m_count = 0;
    QWidget::showEvent(event);
}

void TLevelHistoryForm::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), background);
    const int left = Margin;
    const int width = this->width() - 2 * Margin;
    const int txTop = height() - Margin - TxHeight;
    const int levelBottom = txTop - TxGap - 1; // row of level 0
    const int levelTop = Margin; // row of LevelMax
    if (width <= 0 || levelBottom <= levelTop)
        return;
    const auto rowOf
        = [&](int level) { return levelBottom - level * (levelBottom - levelTop) / LevelMax; };

    const int first = Capacity - m_count; // slot of the oldest kept tick
    for (int i = first; i < Capacity; ++i) {
        const Tick& tick = m_ring[std::size_t((m_next + i) % Capacity)];
        const int x0 = left + i * width / Capacity;
        const int x1 = std::max(x0 + 1, left + (i + 1) * width / Capacity);
        if (tick.level > 0) {
            const int top = rowOf(tick.level);
            painter.fillRect(x0, top, x1 - x0, levelBottom - top + 1, levelColor);
        }
        if (tick.transmitting)
            painter.fillRect(x0, txTop, x1 - x0, TxHeight, txColor);
    }
    painter.fillRect(left, rowOf(m_gain), width, 1, gainColor);
    painter.setPen(frameColor);
    painter.drawRect(left - 1, levelTop - 1, width + 1, levelBottom - levelTop + 2);
    painter.drawRect(left - 1, txTop - 1, width + 1, TxHeight + 1);
}
