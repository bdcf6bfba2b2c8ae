// The spectrum painter: levels from magnitudes, falling bars and peak marks, the plot modes,
// drawing without clearing, the block copy to the target and strides that would read past the
// snapshot. Frames are checked pixel by pixel.
#include "widgets/FftBarPainter.h"

#include <QImage>
#include <QTest>

#include <array>
#include <limits>
#include <vector>

class TestFftBarPainter : public QObject {
    Q_OBJECT

private slots:
    void defaults();
    void levelsFollowTheMagnitudes_data();
    void levelsFollowTheMagnitudes();
    void plotModes_data();
    void plotModes();
    void clearAndBackdrop_data();
    void clearAndBackdrop();
    void copyAlwaysFromTheOrigin_data();
    void copyAlwaysFromTheOrigin();
    void strideNeverReadsPastTheSnapshot_data();
    void strideNeverReadsPastTheSnapshot();
};

namespace {

using Snapshot = std::array<float, TSpectrum::SnapshotLength>;

Snapshot withBin(int bin, float magnitude)
{
    Snapshot s {};
    s[std::size_t(bin)] = magnitude;
    return s;
}

constexpr QRgb Black = 0xFF000000;
constexpr QRgb White = 0xFFFFFFFF;
constexpr QRgb Yellow = 0xFFFFFF00;
constexpr QRgb Cyan = 0xFF00FFFF;
constexpr QRgb Red = 0xFFFF0000;
constexpr QRgb Blue = 0xFF0000FF;

} // namespace

void TestFftBarPainter::defaults()
{
    const TSpectrum s(241, 169);
    QCOMPARE(s.FrameBitmap.size(), QSize(241, 169));
    QCOMPARE(s.BackdropBitmap.size(), QSize(241, 169));
    QCOMPARE(s.ClearColor, TColor(0));
    QCOMPARE(s.LevelCeiling, 100);
    QCOMPARE(s.TraceColor, TColor(0xFFFFFF));
    QCOMPARE(s.PeakMarkColor, TColor(0xFFFF));
    QCOMPARE(s.PlotMode, 0);
    QCOMPARE(s.BinStride, 1);
    QVERIFY(s.ClearEachFrame);
    QVERIFY(!s.DrawBackdrop);
    QCOMPARE(s.PeakDecay, 1);
    QCOMPARE(s.BarDecay, 3);
    QCOMPARE(s.BarWidth, 5);
    QVERIFY(s.ShowPeakMarks);
    for (int i = 0; i < TSpectrum::Columns; ++i)
        QVERIFY(s.PeakLevels[std::size_t(i)] == 0 && s.BarLevels[std::size_t(i)] == 0);
}

void TestFftBarPainter::levelsFollowTheMagnitudes_data()
{
    // Frames of bin 5 (column 0) with the window's decays: bars fall 10, marks 1 a frame.
    QTest::addColumn<QList<float>>("magnitudes");
    QTest::addColumn<int>("bar");
    QTest::addColumn<int>("peak");
    const QList<float> loud { 0.2f };
    const auto quiet = [&](int frames) { return loud + QList<float>(frames, 0.0f); };
    QTest::newRow("0.2 is 100") << loud << 100 << 100;
    QTest::newRow("0.25 is cut to 100") << QList<float> { 0.25f } << 100 << 100;
    QTest::newRow("negative by its size") << QList<float> { -0.1f } << 50 << 50;
    QTest::newRow("0.0019 is 0") << QList<float> { 0.0019f } << 0 << 0;
    QTest::newRow("NaN is 0") << QList<float> { std::numeric_limits<float>::quiet_NaN() } << 0 << 0;
    QTest::newRow("1 quiet frame") << quiet(1) << 90 << 99;
    QTest::newRow("10 quiet frames") << quiet(10) << 0 << 90;
    QTest::newRow("99 quiet frames") << quiet(99) << 0 << 1;
    QTest::newRow("100 quiet frames") << quiet(100) << 0 << 0;
    QTest::newRow("130 quiet frames") << quiet(130) << 0 << 0;
    QTest::newRow("49 under a bar of 50") << QList<float> { 0.1f, 0.0981f } << 40 << 49;
    QTest::newRow("then back to 49") << QList<float> { 0.1f, 0.0981f, 0.0981f } << 49 << 49;
}

void TestFftBarPainter::levelsFollowTheMagnitudes()
{
    QFETCH(QList<float>, magnitudes);
    QFETCH(int, bar);
    QFETCH(int, peak);
    TSpectrum s(241, 169);
    s.PlotMode = 1;
    s.BarDecay = 10;
    s.TraceColor = 0xFFFF00;
    s.PeakMarkColor = 0xFF;
    QImage target(241, 169, QImage::Format_RGB32);
    for (float m : magnitudes) {
        const Snapshot snapshot = withBin(5, m);
        s.RenderFrame(target, snapshot.data(), 10, 0);
    }
    QCOMPARE(s.BarLevels[0], bar);
    QCOMPARE(s.PeakLevels[0], peak);
    // Column 0 stands at x = 10..14: the bar up to its height, the mark above it (or
    // hidden under a bar that reaches it), black above.
    const int x = 12;
    QCOMPARE(target.pixel(x, 168), bar > 0 ? Cyan : peak == 1 ? Red : Black);
    if (bar > 0)
        QCOMPARE(target.pixel(x, 169 - bar), Cyan);
    if (peak > bar)
        QCOMPARE(target.pixel(x, 169 - peak), Red);
    QCOMPARE(target.pixel(x, 168 - std::max(bar, peak)), Black);
    QCOMPARE(target.pixel(15, 168), Black); // the gap before column 1
}

void TestFftBarPainter::plotModes_data()
{
    // A 40 x 20 frame, columns from x = 2. Bin 5 rises to 15 and then reads 10: peak 14,
    // bar 12. Each row gives the colours at the probes: t trace, p peak mark, . clear.
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("marks");
    QTest::addColumn<QString>("expected");
    // Probes:            (2,19) (2,9) (2,8) (2,6) (6,6) (6,8) (7,19) (3,19) (2,5)
    QTest::newRow("lines") << 0 << true << "tt.t.....";
    QTest::newRow("lines, no marks") << 0 << false << "tt.......";
    QTest::newRow("bars") << 1 << true << "tttppt.t.";
    QTest::newRow("bars, no marks") << 1 << false << "ttt..t.t.";
    QTest::newRow("no columns") << 2 << true << ".........";
}

void TestFftBarPainter::plotModes()
{
    QFETCH(int, mode);
    QFETCH(bool, marks);
    QFETCH(QString, expected);
    const QList<QPoint> probes { { 2, 19 }, { 2, 9 }, { 2, 8 }, { 2, 6 }, { 6, 6 }, { 6, 8 },
        { 7, 19 }, { 3, 19 }, { 2, 5 } };
    TSpectrum s(40, 20);
    s.PlotMode = mode;
    s.ShowPeakMarks = marks;
    s.TraceColor = 0xFFFF00; // cyan
    s.PeakMarkColor = 0xFF; // red
    QImage target(40, 20, QImage::Format_RGB32);
    const Snapshot rise = withBin(5, 0.031f), fall = withBin(5, 0.02f);
    s.RenderFrame(target, rise.data(), 2, 0);
    s.RenderFrame(target, fall.data(), 2, 0);
    QCOMPARE(s.PeakLevels[0], 14);
    QCOMPARE(s.BarLevels[0], 12);
    for (int i = 0; i < probes.size(); ++i) {
        const QChar c = expected.at(i);
        const QRgb want = c == 't' ? Cyan : c == 'p' ? Red : Black;
        QVERIFY2(target.pixel(probes[i]) == want,
            qPrintable(QStringLiteral("probe %1,%2: %3")
                           .arg(probes[i].x())
                           .arg(probes[i].y())
                           .arg(target.pixel(probes[i]), 8, 16)));
    }
}

void TestFftBarPainter::clearAndBackdrop_data()
{
    QTest::addColumn<bool>("clear");
    QTest::addColumn<bool>("backdrop");
    QTest::addColumn<QRgb>("oldColumn"); // (2, 7): the first frame's line
    QTest::addColumn<QRgb>("empty"); // (30, 0): untouched by columns
    QTest::newRow("clear") << true << false << Black << Black;
    QTest::newRow("clear and backdrop") << true << true << Blue << Blue;
    QTest::newRow("no clear: columns pile up") << false << false << White << Black;
    QTest::newRow("no clear: no backdrop either") << false << true << White << Black;
}

void TestFftBarPainter::clearAndBackdrop()
{
    QFETCH(bool, clear);
    QFETCH(bool, backdrop);
    QFETCH(QRgb, oldColumn);
    QFETCH(QRgb, empty);
    TSpectrum s(40, 20);
    s.ClearEachFrame = clear;
    s.DrawBackdrop = backdrop;
    s.BackdropBitmap.fill(Blue);
    QImage target(40, 20, QImage::Format_RGB32);
    const Snapshot first = withBin(5, 0.031f), second = withBin(6, 0.031f);
    s.RenderFrame(target, first.data(), 2, 0);
    s.RenderFrame(target, second.data(), 2, 0);
    QCOMPARE(target.pixel(2, 7), oldColumn);
    QCOMPARE(target.pixel(30, 0), empty);
    QCOMPARE(target.pixel(3, 7), White); // the second frame's line
}

void TestFftBarPainter::copyAlwaysFromTheOrigin_data()
{
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QPoint>("top"); // the top pixel of column 0's bar of 15 in the target
    QTest::newRow("x 2, y 0") << QPoint(2, 0) << QPoint(2, 5);
    QTest::newRow("x 7, y 4") << QPoint(7, 4) << QPoint(7, 9);
    QTest::newRow("x -3, y -5 (column 3)") << QPoint(-3, -5) << QPoint(1, 0);
}

void TestFftBarPainter::copyAlwaysFromTheOrigin()
{
    QFETCH(QPoint, offset);
    QFETCH(QPoint, top);
    TSpectrum s(40, 20);
    s.PlotMode = 1;
    s.BarWidth = 3;
    s.ShowPeakMarks = false;
    Snapshot snapshot {};
    std::fill(snapshot.begin(), snapshot.begin() + 10, 0.031f);
    QImage target(50, 30, QImage::Format_RGB32);
    target.fill(Red);
    s.RenderFrame(target, snapshot.data(), offset.x(), offset.y());
    // The whole frame, and nothing else, lands at (0, 0) of the target.
    QCOMPARE(target.copy(0, 0, 40, 20), s.FrameBitmap);
    QCOMPARE(target.pixel(40, 0), Red);
    QCOMPARE(target.pixel(0, 20), Red);
    QCOMPARE(target.pixel(top), White);
    if (top.y() > 0)
        QCOMPARE(target.pixel(top - QPoint(0, 1)), Black);
}

void TestFftBarPainter::strideNeverReadsPastTheSnapshot_data()
{
    // Every entry the painter may read is loud; so is what lies beyond the snapshot. The
    // last column that reads inside the snapshot stands at 100, the next one is left out.
    QTest::addColumn<int>("stride");
    QTest::addColumn<int>("lastColumn");
    QTest::newRow("3: bin 389") << 3 << 128;
    QTest::newRow("4: column 126 reads 509") << 4 << 126;
    QTest::newRow("100: column 5 reads 505") << 100 << 5;
    QTest::newRow("-1: column 5 reads 0") << -1 << 5;
}

void TestFftBarPainter::strideNeverReadsPastTheSnapshot()
{
    QFETCH(int, stride);
    QFETCH(int, lastColumn);
    // The snapshot in the middle of a larger loud buffer, so that a read outside it shows.
    std::vector<float> buffer(3 * TSpectrum::SnapshotLength, 0.2f);
    const float* snapshot = buffer.data() + TSpectrum::SnapshotLength;
    TSpectrum s(800, 120);
    s.PlotMode = 1;
    s.BinStride = stride;
    QImage target(800, 120, QImage::Format_RGB32);
    s.RenderFrame(target, snapshot, 0, 0);
    QCOMPARE(s.BarLevels[std::size_t(lastColumn)], 100);
    if (lastColumn < TSpectrum::Columns - 1) {
        QCOMPARE(s.BarLevels[std::size_t(lastColumn + 1)], 0);
        QCOMPARE(target.pixel((lastColumn + 1) * 6, 119), Black);
    }
}

QTEST_MAIN(TestFftBarPainter)
#include "tst_fftbarpainter.moc"
