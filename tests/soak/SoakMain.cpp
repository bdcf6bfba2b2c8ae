// The fault-injection soak: the real vokey program on a private X display, keying two
// rigctld dummies and a pseudo-terminal's modem lines from a speech recording, while faults
// are injected at random moments from a seeded generator. Prints one summary line with the
// faults injected and the violations found; exit status 1 when any was found.
//
// SOAK_SECONDS (default 600) bounds the run, SOAK_SEED (default 1) picks the moments.
#include "SoakParts.h"
#include "XWindowProbe.h"
#include "common/ProgramProcess.h"
#include "common/PtyPair.h"
#include "common/RigTestSupport.h"
#include "common/WaitUntil.h"
#include "core/IniProfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int gain = 5;
constexpr int delay = 10; // 500 ms
// The longest a road may stay keyed after the voice stops or the road comes back: the Delay,
// one tick, the radio's own release (a round trip to rigctld) and this watcher's polling.
constexpr qint64 releaseAllowanceMs = delay * 50 + 33 + 500 + 250;
constexpr qint64 unresponsiveMs = 1000;
// How long after a click, or after a road came back, a keying may still follow the state before
// it: the next tick, commands queued at a stopped rigctld, and this watcher's polling.
constexpr qint64 settleMs = 1500;

// A control clicked, and its picture before the click: a click that reached the program shows.
struct ClickCheck {
    QString name;
    QRect area;
    QByteArray before;
    qint64 at = -1;
    bool mustShow = false; // a toggle always changes; a slider may already be where clicked
};

// One road that can be keyed: when it was seen keyed first, and when it last came back.
struct Road {
    qint64 keyedSince = -1;
    qint64 cameBack = 0;
    bool reported = false;
    int keyings = 0;
};

class Soak {
public:
    int run();

private:
    qint64 now() const { return m_clock.elapsed(); }
    bool startVokey();
    void watchLines();
    void watchRig(int index);
    // rig: 0 or 1 for the radios, -1 for the modem lines.
    void watchRoad(Road& road, bool keyed, const char* name, int rig);
    void injectFault();
    void heal(bool all);
    void newSerialDevice();
    QPoint button(int x, int y, int w, int h) const;
    void clicked(const QString& name, const QRect& area, bool mustShow);
    void checkClick();

    QTemporaryDir m_dir;
    QElapsedTimer m_clock;
    std::mt19937 m_random;
    Speech m_speech;
    RigctldServer m_rigs[2];
    bool m_rigStopped[2] = { false, false };
    bool m_rigDown[2] = { false, false };
    qint64 m_healAt[2] = { -1, -1 };
    qint64 m_serialBackAt = -1;
    std::unique_ptr<PtyPair> m_serial;
    QString m_serialLink;
    QProcess m_vokey;
    QProcess m_xvfb;
    std::unique_ptr<XWindowProbe> m_window;
    qint64 m_linesRead = 0;
    int m_lineBits = 0; // DTR and RTS as the program last set them
    Road m_roads[3]; // rig A, rig B, modem lines
    std::map<QString, int> m_faults;
    std::map<QString, int> m_violations;
    int m_keyings = 0;
    // The window's state as the clicks set it: not muted, rig A selected at start.
    bool m_muted = false;
    int m_selected = 0;
    qint64 m_clickedAt = 0;
    ClickCheck m_click;
    std::map<QString, int> m_clicksShown;
};

bool Soak::startVokey()
{
    QFile config(m_dir.filePath(QStringLiteral("VOKEY.INI")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(
        QStringLiteral("[SETTINGS]\nCOMPORT=%1\nGAIN=%2\nDELAY=%3\n"
                       "[RIG1]\nHOST=127.0.0.1\nPORT=%4\n[RIG2]\nHOST=127.0.0.1\nPORT=%5\n")
            .arg(m_serialLink)
            .arg(gain)
            .arg(delay)
            .arg(m_rigs[0].port())
            .arg(m_rigs[1].port())
            .toUtf8());
    config.close();
    QProcessEnvironment env = ProgramProcess::environment(ProgramProcess::Display::Inherited,
        m_dir.path(), m_dir.filePath(QStringLiteral("lines.log")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), m_xvfb.arguments().value(0));
    env.insert(QStringLiteral("VOKEY_MESSAGE_LOG"), m_dir.filePath(QStringLiteral("messages.log")));
    m_vokey.setProcessEnvironment(env);
    m_vokey.setWorkingDirectory(m_dir.path());
    m_vokey.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_vokey.start(QStringLiteral(VOKEY_BINARY), { QStringLiteral("--audio-file"), m_speech.path });
    return m_vokey.waitForStarted(10000);
}

void Soak::newSerialDevice()
{
    m_serial = std::make_unique<PtyPair>();
    m_serial->CloseSlave();
    if (!m_serial->IsOpen())
        return;
    QFile::remove(m_serialLink);
    QFile::link(m_serial->SlavePath(), m_serialLink);
}

void Soak::watchLines()
{
    QFile file(m_dir.filePath(QStringLiteral("lines.log")));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_linesRead))
        return;
    const QByteArray text = file.readAll();
    const qsizetype end = text.lastIndexOf('\n') + 1;
    m_linesRead += end;
    for (const QByteArray& line : text.first(end).split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        const int bits = parts.value(1).toInt() & (TIOCM_DTR | TIOCM_RTS);
        if (parts[0] == "TIOCMBIS")
            m_lineBits |= bits;
        else if (parts[0] == "TIOCMBIC")
            m_lineBits &= ~bits;
        else if (parts[0] == "TIOCMSET")
            m_lineBits = bits;
    }
    watchRoad(m_roads[2], m_lineBits != 0, "modem lines", -1);
}

void Soak::watchRig(int index)
{
    if (m_rigStopped[index] || m_rigDown[index])
        return;
    const int ptt = m_rigs[index].ptt();
    if (ptt >= 0)
        watchRoad(m_roads[index], ptt != 0, index == 0 ? "rig A" : "rig B", index);
}

void Soak::watchRoad(Road& road, bool keyed, const char* name, int rig)
{
    if (!keyed) {
        road.keyedSince = -1;
        road.reported = false;
        return;
    }
    if (road.keyedSince < 0) {
        road.keyedSince = now();
        ++m_keyings;
        ++road.keyings;
        // A keying that starts well after the last click follows what the clicks set: this
        // shows that they reached the program.
        if (now() - std::max(m_clickedAt, road.cameBack) > settleMs) {
            const char* against = m_muted       ? "keyed while muted"
                : rig >= 0 && rig != m_selected ? "keyed a rig not selected"
                                                : nullptr;
            if (against) {
                ++m_violations[QString::fromLatin1(against)];
                std::fprintf(stderr, "soak: %s: %s at %lld ms\n", name, against,
                    static_cast<long long>(now()));
            }
        }
    }
    const qint64 from = std::max(road.keyedSince, road.cameBack);
    const qint64 limit = qint64(m_speech.voicedSeconds * 1000) + releaseAllowanceMs;
    if (now() - from > limit && !road.reported) {
        road.reported = true;
        ++m_violations[QStringLiteral("keyed too long")];
        std::fprintf(stderr, "soak: %s keyed for %lld ms at %lld ms\n", name,
            static_cast<long long>(now() - from), static_cast<long long>(now()));
    }
}

// Client-area points of the window's controls, counted from its bottom edge (the status bar
// ends it), so that a menu bar above does not matter.
QPoint Soak::button(int x, int y, int w, int h) const
{
    const int offset = m_window->height() - 436;
    return { x + w / 2, y + offset + h / 2 };
}

void Soak::injectFault()
{
    std::uniform_int_distribution<int> kind(0, 7);
    std::uniform_int_distribution<int> outage(300, 3000);
    const int rig = int(m_random() % 2);
    switch (kind(m_random)) {
    case 0:
        if (m_rigDown[rig] || m_rigStopped[rig])
            return;
        m_rigs[rig].kill();
        m_rigDown[rig] = true;
        m_healAt[rig] = now() + outage(m_random);
        ++m_faults[QStringLiteral("rigctld killed")];
        break;
    case 1:
        if (m_rigDown[rig] || m_rigStopped[rig])
            return;
        ::kill(pid_t(m_rigs[rig].processId()), SIGSTOP);
        m_rigStopped[rig] = true;
        m_healAt[rig] = now() + outage(m_random);
        ++m_faults[QStringLiteral("rigctld stopped")];
        break;
    case 2:
        if (m_serialBackAt >= 0)
            return;
        // The device goes away as an unplugged adapter does: the other end hangs up.
        m_serial.reset();
        QFile::remove(m_serialLink);
        m_serialBackAt = now() + outage(m_random);
        ++m_faults[QStringLiteral("serial device removed")];
        break;
    case 3: {
        const QPoint mute = button(8, 352, 241, 49);
        clicked(QStringLiteral("mute"), QRect(mute - QPoint(120, 24), QSize(241, 49)), true);
        m_window->click(mute.x(), mute.y());
        m_muted = !m_muted;
        m_clickedAt = now();
        ++m_faults[QStringLiteral("mute toggled")];
        break;
    }
    case 4: {
        const QPoint select = rig == 0 ? button(3, 272, 89, 49) : button(160, 272, 89, 49);
        m_window->click(select.x(), select.y());
        m_selected = rig;
        m_clickedAt = now();
        ++m_faults[QStringLiteral("rig selected")];
        break;
    }
    default: {
        // A click on the Gain slider's track moves it a page towards the click.
        std::uniform_int_distribution<int> along(70, 240);
        const QPoint track = button(0, 192, 0, 33);
        clicked(QStringLiteral("gain"), QRect(64, track.y() - 16, 185, 33), false);
        m_window->click(along(m_random), track.y());
        ++m_faults[QStringLiteral("gain changed")];
        break;
    }
    }
}

void Soak::clicked(const QString& name, const QRect& area, bool mustShow)
{
    checkClick();
    m_click = { name, area, m_window->picture(area.x(), area.y(), area.width(), area.height()),
        now(), mustShow };
}

// Whether the last click changed its control's picture within a second.
void Soak::checkClick()
{
    if (m_click.at < 0)
        return;
    const QRect& area = m_click.area;
    if (m_window->picture(area.x(), area.y(), area.width(), area.height()) != m_click.before) {
        ++m_clicksShown[m_click.name];
        m_click.at = -1;
    } else if (now() - m_click.at > 1000) {
        if (m_click.mustShow) {
            ++m_violations[QStringLiteral("click without effect")];
            std::fprintf(stderr, "soak: %s click showed nothing at %lld ms\n",
                qPrintable(m_click.name), static_cast<long long>(now()));
        }
        m_click.at = -1;
    }
}

void Soak::heal(bool all)
{
    for (int rig = 0; rig < 2; ++rig) {
        if (m_healAt[rig] < 0 || (!all && now() < m_healAt[rig]))
            continue;
        if (m_rigStopped[rig])
            ::kill(pid_t(m_rigs[rig].processId()), SIGCONT);
        if (m_rigDown[rig] && !m_rigs[rig].start())
            ++m_violations[QStringLiteral("rigctld restart")];
        m_rigStopped[rig] = m_rigDown[rig] = false;
        m_healAt[rig] = -1;
        m_roads[rig].cameBack = now();
    }
    if (m_serialBackAt >= 0 && (all || now() >= m_serialBackAt)) {
        newSerialDevice();
        m_serialBackAt = -1;
        m_roads[2].cameBack = now();
    }
}

int Soak::run()
{
    const int seconds = qEnvironmentVariableIntValue("SOAK_SECONDS") > 0
        ? qEnvironmentVariableIntValue("SOAK_SECONDS")
        : 600;
    const unsigned seed = qEnvironmentVariableIsSet("SOAK_SEED")
        ? unsigned(qEnvironmentVariableIntValue("SOAK_SEED"))
        : 1u;
    m_random.seed(seed);
    m_speech = makeSpeech(m_dir.path(), seconds + 60);
    if (m_speech.path.isEmpty() || !RigctldServer::available()) {
        std::fprintf(stderr, "soak: espeak-ng, sox and rigctld are needed\n");
        return 2;
    }
    const QString display = QStringLiteral(":%1").arg(300 + getpid() % 400);
    m_xvfb.start(QStringLiteral("Xvfb"),
        { display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("800x600x24"),
            QStringLiteral("-nolisten"), QStringLiteral("tcp") });
    if (!waitUntil([&display] { return XWindowProbe(display).connected(); }, 10000)
        || !m_rigs[0].start() || !m_rigs[1].start())
        return 2;
    m_serialLink = m_dir.filePath(QStringLiteral("ttyVOKEY"));
    newSerialDevice();
    if (!startVokey())
        return 2;
    m_window = std::make_unique<XWindowProbe>(display);
    m_clock.start();
    if (!waitUntil([this] { return m_window->findWindow(QStringLiteral("VOKEY")); }, 30000)) {
        std::fprintf(stderr, "soak: the window did not show\n");
        return 2;
    }

    std::uniform_int_distribution<int> pause(1000, 6000);
    qint64 nextFault = now() + pause(m_random);
    qint64 nextSample = now() + 20000;
    Resources first;
    Resources last;
    Resources peak;
    std::uint32_t ping = 0;
    qint64 pingSent = 0;
    bool pingLate = false;
    const qint64 end = qint64(seconds) * 1000;
    while (now() < end && m_vokey.state() == QProcess::Running) {
        QTest::qWait(20);
        heal(false);
        if (now() >= nextFault) {
            injectFault();
            nextFault = now() + pause(m_random);
        }
        watchLines();
        watchRig(0);
        watchRig(1);
        checkClick();
        if (ping == 0 || m_window->pong(ping)) {
            ping = m_window->ping();
            pingSent = now();
            pingLate = false;
        } else if (now() - pingSent > unresponsiveMs && !pingLate) {
            pingLate = true;
            ++m_violations[QStringLiteral("not responding")];
            std::fprintf(stderr, "soak: no answer for %lld ms at %lld ms\n",
                static_cast<long long>(now() - pingSent), static_cast<long long>(now()));
        }
        if (now() >= nextSample) {
            last = resourcesOf(m_vokey.processId());
            if (first.fds == 0)
                first = last;
            peak = { std::max(peak.fds, last.fds), std::max(peak.threads, last.threads),
                std::max(peak.rssKiB, last.rssKiB) };
            nextSample = now() + 5000;
        }
    }
    if (m_vokey.state() != QProcess::Running)
        ++m_violations[QStringLiteral("program ended")];
    // Growth without bound: at the end more than a few descriptors or threads, or 32 MiB,
    // above the first sample after start-up.
    if (last.fds > first.fds + 8 || last.threads > first.threads + 4
        || last.rssKiB > first.rssKiB + 32 * 1024) {
        ++m_violations[QStringLiteral("resource growth")];
        std::fprintf(stderr, "soak: fds %d -> %d, threads %d -> %d, RSS %ld -> %ld KiB\n",
            first.fds, last.fds, first.threads, last.threads, first.rssKiB, last.rssKiB);
    }

    // The end: every fault healed, the program ended as a user's session ends, every road
    // released and the settings file intact.
    heal(true);
    QTest::qWait(2000);
    ::kill(pid_t(m_vokey.processId()), SIGTERM);
    if (!m_vokey.waitForFinished(10000) || m_vokey.exitCode() != 0)
        ++m_violations[QStringLiteral("exit")];
    watchLines();
    if (m_lineBits != 0)
        ++m_violations[QStringLiteral("lines keyed at the end")];
    for (int rig = 0; rig < 2; ++rig) {
        if (m_rigs[rig].ptt() != 0)
            ++m_violations[QStringLiteral("rig keyed at the end")];
    }
    const QString ini = m_dir.filePath(QStringLiteral("VOKEY.INI"));
    const QString port = ReadProfileString(ini, QStringLiteral("RIG2"), QStringLiteral("PORT"), {});
    const int iniGain
        = ReadProfileString(ini, QStringLiteral("SETTINGS"), QStringLiteral("GAIN"), {}).toInt();
    if (port != QString::number(m_rigs[1].port())
        || ReadProfileString(ini, QStringLiteral("SETTINGS"), QStringLiteral("COMPORT"), {})
                .compare(m_serialLink, Qt::CaseInsensitive)
            != 0
        || ReadProfileString(ini, QStringLiteral("SETTINGS"), QStringLiteral("DELAY"), {})
            != QString::number(delay)
        || iniGain < 0 || iniGain > 100)
        ++m_violations[QStringLiteral("settings file")];

    m_window.reset(); // before its display goes: Xlib ends the process on a lost connection
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
    int faults = 0;
    int violations = 0;
    QStringList faultText;
    QStringList violationText;
    for (const auto& [name, count] : m_faults) {
        faults += count;
        faultText << QStringLiteral("%1 %2").arg(name).arg(count);
    }
    for (const auto& [name, count] : m_violations) {
        violations += count;
        violationText << QStringLiteral("%1 %2").arg(name).arg(count);
    }
    std::printf("soak: %d s, seed %u: %d faults injected (%s), %d keyings watched (rig A %d, "
                "rig B %d, lines %d), clicks shown: mute %d, gain %d, peak %d fds, %d threads, "
                "%ld KiB resident; %d violations%s%s%s\n",
        seconds, seed, faults, qPrintable(faultText.join(QStringLiteral(", "))), m_keyings,
        m_roads[0].keyings, m_roads[1].keyings, m_roads[2].keyings,
        m_clicksShown[QStringLiteral("mute")], m_clicksShown[QStringLiteral("gain")], peak.fds,
        peak.threads, peak.rssKiB, violations, violations ? " (" : "",
        qPrintable(violationText.join(QStringLiteral(", "))), violations ? ")" : "");
    return violations == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Soak soak;
    return soak.run();
}
