// The level history window: pixels for a known sequence of ticks, fed as the render tick
// feeds it, and nothing kept while it is closed.
#include "widgets/TLevelHistoryForm.h"

#include <QImage>
#include <QTest>

namespace {

struct Pixel {
    int x;
    int y;
    QRgb rgb;
};

constexpr QRgb white = 0xffffffff;
constexpr QRgb green = 0xff008000; // VOX level
constexpr QRgb red = 0xffe00000; // Gain
constexpr QRgb orange = 0xffff9900; // transmit

struct Tick {
    int count;
    int level;
    bool transmitting;
};

} // namespace

class TestLevelHistory : public QObject {
    Q_OBJECT

private slots:
    void pixels_data();
    void pixels();
    void keepsNothingWhileClosed();
};

void TestLevelHistory::pixels_data()
{
    QTest::addColumn<QList<Tick>>("ticks");
    QTest::addColumn<int>("gain");
    QTest::addColumn<QList<Pixel>>("pixels");

    // 926 x 200: the 910 ticks of 30 s one per column in x 8 .. 917, newest at 917; levels
    // 0 .. 100 on rows 175 .. 8 (row 175 - level * 167 / 100), transmit on rows 180 .. 191.
    // 35 ticks: they fill columns 883 .. 917.
    QTest::newRow("quiet, a word keyed, its tail")
        << QList<Tick> { { 10, 0, false }, { 20, 60, true }, { 5, 12, true } } << 30
        << QList<Pixel> {
               { 500, 125, red }, // the Gain line, row 175 - 30 * 167 / 100, whole width
               { 500, 175, white }, // older than 35 ticks: nothing
               { 890, 175, white }, // level 0
               { 893, 75, green }, // level 60 from the 11th tick on, up to row 75
               { 893, 74, white },
               { 892, 75, white },
               { 912, 125, red }, // the line over the level
               { 913, 155, green }, // level 12: rows 155 .. 175
               { 913, 154, white },
               { 892, 185, white },
               { 893, 185, orange },
               { 917, 185, orange },
           };
    // More than 30 s: the oldest ticks leave the ring.
    QTest::newRow("ring full") << QList<Tick> { { 1000, 100, false }, { 900, 0, false } } << 100
                               << QList<Pixel> {
                                      { 8, 8, red },
                                      { 8, 9,
                                          green }, // the last 10 of the loud ticks, columns 8 .. 17
                                      { 17, 175, green },
                                      { 18, 175, white },
                                      { 17, 185, white },
                                  };
}

void TestLevelHistory::pixels()
{
    QFETCH(QList<Tick>, ticks);
    QFETCH(int, gain);
    QFETCH(QList<Pixel>, pixels);

    TLevelHistoryForm form;
    form.resize(926, 200);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (const Tick& t : ticks) {
        for (int i = 0; i < t.count; ++i)
            form.addTick(t.level, gain, t.transmitting);
    }
    QImage image(form.size(), QImage::Format_RGB32);
    form.render(&image);
    for (const Pixel& p : pixels) {
        QVERIFY2(image.pixel(p.x, p.y) == p.rgb,
            qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                           .arg(p.x)
                           .arg(p.y)
                           .arg(image.pixel(p.x, p.y), 8, 16)
                           .arg(p.rgb, 8, 16)));
    }
}

void TestLevelHistory::keepsNothingWhileClosed()
{
    TLevelHistoryForm form;
    form.addTick(50, 10, true);
    QCOMPARE(form.tickCount(), 0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.addTick(50, 10, true);
    form.addTick(50, 10, true);
    QCOMPARE(form.tickCount(), 2);
    form.hide();
    form.addTick(50, 10, true);
    form.show();
    // Opened again: a fresh history, not two stretches of time joined.
    QCOMPARE(form.tickCount(), 0);
}

QTEST_MAIN(TestLevelHistory)
#include "tst_levelhistory.moc"
