#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// Single-producer/single-consumer ring of interleaved stereo 16-bit frames.
// The capture thread appends; the user-interface thread reads the most recent frames
// without consuming them. Neither side locks or allocates after construction.
class FrameRing {
public:
    // 65536 frames at 44100 Hz hold 1.49 s, so a reader that takes the latest
    // 1024 frames is never overtaken by a writer that is less than a second ahead.
    static constexpr std::uint32_t Capacity = 1u << 16;

    FrameRing();
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    // Producer side. stereo: count interleaved left/right frames.
    void write(const std::int16_t* stereo, std::uint32_t count);

    // Consumer side: copies the latest `count` frames (oldest first) into out; positions
    // before the first written frame read as silence. count must not exceed Capacity / 2.
    void readLatest(std::int16_t* out, std::uint32_t count) const;

    // Frames written since construction or the last reset (either side).
    std::uint64_t framesWritten() const { return m_written.load(std::memory_order_acquire); }

    // Only while no producer runs.
    void reset();

private:
    static constexpr std::uint32_t Mask = Capacity - 1;
    // One stereo frame a slot. The reader may copy slots the writer is storing (and then
    // discards the copy), so slots are atomics, relaxed: plain loads and stores on the
    // processor, and no data race in the language.
    std::unique_ptr<std::atomic<std::uint32_t>[]> m_frames;
    std::atomic<std::uint64_t> m_written { 0 }; // frames complete in the ring
    std::atomic<std::uint64_t> m_reserved { 0 }; // frames the writer has begun to store
};
