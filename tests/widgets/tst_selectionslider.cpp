// The slider with its selection band, rendered offscreen.
#include "widgets/SelectionSlider.h"

#include <QApplication>
#include <QImage>
#include <QStyleFactory>
#include <QTest>

class TestSelectionSlider : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void gainMeterRows_data();
    void gainMeterRows();
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

// The row of pixels through the middle of the groove, one character every 6 pixels from x = 2:
// 'b' the band's colour, '.' the empty groove (the palette's base), '|' anything else (the
// groove's frame, the handle, the background).
QString grooveRow(const SelectionSlider& slider, const QImage& image)
{
    const int y = slider.grooveRect().center().y();
    const QColor empty = slider.palette().color(QPalette::Base);
    QString row;
    for (int x = 2; x < image.width(); x += 6) {
        const QColor pixel = image.pixelColor(x, y);
        row += pixel == slider.bandColor() ? u'b' : pixel == empty ? u'.' : u'|';
    }
    return row;
}

} // namespace

void TestSelectionSlider::initTestCase()
{
    // The style whose groove fill hid the band; rows below are measured in it.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

void TestSelectionSlider::gainMeterRows_data()
{
    // The Gain slider as the window has it (185 x 33, 0..100), Gain 40. The groove's inside
    // runs from x = 1 to 183; the band from there to where the handle's centre would stand at
    // the level: x = 1 + 13 / 2 + level * (183 - 13) / 100 with the 13-pixel handle, so up to
    // x = 41 (7 columns) at level 20 and x = 126 (21 columns) at 70. The handle, at Gain 40,
    // hides columns 11 to 13.
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("row");
    QTest::newRow("silence: no band") << 0 << "...........|||.................";
    QTest::newRow("level 20, below Gain") << 20 << "bbbbbbb....|||.................";
    QTest::newRow("level 70, above Gain") << 70 << "bbbbbbbbbbb|||bbbbbbb..........";
    QTest::newRow("level 100: the whole groove") << 100 << "bbbbbbbbbbb|||bbbbbbbbbbbbbbbbb";
}

void TestSelectionSlider::gainMeterRows()
{
    QFETCH(int, level);
    QFETCH(QString, row);
    SelectionSlider slider;
    slider.resize(185, 33);
    slider.setRange(0, 100);
    slider.setValue(40);
    slider.setSelEnd(level);
    const QImage image = render(slider);
    QCOMPARE(grooveRow(slider, image), row);
    // A colour of its own: a green, far from the style's blue highlight.
    const QColor band = slider.bandColor();
    const QColor highlight = slider.palette().color(QPalette::Highlight);
    QVERIFY(std::abs(band.hue() - highlight.hue()) > 60);
}

void TestSelectionSlider::sliderBandFollowsTheSelection_data()
{
    QTest::addColumn<int>("selEnd");
    QTest::newRow("empty") << 0;
    QTest::newRow("a third") << 33;
    QTest::newRow("full") << 100;
    QTest::newRow("past the end is clamped") << 250;
}

void TestSelectionSlider::sliderBandFollowsTheSelection()
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
    QCOMPARE(image.pixelColor(band.left() + 1, band.center().y()), slider.bandColor());
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

QTEST_MAIN(TestSelectionSlider)
#include "tst_selectionslider.moc"
