#include "audio/FileCaptureBackend.h"

#include <chrono>

FileCaptureBackend::FileCaptureBackend(QString path, bool loop)
    : m_path(std::move(path))
    , m_loop(loop)
{
}

FileCaptureBackend::~FileCaptureBackend()
{
    stop();
}

bool FileCaptureBackend::start(const CaptureTarget& target)
{
    stop();
    if (!m_reader.open(m_path)) {
        m_error = QStringLiteral("%1: %2").arg(m_path, m_reader.errorString());
        return false;
    }
    m_error.clear();
    m_stopRequested = false;
    m_running.store(true);
    m_thread = std::thread(&FileCaptureBackend::run, this, target);
    return true;
}

void FileCaptureBackend::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_running.store(false);
}

bool FileCaptureBackend::isRunning() const
{
    return m_running.load(std::memory_order_acquire);
}

void FileCaptureBackend::run(CaptureTarget target)
{
    using Clock = std::chrono::steady_clock;
    static const std::int16_t silence[2 * BlockFrames] = {};
    std::int16_t block[2 * BlockFrames];
    bool audioLeft = true;
    const Clock::time_point begin = Clock::now();
    std::uint64_t sent = 0;

    std::unique_lock lock(m_mutex);
    while (!m_stopRequested) {
        lock.unlock();
        // A file that cannot be read any more ends like one that ends: silence follows.
        qint64 frames = audioLeft ? m_reader.read(block, BlockFrames) : 0;
        if (frames <= 0 && audioLeft && m_loop && m_reader.rewind())
            frames = m_reader.read(block, BlockFrames);
        audioLeft = frames > 0;
        const bool more = audioLeft ? target.deliver(block, std::uint32_t(frames))
                                    : target.deliver(silence, BlockFrames);
        sent += audioLeft ? std::uint64_t(frames) : BlockFrames;
        lock.lock();
        if (!more)
            break;
        // The due time is counted from the start, so waking late never slows the pace.
        const auto due = begin + std::chrono::nanoseconds(sent * 1'000'000'000 / 44100);
        m_wake.wait_until(lock, due, [this] { return m_stopRequested; });
    }
    m_running.store(false, std::memory_order_release);
}
