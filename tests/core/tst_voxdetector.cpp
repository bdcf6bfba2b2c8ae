#include "core/VoxDetector.h"

#include <QTest>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>

// Counts heap allocations so that a test can prove the render tick makes none.
// ThreadSanitizer links its own operator new, which a program cannot replace.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VOKEY_OWN_OPERATOR_NEW 0
#endif
#endif
#ifndef VOKEY_OWN_OPERATOR_NEW
#define VOKEY_OWN_OPERATOR_NEW 1
#endif

namespace {
std::atomic<long> allocations { 0 };
}
#if VOKEY_OWN_OPERATOR_NEW
void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
#endif

namespace {

using Spectrum = std::array<float, VoxDetector::BinCount>;
using Action = VoxDetector::TxAction;
constexpr qint64 tickMs = 33;

Spectrum silence()
{
    return Spectrum {};
}

// Every bin the detector counts (5, 8, ..., 386) at the same magnitude.
Spectrum countedBinsAt(float magnitude)
{
    Spectrum s {};
    for (int i = 0; i < VoxDetector::CountedBins; ++i)
        s[std::size_t(VoxDetector::FirstBin + i * VoxDetector::BinStride)] = magnitude;
    return s;
}

Spectrum binAt(int bin, float magnitude)
{
    Spectrum s {};
    s[std::size_t(bin)] = magnitude;
    return s;
}

// 128 counted bins contributing trunc(5.5) * 10 each: S = 6400, tick level 100.
Spectrum loud()
{
    return countedBinsAt(5.5f / 500.0f);
}

// A spectrum of the given tick level: bin 5 alone at v = ceil(6.4 * level), a little above
// v / 500, gives trunc(20 * v / 128) = level.
Spectrum atLevel(int level)
{
    const int v = (64 * level + 9) / 10;
    return binAt(VoxDetector::FirstBin, (float(v) + 0.5f) / 500.0f);
}

} // namespace

class TestVoxDetector : public QObject {
    Q_OBJECT

private slots:
    void tickLevel_data();
    void tickLevel();
    void levelsAndKeying_data();
    void levelsAndKeying();
    void historyIsOldestFirstAndSlides();
    void timedRelease_data();
    void timedRelease();
    void passingTicksPushReleaseBack();
    void delayZeroReleasesOnFirstQuietTick();
    void muteBlocksKeyingButNotTheMeter();
    void gainZeroKeysOnSilence();
    void idleTicksAndTimeOut_data();
    void idleTicksAndTimeOut();
    void tickDoesNotAllocate();
};

void TestVoxDetector::tickLevel_data()
{
    QTest::addColumn<Spectrum>("spectrum");
    QTest::addColumn<int>("expected");

    const float belowOneUnit = std::nextafter(1.0f / 500.0f, 0.0f);
    QTest::newRow("silence") << silence() << 0;
    QTest::newRow("counted bins at 1/256") << countedBinsAt(1.0f / 256.0f) << 20;
    QTest::newRow("every bin at 1/256") << [] {
        Spectrum s;
        s.fill(1.0f / 256.0f);
        return s;
    }() << 20;
    QTest::newRow("only bin 5 at 0.5") << binAt(5, 0.5f) << 39;
    QTest::newRow("only bin 386 at 0.5") << binAt(386, 0.5f) << 39;
    QTest::newRow("negative magnitude counts by size") << binAt(5, -0.5f) << 39;
    QTest::newRow("bin 6 has no effect") << binAt(6, 0.5f) << 0;
    QTest::newRow("bin 7 has no effect") << binAt(7, 0.5f) << 0;
    QTest::newRow("bin 389 past the last counted") << binAt(389, 0.5f) << 0;
    QTest::newRow("bins 0 to 4 have no effect") << [] {
        Spectrum s {};
        for (int k = 0; k < 5; ++k)
            s[std::size_t(k)] = 1.0f;
        return s;
    }() << 0;
    QTest::newRow("counted bins at 0.5") << countedBinsAt(0.5f) << 5000;
    QTest::newRow("loud") << loud() << 100;
    // The product is truncated exactly: a float just below 1/500 must not round up to 1.
    QTest::newRow("counted bins just below 1/500") << countedBinsAt(belowOneUnit) << 0;
    QTest::newRow("counted bins at 1/500") << countedBinsAt(1.0f / 500.0f) << 20;
    QTest::newRow("NaN counts as silence")
        << binAt(5, std::numeric_limits<float>::quiet_NaN()) << 0;
    QTest::newRow("infinity is capped") << binAt(5, std::numeric_limits<float>::infinity())
                                        << VoxDetector::MaxBinValue * 10 * 2 / 128;
    QTest::newRow("all counted infinite stays defined") << countedBinsAt(
        std::numeric_limits<float>::infinity()) << VoxDetector::MaxBinValue * 10 * 2;
}

void TestVoxDetector::tickLevel()
{
    QFETCH(Spectrum, spectrum);
    QFETCH(int, expected);
    QCOMPARE(VoxDetector::tickLevelOf(spectrum), expected);
}

void TestVoxDetector::levelsAndKeying_data()
{
    QTest::addColumn<Spectrum>("spectrum");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("tickLevel");
    QTest::addColumn<int>("voxLevel");
    QTest::addColumn<int>("meter");
    QTest::addColumn<bool>("keys");

    const Spectrum quiet = countedBinsAt(1.0f / 256.0f);
    QTest::newRow("silence, gain 0") << silence() << 1 << 0 << 0 << 0 << 0 << true;
    QTest::newRow("silence, gain 1") << silence() << 1 << 1 << 0 << 0 << 0 << false;
    QTest::newRow("1/256 for 16 ticks, gain 60") << quiet << 16 << 60 << 20 << 60 << 60 << true;
    QTest::newRow("1/256 for 16 ticks, gain 61") << quiet << 16 << 61 << 20 << 60 << 60 << false;
    QTest::newRow("1/256 for 15 ticks, gain 60") << quiet << 15 << 60 << 20 << 54 << 54 << false;
    QTest::newRow("1/256 for 40 ticks stays 60") << quiet << 40 << 60 << 20 << 60 << 60 << true;
    QTest::newRow("one loud tick after silence") << loud() << 1 << 18 << 100 << 18 << 18 << true;
    QTest::newRow("one loud tick, gain 19") << loud() << 1 << 19 << 100 << 18 << 18 << false;
    QTest::newRow("loud for 16 ticks, gain 100")
        << loud() << 16 << 100 << 100 << 300 << 100 << true;
    QTest::newRow("above 100 compares unclamped")
        << countedBinsAt(0.5f) << 1 << 100 << 5000 << 936 << 100 << true;
}

void TestVoxDetector::levelsAndKeying()
{
    QFETCH(Spectrum, spectrum);
    QFETCH(int, ticks);
    QFETCH(int, gain);

    VoxDetector detector;
    VoxDetector::TickResult result;
    for (int k = 1; k <= ticks; ++k)
        result = detector.tick(spectrum, gain, 1, false, k * tickMs);

    QTEST(result.tickLevel, "tickLevel");
    QTEST(result.voxLevel, "voxLevel");
    QTEST(result.meterLevel, "meter");
    QTEST(result.passed, "keys");
    QFETCH(bool, keys);
    QCOMPARE(result.action, keys ? Action::Key : Action::None);
    QCOMPARE(detector.isTransmitting(), keys);
}

void TestVoxDetector::historyIsOldestFirstAndSlides()
{
    VoxDetector detector;
    // Tick levels 0, 20, 39, 100 then 13 more silent ticks: the first 0 falls out.
    const Spectrum sequence[] = { silence(), countedBinsAt(1.0f / 256.0f), binAt(5, 0.5f), loud() };
    qint64 now = 0;
    for (const Spectrum& s : sequence)
        detector.tick(s, 101, 1, false, now += tickMs);
    VoxDetector::History expected {};
    expected[12] = 0;
    expected[13] = 20;
    expected[14] = 39;
    expected[15] = 100;
    QCOMPARE(detector.levelHistory(), expected);
    QCOMPARE(VoxDetector::voxLevelOf(detector.levelHistory()), (159 / 16) * 3);

    for (int k = 0; k < 13; ++k)
        detector.tick(silence(), 101, 1, false, now += tickMs);
    expected = {};
    expected[0] = 20;
    expected[1] = 39;
    expected[2] = 100;
    QCOMPARE(detector.levelHistory(), expected);
}

void TestVoxDetector::timedRelease_data()
{
    QTest::addColumn<int>("delay");
    QTest::newRow("delay 1") << 1;
    QTest::newRow("delay 20") << 20;
    QTest::newRow("delay 100") << 100;
    QTest::newRow("delay above the slider counts as 100") << 250;
}

void TestVoxDetector::timedRelease()
{
    QFETCH(int, delay);
    const qint64 delayMs = std::min(delay, 100) * 50;
    VoxDetector detector;
    const int gain = 50;

    // 16 loud ticks, then silence until the average falls below the gain.
    qint64 now = 0;
    qint64 lastPass = -1;
    for (int k = 0; k < 16; ++k) {
        now += tickMs;
        const auto r = detector.tick(loud(), gain, delay, false, now);
        // 18, 36, then 54 and up: the third loud tick is the first to reach the gain.
        QCOMPARE(r.passed, k >= 2);
        QCOMPARE(r.action, r.passed ? Action::Key : Action::None);
        if (r.passed) {
            QCOMPARE(r.releaseDelayMs, int(delayMs));
            lastPass = now;
        }
    }
    QCOMPARE(lastPass, 16 * tickMs);
    // The average trunc(n * 100 / 16) * 3 stays >= 50 while 3 of the 16 loud ticks remain.
    for (;;) {
        now += tickMs;
        QCOMPARE(detector.releaseIfDue(now - 1), std::nullopt);
        const auto r = detector.tick(silence(), gain, delay, false, now);
        if (!r.passed) {
            QCOMPARE(r.action, Action::None); // a timed release waits for its time
            break;
        }
        lastPass = now;
    }
    QCOMPARE(lastPass, 16 * tickMs + 13 * tickMs);
    QVERIFY(detector.isTransmitting());
    QCOMPARE(detector.releaseDueMs(), std::optional<qint64>(lastPass + delayMs));
    QCOMPARE(detector.releaseIfDue(lastPass + delayMs - 1), std::nullopt);
    QVERIFY(detector.isTransmitting());
    QCOMPARE(
        detector.releaseIfDue(lastPass + delayMs + 40), std::optional<qint64>(lastPass + delayMs));
    QVERIFY(!detector.isTransmitting());
    QCOMPARE(detector.releaseDueMs(), std::nullopt);
    QCOMPARE(detector.releaseIfDue(lastPass + delayMs + 100), std::nullopt);
}

void TestVoxDetector::passingTicksPushReleaseBack()
{
    VoxDetector detector;
    auto r = detector.tick(loud(), 18, 20, false, 1000);
    QCOMPARE(r.action, Action::Key);
    QCOMPARE(detector.releaseDueMs(), std::optional<qint64>(2000));
    // Still passing (the history keeps the loud tick): keyed again, release moved on.
    r = detector.tick(silence(), 18, 20, false, 1033);
    QCOMPARE(r.action, Action::Key);
    QCOMPARE(detector.releaseDueMs(), std::optional<qint64>(2033));
    // A release timer fired from outside ends transmit at once.
    detector.release();
    QVERIFY(!detector.isTransmitting());
    QCOMPARE(detector.releaseDueMs(), std::nullopt);
}

void TestVoxDetector::delayZeroReleasesOnFirstQuietTick()
{
    VoxDetector detector;
    auto r = detector.tick(loud(), 18, 0, false, 33);
    QCOMPARE(r.action, Action::Key);
    QCOMPARE(r.releaseDelayMs, 0);
    QCOMPARE(detector.releaseDueMs(), std::nullopt);
    // Held while ticks pass, with nothing to time out.
    r = detector.tick(silence(), 18, 0, false, 66);
    QCOMPARE(r.action, Action::Key);
    QCOMPARE(detector.releaseIfDue(100000), std::nullopt);
    QVERIFY(detector.isTransmitting());
    // Average (100 / 16) * 3 = 18 until the loud tick ages out after 16 ticks.
    qint64 now = 66;
    int keyedTicks = 2;
    for (;;) {
        r = detector.tick(silence(), 18, 0, false, now += tickMs);
        if (r.action != Action::Key)
            break;
        ++keyedTicks;
    }
    QCOMPARE(keyedTicks, 16);
    QCOMPARE(r.action, Action::Release);
    QVERIFY(!detector.isTransmitting());
    r = detector.tick(silence(), 18, 0, false, now += tickMs);
    QCOMPARE(r.action, Action::None);

    // Keyed with a timer, then Delay turned to 0 with no tick passing: the pending timer
    // still ends it, not the quiet tick.
    detector.tick(loud(), 18, 20, false, now += tickMs);
    const qint64 due = now + 1000;
    QCOMPARE(detector.releaseDueMs(), std::optional<qint64>(due));
    r = detector.tick(silence(), 19, 0, false, now += tickMs);
    QVERIFY(!r.passed);
    QCOMPARE(r.action, Action::None);
    QVERIFY(detector.isTransmitting());
    QCOMPARE(detector.releaseIfDue(due), std::optional<qint64>(due));
    QVERIFY(!detector.isTransmitting());
}

void TestVoxDetector::muteBlocksKeyingButNotTheMeter()
{
    VoxDetector detector;
    auto r = detector.tick(loud(), 10, 20, false, 33);
    QCOMPARE(r.action, Action::Key);
    // Muting releases at once (the window calls release() and SetTX(false)).
    detector.release();
    QVERIFY(!detector.isTransmitting());
    for (int k = 2; k <= 17; ++k) {
        r = detector.tick(loud(), 10, 20, true, k * tickMs);
        QVERIFY(!r.passed);
        QCOMPARE(r.action, Action::None);
    }
    QCOMPARE(r.voxLevel, 300);
    QCOMPARE(r.meterLevel, 100);
    QVERIFY(!detector.isTransmitting());
    QCOMPARE(detector.releaseIfDue(1000000), std::nullopt);
    // Un-muted: the next tick keys again.
    r = detector.tick(loud(), 10, 20, false, 18 * tickMs);
    QCOMPARE(r.action, Action::Key);
    QVERIFY(detector.isTransmitting());

    // Mute while held by Delay 0 is a release too, and no quiet tick releases a second time.
    detector.tick(loud(), 10, 0, false, 19 * tickMs);
    detector.release();
    r = detector.tick(loud(), 10, 0, true, 20 * tickMs);
    QCOMPARE(r.action, Action::None);
}

void TestVoxDetector::gainZeroKeysOnSilence()
{
    VoxDetector detector;
    for (int k = 1; k <= 50; ++k) {
        const auto r = detector.tick(silence(), 0, 20, false, k * tickMs);
        QCOMPARE(r.voxLevel, 0);
        QCOMPARE(r.action, Action::Key);
        QCOMPARE(detector.releaseDueMs(), std::optional<qint64>(k * tickMs + 1000));
    }
}

void TestVoxDetector::idleTicksAndTimeOut_data()
{
    // One character per tick k (at k * 33 ms): P passes (silence at Gain 0), F does not
    // (silence at Gain 1), I has no audio (idle), M is mute toggled, then a passing tick.
    // Expected action per tick: K key, R release, T time-out, . nothing.
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("ticks");
    QTest::addColumn<QString>("actions");
    QTest::newRow("no audio releases Delay 0") << 0 << 0 << "PPIP"
                                               << "KKRK";
    QTest::newRow("no audio leaves the timer to a Delay") << 0 << 20 << "PPII"
                                                          << "KK..";
    QTest::newRow("time-out off") << 0 << 0 << "PPPPPPPP"
                                  << "KKKKKKKK";
    // Keyed at 33 ms; on for 132 ms at 165 ms.
    QTest::newRow("level stays up: released") << 132 << 0 << "PPPPPPPP"
                                              << "KKKKT...";
    QTest::newRow("with a Delay") << 132 << 20 << "PPPPPPP"
                                  << "KKKKT..";
    QTest::newRow("held by the Delay") << 132 << 20 << "PPPFFFF"
                                       << "KKK.T..";
    QTest::newRow("a failing tick allows keying") << 132 << 0 << "PPPPPPFPP"
                                                  << "KKKKT..KK";
    QTest::newRow("a tick without audio too") << 132 << 0 << "PPPPPIPP"
                                              << "KKKKT.KK";
    QTest::newRow("mute toggled too") << 132 << 0 << "PPPPPPMP"
                                      << "KKKKT.KK";
    QTest::newRow("a new transmission starts a new count") << 132 << 0 << "PPPFPPPPPP"
                                                           << "KKKRKKKKT.";
}

void TestVoxDetector::idleTicksAndTimeOut()
{
    QFETCH(int, timeoutMs);
    QFETCH(int, delay);
    QFETCH(QString, ticks);
    VoxDetector detector;
    detector.setTxTimeoutMs(timeoutMs);
    QString actions;
    for (int k = 1; k <= ticks.size(); ++k) {
        const QChar kind = ticks[k - 1];
        if (kind == u'M')
            detector.endTimeOut();
        const auto r = kind == u'I'
            ? detector.idle(k * tickMs)
            : detector.tick(silence(), kind == u'F', delay, false, k * tickMs);
        actions += QStringLiteral(".KRT")[int(r.action)];
        // Released by the time-out, nothing waits to be released.
        if (r.action == Action::TimeOut)
            QVERIFY(!detector.isTransmitting() && !detector.releaseDueMs());
    }
    QTEST(actions, "actions");
}

void TestVoxDetector::tickDoesNotAllocate()
{
    if (!VOKEY_OWN_OPERATOR_NEW)
        QSKIP("allocations are not counted under ThreadSanitizer");
    VoxDetector detector;
    const Spectrum spectra[] = { silence(), loud(), countedBinsAt(0.5f) };
    const long before = allocations.load();
    int sum = 0;
    for (int k = 1; k <= 300; ++k) {
        const auto r = detector.tick(spectra[k % 3], 40, k % 3 ? 20 : 0, k % 7 == 0, k * tickMs);
        sum += r.voxLevel;
        detector.releaseIfDue(k * tickMs);
    }
    QCOMPARE(allocations.load(), before);
    QVERIFY(sum > 0);
}

QTEST_GUILESS_MAIN(TestVoxDetector)
#include "tst_voxdetector.moc"
