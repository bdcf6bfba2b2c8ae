// The real program on an X server (Xvfb, no window manager): what the window system receives
// as the window's title and icon, and where the window opens on screens of several sizes.
#include "window/WindowTestSupport.h"

#include "common/WaitUntil.h"
#include <QDir>

#include <QFileInfo>
#include <QLibraryInfo>
#include <QMap>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");

struct NativeWindow {
    QString id;
    QString title;
    QRect geometry;
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void titleAndPlacement_data();
    void titleAndPlacement();
    void iconWithoutSvgPlugin();

private:
    bool startServer(const QString& screen);
    bool startVokey(const QProcessEnvironment& extra = {});
    // The top-level windows whose title contains "VOKEY", as the X server has them.
    QList<NativeWindow> vokeyWindows() const;

    QTemporaryDir m_runtime;
    QTemporaryDir m_work; // the program's working folder
    QString m_silence;
    QString m_display;
    QProcess m_server;
    QProcess m_vokey;
};

void TestDesktop::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()
        || QStandardPaths::findExecutable("xwininfo").isEmpty())
        QSKIP("Xvfb and xwininfo are needed (scripts/install-deps)");
    QVERIFY(m_runtime.isValid());
    m_silence = m_runtime.filePath("silence.wav");
    QVERIFY(writeTestWav(m_silence, 0.2));
}

void TestDesktop::cleanup()
{
    for (QProcess* process : { &m_vokey, &m_server }) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(10000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
}

bool TestDesktop::startServer(const QString& screen)
{
    // The server picks a free display and writes its number to standard output.
    m_server.start(QStringLiteral("Xvfb"),
        { "-displayfd", "1", "-screen", "0", screen + "x24", "-nolisten", "tcp" });
    if (!m_server.waitForStarted(10000))
        return false;
    waitUntil([this] { return m_server.canReadLine(); }, 20000);
    m_display = ':' + QString::fromLatin1(m_server.readLine()).trimmed();
    return m_display.size() > 1;
}

QList<NativeWindow> TestDesktop::vokeyWindows() const
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), { "-root", "-children", "-display", m_display });
    if (!xwininfo.waitForFinished(10000))
        return {};
    // 0x1200006 "VOKEY V2.0": ("vokey" "vokey")  260x436+825+76  +825+76
    static const QRegularExpression line(QStringLiteral(
        R"re(0x[0-9a-f]+ "([^"]*VOKEY[^"]*)":.*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s)re"));
    QList<NativeWindow> windows;
    for (const QString& text : QString::fromUtf8(xwininfo.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch match = line.match(text + ' ');
        if (match.hasMatch())
            windows.append({ text.trimmed().section(' ', 0, 0), match.captured(1),
                QRect(match.captured(4).toInt(), match.captured(5).toInt(),
                    match.captured(2).toInt(), match.captured(3).toInt()) });
    }
    return windows;
}

bool TestDesktop::startVokey(const QProcessEnvironment& extra)
{
    // No radios: nothing here may reach a rigctld running on the usual ports.
    QFile config(m_work.filePath("VOKEY.INI"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write("[RIG1]\nHOST=\n[RIG2]\nHOST=\n");
    config.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    env.insert("XDG_RUNTIME_DIR", m_runtime.path());
    env.insert("VOKEY_MESSAGE_LOG", m_work.filePath("messages.log"));
    env.insert(extra);
    m_vokey.setProcessEnvironment(env);
    m_vokey.setWorkingDirectory(m_work.path());
    m_vokey.start(Vokey, { "--audio-file", m_silence });
    if (!m_vokey.waitForStarted(10000))
        return false;
    // A program that ended at start-up says why (a sanitizer's report, for one).
    QTest::qWaitFor(
        [this] { return !vokeyWindows().isEmpty() || m_vokey.state() == QProcess::NotRunning; },
        20000);
    if (m_vokey.state() != QProcess::Running)
        qWarning("%s", m_vokey.readAllStandardError().left(3000).constData());
    return m_vokey.state() == QProcess::Running;
}

void TestDesktop::titleAndPlacement_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QPoint>("at");
    QTest::newRow("large screen: where it always opens") << "1280x1024" << QPoint(825, 76);
    QTest::newRow("narrow screen") << "1024x768" << QPoint(764, 76);
    QTest::newRow("narrow and short") << "800x480" << QPoint(540, 44);
}

void TestDesktop::titleAndPlacement()
{
    QFETCH(QString, screen);
    QFETCH(QPoint, at);
    QVERIFY(startServer(screen));
    QVERIFY(startVokey());
    const QList<NativeWindow> windows = vokeyWindows();
    QCOMPARE(windows.size(), 1);
    // Exactly the window's own caption: nothing appended by the platform.
    QCOMPARE(windows[0].title, QStringLiteral("VOKEY V2.0"));
    // Moved onto the screen once shown: the move may land a moment after the window appears.
    const auto geometry = [this] {
        const QList<NativeWindow> now = vokeyWindows();
        return now.size() == 1 ? now[0].geometry : QRect();
    };
    QTRY_COMPARE_WITH_TIMEOUT(geometry(), QRect(at, QSize(260, 436)), 5000);

    ::kill(pid_t(m_vokey.processId()), SIGTERM);
    QVERIFY(m_vokey.waitForFinished(10000));
    QCOMPARE(m_vokey.exitCode(), 0);
}

void TestDesktop::iconWithoutSvgPlugin()
{
    // No plugin folder of the program's own but an empty one; Qt's own folder has no SVG
    // plugin on this machine (which would make this check prove nothing).
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    if (QFileInfo::exists(plugins + "/imageformats/libqsvg.so")
        || QFileInfo::exists(plugins + "/iconengines/libqsvgicon.so"))
        QSKIP("Qt's SVG plugin is installed here");
    QVERIFY(m_work.isValid());
    QVERIFY(QDir(m_work.path()).mkpath("no-plugins"));
    QProcessEnvironment extra;
    extra.insert("QT_PLUGIN_PATH", m_work.filePath("no-plugins"));
    QVERIFY(startServer("1280x1024"));
    QVERIFY(startVokey(extra));
    const QList<NativeWindow> windows = vokeyWindows();
    QCOMPARE(windows.size(), 1);

    // _NET_WM_ICON as 32-bit numbers: width, height, then width * height ARGB pixels, for
    // each picture the window gives (all of them: xprop cuts long properties short unless
    // given a -len).
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
        { "-display", m_display, "-len", "100000000", "-id", windows[0].id, "-f", "_NET_WM_ICON",
            "32c", "_NET_WM_ICON" });
    QVERIFY(xprop.waitForFinished(20000));
    const QString text = QString::fromLatin1(xprop.readAllStandardOutput());
    QVERIFY2(text.contains('='), qPrintable(text.left(200)));
    const QStringList numbers = text.section('=', 1).split(',', Qt::SkipEmptyParts);
    QMap<int, int> opaqueBySize; // width (= height) -> pixels with full alpha
    for (qsizetype at = 0; at + 2 <= numbers.size();) {
        const int width = numbers[at].trimmed().toInt();
        const int height = numbers[at + 1].trimmed().toInt();
        QVERIFY(width > 0 && width == height && at + 2 + width * height <= numbers.size());
        int opaque = 0;
        for (qsizetype i = at + 2; i < at + 2 + width * height; ++i)
            opaque += (numbers[i].trimmed().toUInt() >> 24) == 255;
        opaqueBySize[width] = opaque;
        at += 2 + width * height;
    }
    for (int size : { 16, 48 }) {
        QVERIFY2(opaqueBySize.contains(size), qPrintable(QString::number(size)));
        // A rounded square over nearly all of the picture: at 16 px its edge pixels are
        // partly clear, 192 of the 256 are opaque.
        QVERIFY2(
            opaqueBySize[size] >= size * size / 2, qPrintable(QString::number(opaqueBySize[size])));
    }
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
