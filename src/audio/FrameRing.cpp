#include "audio/FrameRing.h"

#include <cstring>

namespace {
std::uint32_t packed(const std::int16_t* frame)
{
    std::uint32_t value;
    std::memcpy(&value, frame, sizeof value);
    return value;
}
}

FrameRing::FrameRing()
    : m_frames(new std::atomic<std::uint32_t>[Capacity]())
{
}

void FrameRing::write(const std::int16_t* stereo, std::uint32_t count)
{
    const std::uint64_t start = m_written.load(std::memory_order_relaxed);
    // Announces the slots about to change before changing them (see readLatest).
    m_reserved.store(start + count, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::uint32_t i = 0; i < count; ++i)
        m_frames[std::uint32_t(start + i) & Mask].store(
            packed(stereo + 2 * i), std::memory_order_relaxed);
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
        const std::uint64_t first = end - (count - missing);
        for (std::uint32_t i = missing; i < count; ++i) {
            const std::uint32_t frame = m_frames[std::uint32_t(first + i - missing) & Mask].load(
                std::memory_order_relaxed);
            std::memcpy(out + 2 * i, &frame, sizeof frame);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (m_reserved.load(std::memory_order_relaxed) - end <= Capacity - count)
            return;
    }
}

void FrameRing::reset()
{
    for (std::uint32_t i = 0; i < Capacity; ++i)
        m_frames[i].store(0, std::memory_order_relaxed);
    m_reserved.store(0, std::memory_order_relaxed);
    m_written.store(0, std::memory_order_release);
}
