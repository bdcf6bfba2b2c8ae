#include "widgets/SelectionSlider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

SelectionSlider::SelectionSlider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
{
}

void SelectionSlider::setSelStart(int value)
{
    value = std::clamp(value, minimum(), maximum());
    if (value == m_selStart)
        return;
    m_selStart = value;
    update();
}

void SelectionSlider::setSelEnd(int value)
{
    value = std::clamp(value, minimum(), maximum());
    if (value == m_selEnd)
        return;
    m_selEnd = value;
    update();
}

QRect SelectionSlider::selectionRect() const
{
    if (m_selEnd <= m_selStart)
        return {};
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove
        = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle
        = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // The handle's centre travels from groove.left + handle/2 to groove.right - handle/2.
    const int span = groove.width() - handle.width();
    const int offset = groove.left() + handle.width() / 2;
    const int x0 = offset
        + QStyle::sliderPositionFromValue(
            minimum(), maximum(), m_selStart, span, option.upsideDown);
    const int x1 = offset
        + QStyle::sliderPositionFromValue(minimum(), maximum(), m_selEnd, span, option.upsideDown);
    const int h = std::max(4, groove.height() / 2);
    return QRect(QPoint(std::min(x0, x1), groove.center().y() - h / 2),
        QPoint(std::max(x0, x1), groove.center().y() - h / 2 + h - 1));
}

void SelectionSlider::paintEvent(QPaintEvent*)
{
    // Groove, band, then the handle on top, so the band never hides the handle.
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    const QRect band = selectionRect();
    if (!band.isEmpty())
        painter.fillRect(band, palette().color(QPalette::Highlight));
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
