#pragma once

#include "widgets/FftBarPainter.h"

#include <QColor>
#include <QWidget>

// A lamp: concentric one-pixel rounded rectangles whose colours run from a start colour at the
// edge to an end colour inside (gradient styles) or alternate between the two (alternating
// style). One colour pair for the lit state, one for the dark state; On chooses.
// The lamp paints over its parent without clearing first: what lies outside its outermost
// rectangle stays the parent's. Setters of drawing properties repaint at once, and only when
// the value changes, so the owner may set On on every tick.
class TLed : public QWidget {
    Q_OBJECT
    Q_PROPERTY(LedStyle Style READ ledStyle WRITE setLedStyle)
    Q_PROPERTY(quint32 Color1 READ color1 WRITE setColor1)
    Q_PROPERTY(quint32 Color2 READ color2 WRITE setColor2)
    Q_PROPERTY(quint32 OffColor1 READ offColor1 WRITE setOffColor1)
    Q_PROPERTY(quint32 OffColor2 READ offColor2 WRITE setOffColor2)
    Q_PROPERTY(quint8 Radius READ radius WRITE setRadius)
    Q_PROPERTY(bool On READ isOn WRITE setOn)
    Q_PROPERTY(bool DiagShining READ diagShining WRITE setDiagShining)
    Q_PROPERTY(bool ClickAction READ clickAction WRITE setClickAction)
    Q_PROPERTY(bool DblClickAction READ dblClickAction WRITE setDblClickAction)

public:
    enum LedStyle { lsGradient1, lsGradient2, lsAlternative };
    Q_ENUM(LedStyle)

    explicit TLed(QWidget* parent = nullptr);

    LedStyle ledStyle() const { return m_style; }
    void setLedStyle(LedStyle style);
    TColor color1() const { return m_color1; }
    void setColor1(TColor color);
    TColor color2() const { return m_color2; }
    void setColor2(TColor color);
    TColor offColor1() const { return m_offColor1; }
    void setOffColor1(TColor color);
    TColor offColor2() const { return m_offColor2; }
    void setOffColor2(TColor color);
    quint8 radius() const { return m_radius; }
    void setRadius(quint8 radius);
    bool isOn() const { return m_on; }
    void setOn(bool on);
    bool diagShining() const { return m_diagShining; }
    void setDiagShining(bool diagShining);
    bool clickAction() const { return m_clickAction; }
    void setClickAction(bool on) { m_clickAction = on; }
    bool dblClickAction() const { return m_dblClickAction; }
    void setDblClickAction(bool on) { m_dblClickAction = on; }

    // The four colours one after the other, each through its own setter.
    void setColors(TColor color1, TColor color2, TColor offColor1, TColor offColor2);

    // Paintings so far (for the owner's and the tests' bookkeeping).
    int paintCount() const { return m_paintCount; }

signals:
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    template <typename T> void change(T& field, T value);
    void paintGradient(QPainter& painter, TColor a, TColor b);
    void paintAlternating(QPainter& painter, TColor a, TColor b);
    void roundRect(QPainter& painter, int left, int top, int right, int bottom, QRgb pen);

    LedStyle m_style = lsGradient2;
    TColor m_color1 = 0;
    TColor m_color2 = 0xFFFF;
    TColor m_offColor1 = 0;
    TColor m_offColor2 = 0xFFFFFF;
    quint8 m_radius = 1;
    bool m_on = false;
    bool m_diagShining = false;
    bool m_clickAction = false;
    bool m_dblClickAction = false;
    bool m_pressed = false;
    // The fill colour the painting last set; under DiagShining it is left as it stands.
    QRgb m_fill = qRgb(255, 255, 255);
    int m_paintCount = 0;
};
