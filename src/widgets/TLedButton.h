#pragma once

#include <QPushButton>

#include <memory>

class SoundPlayer;

// A push button that paints itself: a flat face, an LED picture on the left with three looks
// (dark, lit, active) and the caption to its right, optionally embossed. A press of any mouse
// button toggles IsActive; only the left button or the keyboard clicks. A click plays
// SoundFile, or, without one, beeps by the modal result; then clicked() is emitted.
//
// Looks: Highlighted false shows the dark picture; Highlighted without Latched the lit one;
// both the active one. The pointer entering or moving over the button highlights it, leaving
// darkens it again, both only while IsActive is false.
class TLedButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString SoundFile READ soundFile WRITE setSoundFile)
    Q_PROPERTY(LEDType LEDType READ ledType WRITE setLedType)
    Q_PROPERTY(bool Caption3D READ caption3D WRITE setCaption3D)
    Q_PROPERTY(bool IsActive READ isActive WRITE setIsActive)
    Q_PROPERTY(int ModalResult READ modalResult WRITE setModalResult)

public:
    enum LEDType { RoundLED, TriLEDDown, TriLEDUp, RedLed };
    Q_ENUM(LEDType)
    enum class Look { Dark, Lit, Active };
    // The platform's beeps a click may sound, by modal result.
    enum Beep : unsigned {
        NoBeep = 0xFFFFFFFF,
        BeepOk = 0,
        BeepHand = 0x10,
        BeepQuestion = 0x20,
        BeepExclamation = 0x30
    };

    explicit TLedButton(QWidget* parent = nullptr);
    ~TLedButton() override;

    QString soundFile() const { return m_soundFile; }
    // Stores the name and stops a sound that is playing.
    void setSoundFile(const QString& file);
    LEDType ledType() const { return m_ledType; }
    void setLedType(LEDType type);
    bool caption3D() const { return m_caption3D; }
    void setCaption3D(bool on);
    bool isActive() const { return m_isActive; }
    // Ignored on a disabled button. Setting false leaves the lit look until the pointer leaves.
    void setIsActive(bool active);
    int modalResult() const { return m_modalResult; }
    void setModalResult(int result) { m_modalResult = result; }

    Look look() const;
    // The picture of the current look, as loaded (yellow still in place).
    QImage picture() const;
    // The picture of a look of a LED type from the resources; null when missing.
    static QImage ledPicture(LEDType type, Look look);
    static Beep beepFor(int modalResult);
    // The sound of the last click, for the owner's diagnostics.
    SoundPlayer& player();

signals:
    // The flag changed: by a press (before any click) or by setIsActive.
    void activeChanged(bool active);
    // A click sounded this beep (through the platform's beep).
    void beeped(TLedButton::Beep beep);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void sound();
    void pressLook();

    QString m_soundFile;
    LEDType m_ledType = RoundLED;
    bool m_caption3D = false;
    bool m_isActive = false;
    bool m_highlighted = false;
    bool m_latched = false;
    int m_modalResult = 0;
    std::unique_ptr<SoundPlayer> m_player;
};
