#pragma once

#include <QImage>
#include <QWidget>

// A paint box: a surface of the widget's size that its owner draws into (a spectrum painter
// copies its frames there). The widget shows the surface as it was last drawn, so a repaint
// of the window shows the last frame again. Black until drawn.
class TPaintBox : public QWidget {
    Q_OBJECT

public:
    explicit TPaintBox(QWidget* parent = nullptr);

    // The surface, sized to the widget. Call update() after drawing into it.
    QImage& surface();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage m_surface;
};
