#pragma once

// The platform layer of the serial port: one open tty device and the waits of the event
// thread. Every operation answers 0 on success or the system's error code (errno); the
// component turns a code into its exception. Nothing above this interface makes a system call.

#include "serial/ComTypes.h"

#include <cstdint>
#include <memory>
#include <string>

// What the device's line settings are built from.
struct SerialLineSettings {
    std::int32_t baudRate = 9600;
    int dataBits = 8; // 5 to 8
    TParityBits parity = prNone;
    TStopBits stopBits = sbOneStopBit;
    bool parityCheck = false;
    bool replaceErrors = false; // replace a byte received with a parity error...
    char replaceChar = 0; // ...by this one
    bool outCTSFlow = false;
    bool outDSRFlow = false;
    TDTRFlowControl controlDTR = dtrDisable;
    TRTSFlowControl controlRTS = rtsDisable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    char xonChar = 17;
    char xoffChar = 19;
    bool discardNull = false;
    char eventChar = 0;
    int xonLimit = 256;
    int xoffLimit = 256;
};

// Read timeouts in milliseconds, as the component's TComTimeouts holds them.
struct SerialReadTimeouts {
    std::uint32_t interval = 0xFFFFFFFF;
    std::uint32_t totalMultiplier = 0;
    std::uint32_t totalConstant = 0;
};

// Modem status bits, and line-error bits, in the layout the component maps.
enum : std::uint32_t {
    SerialStatusCTS = 0x10,
    SerialStatusDSR = 0x20,
    SerialStatusRing = 0x40,
    SerialStatusRLSD = 0x80,
};
enum : std::uint32_t {
    SerialErrorRxOver = 0x1,
    SerialErrorOverrun = 0x2,
    SerialErrorParity = 0x4,
    SerialErrorFrame = 0x8,
    SerialErrorBreak = 0x10,
};

// The waits of the event thread on one open device.
class SerialEventSource {
public:
    enum class Result { Events, Stopped, Failed };
    virtual ~SerialEventSource() = default;

    // Blocks until one of the selected events happens (Events, with the batch), Stop is
    // called (Stopped), or the device fails (Failed, e.g. it was unplugged).
    virtual Result Wait(TComEvents& batch) = 0;
    // Sleeps up to ms milliseconds; true when Stop cut the sleep short.
    virtual bool Pause(int ms) = 0;
    // Ends the current and every later Wait and Pause at once. Any thread.
    virtual void Stop() = 0;
    // The thread's clean-up: stop watching the device and empty its queues. The device
    // stays open. Called on the event thread when its body ends.
    virtual void Release() = 0;
};

class SerialDevice {
public:
    enum class Line { DTR, RTS };
    // What to do with an output line right after opening: a radio keyed by its DTR or RTS
    // must not transmit because a program opened the port.
    enum class InitialLine { Low, High, AsIs };

    virtual ~SerialDevice() = default;

    static std::unique_ptr<SerialDevice> Create();
    // The number of operations made on devices so far, process-wide (tests count them).
    static std::uint64_t CallCount();

    // Opens the device for this program alone until Close. A device that another program
    // holds (a lock on it) fails with EBUSY before it is opened, so that its lines stay as
    // that program set them.
    virtual int Open(const std::string& path, InitialLine dtr, InitialLine rts) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The open device's file descriptor, -1 while closed: for a crash handler or a guard
    // process that must still drop the lines when the program cannot.
    virtual int NativeHandle() const = 0;

    virtual int ApplyLineSettings(const SerialLineSettings& settings) = 0;
    virtual int ApplyReadTimeouts(const SerialReadTimeouts& timeouts) = 0;
    virtual int ApplyBufferSizes(std::int32_t inputSize, std::int32_t outputSize) = 0;

    virtual int SetLine(Line line, bool on) = 0;
    virtual int ReadModemStatus(std::uint32_t& status) = 0;
    virtual int PendingInput(std::int32_t& count) = 0;
    // The line errors since the previous call, as error bits.
    virtual int ReadErrors(std::uint32_t& errors) = 0;
    virtual int Flush() = 0;
    virtual int Read(void* buffer, std::int32_t count, std::int32_t& received) = 0;

    // A source of the given events for the event thread; inputSize is the input queue size
    // whose 80% mark raises evRx80Full.
    virtual std::unique_ptr<SerialEventSource> CreateEventSource(
        TComEvents events, std::int32_t inputSize)
        = 0;
};
