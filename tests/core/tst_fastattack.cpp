// The fast attack rule: a tick whose voice band rises well above its noise floor keys at
// once, two rising ticks in a row key, a broadband click does not; the hold as with the
// average.
#include "core/VoxDetector.h"

#include <QTest>

#include <array>

namespace {

using Spectrum = std::array<float, VoxDetector::BinCount>;
using Action = VoxDetector::TxAction;
constexpr qint64 tickMs = 33;

// A tick for the fast attack, over a background with every bin 7..386 at bg: "0" the
// background alone; "vN" every voice bin (7..70) at 3 x bg + (N + 0.5) / 10000, a voice rise
// of N (156.25 * 64 per unit over the floor margin); "uN" the same in every upper bin
// (71..386), an upper rise of N; "cN" a click, both at once.
Spectrum fastTick(const QString& code, float bg)
{
    Spectrum s {};
    for (int k = VoxDetector::VoiceFirstBin; k <= VoxDetector::UpperLastBin; ++k)
        s[std::size_t(k)] = bg;
    if (code == u"0")
        return s;
    const float over = (code.mid(1).toFloat() + 0.5f) / 10000.0f;
    const bool voice = code.startsWith(u'v') || code.startsWith(u'c');
    const bool upper = code.startsWith(u'u') || code.startsWith(u'c');
    for (int k = VoxDetector::VoiceFirstBin; k <= VoxDetector::UpperLastBin; ++k) {
        const bool isVoice = k < VoxDetector::UpperFirstBin;
        if (isVoice ? voice : upper)
            s[std::size_t(k)] = 3 * bg + over;
    }
    return s;
}

} // namespace

class TestFastAttack : public QObject {
    Q_OBJECT

private slots:
    void fastAttack_data();
    void fastAttack();
    void fastAttackWaitsForAFullHistory();
};

void TestFastAttack::fastAttack_data()
{
    // 16 ticks of the background, then one tick per code; Gain 30, Delay 2 (100 ms). Per
    // tick: K keyed (again), o a timed release fell due before the tick, . none. The VOX
    // level of these spectra stays below the Gain, so the average never keys.
    QTest::addColumn<bool>("fast");
    QTest::addColumn<float>("background");
    QTest::addColumn<QStringList>("ticks");
    QTest::addColumn<QString>("actions");
    const QStringList onset { "v20", "v20", "v20" };
    QTest::newRow("voiced onset, average") << false << 0.0f << onset << "...";
    // Voiced: 20 >= 4 x 0, 3 x 20 = 60 reaches the Gain at the first tick.
    QTest::newRow("voiced onset, fast") << true << 0.0f << onset << "KKK";
    QTest::newRow("voiced onset at the Gain, fast") << true << 0.0f << QStringList { "v10" } << "K";
    QTest::newRow("voiced onset below the Gain, fast")
        << true << 0.0f << QStringList { "v9", "v9" } << "..";
    // Over a floor of 0.001 in every bin: the voice must pass 3 x the floor.
    QTest::newRow("voiced onset over hiss, fast")
        << true << 0.001f << QStringList { "0", "v20", "v20" } << ".KK";
    // An "s": upper rise 10, voice rise 0, not voiced; two in a row: 3 x (0 + 3 x 10) = 90.
    QTest::newRow("fricative onset, fast")
        << true << 0.0f << QStringList { "u10", "u10", "u10" } << ".KK";
    // A click rises in both bands alike (20 < 4 x 20): not voiced, and alone.
    QTest::newRow("a single click, fast")
        << true << 0.0f << QStringList { "c20", "0", "0", "0" } << "....";
    QTest::newRow("a single click over hiss, fast")
        << true << 0.001f << QStringList { "c40", "0", "0", "0" } << "....";
    QTest::newRow("a click train, fast")
        << true << 0.0f
        << QStringList { "c30", "0", "0", "c30", "0", "0", "c30", "0", "0", "c30", "0", "0" }
        << "............";
    // Steady hiss does not rise above its floor.
    QTest::newRow("steady hiss, fast")
        << true << 0.001f << QStringList { "0", "0", "0", "0" } << "....";
    // Muted ("m:" before the code) nothing keys, by either level.
    QTest::newRow("voiced onset muted, fast")
        << true << 0.0f << QStringList { "m:v20", "m:v20", "v20" } << "..K";
    // A tick without audio ("i") between two rising ticks: not two in a row.
    QTest::newRow("fricative broken by a tick without audio, fast")
        << true << 0.0f << QStringList { "u10", "i", "u10", "u10" } << "...K";
    // Held by the Delay from the last tick that passed by the attack level, then released.
    QTest::newRow("the hold, fast")
        << true << 0.0f << QStringList { "v20", "0", "0", "0", "0", "0" } << "K...o.";
}

void TestFastAttack::fastAttack()
{
    QFETCH(bool, fast);
    QFETCH(float, background);
    QFETCH(QStringList, ticks);
    const int gain = 30;
    const int delay = 2;
    VoxDetector detector;
    if (fast)
        detector.setAttack(VoxDetector::Attack::Fast);
    qint64 now = 0;
    for (int k = 0; k < VoxDetector::HistoryLength; ++k) {
        const auto r = detector.tick(fastTick("0", background), gain, delay, false, now += tickMs);
        QCOMPARE(r.action, Action::None);
    }
    QString actions;
    for (const QString& code : ticks) {
        now += tickMs;
        const bool released = detector.releaseIfDue(now).has_value();
        const bool muted = code.startsWith(u"m:");
        const auto r = code == u"i"
            ? detector.idle(now)
            : detector.tick(fastTick(code.mid(muted ? 2 : 0), background), gain, delay, muted, now);
        QVERIFY(r.voxLevel < gain);
        actions += released ? u'o' : r.action == Action::Key ? u'K' : u'.';
    }
    QTEST(actions, "actions");
}

void TestFastAttack::fastAttackWaitsForAFullHistory()
{
    // A voice from the 15th tick: the floor is not known before 16 ticks with audio, so the
    // fast rule keys at the 16th.
    VoxDetector detector;
    detector.setAttack(VoxDetector::Attack::Fast);
    for (int k = 1; k <= 16; ++k) {
        const auto r
            = detector.tick(fastTick(k < 15 ? "0" : "v20", 0.0f), 30, 2, false, k * tickMs);
        QCOMPARE(r.action, k < 16 ? Action::None : Action::Key);
    }
}

QTEST_GUILESS_MAIN(TestFastAttack)
#include "tst_fastattack.moc"
