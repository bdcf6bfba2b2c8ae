// The capture ring: what the reader sees before, during and after the writer wraps around,
// and while a writer runs concurrently.
#include "audio/CaptureBackend.h"
#include "audio/FrameRing.h"

#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

namespace {
// Frame i carries its own index, so order and gaps are visible.
void indexFrames(std::vector<std::int16_t>& out, std::uint64_t first, std::uint32_t count)
{
    out.resize(2 * count);
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint64_t i = first + n;
        out[2 * n] = std::int16_t(i & 0xffff);
        out[2 * n + 1] = std::int16_t((i >> 16) & 0xffff);
    }
}

std::uint64_t indexOf(const std::int16_t* frame)
{
    return std::uint64_t(std::uint16_t(frame[0])) | std::uint64_t(std::uint16_t(frame[1])) << 16;
}
}

class TestFrameRing : public QObject {
    Q_OBJECT

private slots:
    void latestFrames_data();
    void latestFrames();
    void concurrentWriterNeverTears_data();
    void concurrentWriterNeverTears();
    void monoIsWidenedToStereo_data();
    void monoIsWidenedToStereo();
};

void TestFrameRing::latestFrames_data()
{
    QTest::addColumn<std::uint32_t>("written");
    QTest::addColumn<std::uint32_t>("block");
    QTest::addColumn<std::uint32_t>("read");

    QTest::newRow("nothing written: silence") << 0u << 1u << 1024u;
    QTest::newRow("less than asked: silence first") << 300u << 100u << 1024u;
    QTest::newRow("exactly asked") << 1024u << 512u << 1024u;
    QTest::newRow("across the wrap") << FrameRing::Capacity + 700u << 441u << 1024u;
    QTest::newRow("many laps, odd blocks") << 5 * FrameRing::Capacity + 13u << 997u << 1024u;
    QTest::newRow("half the ring") << 3 * FrameRing::Capacity << 4096u << FrameRing::Capacity / 2;
}

void TestFrameRing::latestFrames()
{
    QFETCH(std::uint32_t, written);
    QFETCH(std::uint32_t, block);
    QFETCH(std::uint32_t, read);

    FrameRing ring;
    std::vector<std::int16_t> frames;
    // Index 0 would read like silence; start at 1.
    for (std::uint32_t done = 0; done < written;) {
        const std::uint32_t run = std::min(block, written - done);
        indexFrames(frames, 1 + done, run);
        ring.write(frames.data(), run);
        done += run;
    }
    QCOMPARE(ring.framesWritten(), std::uint64_t(written));

    std::vector<std::int16_t> out(2 * read, -1);
    ring.readLatest(out.data(), read);
    const std::uint32_t silent = written < read ? read - written : 0;
    for (std::uint32_t n = 0; n < read; ++n) {
        const std::uint64_t expected = n < silent ? 0 : std::uint64_t(written) - read + n + 1;
        if (indexOf(&out[2 * n]) != expected)
            QFAIL(qPrintable(QStringLiteral("frame %1: %2, expected %3")
                                 .arg(n)
                                 .arg(indexOf(&out[2 * n]))
                                 .arg(expected)));
    }
}

void TestFrameRing::concurrentWriterNeverTears_data()
{
    QTest::addColumn<std::uint32_t>("block");
    QTest::newRow("sound-card blocks") << 300u;
    // Each write then covers the frames a reader is copying; the reader must notice.
    QTest::newRow("blocks the size of the ring") << FrameRing::Capacity;
    QTest::newRow("blocks larger than the ring") << FrameRing::Capacity + 5000u;
}

void TestFrameRing::concurrentWriterNeverTears()
{
    QFETCH(std::uint32_t, block);
    FrameRing ring;
    constexpr std::uint64_t total = 8'000'000;
    std::atomic<bool> done { false };
    std::thread writer([&] {
        std::vector<std::int16_t> frames;
        for (std::uint64_t at = 1; at <= total; at += block) {
            indexFrames(frames, at, block);
            ring.write(frames.data(), block);
        }
        done = true;
    });

    std::vector<std::int16_t> out(2 * 1024);
    int reads = 0;
    bool torn = false;
    while (!done || reads == 0) {
        const std::uint64_t before = ring.framesWritten();
        if (before < 1024)
            continue;
        ring.readLatest(out.data(), 1024);
        const std::uint64_t after = ring.framesWritten();
        ++reads;
        // Consecutive frames, ending with a frame that was published during the read
        // (frame i carries index i + 1), never one still being written.
        const std::uint64_t last = indexOf(&out[2 * 1023]);
        torn = last < (before & 0xffffffff) || last > (after & 0xffffffff);
        for (int n = 1; n < 1024 && !torn; ++n)
            torn = indexOf(&out[2 * n]) != indexOf(&out[2 * n - 2]) + 1;
        if (torn)
            break;
    }
    writer.join();
    QVERIFY2(!torn, "a read returned frames of different writes or not yet published");
    QVERIFY(reads > 0);
}

namespace {
// Record callback that keeps what it is given and ends the capture after `limit` frames.
struct Recorder {
    std::vector<std::int16_t> seen;
    quint32 handle = 0;
    std::uint32_t limit = 0;
    static bool proc(quint32 handle, const void* buffer, quint32 length, void* user)
    {
        auto* self = static_cast<Recorder*>(user);
        const auto* samples = static_cast<const std::int16_t*>(buffer);
        self->seen.insert(self->seen.end(), samples, samples + length / 2);
        self->handle = handle;
        return self->seen.size() / 2 < self->limit;
    }
};
}

void TestFrameRing::monoIsWidenedToStereo_data()
{
    QTest::addColumn<std::uint32_t>("frames");
    QTest::addColumn<std::uint32_t>("limit");
    QTest::addColumn<bool>("continues");
    QTest::newRow("one sample") << 1u << 100000u << true;
    QTest::newRow("several stack steps") << 1000u << 100000u << true;
    QTest::newRow("callback ends it midway") << 1000u << 300u << false;
}

void TestFrameRing::monoIsWidenedToStereo()
{
    QFETCH(std::uint32_t, frames);
    QFETCH(std::uint32_t, limit);
    QFETCH(bool, continues);

    // A one-channel card: sample i is i + 1.
    std::vector<std::int16_t> mono(frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        mono[i] = std::int16_t(i + 1);
    FrameRing ring;
    Recorder recorder;
    recorder.limit = limit;
    const CaptureTarget target { &ring, &Recorder::proc, &recorder, 0x10001 };
    QCOMPARE(target.deliverMono(mono.data(), frames), continues);
    QCOMPARE(recorder.handle, 0x10001u);

    // The callback saw stereo frames in order, up to where it said stop, and the ring
    // holds exactly what the callback saw.
    const std::uint32_t delivered = std::uint32_t(recorder.seen.size() / 2);
    QVERIFY(continues ? delivered == frames : delivered >= limit && delivered < frames);
    QCOMPARE(ring.framesWritten(), std::uint64_t(delivered));
    for (std::uint32_t i = 0; i < delivered; ++i) {
        QCOMPARE(recorder.seen[2 * i], std::int16_t(i + 1));
        QCOMPARE(recorder.seen[2 * i + 1], std::int16_t(i + 1));
    }
    std::vector<std::int16_t> latest(2 * delivered);
    ring.readLatest(latest.data(), delivered);
    QVERIFY(latest == recorder.seen);
}

QTEST_GUILESS_MAIN(TestFrameRing)
#include "tst_framering.moc"
