// The application icon (window, tray and About box) without Qt's SVG plugin: the test loads
// plugins only from QT_PLUGIN_PATH, which its registration points at an empty folder, so
// neither an image-format nor an icon-engine plugin installed on the machine can draw it.
#include "app/TForm1.h"
#include "widgets/TAboutBox.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLibraryInfo>
#include <QTest>

#include <cstdio>

class TestAppIcon : public QObject {
    Q_OBJECT

private slots:
    void noSvgSupportIsLoaded();
    void iconHasOpaquePictures_data();
    void iconHasOpaquePictures();
    void aboutBoxShowsTheIcon();
};

namespace {

int opaquePixels(const QImage& picture)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            opaque += qAlpha(argb.pixel(x, y)) == 255;
    return opaque;
}

} // namespace

void TestAppIcon::noSvgSupportIsLoaded()
{
    QVERIFY(!QImageReader::supportedImageFormats().contains("svg"));
    QCOMPARE(
        QCoreApplication::libraryPaths(), QStringList { qEnvironmentVariable("QT_PLUGIN_PATH") });
}

void TestAppIcon::iconHasOpaquePictures_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("16 px, the tray") << 16;
    QTest::newRow("48 px, the About box") << 48;
}

void TestAppIcon::iconHasOpaquePictures()
{
    QFETCH(int, size);
    const QIcon icon = TForm1::ApplicationIcon();
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
    const QImage picture = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(picture.size(), QSize(size, size));
    // The icon is a rounded square over nearly all of its area (at 16 px its edge pixels are
    // partly clear: 192 of the 256 are opaque).
    const int opaque = opaquePixels(picture);
    QVERIFY2(opaque >= size * size / 2, qPrintable(QString::number(opaque)));
    QCOMPARE(picture.pixelColor(size / 2, size / 2).alpha(), 255);
}

void TestAppIcon::aboutBoxShowsTheIcon()
{
    TAboutBox box;
    box.setPicture(TForm1::ApplicationIcon());
    const QImage picture = box.Image1()->pixmap().toImage();
    QCOMPARE(picture.size(), QSize(48, 48));
    QVERIFY(opaquePixels(picture) >= 48 * 48 / 2);
}

int main(int argc, char* argv[])
{
    const QString plugins = qEnvironmentVariable("QT_PLUGIN_PATH");
    if (plugins.isEmpty() || !QDir(plugins).isEmpty()) {
        std::fprintf(stderr, "tst_appicon: QT_PLUGIN_PATH must name an empty folder\n");
        return 1;
    }
    // No plugin folder but the empty one; the platform plugin alone comes from Qt's own.
    QCoreApplication::setLibraryPaths({ plugins });
    qputenv("QT_QPA_PLATFORM_PLUGIN_PATH",
        QFile::encodeName(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms"));
    QApplication app(argc, argv);
    // The application adds its own folder when it starts; the image and icon plugins, loaded
    // only when first needed, are looked for in the empty folder alone.
    QCoreApplication::setLibraryPaths({ plugins });
    TestAppIcon test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appicon.moc"
