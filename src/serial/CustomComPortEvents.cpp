// TCustomComPort: the device operations, the event steps and the notifications.

#include "serial/CustomComPort.h"

#include "serial/SerialDevice.h"

#include <QMetaObject>

namespace {
// The order in which the steps of one batch run: errors first, since the receive step's
// queue query must not be taken for the errors' report.
constexpr TComEvent kDeliveryOrder[]
    = { evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full };
} // namespace

// Device operations

void TCustomComPort::SetDTRState(bool on)
{
    if (const int error = m_device->SetLine(SerialDevice::Line::DTR, on))
        throw EComPort(CError_EscapeComFailed, error);
}

void TCustomComPort::SetRTSState(bool on)
{
    if (const int error = m_device->SetLine(SerialDevice::Line::RTS, on))
        throw EComPort(CError_EscapeComFailed, error);
}

TComSignals TCustomComPort::ReadModemSignals()
{
    std::uint32_t status = 0;
    if (const int error = m_device->ReadModemStatus(status))
        throw EComPort(CError_ModemStatFailed, error);
    TComSignals lines;
    if (status & SerialStatusCTS)
        lines.Include(csCTS);
    if (status & SerialStatusDSR)
        lines.Include(csDSR);
    if (status & SerialStatusRing)
        lines.Include(csRing);
    if (status & SerialStatusRLSD)
        lines.Include(csRLSD);
    return lines;
}

std::int32_t TCustomComPort::PendingInputCount()
{
    std::int32_t count = 0;
    if (const int error = m_device->PendingInput(count))
        throw EComPort(CError_ClearComFailed, error);
    return count;
}

TComErrors TCustomComPort::ReadLineErrors()
{
    std::uint32_t word = 0;
    if (const int error = m_device->ReadErrors(word))
        throw EComPort(CError_ClearComFailed, error);
    TComErrors errors;
    if (word & SerialErrorFrame)
        errors.Include(ceFrame);
    if ((word & SerialErrorParity) && m_parity.Check())
        errors.Include(ceRxParity);
    if (word & SerialErrorOverrun)
        errors.Include(ceOverrun);
    if (word & SerialErrorRxOver)
        errors.Include(ceRxOver);
    if (word & SerialErrorBreak)
        errors.Include(ceBreak);
    return errors;
}

void TCustomComPort::AbortTransfers()
{
    if (const int error = m_device->Flush())
        throw EComPort(CError_PurgeFailed, error);
}

std::int32_t TCustomComPort::ReadBytes(void* buffer, std::int32_t count)
{
    std::int32_t received = 0;
    if (const int error = m_device->Read(buffer, count, received))
        throw EComPort(CError_ReadFailed, error);
    return received;
}

// Event steps

bool TCustomComPort::IsOpening(std::uint64_t opening) const
{
    return m_connected && m_opening == opening;
}

void TCustomComPort::DeliverEvents(TComEvents batch, std::uint64_t opening, const bool* letGo)
{
    for (TComEvent event : kDeliveryOrder) {
        if (!batch.Contains(event))
            continue;
        // A handler may have closed the port; one on this thread may also have deleted it.
        if ((letGo && *letGo) || !IsOpening(opening))
            return;
        RunEventStep(event);
    }
}

void TCustomComPort::PostEvents(TComEvents batch, std::uint64_t opening)
{
    for (TComEvent event : kDeliveryOrder) {
        if (!batch.Contains(event))
            continue;
        // Queued calls to this object are dropped with it.
        QMetaObject::invokeMethod(
            this,
            [this, event, opening] {
                if (!IsOpening(opening))
                    return;
                try {
                    RunEventStep(event);
                } catch (...) {
                    ReportCurrentException();
                }
            },
            Qt::QueuedConnection);
    }
}

void TCustomComPort::RunEventStep(TComEvent event)
{
    switch (event) {
    case evError: {
        const TComErrors errors = ReadLineErrors();
        if (!errors.Empty())
            NotifyError(errors);
        break;
    }
    case evRxChar:
        if (const std::int32_t count = PendingInputCount(); count > 0)
            NotifyRxChar(count);
        break;
    case evTxEmpty:
        NotifyTxEmpty();
        break;
    case evBreak:
        NotifyBreak();
        break;
    case evRing:
        NotifyRing();
        break;
    case evCTS:
        NotifyCTSChange(ReadModemSignals().Contains(csCTS));
        break;
    case evDSR:
        NotifyDSRChange(ReadModemSignals().Contains(csDSR));
        break;
    case evRxFlag:
        NotifyRxFlag();
        break;
    case evRLSD:
        NotifyRLSDChange(ReadModemSignals().Contains(csRLSD));
        break;
    case evRx80Full:
        NotifyRx80Full();
        break;
    }
}

// Notifications

namespace {
template <typename Handler, typename... Args>
void Call(const Handler& handler, QObject* sender, Args... args)
{
    if (!handler)
        return;
    // A handler may assign another handler to its own event while it runs.
    const Handler running = handler;
    running(sender, args...);
}
} // namespace

void TCustomComPort::NotifyAfterClose()
{
    Call(OnAfterClose, this);
}
void TCustomComPort::NotifyAfterOpen()
{
    Call(OnAfterOpen, this);
}
void TCustomComPort::NotifyBeforeClose()
{
    Call(OnBeforeClose, this);
}
void TCustomComPort::NotifyBeforeOpen()
{
    Call(OnBeforeOpen, this);
}
void TCustomComPort::NotifyRxChar(std::int32_t count)
{
    Call(OnRxChar, this, count);
}
void TCustomComPort::NotifyRxBuf(const void* buffer, std::int32_t count)
{
    Call(OnRxBuf, this, buffer, count);
}
void TCustomComPort::NotifyTxEmpty()
{
    Call(OnTxEmpty, this);
}
void TCustomComPort::NotifyBreak()
{
    Call(OnBreak, this);
}
void TCustomComPort::NotifyRing()
{
    Call(OnRing, this);
}
void TCustomComPort::NotifyRxFlag()
{
    Call(OnRxFlag, this);
}
void TCustomComPort::NotifyCTSChange(bool onOff)
{
    Call(OnCTSChange, this, onOff);
}
void TCustomComPort::NotifyDSRChange(bool onOff)
{
    Call(OnDSRChange, this, onOff);
}
void TCustomComPort::NotifyError(TComErrors errors)
{
    Call(OnError, this, errors);
}
void TCustomComPort::NotifyRLSDChange(bool onOff)
{
    Call(OnRLSDChange, this, onOff);
}
void TCustomComPort::NotifyRx80Full()
{
    Call(OnRx80Full, this);
}
