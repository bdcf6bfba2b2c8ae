#include "serial/CustomComPort.h"

#include "serial/ComThread.h"
#include "serial/SerialDevice.h"

#include <QScopeGuard>

#include <cerrno>
#include <new>
#include <system_error>

TCustomComPort::TCustomComPort(QObject* owner)
    : QObject(owner)
    , m_device(SerialDevice::Create())
{
}

TCustomComPort::~TCustomComPort()
{
    try {
        ClosePort();
    } catch (...) {
        // The queues could not be emptied; the port goes away all the same.
        StopEventThread();
        CloseDeviceHandle();
        m_connected = false;
    }
}

// Properties

void TCustomComPort::SetConnected(bool value)
{
    if (m_loading) {
        m_connected = value;
        return;
    }
    if (value == m_connected)
        return;
    if (value)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::SetBaudRate(TBaudRate value)
{
    if (value == m_baudRate)
        return;
    m_baudRate = value;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value)
{
    if (value == m_customBaudRate)
        return;
    m_customBaudRate = value;
    ApplyLineSettings();
}

void TCustomComPort::SetPort(const QString& value)
{
    if (value == m_port)
        return;
    m_port = value;
    if (m_connected && !m_loading) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetParity(const TComParity& value)
{
    m_parity.Assign(value);
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value)
{
    if (value == m_stopBits)
        return;
    m_stopBits = value;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value)
{
    if (value == m_dataBits)
        return;
    m_dataBits = value;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value)
{
    if (value == m_discardNull)
        return;
    m_discardNull = value;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value)
{
    if (value == m_eventChar)
        return;
    m_eventChar = value;
    ApplyLineSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value)
{
    m_buffer.Assign(value);
    ApplyBufferSizes();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value)
{
    m_flowControl.Assign(value);
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value)
{
    m_timeouts.Assign(value);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value)
{
    if (value == m_syncMethod)
        return;
    if (m_connected && !m_loading)
        throw EComPort(CError_ConnChangeProp);
    m_syncMethod = value;
}

// Opening and closing

void TCustomComPort::OpenPort()
{
    // A handler run by a close (a before-close event, or a hand-over the close serves) cannot
    // open before the close has finished: the close would end the new opening at once.
    if (m_closing)
        throw EComPort(CError_OpenFailed, EBUSY);
    if (m_connected)
        return;
    NotifyBeforeOpen();
    OpenDeviceHandle();
    m_connected = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        CloseDeviceHandle();
        m_connected = false;
        throw;
    }
    const std::uint64_t opening = ++m_opening;
    if (!m_events.Empty()) {
        int error = 0;
        try {
            auto source = m_device->CreateEventSource(m_events, m_buffer.InputSize());
            m_thread = std::make_unique<TComThread>(this, std::move(source), m_syncMethod, opening);
            m_thread->Start();
        } catch (const std::system_error& failure) {
            error = failure.code().value();
        } catch (const std::bad_alloc&) {
            error = ENOMEM;
        }
        if (error) {
            m_thread.reset();
            CloseDeviceHandle();
            m_connected = false;
            throw EComPort(CError_OpenFailed, error);
        }
    }
    NotifyAfterOpen();
    RunEventStep(evCTS);
    RunEventStep(evDSR);
    RunEventStep(evRLSD);
}

void TCustomComPort::ClosePort()
{
    // A handler run by this close that closes again finds the close under way.
    if (!m_connected || m_closing)
        return;
    {
        m_closing = true;
        const auto closed = qScopeGuard([this] { m_closing = false; });
        NotifyCTSChange(false);
        NotifyDSRChange(false);
        NotifyRLSDChange(false);
        NotifyBeforeClose();
        AbortTransfers();
        StopEventThread();
        CloseDeviceHandle();
        m_connected = false;
        // Steps still on their way to this thread belong to the closed opening.
        ++m_opening;
    }
    NotifyAfterClose();
}

void TCustomComPort::StopEventThread()
{
    // Destruction stops the thread and waits for it, completing a hand-over under way.
    m_thread.reset();
}

QString TCustomComPort::DevicePath() const
{
    return m_port.startsWith(QLatin1Char('/')) ? m_port : QStringLiteral("/dev/") + m_port;
}

void TCustomComPort::OpenDeviceHandle()
{
    const std::string path = DevicePath().toLocal8Bit().toStdString();
    const auto dtr = m_flowControl.ControlDTR() == dtrDisable ? SerialDevice::InitialLine::Low
        : m_flowControl.ControlDTR() == dtrEnable             ? SerialDevice::InitialLine::High
                                                              : SerialDevice::InitialLine::AsIs;
    const auto rts = m_flowControl.ControlRTS() == rtsDisable ? SerialDevice::InitialLine::Low
        : m_flowControl.ControlRTS() == rtsEnable             ? SerialDevice::InitialLine::High
                                                              : SerialDevice::InitialLine::AsIs;
    if (const int error = m_device->Open(path, dtr, rts))
        throw EComPort(CError_OpenFailed, error);
}

void TCustomComPort::CloseDeviceHandle()
{
    m_device->Close();
}

int TCustomComPort::NativeHandle() const
{
    return m_device->NativeHandle();
}

// Settings

bool TCustomComPort::CanApply() const
{
    return m_connected && m_updateCount == 0 && !m_loading;
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings()
{
    if (!CanApply())
        return;
    SerialLineSettings s;
    s.baudRate = m_baudRate == brCustom ? m_customBaudRate : BaudRateSpeed(m_baudRate);
    s.dataBits = 5 + m_dataBits;
    s.parity = m_parity.Bits();
    s.stopBits = m_stopBits;
    s.parityCheck = m_parity.Check();
    s.replaceErrors = m_parity.Check() && m_parity.Replace();
    s.replaceChar = s.replaceErrors ? m_parity.ReplaceChar() : 0;
    s.outCTSFlow = m_flowControl.OutCTSFlow();
    s.outDSRFlow = m_flowControl.OutDSRFlow();
    s.controlDTR = m_flowControl.ControlDTR();
    s.controlRTS = m_flowControl.ControlRTS();
    s.dsrSensitivity = m_flowControl.DSRSensitivity();
    s.txContinueOnXoff = m_flowControl.TxContinueOnXoff();
    s.xonXoffOut = m_flowControl.XonXoffOut();
    s.xonXoffIn = m_flowControl.XonXoffIn();
    s.xonChar = m_flowControl.XonChar();
    s.xoffChar = m_flowControl.XoffChar();
    s.discardNull = m_discardNull;
    s.eventChar = m_eventChar;
    s.xonLimit = m_buffer.InputSize() / 4;
    s.xoffLimit = m_buffer.InputSize() / 4;
    if (const int error = m_device->ApplyLineSettings(s))
        throw EComPort(CError_SetStateFailed, error);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!CanApply())
        return;
    // -1 stands for the all-ones value.
    SerialReadTimeouts t;
    t.interval = static_cast<std::uint32_t>(m_timeouts.ReadInterval());
    t.totalMultiplier = static_cast<std::uint32_t>(m_timeouts.ReadTotalMultiplier());
    t.totalConstant = static_cast<std::uint32_t>(m_timeouts.ReadTotalConstant());
    if (const int error = m_device->ApplyReadTimeouts(t))
        throw EComPort(CError_TimeoutsFailed, error);
}

void TCustomComPort::ApplyBufferSizes()
{
    if (!CanApply())
        return;
    if (const int error = m_device->ApplyBufferSizes(m_buffer.InputSize(), m_buffer.OutputSize()))
        throw EComPort(CError_SetupComFailed, error);
}

void TCustomComPort::BeginSettingsUpdate()
{
    ++m_updateCount;
}

void TCustomComPort::EndSettingsUpdate()
{
    if (m_updateCount <= 0)
        return;
    if (--m_updateCount == 0)
        ApplyAllSettings();
}

void TCustomComPort::BeginLoading()
{
    m_loading = true;
}

void TCustomComPort::EndLoading()
{
    m_loading = false;
    if (!m_connected)
        return;
    m_connected = false;
    try {
        OpenPort();
    } catch (...) {
        ReportCurrentException();
    }
}
