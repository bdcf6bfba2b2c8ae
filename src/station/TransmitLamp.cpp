#include "TransmitLamp.h"

#include <QTimer>

TransmitLamp::TransmitLamp(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("TransmitLamp"));
    m_timerLed = new QTimer(this);
    m_timerLed->setObjectName(QStringLiteral("TimerLed"));
    m_timerLed->setInterval(1000);
    connect(m_timerLed, &QTimer::timeout, this, [this] {
        set(!m_on);
        if (!m_timerLed->isActive())
            m_timerLed->start();
    });
}

void TransmitLamp::set(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    emit changed(m_on, m_alarm);
}

void TransmitLamp::setAlarm(bool alarm)
{
    if (alarm == m_alarm)
        return;
    m_alarm = alarm;
    emit changed(m_on, m_alarm);
}

void TransmitLamp::blink(bool on)
{
    // The lamp blinks red, or is dark green again.
    if (on) {
        set(false);
        setAlarm(true);
        m_timerLed->start();
    } else {
        m_timerLed->stop();
        setAlarm(false);
        set(false);
    }
}

void TransmitLamp::showTimeOut(bool on, bool muted)
{
    if (on != m_timeOutShown) {
        m_timeOutShown = on;
        emit timeOutChanged(on);
    }
    if (!muted)
        blink(on);
}

void TransmitLamp::showMuted(bool muted)
{
    if (m_timeOutShown) {
        m_timeOutShown = false;
        emit timeOutChanged(false);
    }
    blink(muted);
}

void TransmitLamp::stopBlinking()
{
    m_timerLed->stop();
}
