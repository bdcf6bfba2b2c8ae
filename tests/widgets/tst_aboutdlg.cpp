#include <widgets/TAboutBox.h>
#include <widgets/TAboutDlg.h>

#include "ModalDriver.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

class TestAboutDlg : public QObject {
    Q_OBJECT

private slots:
    void showsTextsAndIcon();
    void closesEveryWay_data();
    void closesEveryWay();
    void emptyIconLeavesPictureEmpty();
    void iconIsCopied();

private:
    static void fill(TAboutDlg& about);
};

namespace {
// A 48 x 48 icon: red with a blue upper-left quarter, so position can be checked too.
QIcon testIcon()
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::red);
    QPainter painter(&pixmap);
    painter.fillRect(0, 0, 24, 24, Qt::blue);
    painter.end();
    return QIcon(pixmap);
}

QRgb pixelOf(const QImage& image, QWidget* box, QWidget* child, QPoint at)
{
    return image.pixel(child->mapTo(box, at));
}
}

void TestAboutDlg::fill(TAboutDlg& about)
{
    about.setTitle("Soundcard based Control VOX System");
    about.setProductName("VOKEY 2.0.03.01.02");
    about.setCopyRight("Copyright (C) 2026 the VOKEY developers");
    about.setProgrammer("Free software under the GNU General Public License, version 3 or later");
    about.setWebSite("https://vokey.example.org");
    about.setIcon(testIcon());
}

void TestAboutDlg::showsTextsAndIcon()
{
    TAboutDlg about;
    fill(about);
    bool checked = false;
    vokeytest::ModalAction driver([&](QWidget* modal) {
        auto* box = qobject_cast<TAboutBox*>(modal);
        QVERIFY(box);
        QCOMPARE(about.Box(), box);
        QCOMPARE(box->windowTitle(), QString("Soundcard based Control VOX System"));
        QCOMPARE(box->ProductName()->text(), QString("VOKEY 2.0.03.01.02"));
        QCOMPARE(box->Copyright()->text(), QString("Copyright (C) 2026 the VOKEY developers"));
        QCOMPARE(box->Programmer()->text(),
            QString("Free software under the GNU General Public License, version 3 or later"));
        QCOMPARE(box->Website()->text(), QString("https://vokey.example.org"));
        QCOMPARE(box->OKButton()->text(), QString("OK"));
        QVERIFY(box->OKButton()->isDefault());
        QVERIFY2(box->width() >= 296 && box->height() >= 182,
            qPrintable(QString("%1x%2").arg(box->width()).arg(box->height())));

        const QImage image = box->grab().toImage();
        QLabel* picture = box->Image1();
        QCOMPARE(picture->size(), QSize(48, 48));
        QCOMPARE(pixelOf(image, box, picture, { 10, 10 }), QColor(Qt::blue).rgb());
        QCOMPARE(pixelOf(image, box, picture, { 36, 12 }), QColor(Qt::red).rgb());
        QCOMPARE(pixelOf(image, box, picture, { 24, 40 }), QColor(Qt::red).rgb());
        // The texts sit beside the picture, not over it, and inside the box.
        for (QLabel* label :
            { box->ProductName(), box->Copyright(), box->Programmer(), box->Website() }) {
            const QRect area(label->mapTo(box, QPoint()), label->size());
            QVERIFY(!area.intersects(QRect(picture->mapTo(box, QPoint()), picture->size())));
            QVERIFY(box->rect().contains(area));
        }
        checked = true;
        box->OKButton()->click();
    });
    about.Execute();
    QVERIFY(driver.ran());
    QVERIFY(checked);
    QVERIFY(!about.Box());
}

void TestAboutDlg::closesEveryWay_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Return") << "return";
    QTest::newRow("OK button") << "ok";
    QTest::newRow("close button") << "close";
    QTest::newRow("Escape") << "escape";
}

void TestAboutDlg::closesEveryWay()
{
    QFETCH(QString, how);
    TAboutDlg about;
    fill(about);
    // Twice in a row: the same texts each time, and no box left behind after either.
    for (int round = 0; round < 2; ++round) {
        QString shownProduct;
        bool closedByUs = false;
        vokeytest::ModalAction driver([&](QWidget* modal) {
            auto* box = qobject_cast<TAboutBox*>(modal);
            QVERIFY(box);
            shownProduct = box->ProductName()->text();
            if (how == "enter")
                QTest::keyClick(box, Qt::Key_Enter);
            else if (how == "return")
                QTest::keyClick(box, Qt::Key_Return);
            else if (how == "ok")
                QTest::mouseClick(box->OKButton(), Qt::LeftButton);
            else if (how == "escape")
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->close();
            closedByUs = !box->isVisible();
        });
        about.Execute();
        QVERIFY(driver.ran());
        QVERIFY(closedByUs);
        QCOMPARE(shownProduct, QString("VOKEY 2.0.03.01.02"));
        QVERIFY(!about.Box());
        QCOMPARE(vokeytest::widgetsAlive<TAboutBox>(), 0);
    }
}

void TestAboutDlg::emptyIconLeavesPictureEmpty()
{
    TAboutDlg about;
    fill(about);
    about.setIcon(QIcon());
    vokeytest::ModalAction driver([&](QWidget* modal) {
        auto* box = qobject_cast<TAboutBox*>(modal);
        QVERIFY(box);
        QVERIFY(box->Image1()->pixmap().isNull());
        const QImage image = box->grab().toImage();
        const QRgb background = pixelOf(image, box, box->Image1(), { 0, 0 });
        for (int y = 0; y < 48; y += 4)
            for (int x = 0; x < 48; x += 4)
                QCOMPARE(pixelOf(image, box, box->Image1(), { x, y }), background);
    });
    about.Execute();
    QVERIFY(driver.ran());
}

void TestAboutDlg::iconIsCopied()
{
    TAboutDlg about;
    QIcon mine = testIcon();
    about.setIcon(mine);
    mine = QIcon();
    QVERIFY(!about.Icon().isNull());
    QCOMPARE(about.Icon().pixmap(48, 48).toImage().pixel(40, 40), QColor(Qt::red).rgb());
}

QTEST_MAIN(TestAboutDlg)
#include "tst_aboutdlg.moc"
