#pragma once

#include <QColor>
#include <QWidget>

// A plain round lamp: lit it shows a radial gradient from Color1 (rim) to Color2 (centre),
// dark the same with OffColor1 and OffColor2. It only shows what it is given.
class LampWidget : public QWidget {
    Q_OBJECT

public:
    explicit LampWidget(QWidget* parent = nullptr);

    bool isOn() const { return m_on; }
    void setOn(bool on);

    void setColors(const QColor& color1, const QColor& color2, const QColor& offColor1,
        const QColor& offColor2);
    void setLitColors(const QColor& color1, const QColor& color2);
    QColor color1() const { return m_color1; }
    QColor color2() const { return m_color2; }
    QColor offColor1() const { return m_offColor1; }
    QColor offColor2() const { return m_offColor2; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_on = false;
    QColor m_color1 { 0, 128, 0 };
    QColor m_color2 { 0, 255, 0 };
    QColor m_offColor1 { 0, 0, 0 };
    QColor m_offColor2 { 0, 255, 0 };
};
