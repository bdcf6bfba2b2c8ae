#include "serial/ComSettings.h"

#include "serial/CustomComPort.h"

template <typename T>
void TComSettingsBase::Change(T& field, T value, void (TCustomComPort::*apply)())
{
    if (field == value)
        return;
    field = value;
    if (m_owner)
        (m_owner->*apply)();
}

// TComParity

TComParity::TComParity(TCustomComPort* owner)
    : TComSettingsBase(owner)
{
}

void TComParity::Assign(const TComParity& source)
{
    m_bits = source.m_bits;
    m_check = source.m_check;
    m_replace = source.m_replace;
    m_replaceChar = source.m_replaceChar;
}

void TComParity::SetBits(TParityBits value)
{
    Change(m_bits, value, &TCustomComPort::ApplyLineSettings);
}

void TComParity::SetCheck(bool value)
{
    Change(m_check, value, &TCustomComPort::ApplyLineSettings);
}

void TComParity::SetReplace(bool value)
{
    Change(m_replace, value, &TCustomComPort::ApplyLineSettings);
}

void TComParity::SetReplaceChar(char value)
{
    Change(m_replaceChar, value, &TCustomComPort::ApplyLineSettings);
}

// TComFlowControl

TComFlowControl::TComFlowControl(TCustomComPort* owner)
    : TComSettingsBase(owner)
{
}

void TComFlowControl::Assign(const TComFlowControl& source)
{
    m_outCTSFlow = source.m_outCTSFlow;
    m_outDSRFlow = source.m_outDSRFlow;
    m_controlDTR = source.m_controlDTR;
    m_controlRTS = source.m_controlRTS;
    m_xonXoffOut = source.m_xonXoffOut;
    m_xonXoffIn = source.m_xonXoffIn;
    m_dsrSensitivity = source.m_dsrSensitivity;
    m_txContinueOnXoff = source.m_txContinueOnXoff;
    m_xonChar = source.m_xonChar;
    m_xoffChar = source.m_xoffChar;
}

TFlowControl TComFlowControl::FlowControl() const
{
    const bool noXonXoff = !m_xonXoffIn && !m_xonXoffOut;
    if (m_controlRTS == rtsHandshake && m_outCTSFlow && noXonXoff)
        return fcHardware;
    if (m_controlRTS == rtsDisable && !m_outCTSFlow && m_xonXoffIn && m_xonXoffOut)
        return fcSoftware;
    if (m_controlRTS == rtsDisable && !m_outCTSFlow && noXonXoff)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value)
{
    if (value != fcCustom) {
        m_controlRTS = rtsDisable;
        m_outCTSFlow = false;
        m_xonXoffIn = false;
        m_xonXoffOut = false;
    }
    if (value == fcHardware) {
        m_controlRTS = rtsHandshake;
        m_outCTSFlow = true;
    } else if (value == fcSoftware) {
        m_xonXoffIn = true;
        m_xonXoffOut = true;
    }
    if (ComPort())
        ComPort()->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool value)
{
    Change(m_outCTSFlow, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetOutDSRFlow(bool value)
{
    Change(m_outDSRFlow, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetControlDTR(TDTRFlowControl value)
{
    Change(m_controlDTR, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetControlRTS(TRTSFlowControl value)
{
    Change(m_controlRTS, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetXonXoffOut(bool value)
{
    Change(m_xonXoffOut, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetXonXoffIn(bool value)
{
    Change(m_xonXoffIn, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetDSRSensitivity(bool value)
{
    Change(m_dsrSensitivity, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetTxContinueOnXoff(bool value)
{
    Change(m_txContinueOnXoff, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetXonChar(char value)
{
    Change(m_xonChar, value, &TCustomComPort::ApplyLineSettings);
}

void TComFlowControl::SetXoffChar(char value)
{
    Change(m_xoffChar, value, &TCustomComPort::ApplyLineSettings);
}

// TComTimeouts

TComTimeouts::TComTimeouts(TCustomComPort* owner)
    : TComSettingsBase(owner)
{
}

void TComTimeouts::Assign(const TComTimeouts& source)
{
    m_readInterval = source.m_readInterval;
    m_readTotalMultiplier = source.m_readTotalMultiplier;
    m_readTotalConstant = source.m_readTotalConstant;
    m_writeTotalMultiplier = source.m_writeTotalMultiplier;
    m_writeTotalConstant = source.m_writeTotalConstant;
}

void TComTimeouts::SetReadInterval(std::int32_t value)
{
    Change(m_readInterval, value, &TCustomComPort::ApplyTimeoutSettings);
}

void TComTimeouts::SetReadTotalMultiplier(std::int32_t value)
{
    Change(m_readTotalMultiplier, value, &TCustomComPort::ApplyTimeoutSettings);
}

void TComTimeouts::SetReadTotalConstant(std::int32_t value)
{
    Change(m_readTotalConstant, value, &TCustomComPort::ApplyTimeoutSettings);
}

void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value)
{
    Change(m_writeTotalMultiplier, value, &TCustomComPort::ApplyTimeoutSettings);
}

void TComTimeouts::SetWriteTotalConstant(std::int32_t value)
{
    Change(m_writeTotalConstant, value, &TCustomComPort::ApplyTimeoutSettings);
}

// TComBuffer

TComBuffer::TComBuffer(TCustomComPort* owner)
    : TComSettingsBase(owner)
{
}

void TComBuffer::Assign(const TComBuffer& source)
{
    m_inputSize = source.m_inputSize;
    m_outputSize = source.m_outputSize;
}

void TComBuffer::ChangeSize(std::int32_t& field, std::int32_t value)
{
    if (field == value)
        return;
    // Drivers take even queue sizes; an odd negative value is left for the driver to refuse.
    field = (value > 0 && value % 2 != 0) ? value - 1 : value;
    if (ComPort())
        ComPort()->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(std::int32_t value)
{
    ChangeSize(m_inputSize, value);
}

void TComBuffer::SetOutputSize(std::int32_t value)
{
    ChangeSize(m_outputSize, value);
}
