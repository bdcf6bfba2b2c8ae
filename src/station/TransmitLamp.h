#pragma once

#include <QObject>

class QTimer;

// The transmit lamp: lit while keying, dark otherwise, and blinking red (TimerLed, once a
// second) while muted or released by the transmit time-out, until keying may start again.
class TransmitLamp : public QObject {
    Q_OBJECT

public:
    explicit TransmitLamp(QObject* parent = nullptr);

    bool on() const { return m_on; }
    bool alarm() const { return m_alarm; }
    void set(bool on);
    // Released by the time-out, or allowed to key again; the lamp blinks unless muted, which
    // blinks it already.
    void showTimeOut(bool on, bool muted);
    // Muted or not: blinking or dark; a time-out shown ends with it.
    void showMuted(bool muted);
    // No blinking from now on (the program ends).
    void stopBlinking();

signals:
    void changed(bool on, bool alarm);
    void timeOutChanged(bool timedOut);

private:
    void blink(bool on);
    void setAlarm(bool alarm);

    QTimer* m_timerLed = nullptr;
    bool m_on = false;
    bool m_alarm = false;
    bool m_timeOutShown = false;
};
