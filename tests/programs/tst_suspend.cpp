// A system suspend while keyed, as logind announces it: a stand-in org.freedesktop.login1 on
// a private dbus-daemon (the program's system bus) hands out the sleep lock, the read end of
// a pipe it keeps, and says PrepareForSleep. Both programs release the dummy radio and the
// serial lines before they close the lock, and after the wake a voice still above the Gain
// keys only after a pause. Without logind the program keys as ever and says so once.
#include "station/KeyingParts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString Vokey = QStringLiteral(VOKEY_BINARY_DIR "/src/app/vokey");
const QString LoginPath = QStringLiteral("/org/freedesktop/login1");
const QString LoginManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString NotWatched = QStringLiteral("System suspend not watched: ");

// logind's Manager as far as the program uses it. Each Inhibit hands out the write end of
// a pipe; when every copy of it is closed, the read end sees EOF: the lock is dropped.
class LoginStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList inhibitArguments; // of the latest call
    int inhibitCalls = 0;
    bool dropped = false;
    // Called at the moment the lock is dropped.
    std::function<void()> onDropped;

    ~LoginStandIn() override
    {
        if (m_readEnd >= 0)
            ::close(m_readEnd);
    }

    // Every copy of the latest lock is still open, as seen now.
    bool held() const
    {
        pollfd readEnd { m_readEnd, POLLIN, 0 };
        return m_readEnd >= 0 && ::poll(&readEnd, 1, 0) == 0;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(
        const QString& what, const QString& who, const QString& why, const QString& mode)
    {
        inhibitArguments = { what, who, why, mode };
        ++inhibitCalls;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        delete m_notifier;
        if (m_readEnd >= 0)
            ::close(m_readEnd);
        m_readEnd = ends[0];
        dropped = false;
        m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            char byte;
            if (::read(m_readEnd, &byte, 1) == 0 && !dropped) {
                dropped = true;
                m_notifier->setEnabled(false);
                if (onDropped)
                    onDropped();
            }
        });
        QDBusUnixFileDescriptor lock(ends[1]); // a copy of its own
        ::close(ends[1]);
        return lock;
    }

private:
    int m_readEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace

class TestSuspend : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void releasedBeforeTheSleepAndQuietAtTheWake_data();
    void releasedBeforeTheSleepAndQuietAtTheWake();
    void withoutLogindKeysAndSaysSoOnce_data();
    void withoutLogindKeysAndSaysSoOnce();

private:
    QString path(const QString& name) const { return m_work->filePath(name); }
    bool startBus();
    bool startVokey(const QStringList& arguments, const QString& audio, int gain, int delay,
        const QString& busAddress);
    void sayPrepareForSleep(bool start);
    QString log() const { return textOf(path("VOKEY.LOG")); }
    QStringList callsAfterLastRaise() const
    {
        return LinesLog::callsAfterLastRaise(path("lines.log"));
    }
    // DTR and RTS raised, and not dropped since.
    bool linesUp() const
    {
        const QStringList calls = LinesLog::calls(path("lines.log"));
        return calls.contains(DtrUp) && calls.contains(RtsUp) && callsAfterLastRaise().isEmpty();
    }

    KeyingParts m_parts;
    QString m_tones; // a voice above the Gain, a pause, the voice again
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ProgramProcess> m_bus;
    QString m_busAddress;
    std::unique_ptr<ProgramProcess> m_process;
};

void TestSuspend::initTestCase()
{
    QVERIFY(QFileInfo::exists(Vokey));
    if (!RigctldServer::available())
        QSKIP("rigctld is needed");
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
        QSKIP("dbus-daemon is needed");
    QVERIFY(m_parts.start());
    // A 1 kHz tone at half scale measures between 30 and 60: above Gain 20. The pause is
    // long enough for the level to fall below it.
    const QString voice = m_parts.runtime.filePath("voice.wav");
    const QString pause = m_parts.runtime.filePath("pause.wav");
    m_tones = m_parts.runtime.filePath("tones.wav");
    QVERIFY(writeTestWav(voice, 15, 1000, 0.5));
    QVERIFY(writeTestWav(pause, 1.5));
    QVERIFY(runTool("sox", { voice, pause, voice, m_tones }));
}

void TestSuspend::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(m_parts.newPort());
}

void TestSuspend::cleanup()
{
    // The stand-in leaves the bus before the bus goes.
    QDBusConnection::disconnectFromBus(QStringLiteral("standin"));
    m_process.reset();
    m_bus.reset();
    m_parts.closePort();
    m_work.reset();
}

bool TestSuspend::startBus()
{
    QFile config(path("bus.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
        "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "</policy></busconfig>\n")
                     .arg(path("bus"))
                     .toUtf8());
    config.close();
    m_bus = std::make_unique<ProgramProcess>();
    m_bus->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The address is printed once the bus listens.
    if (!m_bus->startIn(m_work->path(), "dbus-daemon",
            { "--config-file=" + config.fileName(), "--nofork", "--print-address" })
        || !waitUntil([this] { return m_bus->canReadLine(); }, 10000))
        return false;
    m_busAddress = QString::fromUtf8(m_bus->readLine()).trimmed();
    return !m_busAddress.isEmpty();
}

bool TestSuspend::startVokey(const QStringList& arguments, const QString& audio, int gain,
    int delay, const QString& busAddress)
{
    if (!m_parts.writeConfig(path("VOKEY.INI"), gain, delay))
        return false;
    QProcessEnvironment env = ProgramProcess::environment(
        ProgramProcess::Display::Offscreen, m_parts.runtime.path(), path("lines.log"));
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", busAddress);
    env.insert("VOKEY_MESSAGE_LOG", path("messages.log"));
    m_process = std::make_unique<ProgramProcess>();
    m_process->setProcessEnvironment(env);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    return m_process->startIn(
        m_work->path(), Vokey, arguments + QStringList { "--audio-file", audio });
}

void TestSuspend::sayPrepareForSleep(bool start)
{
    QDBusMessage signal
        = QDBusMessage::createSignal(LoginPath, LoginManager, QStringLiteral("PrepareForSleep"));
    signal << start;
    QVERIFY(QDBusConnection(QStringLiteral("standin")).send(signal));
}

void TestSuspend::releasedBeforeTheSleepAndQuietAtTheWake_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("headless") << QStringList { "--headless" };
    QTest::newRow("window") << QStringList {};
}

void TestSuspend::releasedBeforeTheSleepAndQuietAtTheWake()
{
    QFETCH(QStringList, arguments);
    // Delay 100: the release timer would let go only 5 s after the voice, long after logind
    // gives up waiting (a release seen sooner is the suspend's).
    QVERIFY(startBus());
    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("standin"));
    QVERIFY(bus.isConnected());
    LoginStandIn login;
    QVERIFY(bus.registerObject(LoginPath, &login, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    // What the radio and the lines are when the lock goes.
    int pttAtDrop = -1;
    QStringList linesAtDrop;
    login.onDropped = [&] {
        pttAtDrop = m_parts.server1->ptt();
        linesAtDrop = callsAfterLastRaise();
    };

    QElapsedTimer clock; // an upper bound of the position in the recording
    clock.start();
    QVERIFY(startVokey(arguments, m_tones, 20, 100, m_busAddress));
    QTRY_COMPARE_WITH_TIMEOUT(login.inhibitCalls, 1, 20000);
    QCOMPARE(login.inhibitArguments[0], QStringLiteral("sleep"));
    QCOMPARE(login.inhibitArguments[1], QStringLiteral("VOKEY"));
    QCOMPARE(login.inhibitArguments[3], QStringLiteral("delay"));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(linesUp(), 5000);
    QVERIFY(!login.dropped);

    // The suspend is announced while the voice goes on, with rig A's rigctld stopped: the
    // lines drop at once, the lock stays until the radio has answered the release.
    const auto server1 = pid_t(m_parts.server1->processId());
    ::kill(server1, SIGSTOP);
    auto resume = qScopeGuard([server1] { ::kill(server1, SIGCONT); });
    sayPrepareForSleep(true);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(DtrDown), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(callsAfterLastRaise().contains(RtsDown), 5000);
    const bool heldUntilAnswered = login.held();
    resume.dismiss();
    ::kill(server1, SIGCONT);
    QVERIFY(heldUntilAnswered);
    QTRY_VERIFY_WITH_TIMEOUT(login.dropped, 5000);
    QCOMPARE(pttAtDrop, 0);
    QVERIFY2(linesAtDrop.contains(DtrDown) && linesAtDrop.contains(RtsDown),
        qPrintable(linesAtDrop.join(", ")));

    // The wake: a new lock, and the voice, still above the Gain, does not key ...
    sayPrepareForSleep(false);
    QTRY_COMPARE_WITH_TIMEOUT(login.inhibitCalls, 2, 10000);
    for (int i = 0; i < 15; ++i) {
        QTest::qWait(100);
        QCOMPARE(m_parts.server1->ptt(), 0);
    }
    QVERIFY2(clock.elapsed() < 14000, "the first tone ended before the wake was checked");
    QVERIFY(callsAfterLastRaise().contains(DtrDown));
    // ... until it has paused: the voice after the pause keys again.
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(linesUp(), 5000);
    QVERIFY(clock.elapsed() > 15000);
    QVERIFY(!login.dropped);
    QVERIFY(!log().contains(NotWatched));
}

void TestSuspend::withoutLogindKeysAndSaysSoOnce_data()
{
    QTest::addColumn<bool>("bus");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no system bus") << false << "no system bus";
    QTest::newRow("a bus without logind") << true << "no sleep inhibitor from logind";
}

void TestSuspend::withoutLogindKeysAndSaysSoOnce()
{
    QFETCH(bool, bus);
    QFETCH(QString, reason);
    QString address = "unix:path=" + path("no-bus");
    if (bus) {
        QVERIFY(startBus());
        address = m_busAddress;
    }
    // Gain 0 keys on every tick, silence included.
    QVERIFY(startVokey({ "--headless" }, m_parts.silence, 0, 100, address));
    QTRY_COMPARE_WITH_TIMEOUT(m_parts.server1->ptt(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(linesUp(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(NotWatched + reason), 20000);
    QCOMPARE(log().count(NotWatched), 1);
    QCOMPARE(m_process->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestSuspend)
#include "tst_suspend.moc"
