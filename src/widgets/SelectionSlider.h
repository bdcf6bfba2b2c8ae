#pragma once

#include <QSlider>

// A horizontal slider that also shows a selection: a band along the groove from selStart to
// selEnd (in slider units). The window uses it as the Gain level meter and to show the Delay.
class SelectionSlider : public QSlider {
    Q_OBJECT

public:
    explicit SelectionSlider(QWidget* parent = nullptr);

    int selStart() const { return m_selStart; }
    int selEnd() const { return m_selEnd; }
    void setSelStart(int value);
    void setSelEnd(int value);

    // The band in widget pixels (empty when selEnd <= selStart).
    QRect selectionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_selStart = 0;
    int m_selEnd = 0;
};
