#include "widgets/TPaintBox.h"

#include <QPaintEvent>
#include <QPainter>

TPaintBox::TPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage& TPaintBox::surface()
{
    if (m_surface.size() != size()) {
        // A resize keeps what was drawn, from the top left corner.
        QImage resized(size(), QImage::Format_RGB32);
        resized.fill(Qt::black);
        if (!m_surface.isNull()) {
            QPainter painter(&resized);
            painter.drawImage(0, 0, m_surface);
        }
        m_surface = resized;
    }
    return m_surface;
}

void TPaintBox::resizeEvent(QResizeEvent*)
{
    surface();
}

void TPaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(event->rect(), surface(), event->rect());
}
