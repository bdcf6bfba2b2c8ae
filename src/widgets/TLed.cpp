#include "widgets/TLed.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

int channel(TColor color, int shift)
{
    return int((color >> shift) & 0xFF);
}

// Rounded corners smaller than this are drawn as square corners: the ellipse of a one- or
// two-pixel corner covers no pixel beyond the rectangle's.
constexpr int SquareCornerLimit = 3;

} // namespace

TLed::TLed(QWidget* parent)
    : QWidget(parent)
{
    resize(10, 33);
}

template <typename T> void TLed::change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    repaint();
}

void TLed::setLedStyle(LedStyle style)
{
    change(m_style, style);
}

void TLed::setColor1(TColor color)
{
    change(m_color1, color);
}

void TLed::setColor2(TColor color)
{
    change(m_color2, color);
}

void TLed::setOffColor1(TColor color)
{
    change(m_offColor1, color);
}

void TLed::setOffColor2(TColor color)
{
    change(m_offColor2, color);
}

void TLed::setRadius(quint8 radius)
{
    change(m_radius, radius);
}

void TLed::setOn(bool on)
{
    change(m_on, on);
}

void TLed::setDiagShining(bool diagShining)
{
    change(m_diagShining, diagShining);
}

void TLed::setColors(TColor color1, TColor color2, TColor offColor1, TColor offColor2)
{
    setColor1(color1);
    setColor2(color2);
    setOffColor1(offColor1);
    setOffColor2(offColor2);
}

void TLed::roundRect(QPainter& painter, int left, int top, int right, int bottom, QRgb pen)
{
    // Covers columns left..right - 1 and rows top..bottom - 1: outline in the pen colour,
    // inside in the fill colour. An empty or inverted rectangle draws nothing.
    if (right <= left || bottom <= top)
        return;
    if (m_radius >= SquareCornerLimit && right - left > 2 && bottom - top > 2) {
        painter.setPen(QPen(QColor(pen), 0));
        painter.setBrush(QColor(m_fill));
        const qreal r = m_radius / 2.0;
        painter.drawRoundedRect(QRect(left, top, right - left - 1, bottom - top - 1), r, r);
        return;
    }
    painter.fillRect(QRect(left, top, right - left, bottom - top), QColor(pen));
    if (right - left > 2 && bottom - top > 2)
        painter.fillRect(
            QRect(left + 1, top + 1, right - left - 2, bottom - top - 2), QColor(m_fill));
}

void TLed::paintGradient(QPainter& painter, TColor a, TColor b)
{
    const int w = width(), h = height();
    const quint16 d = quint16((m_style == lsGradient1 ? std::max(w, h) : std::min(w, h)) - 1);
    const int s = d / 2;
    int step[3] = { 0, 0, 0 };
    for (int c = 0; c < 3; ++c) {
        const int from = channel(a, 8 * c), to = channel(b, 8 * c);
        // A lamp too small for a second ring (s = 0) stays in the start colour.
        if (from != to && s > 0)
            step[c] = (to - from) / s;
    }
    for (int k = 0; k <= s; ++k) {
        const QRgb ring = qRgb((channel(a, 0) + k * step[0]) & 0xFF,
            (channel(a, 8) + k * step[1]) & 0xFF, (channel(a, 16) + k * step[2]) & 0xFF);
        if (!m_diagShining)
            m_fill = ring;
        roundRect(painter, k, k, w - k - 1, h - k - 1, ring);
        if (k == 0) {
            // The pen starts at the top left corner and stays at (w, h) after this line, so
            // only the first ring's line is drawn; (w, h) itself is excluded (and off the lamp).
            painter.setPen(QPen(QColor(ring), 0));
            painter.drawLine(0, 0, w, h);
        }
    }
}

void TLed::paintAlternating(QPainter& painter, TColor a, TColor b)
{
    const int w = width(), h = height();
    const QRgb ra = TSpectrum::toRgb(a), rb = TSpectrum::toRgb(b);
    const int passes = (w - 1) / 4 + 1;
    for (int k = 0; k < passes; ++k) {
        if (!m_diagShining)
            m_fill = rb;
        roundRect(painter, 2 * k, 2 * k, w - 2 * k - 1, h - 2 * k - 1, ra);
        if (!m_diagShining)
            m_fill = ra;
        roundRect(painter, 2 * k + 1, 2 * k + 1, w - 2 * k - 2, h - 2 * k - 2, rb);
    }
}

void TLed::paintEvent(QPaintEvent*)
{
    ++m_paintCount;
    if (width() <= 0 || height() <= 0)
        return;
    QPainter painter(this);
    const TColor a = m_on ? m_color1 : m_offColor1;
    const TColor b = m_on ? m_color2 : m_offColor2;
    if (m_style == lsAlternative)
        paintAlternating(painter, a, b);
    else
        paintGradient(painter, a, b);
}

void TLed::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TLed::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (!click)
        return;
    if (m_clickAction)
        setOn(!m_on);
    emit clicked();
}

void TLed::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The first press of a double click has already clicked; this is the second half.
    if (event->button() != Qt::LeftButton)
        return;
    if (m_dblClickAction)
        setOn(!m_on);
    emit doubleClicked();
}
