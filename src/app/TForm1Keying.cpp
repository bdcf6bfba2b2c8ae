// Keying and the rig monitor: the one keying operation, the rig selection, the rig lamps.
// Kept apart from the engine so that the roads to the radios can grow here.
#include "TForm1.h"

#include "LampWidget.h"

#include "serial/ComPort.h"

#include <QPushButton>

void TForm1::SetTX(bool on)
{
    m_txOn = on;
    emit TransmitSet(on);
}

void TForm1::Rig1ButtonClick()
{
    m_rig1Button->setChecked(true);
    m_rig2Button->setChecked(false);
}

void TForm1::Rig2ButtonClick()
{
    m_rig1Button->setChecked(false);
    m_rig2Button->setChecked(true);
}

void TForm1::RigUpdateStatus()
{
}

void TForm1::CATTimerTimer()
{
}

void TForm1::ConnectRigs()
{
}

void TForm1::ComPortError()
{
    // A line error drops both lines at once; the next keying tick raises them again.
    if (m_comPort->Connected()) {
        m_comPort->SetDTRState(false);
        m_comPort->SetRTSState(false);
    }
}

QString TForm1::SerialPortName() const
{
    return m_comPort->Port();
}
