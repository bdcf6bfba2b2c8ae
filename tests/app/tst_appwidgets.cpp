// The window's plain lamp and the slider with its selection band, rendered offscreen.
#include "app/LampWidget.h"
#include "app/SelectionSlider.h"

#include <QImage>
#include <QTest>

class TestAppWidgets : public QObject {
    Q_OBJECT

private slots:
    void lampShowsItsColourPair_data();
    void lampShowsItsColourPair();
    void sliderBandFollowsTheSelection_data();
    void sliderBandFollowsTheSelection();
};

namespace {

QImage render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// Near enough for an anti-aliased gradient sampled at its centre or rim.
bool near(QColor a, QColor b, int tolerance = 12)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

void TestAppWidgets::lampShowsItsColourPair_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<QColor>("centre");
    // The transmit lamp's colours: lit green/lime, dark black/lime (centre is Color2).
    QTest::newRow("lit") << true << QColor(0, 255, 0);
    QTest::newRow("dark") << false << QColor(0, 128, 0);
}

void TestAppWidgets::lampShowsItsColourPair()
{
    QFETCH(bool, on);
    QFETCH(QColor, centre);
    LampWidget lamp;
    lamp.resize(49, 49);
    lamp.setColors(QColor(0, 128, 0), QColor(0, 255, 0), QColor(0, 0, 0), QColor(0, 128, 0));
    lamp.setOn(on);
    const QImage image = render(lamp);
    QVERIFY2(near(image.pixelColor(24, 24), centre), qPrintable(image.pixelColor(24, 24).name()));
    // Outside the disc the background stays.
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
    // The rim shades toward Color1 / OffColor1.
    const QColor rim = image.pixelColor(24, 3);
    QVERIFY2(rim.green() < image.pixelColor(24, 24).green(), qPrintable(rim.name()));
}

void TestAppWidgets::sliderBandFollowsTheSelection_data()
{
    QTest::addColumn<int>("selEnd");
    QTest::newRow("empty") << 0;
    QTest::newRow("a third") << 33;
    QTest::newRow("full") << 100;
    QTest::newRow("past the end is clamped") << 250;
}

void TestAppWidgets::sliderBandFollowsTheSelection()
{
    QFETCH(int, selEnd);
    SelectionSlider slider;
    slider.resize(185, 33);
    slider.setRange(0, 100);
    slider.setValue(100); // the handle at the far right, out of the band's way
    slider.setSelEnd(selEnd);
    QCOMPARE(slider.selEnd(), std::min(selEnd, 100));
    const QRect band = slider.selectionRect();
    QCOMPARE(band.isEmpty(), selEnd == 0);
    if (band.isEmpty())
        return;
    const QImage image = render(slider);
    const QColor highlight = slider.palette().color(QPalette::Highlight);
    QCOMPARE(image.pixelColor(band.left() + 1, band.center().y()), highlight);
    // The band's length is proportional to the selection.
    QVERIFY(band.width() > 0);
    if (selEnd == 33) {
        SelectionSlider full;
        full.resize(185, 33);
        full.setRange(0, 100);
        full.setSelEnd(100);
        const double ratio = double(band.width()) / full.selectionRect().width();
        QVERIFY2(ratio > 0.28 && ratio < 0.38, qPrintable(QString::number(ratio)));
    }
}

QTEST_MAIN(TestAppWidgets)
#include "tst_appwidgets.moc"
