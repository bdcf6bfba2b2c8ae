#pragma once

// A serial port: its settings, the open device, its two output lines and its line events.
//
// Events are std::function members named as the events (OnError, OnRxChar, ...); assign a
// callable, e.g. port.OnError = [this](QObject* sender, TComErrors errors) { ... }. Each is
// called with the port as sender, on the thread SyncMethod names: smThreadSync (default) and
// smWindowSync on the thread that owns the port, smNone on the port's event thread.
//
// All operations are meant for the thread that owns the port. Failures of the device raise
// EComPort with a reason code and errno.

#include "serial/ComSettings.h"
#include "serial/ComTypes.h"
#include "serial/EComPort.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class SerialDevice;
class TComThread;

using TNotifyEvent = std::function<void(QObject* sender)>;
using TRxCharEvent = std::function<void(QObject* sender, std::int32_t count)>;
using TRxBufEvent = std::function<void(QObject* sender, const void* buffer, std::int32_t count)>;
using TComSignalEvent = std::function<void(QObject* sender, bool onOff)>;
using TComErrorEvent = std::function<void(QObject* sender, TComErrors errors)>;

class TCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomComPort(QObject* owner = nullptr);
    ~TCustomComPort() override;

    // Properties. A setter acts only on a change; while the port is open a change of a
    // device setting is applied at once (and raises when the device refuses it, the value
    // staying stored).
    bool Connected() const { return m_connected; }
    void SetConnected(bool value);
    TBaudRate BaudRate() const { return m_baudRate; }
    void SetBaudRate(TBaudRate value);
    // The speed used with brCustom.
    std::int32_t CustomBaudRate() const { return m_customBaudRate; }
    void SetCustomBaudRate(std::int32_t value);
    // A device name under /dev ("ttyUSB0") or a path ("/dev/ttyUSB0"). Changing it on an
    // open port closes the port and opens the new device.
    QString Port() const { return m_port; }
    void SetPort(const QString& value);
    TComParity& Parity() { return m_parity; }
    const TComParity& Parity() const { return m_parity; }
    void SetParity(const TComParity& value);
    TStopBits StopBits() const { return m_stopBits; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return m_dataBits; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return m_discardNull; }
    void SetDiscardNull(bool value);
    char EventChar() const { return m_eventChar; }
    void SetEventChar(char value);
    // The events the event thread waits for; a change takes effect at the next opening.
    TComEvents Events() const { return m_events; }
    void SetEvents(TComEvents value) { m_events = value; }
    TComBuffer& Buffer() { return m_buffer; }
    const TComBuffer& Buffer() const { return m_buffer; }
    void SetBuffer(const TComBuffer& value);
    TComFlowControl& FlowControl() { return m_flowControl; }
    const TComFlowControl& FlowControl() const { return m_flowControl; }
    void SetFlowControl(const TComFlowControl& value);
    TComTimeouts& Timeouts() { return m_timeouts; }
    const TComTimeouts& Timeouts() const { return m_timeouts; }
    void SetTimeouts(const TComTimeouts& value);
    // Refused (EComPort 14) while the port is open.
    TSyncMethod SyncMethod() const { return m_syncMethod; }
    void SetSyncMethod(TSyncMethod value);

    // Events.
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TNotifyEvent OnBeforeOpen;
    TNotifyEvent OnBeforeClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf; // never raised: arrival is announced by OnRxChar alone
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TNotifyEvent OnRxFlag;
    TComErrorEvent OnError;
    TNotifyEvent OnRx80Full;

    // Opens the device, applies all settings and starts the event thread; nothing when open.
    // Raises when called by a handler while the port closes.
    void OpenPort();
    // Stops the event thread and closes the device; nothing when closed or closing.
    void ClosePort();
    // The device the port name stands for: a name without a path is one under /dev.
    QString DevicePath() const;
    // The open device's file descriptor, -1 while closed.
    int NativeHandle() const;
    // The output lines. Raise on a closed port (callers check Connected first).
    void SetDTRState(bool on);
    void SetRTSState(bool on);
    TComSignals ReadModemSignals();
    std::int32_t PendingInputCount();
    // The line errors since the last call (a parity error only when Parity.Check).
    TComErrors ReadLineErrors();
    void AbortTransfers();
    // Reads up to count bytes as the read timeouts say; the number read.
    std::int32_t ReadBytes(void* buffer, std::int32_t count);

    // Between the first Begin and the matching End no setting reaches the device; the last
    // End applies them all at once.
    void BeginSettingsUpdate();
    void EndSettingsUpdate();

    // Loading the stored initial values: meanwhile Connected only records the value and no
    // setting reaches the device; EndLoading opens the port when Connected was recorded
    // true, and a failure of that opening goes to the application-wide error report.
    void BeginLoading();
    void EndLoading();
    bool Loading() const { return m_loading; }

    // Bring the device in step with the settings (nothing while closed, updating or loading).
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

protected:
    virtual void OpenDeviceHandle();
    virtual void CloseDeviceHandle();
    virtual void ApplyAllSettings();

    virtual void NotifyAfterClose();
    virtual void NotifyAfterOpen();
    virtual void NotifyBeforeClose();
    virtual void NotifyBeforeOpen();
    virtual void NotifyRxChar(std::int32_t count);
    virtual void NotifyRxBuf(const void* buffer, std::int32_t count);
    virtual void NotifyTxEmpty();
    virtual void NotifyBreak();
    virtual void NotifyRing();
    virtual void NotifyRxFlag();
    virtual void NotifyCTSChange(bool onOff);
    virtual void NotifyDSRChange(bool onOff);
    virtual void NotifyError(TComErrors errors);
    virtual void NotifyRLSDChange(bool onOff);
    virtual void NotifyRx80Full();

private:
    friend class TComThread;

    bool CanApply() const;
    void StopEventThread();
    // The event steps, run for one batch by the event thread's hand-over. A batch of an
    // earlier opening (the port was closed meanwhile) runs nothing.
    // letGo, when given, is set by a close made by a handler on the calling thread itself:
    // the port may be gone after that handler, so nothing more is asked of it.
    void DeliverEvents(TComEvents batch, std::uint64_t opening, const bool* letGo = nullptr);
    void PostEvents(TComEvents batch, std::uint64_t opening);
    void RunEventStep(TComEvent event);
    bool IsOpening(std::uint64_t opening) const;

    std::unique_ptr<SerialDevice> m_device;
    std::unique_ptr<TComThread> m_thread;
    std::atomic<bool> m_connected { false };
    std::atomic<std::uint64_t> m_opening { 0 };
    std::atomic<bool> m_closing { false };
    bool m_loading = false;
    int m_updateCount = 0;

    TBaudRate m_baudRate = br9600;
    std::int32_t m_customBaudRate = 9600;
    QString m_port = QStringLiteral("COM1");
    TComParity m_parity { this };
    TStopBits m_stopBits = sbOneStopBit;
    TDataBits m_dataBits = dbEight;
    bool m_discardNull = false;
    char m_eventChar = 0;
    TComEvents m_events = AllComEvents;
    TComBuffer m_buffer { this };
    TComFlowControl m_flowControl { this };
    TComTimeouts m_timeouts { this };
    TSyncMethod m_syncMethod = smThreadSync;
};
