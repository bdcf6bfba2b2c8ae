// The slider with its selection band, rendered offscreen.
#include "widgets/SelectionSlider.h"

#include <QImage>
#include <QTest>

class TestSelectionSlider : public QObject {
    Q_OBJECT

private slots:
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

} // namespace

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

QTEST_MAIN(TestSelectionSlider)
#include "tst_selectionslider.moc"
