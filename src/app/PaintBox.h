#pragma once

#include <QImage>
#include <QWidget>

// A paint box: shows an image of its own size that its owner draws into. Black until drawn.
class PaintBox : public QWidget {
    Q_OBJECT

public:
    explicit PaintBox(QWidget* parent = nullptr);

    // The picture, sized to the widget. Call update() after drawing into it.
    QImage& canvas();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_canvas;
};
