#include "LampWidget.h"

#include <QPainter>
#include <QRadialGradient>

LampWidget::LampWidget(QWidget* parent)
    : QWidget(parent)
{
}

void LampWidget::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    update();
}

void LampWidget::setColors(
    const QColor& color1, const QColor& color2, const QColor& offColor1, const QColor& offColor2)
{
    m_color1 = color1;
    m_color2 = color2;
    m_offColor1 = offColor1;
    m_offColor2 = offColor2;
    update();
}

void LampWidget::setLitColors(const QColor& color1, const QColor& color2)
{
    // The rig monitor sets the colours on every refresh; only a change is drawn.
    if (color1 == m_color1 && color2 == m_color2)
        return;
    m_color1 = color1;
    m_color2 = color2;
    update();
}

void LampWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc = QRectF(rect()).adjusted(1, 1, -1, -1);
    QRadialGradient gradient(disc.center(), disc.width() / 2, disc.center());
    gradient.setColorAt(0, m_on ? m_color2 : m_offColor2);
    gradient.setColorAt(1, m_on ? m_color1 : m_offColor1);
    painter.setPen(QPen(Qt::gray, 1));
    painter.setBrush(gradient);
    painter.drawEllipse(disc);
}
