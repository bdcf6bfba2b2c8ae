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

void SelectionSlider::setBandColor(const QColor& color)
{
    if (color == m_bandColor)
        return;
    m_bandColor = color;
    update();
}

QRect SelectionSlider::grooveRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove
        = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    // Tall enough for a band that can be seen inside its frame.
    const int height = std::max(8, groove.height());
    return QRect(groove.left(), groove.center().y() - height / 2 + 1, groove.width(), height);
}

QRect SelectionSlider::selectionRect() const
{
    if (m_selEnd <= m_selStart)
        return {};
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = grooveRect().adjusted(1, 1, -1, -1);
    const QRect handle
        = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // The handle's centre travels from groove.left + handle/2 to groove.right - handle/2; the
    // band reaches the centre of where the handle would be at selEnd.
    const int span = groove.width() - handle.width();
    const int offset = groove.left() + handle.width() / 2;
    auto x = [&](int value) {
        return offset
            + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
    };
    // The band of a selection that starts at the minimum starts at the groove's end.
    const int x0 = m_selStart == minimum() ? groove.left() : x(m_selStart);
    const int x1 = m_selEnd == maximum() ? groove.right() : x(m_selEnd);
    return QRect(QPoint(x0, groove.top()), QPoint(x1, groove.bottom()));
}

void SelectionSlider::paintEvent(QPaintEvent*)
{
    // Groove, band, then the handle on top, so the band never hides the handle. The groove is
    // not the style's: Fusion fills its groove in the highlight colour from the minimum up to
    // the handle, and a level band drawn over that fill cannot be told from it.
    QPainter painter(this);
    const QRect groove = grooveRect();
    painter.setPen(palette().color(QPalette::Dark));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRect(groove.adjusted(0, 0, -1, -1));
    const QRect band = selectionRect();
    if (!band.isEmpty())
        painter.fillRect(band, m_bandColor);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderHandle | QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
