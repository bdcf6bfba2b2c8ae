#include "serial/ComThread.h"

#include "serial/CustomComPort.h"
#include "serial/SerialDevice.h"

#include <QMetaObject>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace {
// After a failed wait (the device went away) the thread looks again this much later.
constexpr int kFailurePauseMs = 250;
} // namespace

// With smThreadSync the thread posts a call to the port's thread and waits until the batch
// has run there. The port's thread runs it from its event loop, or from the wait in
// ~TComThread when it closes the port meanwhile; the posted call then finds nothing to do.
struct TComThread::Context : std::enable_shared_from_this<TComThread::Context> {
    enum class State { Idle, Pending, Running, Done };

    Context(TCustomComPort* port, std::unique_ptr<SerialEventSource> source, TSyncMethod syncMethod,
        std::uint64_t opening)
        : port(port)
        , source(std::move(source))
        , syncMethod(syncMethod)
        , opening(opening)
    {
    }

    TCustomComPort* const port;
    const std::unique_ptr<SerialEventSource> source;
    const TSyncMethod syncMethod;
    const std::uint64_t opening;

    std::mutex mutex;
    std::condition_variable changed;
    State state = State::Idle;
    std::uint64_t serial = 0;
    std::thread::id runner;
    std::atomic<std::thread::id> worker; // the event thread, once it runs
    bool started = false; // the TComThread holds the thread: the body may begin
    TComEvents batch;
    std::exception_ptr error;
    bool ended = false;
    // Set on the event thread when a handler running there closed the port (smNone).
    bool letGo = false;

    // On the port's thread: runs the pending batch with the given serial, if still pending.
    void Run(std::uint64_t wanted)
    {
        std::unique_lock lock(mutex);
        if (state != State::Pending || serial != wanted)
            return;
        state = State::Running;
        runner = std::this_thread::get_id();
        const TComEvents events = batch;
        lock.unlock();
        std::exception_ptr raised;
        try {
            port->DeliverEvents(events, opening);
        } catch (...) {
            raised = std::current_exception();
        }
        lock.lock();
        // A handler that closed the port has released the thread already.
        if (state == State::Running && serial == wanted) {
            state = State::Done;
            error = raised;
            changed.notify_all();
        }
    }
};

TComThread::TComThread(TCustomComPort* port, std::unique_ptr<SerialEventSource> source,
    TSyncMethod syncMethod, std::uint64_t opening)
    : m_context(std::make_shared<Context>(port, std::move(source), syncMethod, opening))
{
}

void TComThread::Start()
{
    m_thread = std::thread([context = m_context] { Execute(context); });
    std::lock_guard lock(m_context->mutex);
    m_context->started = true;
    m_context->changed.notify_all();
}

TComThread::~TComThread()
{
    if (!m_thread.joinable())
        return;
    Stop();
    WaitUntilEnded();
}

void TComThread::Stop()
{
    m_context->source->Stop();
    std::this_thread::yield();
}

void TComThread::Execute(const std::shared_ptr<Context>& context)
{
    SerialEventSource& source = *context->source;
    context->worker = std::this_thread::get_id();
    {
        // A handler run by this thread may close the port and so destroy the TComThread:
        // not before Start has finished with it.
        std::unique_lock lock(context->mutex);
        context->changed.wait(lock, [&] { return context->started; });
    }
    try {
        TComEvents batch;
        for (;;) {
            const auto result = source.Wait(batch);
            if (result == SerialEventSource::Result::Stopped)
                break;
            if (result == SerialEventSource::Result::Failed) {
                // Deliver nothing; a device that keeps failing must not make this thread spin.
                if (source.Pause(kFailurePauseMs))
                    break;
                continue;
            }
            HandOverEvents(*context, batch);
        }
    } catch (...) {
        // An exception from a handler or an event step ends the thread; nothing is shown,
        // and no further events arrive until the port is opened again.
    }
    source.Release();
    std::lock_guard lock(context->mutex);
    context->ended = true;
    context->changed.notify_all();
}

void TComThread::HandOverEvents(Context& context, TComEvents batch)
{
    switch (context.syncMethod) {
    case smNone:
        context.port->DeliverEvents(batch, context.opening, &context.letGo);
        return;
    case smWindowSync:
        context.port->PostEvents(batch, context.opening);
        return;
    case smThreadSync:
        break;
    }
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(context.mutex);
        context.batch = batch;
        context.state = Context::State::Pending;
        serial = ++context.serial;
        // A close may be waiting already: it runs the hand-over itself.
        context.changed.notify_all();
    }
    // The call is dropped when the port goes away before it runs.
    QMetaObject::invokeMethod(
        context.port,
        [weak = std::weak_ptr<Context>(context.shared_from_this()), serial] {
            if (const auto alive = weak.lock())
                alive->Run(serial);
        },
        Qt::QueuedConnection);
    std::exception_ptr error;
    {
        std::unique_lock lock(context.mutex);
        context.changed.wait(lock, [&] { return context.state == Context::State::Done; });
        context.state = Context::State::Idle;
        error = std::exchange(context.error, nullptr);
    }
    if (error)
        std::rethrow_exception(error);
}

void TComThread::WaitUntilEnded()
{
    Context& context = *m_context;
    if (std::this_thread::get_id() == context.worker.load()) {
        // Closed by a handler running on this very thread (smNone), which cannot wait for
        // itself: let go of the device now; the body ends when the handler returns, and
        // touches the port no more (its owner may delete it as soon as it is closed).
        context.letGo = true;
        context.source->Release();
        m_thread.detach();
        return;
    }
    std::unique_lock lock(context.mutex);
    while (!context.ended) {
        if (context.state == Context::State::Pending) {
            // Run the hand-over here rather than wait for the event loop to get to it.
            const std::uint64_t serial = context.serial;
            lock.unlock();
            context.Run(serial);
            lock.lock();
            continue;
        }
        if (context.state == Context::State::Running
            && context.runner == std::this_thread::get_id()) {
            // A handler of the batch under way closes the port: the rest of the batch is
            // skipped (the port is closed), so release the thread now.
            context.state = Context::State::Done;
            context.changed.notify_all();
        }
        context.changed.wait(lock);
    }
    lock.unlock();
    m_thread.join();
}
