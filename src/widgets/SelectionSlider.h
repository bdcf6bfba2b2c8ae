#pragma once

#include <QSlider>

#include <QColor>

// A horizontal slider that also shows a selection: a band along the groove from selStart to
// selEnd (in slider units). The window uses it as the Gain level meter and to show the Delay.
// The groove is the slider's own: empty where there is no band, the band in a colour of its
// own, the handle on top.
class SelectionSlider : public QSlider {
    Q_OBJECT
    Q_PROPERTY(QColor bandColor READ bandColor WRITE setBandColor)

public:
    explicit SelectionSlider(QWidget* parent = nullptr);

    int selStart() const { return m_selStart; }
    int selEnd() const { return m_selEnd; }
    void setSelStart(int value);
    void setSelEnd(int value);

    QColor bandColor() const { return m_bandColor; }
    void setBandColor(const QColor& color);

    // The groove in widget pixels, frame included.
    QRect grooveRect() const;
    // The band in widget pixels, inside the groove's frame (empty when selEnd <= selStart).
    QRect selectionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_selStart = 0;
    int m_selEnd = 0;
    // A level-meter green, apart from the styles' blue highlight and grey handles.
    QColor m_bandColor { 0x2e, 0xb8, 0x3c };
};
