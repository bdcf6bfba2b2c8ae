// The LED lamp: its defaults, repainting only on a change, the ring colours of the gradient
// and alternating styles pixel by pixel, the fill left alone under DiagShining, clicks.
#include "widgets/TLed.h"

#include <QImage>
#include <QTest>
#include <QWindow>

class TestLed : public QObject {
    Q_OBJECT

private slots:
    void defaults();
    void setterRepaintsOnlyOnAChange_data();
    void setterRepaintsOnlyOnAChange();
    void ringColours_data();
    void ringColours();
    void diagShiningLeavesTheFillAlone_data();
    void diagShiningLeavesTheFillAlone();
    void clicks_data();
    void clicks();
};

namespace {

// The parent's colour around the lamp.
constexpr QRgb Parent = 0xFFFF00FF;

QImage render(TLed& led)
{
    QImage image(led.size(), QImage::Format_RGB32);
    image.fill(Parent);
    led.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

} // namespace

void TestLed::defaults()
{
    const TLed led;
    QCOMPARE(led.size(), QSize(10, 33));
    QCOMPARE(led.ledStyle(), TLed::lsGradient2);
    QCOMPARE(led.color1(), TColor(0));
    QCOMPARE(led.color2(), TColor(0xFFFF));
    QCOMPARE(led.offColor1(), TColor(0));
    QCOMPARE(led.offColor2(), TColor(0xFFFFFF));
    QCOMPARE(led.radius(), quint8(1));
    QVERIFY(!led.isOn() && !led.diagShining() && !led.clickAction() && !led.dblClickAction());
}

void TestLed::setterRepaintsOnlyOnAChange_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("paints"); // paintings caused by setting the value the first time
    QTest::newRow("On") << QByteArray("On") << QVariant(true) << 1;
    QTest::newRow("Style") << QByteArray("Style") << QVariant::fromValue(TLed::lsAlternative) << 1;
    QTest::newRow("Color1") << QByteArray("Color1") << QVariant(quint32(0x8000)) << 1;
    QTest::newRow("Color2") << QByteArray("Color2") << QVariant(quint32(0xFF00)) << 1;
    QTest::newRow("OffColor1") << QByteArray("OffColor1") << QVariant(quint32(0x80)) << 1;
    QTest::newRow("OffColor2") << QByteArray("OffColor2") << QVariant(quint32(0xFF)) << 1;
    QTest::newRow("Radius") << QByteArray("Radius") << QVariant::fromValue(quint8(4)) << 1;
    QTest::newRow("DiagShining") << QByteArray("DiagShining") << QVariant(true) << 1;
    QTest::newRow("ClickAction") << QByteArray("ClickAction") << QVariant(true) << 0;
    QTest::newRow("DblClickAction") << QByteArray("DblClickAction") << QVariant(true) << 0;
}

void TestLed::setterRepaintsOnlyOnAChange()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(int, paints);
    TLed led;
    led.resize(17, 17);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    QTRY_VERIFY(led.paintCount() > 0);
    const int before = led.paintCount();
    QVERIFY(led.setProperty(property, value));
    // At once, not later from the event loop.
    QCOMPARE(led.paintCount(), before + paints);
    QCOMPARE(led.property(property), value);
    QVERIFY(led.setProperty(property, value));
    QCOMPARE(led.paintCount(), before + paints);
}

void TestLed::ringColours_data()
{
    // Green channel of the pixels of row y from x = 0 (red and blue are 0); -1 is the
    // parent's pixel. Colour pairs 0x00BBGGRR.
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("style");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<int>("y");
    QTest::addColumn<QList<int>>("greens");
    // Nine rings, green 128 + 15 k; the ninth, (8, 8, 8, 8), is empty.
    QTest::newRow("17, green to lime, centre row")
        << QSize(17, 17) << 1 << 0x8000u << 0xFF00u << 8
        << QList<int> { 128, 143, 158, 173, 188, 203, 218, 233, 233, 218, 203, 188, 173, 158, 143,
               128, -1 };
    // Column 16 and row 16 lie outside every ring; only the first ring's line reaches (16, 16).
    QTest::newRow("17, bottom row")
        << QSize(17, 17) << 1 << 0x8000u << 0xFF00u << 16 << (QList<int>(16, -1) << 128);
    QTest::newRow("17, top row") << QSize(17, 17) << 1 << 0x8000u << 0xFF00u << 0
                                 << (QList<int>(16, 128) << -1);
    // Falling channel: 128 down in steps of 16.
    QTest::newRow("17, green to black")
        << QSize(17, 17) << 1 << 0x8000u << 0u << 8
        << QList<int> { 128, 112, 96, 80, 64, 48, 32, 16, 16, 32, 48, 64, 80, 96, 112, 128, -1 };
    // 25 rings in steps of 5: 128 + 5 k for k = 0..23 (ring 24 is empty).
    QList<int> row49;
    for (int x = 0; x < 49; ++x)
        row49 << (x == 48 ? -1 : 128 + 5 * std::min(x, 47 - x));
    QTest::newRow("49, green to lime") << QSize(49, 49) << 1 << 0x8000u << 0xFF00u << 24 << row49;
    QTest::newRow("18: the ninth ring shows")
        << QSize(18, 18) << 1 << 0x8000u << 0xFF00u << 8
        << QList<int> { 128, 143, 158, 173, 188, 203, 218, 233, 248, 233, 218, 203, 188, 173, 158,
               143, 128, -1 };
    QTest::newRow("flat") << QSize(17, 17) << 1 << 0x8000u << 0x8000u << 8
                          << (QList<int>(16, 128) << -1);
    // lsGradient1 takes the larger side: 17 x 9 has nine rings, the fifth and later empty.
    QTest::newRow("gradient1, wide") << QSize(17, 9) << 0 << 0x8000u << 0xFF00u << 3
                                     << QList<int> { 128, 143, 158, 173, 173, 173, 173, 173, 173,
                                            173, 173, 173, 173, 158, 143, 128, -1 };
    // Side 2: one ring, no division; the first ring's line runs through (1, 1).
    QTest::newRow("2 x 2, top") << QSize(2, 2) << 1 << 0x8000u << 0xFF00u << 0
                                << QList<int> { 128, -1 };
    QTest::newRow("2 x 2, bottom")
        << QSize(2, 2) << 1 << 0x8000u << 0xFF00u << 1 << QList<int> { -1, 128 };
    // Alternating A, B from the edge inwards; five passes on 19 pixels, the fifth (8, 8, 10, 10).
    QTest::newRow("alternating 19") << QSize(19, 19) << 2 << 0x8000u << 0xFF00u << 9
                                    << QList<int> { 128, 255, 128, 255, 128, 255, 128, 255, 128,
                                           128, 255, 128, 255, 128, 255, 128, 255, 128, -1 };
}

void TestLed::ringColours()
{
    QFETCH(QSize, size);
    QFETCH(int, style);
    QFETCH(quint32, start);
    QFETCH(quint32, end);
    QFETCH(int, y);
    QFETCH(QList<int>, greens);
    TLed led;
    led.resize(size);
    led.setLedStyle(TLed::LedStyle(style));
    led.setColors(start, end, 0, 0);
    led.setOn(true);
    const QImage image = render(led);
    QCOMPARE(greens.size(), size.width());
    for (int x = 0; x < size.width(); ++x) {
        const QRgb want = greens[x] < 0 ? Parent : qRgb(0, greens[x] & 0xFF, 0);
        QVERIFY2(image.pixel(x, y) == want,
            qPrintable(QStringLiteral("x %1: %2").arg(x).arg(image.pixel(x, y), 8, 16)));
    }
}

void TestLed::diagShiningLeavesTheFillAlone_data()
{
    // With corners of 20 pixels the rounded rings leave each ring's inside showing near the
    // corners: in the ring's own colour, or, under DiagShining, in the canvas's fill colour,
    // white on a new lamp. With square corners every inside is covered by the next ring,
    // on 19 pixels by the fifth alternating pass.
    QTest::addColumn<bool>("diagShining");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("radius");
    QTest::addColumn<bool>("white");
    QTest::newRow("gradient") << false << 1 << 20 << false;
    QTest::newRow("gradient, DiagShining") << true << 1 << 20 << true;
    QTest::newRow("alternating") << false << 2 << 20 << false;
    QTest::newRow("alternating, DiagShining") << true << 2 << 20 << true;
    QTest::newRow("square corners, DiagShining") << true << 2 << 1 << false;
}

void TestLed::diagShiningLeavesTheFillAlone()
{
    QFETCH(bool, diagShining);
    QFETCH(int, style);
    QFETCH(int, radius);
    QFETCH(bool, white);
    TLed led;
    led.resize(radius > 1 ? QSize(49, 49) : QSize(19, 19));
    led.setDiagShining(diagShining);
    led.setLedStyle(TLed::LedStyle(style));
    led.setRadius(quint8(radius));
    led.setColors(0x8000, 0xFF00, 0, 0);
    led.setOn(true);
    const QImage image = render(led);
    int whites = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            whites += image.pixel(x, y) == 0xFFFFFFFF;
    QCOMPARE(whites > 0, white);
}

void TestLed::clicks_data()
{
    QTest::addColumn<bool>("clickAction");
    QTest::addColumn<bool>("dblClickAction");
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<bool>("on");
    QTest::newRow("click, no action") << false << false << false << false;
    QTest::newRow("click toggles") << true << false << false << true;
    QTest::newRow("double click: click toggles once") << true << false << true << true;
    QTest::newRow("double click toggles") << false << true << true << true;
    QTest::newRow("double click, both: twice") << true << true << true << false;
}

void TestLed::clicks()
{
    QFETCH(bool, clickAction);
    QFETCH(bool, dblClickAction);
    QFETCH(bool, doubleClick);
    QFETCH(bool, on);
    TLed led;
    led.resize(17, 17);
    led.setClickAction(clickAction);
    led.setDblClickAction(dblClickAction);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    // Through the window system, which makes the second press of a pair a double click.
    QWindow* window = led.windowHandle();
    if (doubleClick)
        QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(8, 8));
    else
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(led.isOn(), on);
}

QTEST_MAIN(TestLed)
#include "tst_led.moc"
