// The window on a desktop with a system tray: an X server (Xvfb) with a tray program
// (trayer), which this test starts before its application connects to it.
#include "WindowFixture.h"

#include <QSystemTrayIcon>

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The X server and the tray, started before the application (which connects at once).
struct Desktop {
    pid_t server = -1;
    pid_t tray = -1;
    QByteArray display;

    bool start()
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return false;
        const QByteArray fd = QByteArray::number(pipeFds[1]);
        const char* serverArgs[]
            = { "Xvfb", "-displayfd", fd.constData(), "-nolisten", "tcp", nullptr };
        if (::posix_spawnp(
                &server, "Xvfb", nullptr, nullptr, const_cast<char**>(serverArgs), environ)
            != 0) {
            server = -1;
            return false;
        }
        ::close(pipeFds[1]);
        char number[16] = {};
        const ssize_t n = ::read(pipeFds[0], number, sizeof number - 1);
        ::close(pipeFds[0]);
        if (n <= 0)
            return false;
        display = ':' + QByteArray(number).trimmed();
        qputenv("DISPLAY", display);
        const char* trayArgs[] = { "trayer", nullptr };
        if (::posix_spawnp(&tray, "trayer", nullptr, nullptr, const_cast<char**>(trayArgs), environ)
            != 0)
            tray = -1;
        return tray > 0;
    }
    ~Desktop()
    {
        for (pid_t pid : { tray, server }) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }
};

} // namespace

class TestTray : public QObject, WindowFixture {
    Q_OBJECT

public:
    explicit TestTray(bool desktop)
        : m_desktop(desktop)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void menusAsWithATray();
    void failingExitKeepsTheTrayIcon();

private:
    bool m_desktop;
};

void TestTray::initTestCase()
{
    if (!m_desktop)
        QSKIP("Xvfb and trayer are needed (scripts/install-deps)");
    QVERIFY(setUpCase());
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
}

void TestTray::init()
{
    QVERIFY(setUp());
}

void TestTray::cleanup()
{
    tearDown();
}

void TestTray::menusAsWithATray()
{
    QVERIFY(start());
    QVERIFY(m_form->TrayIcon()->isVisible());
    // Exit is the tray menu's; the window's own menu is as it always was.
    QCOMPARE(menuItems(m_form->SystemMenu()),
        QStringList({ "&Quit\tAlt+F4=61536", "-", "OmniRig=555", "Soundcard=551",
            "Level history=556", "Fast attack=557", "Comm Port=552", "Mute=445", "> A=444",
            "> B=443", "-", "&About...=666" }));
}

void TestTray::failingExitKeepsTheTrayIcon()
{
    // A configuration file in a directory that does not exist cannot be written.
    QVERIFY(start({ "-f", "missing/dir/vokey.ini" }));
    findAction(m_form->PopupMenu1(), "Exit")->trigger();
    QCOMPARE(m_boxes.boxes.size(), 2);
    QVERIFY(m_boxes.boxes[1].text.startsWith("Unable to write to "));
    // Nothing else of Exit happened: the program runs on and can still be ended from the tray.
    QVERIFY(m_form->TrayIcon()->isVisible());
    QVERIFY(m_form->Station().Running());
}

int main(int argc, char* argv[])
{
    Desktop desktop;
    const bool started = desktop.start();
    qputenv("QT_QPA_PLATFORM", started ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    TestTray test(started);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray.moc"
