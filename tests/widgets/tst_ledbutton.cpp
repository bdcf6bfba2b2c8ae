// The LED button: the LED picture and caption in place, its looks after every event of the
// pointer, the mouse buttons, the keyboard and the owner, clicks only from the left button
// or the keyboard, and the beep by modal result.
#include "widgets/TLedButton.h"

#include <QEnterEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

class TestLedButton : public QObject {
    Q_OBJECT

private slots:
    void pictures_data();
    void pictures();
    void pictureAndCaptionInPlace_data();
    void pictureAndCaptionInPlace();
    void looks_data();
    void looks();
    void focusFrame();
    void beepByModalResult_data();
    void beepByModalResult();
};

namespace {

constexpr QRgb Yellow = 0xFFFFFF00;

QImage render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// The picture as the button shows it: yellow replaced by the button's face.
QImage shown(QImage picture, QRgb face)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) == Yellow)
                picture.setPixel(x, y, face);
    return picture;
}

} // namespace

void TestLedButton::pictures_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QSize>("size");
    QTest::newRow("TriLEDDown") << int(TLedButton::TriLEDDown) << QSize(20, 11);
    QTest::newRow("TriLEDUp") << int(TLedButton::TriLEDUp) << QSize(20, 11);
    QTest::newRow("RoundLED") << int(TLedButton::RoundLED) << QSize(20, 16);
    QTest::newRow("RedLed") << int(TLedButton::RedLed) << QSize(16, 16);
}

void TestLedButton::pictures()
{
    // Three looks told apart, each of the set's size, yellow behind, 16-colour palette.
    QFETCH(int, type);
    QFETCH(QSize, size);
    const QList<QRgb> palette { 0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080,
        0xFF800080, 0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
        0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF };
    QList<QImage> looks;
    for (auto look : { TLedButton::Look::Dark, TLedButton::Look::Lit, TLedButton::Look::Active })
        looks << TLedButton::ledPicture(TLedButton::LEDType(type), look);
    for (const QImage& picture : looks) {
        QCOMPARE(picture.size(), size);
        QVERIFY(picture.pixel(0, 0) == Yellow || picture.pixel(0, size.height() - 1) == Yellow);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                QVERIFY(palette.contains(picture.pixel(x, y)));
    }
    QVERIFY(looks[0] != looks[1] && looks[1] != looks[2] && looks[0] != looks[2]);
}

void TestLedButton::pictureAndCaptionInPlace_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QPoint>("picture");
    QTest::addColumn<bool>("caption3D");
    QTest::newRow("RoundLED: (7, 16)") << int(TLedButton::RoundLED) << QPoint(7, 16) << false;
    QTest::newRow("TriLEDDown: (7, 19)") << int(TLedButton::TriLEDDown) << QPoint(7, 19) << false;
    QTest::newRow("RedLed: (7, 16)") << int(TLedButton::RedLed) << QPoint(7, 16) << false;
    QTest::newRow("RoundLED, embossed") << int(TLedButton::RoundLED) << QPoint(7, 16) << true;
}

void TestLedButton::pictureAndCaptionInPlace()
{
    QFETCH(int, type);
    QFETCH(QPoint, picture);
    QFETCH(bool, caption3D);
    TLedButton button;
    button.setCaption3D(caption3D);
    button.resize(89, 49);
    button.setLedType(TLedButton::LEDType(type));
    button.setText(QStringLiteral("[A]"));
    QFont font = button.font();
    font.setPointSize(14);
    button.setFont(font);
    const QImage image = render(button);
    const QRgb face = button.palette().color(QPalette::Button).rgb();
    const QImage expected
        = shown(TLedButton::ledPicture(TLedButton::LEDType(type), TLedButton::Look::Dark), face);
    QCOMPARE(image.copy(QRect(picture, expected.size())), expected);

    // The caption starts right of the picture: in the rows the picture leaves free, its
    // first ink is the glyph's own bearing past x = 7 + width (anti-aliasing may shade one
    // column before it).
    const QFontMetrics metrics(button.font());
    const int x0 = 7 + expected.width();
    const int y0 = (49 - metrics.height()) / 2;
    int ink = -1;
    for (int x = 7; x < 89 && ink < 0; ++x)
        for (int y = y0; y < y0 + metrics.height() && ink < 0; ++y)
            if ((y < picture.y() || y >= picture.y() + expected.height())
                && qGray(image.pixel(x, y)) < qGray(face) - 60)
                ink = x;
    const int bearing = std::max(0, metrics.leftBearing(QLatin1Char('[')));
    QVERIFY2(std::abs(ink - (x0 + bearing)) <= 1, qPrintable(QString::number(ink)));

    // Embossed, a copy in the shadow colour shows one pixel right of and below the caption.
    const QRgb shadow = button.palette().color(QPalette::Dark).rgb();
    bool shadowShows = false;
    for (int y = y0; y < y0 + metrics.height(); ++y)
        for (int x = x0; x < x0 + metrics.horizontalAdvance(button.text()) + 2; ++x)
            shadowShows = shadowShows || image.pixel(x, y) == shadow;
    QCOMPARE(shadowShows, caption3D);
}

void TestLedButton::looks_data()
{
    // Events in order: E enter, L leave, M move inside, pL/pM/pR press and rL/rM/rR release
    // of the left, middle and right mouse button, dL/dR a left/right double click, K space bar,
    // A1/A0 the owner setting IsActive, D disable. Then the look, IsActive and the clicks.
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("look");
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("clicks");
    const int dark = int(TLedButton::Look::Dark), lit = int(TLedButton::Look::Lit),
              active = int(TLedButton::Look::Active);
    QTest::newRow("pointer elsewhere") << "" << dark << false << 0;
    QTest::newRow("enter") << "E" << lit << false << 0;
    QTest::newRow("enter, leave") << "E L" << dark << false << 0;
    QTest::newRow("move over") << "M" << lit << false << 0;
    QTest::newRow("left press") << "E pL" << active << true << 0;
    QTest::newRow("left click") << "E pL rL" << active << true << 1;
    QTest::newRow("left click on active") << "A1 E pL rL" << lit << false << 1;
    QTest::newRow("press on active") << "A1 E pL" << active << false << 0;
    QTest::newRow("left double click: two presses") << "E dL" << lit << false << 2;
    // The second press of a right double click is no press of its own.
    QTest::newRow("right double click: one press") << "E dR" << active << true << 0;
    QTest::newRow("right click") << "E pR rR" << active << true << 0;
    QTest::newRow("middle click") << "E pM rM" << active << true << 0;
    QTest::newRow("right twice") << "E pR rR pR rR" << lit << false << 0;
    QTest::newRow("set active") << "A1" << active << true << 0;
    QTest::newRow("set inactive, never touched") << "A0" << lit << false << 0;
    QTest::newRow("active: leave") << "A1 L" << active << true << 0;
    QTest::newRow("active: enter, leave") << "A1 E L" << active << true << 0;
    QTest::newRow("active, then inactive, leave") << "A1 A0 L" << dark << false << 0;
    QTest::newRow("keyboard") << "K" << dark << false << 1;
    QTest::newRow("keyboard on active") << "A1 K" << active << true << 1;
    QTest::newRow("disabled ignores IsActive") << "D A1" << dark << false << 0;
}

void TestLedButton::looks()
{
    QFETCH(QString, events);
    QFETCH(int, look);
    QFETCH(bool, active);
    QFETCH(int, clicks);
    TLedButton button;
    button.resize(89, 49);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    // The pointer starts elsewhere.
    QEvent away(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &away);
    const QPoint inside(44, 24);
    const auto press = [&](QChar which) {
        return which == 'L' ? Qt::LeftButton : which == 'M' ? Qt::MiddleButton : Qt::RightButton;
    };
    for (const QString& event : events.split(' ', Qt::SkipEmptyParts)) {
        if (event == "E") {
            QEnterEvent enter(inside, inside, button.mapToGlobal(inside));
            QCoreApplication::sendEvent(&button, &enter);
        } else if (event == "L") {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(&button, &leave);
        } else if (event == "M") {
            QMouseEvent move(QEvent::MouseMove, inside, button.mapToGlobal(inside), Qt::NoButton,
                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&button, &move);
        } else if (event.startsWith('p')) {
            QTest::mousePress(&button, press(event.at(1)), {}, inside);
        } else if (event.startsWith('r')) {
            QTest::mouseRelease(&button, press(event.at(1)), {}, inside);
        } else if (event.startsWith('d')) {
            // Through the window system, which makes the second press a double click.
            QTest::mouseDClick(button.windowHandle(), press(event.at(1)), {}, inside);
        } else if (event == "K") {
            QTest::keyClick(&button, Qt::Key_Space);
        } else if (event.startsWith('A')) {
            button.setIsActive(event == "A1");
        } else if (event == "D") {
            button.setEnabled(false);
        }
    }
    QCOMPARE(int(button.look()), look);
    QCOMPARE(button.isActive(), active);
    QCOMPARE(clicked.count(), clicks);
    // The picture shown is the look's.
    const QRgb face = button.palette().color(QPalette::Button).rgb();
    const QImage expected
        = shown(TLedButton::ledPicture(TLedButton::RoundLED, TLedButton::Look(look)), face);
    QCOMPARE(render(button).copy(QRect(QPoint(7, 16), expected.size())), expected);
}

void TestLedButton::focusFrame()
{
    // The focused button is framed in the window-frame colour; an unfocused one is not.
    QWidget window;
    window.resize(200, 60);
    auto* a = new TLedButton(&window);
    auto* b = new TLedButton(&window);
    a->setGeometry(0, 0, 89, 49);
    b->setGeometry(100, 0, 89, 49);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    a->setFocus();
    QTRY_VERIFY(a->hasFocus());
    const QRgb frame = a->palette().color(QPalette::WindowText).rgb();
    QCOMPARE(render(*a).pixel(0, 24), frame);
    QVERIFY(render(*b).pixel(0, 24) != frame);
}

void TestLedButton::beepByModalResult_data()
{
    QTest::addColumn<int>("modalResult");
    QTest::addColumn<QString>("soundFile");
    QTest::addColumn<int>("beep"); // -1: none
    QTest::newRow("none") << 0 << "" << -1;
    QTest::newRow("OK") << 1 << "" << 0;
    QTest::newRow("Cancel") << 2 << "" << 0x30;
    QTest::newRow("Abort") << 3 << "" << 0x30;
    QTest::newRow("Retry") << 4 << "" << 0x20;
    QTest::newRow("Ignore") << 5 << "" << 0x20;
    QTest::newRow("Yes") << 6 << "" << 0;
    QTest::newRow("No") << 7 << "" << 0x10;
    QTest::newRow("All") << 8 << "" << 0;
    QTest::newRow("No to all") << 9 << "" << 0x10;
    QTest::newRow("Yes to all") << 10 << "" << 0;
    QTest::newRow("above 10") << 11 << "" << -1;
    // A sound file takes the beep's place, even one that cannot be played.
    QTest::newRow("OK with a sound file") << 1 << "/nonexistent/click.wav" << -1;
}

void TestLedButton::beepByModalResult()
{
    QFETCH(int, modalResult);
    QFETCH(QString, soundFile);
    QFETCH(int, beep);
    TLedButton button;
    button.setModalResult(modalResult);
    button.setSoundFile(soundFile);
    QSignalSpy beeps(&button, &TLedButton::beeped);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(beeps.count(), beep < 0 ? 0 : 1);
    if (beep >= 0)
        QCOMPARE(int(beeps.at(0).at(0).value<TLedButton::Beep>()), beep);
}

QTEST_MAIN(TestLedButton)
#include "tst_ledbutton.moc"
