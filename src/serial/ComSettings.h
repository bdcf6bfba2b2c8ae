#pragma once

// The four settings objects of a serial port. Each holds a reference to the port that owns
// it (none for a free-standing copy, e.g. a dialog's working copy); a field setter stores
// only a changed value and then asks the owning port to bring the device in step.

#include "serial/ComTypes.h"

#include <cstdint>

class TCustomComPort;

class TComSettingsBase {
public:
    TComSettingsBase(const TComSettingsBase&) = delete;
    TComSettingsBase& operator=(const TComSettingsBase&) = delete;

    TCustomComPort* ComPort() const { return m_owner; }

protected:
    explicit TComSettingsBase(TCustomComPort* owner)
        : m_owner(owner)
    {
    }
    ~TComSettingsBase() = default;

    // Stores a changed value and runs the owner's apply step; nothing when equal.
    template <typename T> void Change(T& field, T value, void (TCustomComPort::*apply)());

private:
    TCustomComPort* m_owner;
};

class TComParity : public TComSettingsBase {
public:
    explicit TComParity(TCustomComPort* owner = nullptr);
    // Copies all fields; the owner's port is not told (its Parity setter does that).
    void Assign(const TComParity& source);

    TParityBits Bits() const { return m_bits; }
    void SetBits(TParityBits value);
    bool Check() const { return m_check; }
    void SetCheck(bool value);
    bool Replace() const { return m_replace; }
    void SetReplace(bool value);
    char ReplaceChar() const { return m_replaceChar; }
    void SetReplaceChar(char value);

private:
    TParityBits m_bits = prNone;
    bool m_check = false;
    bool m_replace = false;
    char m_replaceChar = 0;
};

class TComFlowControl : public TComSettingsBase {
public:
    explicit TComFlowControl(TCustomComPort* owner = nullptr);
    void Assign(const TComFlowControl& source);

    // A summary of the fields: fcHardware (RTS handshake with CTS output flow), fcSoftware
    // (XON/XOFF both ways), fcNone, or fcCustom for any other mix.
    TFlowControl FlowControl() const;
    // Writes the summary's fields (fcCustom changes none) and always reapplies.
    void SetFlowControl(TFlowControl value);

    bool OutCTSFlow() const { return m_outCTSFlow; }
    void SetOutCTSFlow(bool value);
    bool OutDSRFlow() const { return m_outDSRFlow; }
    void SetOutDSRFlow(bool value);
    TDTRFlowControl ControlDTR() const { return m_controlDTR; }
    void SetControlDTR(TDTRFlowControl value);
    TRTSFlowControl ControlRTS() const { return m_controlRTS; }
    void SetControlRTS(TRTSFlowControl value);
    bool XonXoffOut() const { return m_xonXoffOut; }
    void SetXonXoffOut(bool value);
    bool XonXoffIn() const { return m_xonXoffIn; }
    void SetXonXoffIn(bool value);
    bool DSRSensitivity() const { return m_dsrSensitivity; }
    void SetDSRSensitivity(bool value);
    bool TxContinueOnXoff() const { return m_txContinueOnXoff; }
    void SetTxContinueOnXoff(bool value);
    char XonChar() const { return m_xonChar; }
    void SetXonChar(char value);
    char XoffChar() const { return m_xoffChar; }
    void SetXoffChar(char value);

private:
    bool m_outCTSFlow = false;
    bool m_outDSRFlow = false;
    TDTRFlowControl m_controlDTR = dtrDisable;
    TRTSFlowControl m_controlRTS = rtsDisable;
    bool m_xonXoffOut = false;
    bool m_xonXoffIn = false;
    bool m_dsrSensitivity = false;
    bool m_txContinueOnXoff = false;
    char m_xonChar = 17;
    char m_xoffChar = 19;
};

// Milliseconds; the multipliers per byte. -1 for ReadInterval means no interval limit.
class TComTimeouts : public TComSettingsBase {
public:
    explicit TComTimeouts(TCustomComPort* owner = nullptr);
    void Assign(const TComTimeouts& source);

    std::int32_t ReadInterval() const { return m_readInterval; }
    void SetReadInterval(std::int32_t value);
    std::int32_t ReadTotalMultiplier() const { return m_readTotalMultiplier; }
    void SetReadTotalMultiplier(std::int32_t value);
    std::int32_t ReadTotalConstant() const { return m_readTotalConstant; }
    void SetReadTotalConstant(std::int32_t value);
    std::int32_t WriteTotalMultiplier() const { return m_writeTotalMultiplier; }
    void SetWriteTotalMultiplier(std::int32_t value);
    std::int32_t WriteTotalConstant() const { return m_writeTotalConstant; }
    void SetWriteTotalConstant(std::int32_t value);

private:
    std::int32_t m_readInterval = -1;
    std::int32_t m_readTotalMultiplier = 0;
    std::int32_t m_readTotalConstant = 0;
    std::int32_t m_writeTotalMultiplier = 100;
    std::int32_t m_writeTotalConstant = 1000;
};

// Driver queue sizes in bytes; an odd positive size is stored one smaller.
class TComBuffer : public TComSettingsBase {
public:
    explicit TComBuffer(TCustomComPort* owner = nullptr);
    void Assign(const TComBuffer& source);

    std::int32_t InputSize() const { return m_inputSize; }
    void SetInputSize(std::int32_t value);
    std::int32_t OutputSize() const { return m_outputSize; }
    void SetOutputSize(std::int32_t value);

private:
    void ChangeSize(std::int32_t& field, std::int32_t value);

    std::int32_t m_inputSize = 1024;
    std::int32_t m_outputSize = 1024;
};
