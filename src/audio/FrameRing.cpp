#include "audio/FrameRing.h"

#include <algorithm>
#include <cstring>

FrameRing::FrameRing()
    : m_samples(new std::int16_t[2 * Capacity]())
{
}

void FrameRing::write(const std::int16_t* stereo, std::uint32_t count)
{
    const std::uint64_t start = m_written.load(std::memory_order_relaxed);
    // Announces the slots about to change before changing them (see readLatest).
    m_reserved.store(start + count, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t slot = std::uint32_t(start + done) & Mask;
        const std::uint32_t run = std::min(count - done, Capacity - slot);
        std::memcpy(m_samples.get() + 2 * slot, stereo + 2 * done, run * 2 * sizeof(std::int16_t));
        done += run;
    }
    // Publishes the frames: the reader's acquire load sees them complete.
    m_written.store(start + count, std::memory_order_release);
}

void FrameRing::readLatest(std::int16_t* out, std::uint32_t count) const
{
    // The writer only touches slots ahead of the published count, and it would have to
    // reserve Capacity - count frames during this copy to reach the ones read here. Should
    // the reader ever be held that long, the copy is repeated from the new position.
    for (;;) {
        const std::uint64_t end = m_written.load(std::memory_order_acquire);
        const std::uint32_t missing = end < count ? std::uint32_t(count - end) : 0;
        std::memset(out, 0, missing * 2 * sizeof(std::int16_t));
        std::uint64_t pos = end - (count - missing);
        for (std::uint32_t i = missing; i < count;) {
            const std::uint32_t slot = std::uint32_t(pos) & Mask;
            const std::uint32_t run = std::min(count - i, Capacity - slot);
            std::memcpy(out + 2 * i, m_samples.get() + 2 * slot, run * 2 * sizeof(std::int16_t));
            i += run;
            pos += run;
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (m_reserved.load(std::memory_order_relaxed) - end <= Capacity - count)
            return;
    }
}

void FrameRing::reset()
{
    std::memset(m_samples.get(), 0, 2 * Capacity * sizeof(std::int16_t));
    m_reserved.store(0, std::memory_order_relaxed);
    m_written.store(0, std::memory_order_release);
}
