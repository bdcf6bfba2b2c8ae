#pragma once

// The event thread of an open serial port: it waits on the device for the port's events and
// hands each batch to the port's event steps, by the port's SyncMethod:
// - smThreadSync: the steps run on the port's thread while this thread waits;
// - smWindowSync: one queued call per event to the port's thread, without waiting;
// - smNone: the steps run on this thread.
// Destroying it stops the thread and waits until it has ended; called on the port's thread,
// that wait itself runs a hand-over that is pending, so closing never deadlocks with one.

#include "serial/ComTypes.h"

#include <cstdint>
#include <memory>
#include <thread>

class SerialEventSource;
class TCustomComPort;

class TComThread {
public:
    TComThread(TCustomComPort* port, std::unique_ptr<SerialEventSource> source,
        TSyncMethod syncMethod, std::uint64_t opening);
    ~TComThread();

    // Starts the thread; apart from construction so that the port holds this object before
    // the thread can deliver anything.
    void Start();

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Asks the thread to end; it ends at once when waiting, or after the hand-over under way.
    void Stop();

private:
    // Everything the thread body uses; the body keeps it alive, so that a thread stopped by
    // a handler running on it can finish after this object is gone.
    struct Context;

    static void Execute(const std::shared_ptr<Context>& context);
    static void HandOverEvents(Context& context, TComEvents batch);
    void WaitUntilEnded();

    const std::shared_ptr<Context> m_context;
    std::thread m_thread;
};
