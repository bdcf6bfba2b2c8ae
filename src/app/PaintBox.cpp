#include "PaintBox.h"

#include <QPainter>

PaintBox::PaintBox(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage& PaintBox::canvas()
{
    if (m_canvas.size() != size()) {
        m_canvas = QImage(size(), QImage::Format_RGB32);
        m_canvas.fill(Qt::black);
    }
    return m_canvas;
}

void PaintBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, canvas());
}
