// Peak resident memory and start-up time of the programs that read recordings:
// - vokey-replay on a generated 1-minute and 60-minute WAV file (also its speed);
// - the window with a WAV source (--audio-file) next to a bare Qt widget program that
//   updates a label every 33 ms, both on a private Xvfb display: peak resident memory
//   after running a while, and the time from start to the window being mapped.
// Prints the figures and the ratios; exit status 0 unless a program could not be run.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int rate = 44100;

// Mono 16-bit speech-like bursts: 2 s of a modulated 700 Hz tone, 1.5 s of near silence.
bool writeWav(const QString& path, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const quint32 dataBytes = quint32(seconds) * rate * 2;
    QByteArray header("RIFF____WAVEfmt ");
    auto put32 = [&](quint32 v) { header.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](quint16 v) { header.append(reinterpret_cast<const char*>(&v), 2); };
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    header.append("data");
    put32(dataBytes);
    qToLittleEndian<quint32>(36 + dataBytes, header.data() + 4);
    file.write(header);
    QByteArray block(rate * 2, Qt::Uninitialized); // one second
    for (int s = 0; s < seconds; ++s) {
        auto* samples = reinterpret_cast<qint16*>(block.data());
        for (int i = 0; i < rate; ++i) {
            const double t = s + double(i) / rate;
            const bool voiced = std::fmod(t, 3.5) < 2.0;
            const double env = voiced ? 0.5 + 0.5 * std::sin(2 * M_PI * 4 * t) : 0.002;
            samples[i] = qint16(12000 * env * std::sin(2 * M_PI * 700 * t));
        }
        if (file.write(block) != block.size())
            return false;
    }
    return file.flush();
}

struct Run {
    bool ok = false;
    long peakKiB = 0;
    double seconds = 0;
    double shownSeconds = -1;
};

pid_t spawn(const QString& program, const QStringList& arguments, const QString& directory,
    const QStringList& environment)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (!directory.isEmpty() && chdir(QFile::encodeName(directory).constData()) != 0)
        _exit(127);
    for (const QString& pair : environment)
        putenv(strdup(pair.toLocal8Bit().constData()));
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    QList<QByteArray> args { QFile::encodeName(program) };
    for (const QString& a : arguments)
        args << a.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

Run finish(pid_t pid, const QElapsedTimer& clock, Run run)
{
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.peakKiB = usage.ru_maxrss;
    run.ok = (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        || (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) || run.shownSeconds >= 0;
    return run;
}

Run replay(const QString& wav)
{
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = spawn(QStringLiteral(VOKEY_REPLAY), { wav }, {}, {});
    return finish(pid, clock, {});
}

bool windowMapped(const QString& display, const QString& title)
{
    QProcess x;
    x.start(QStringLiteral("xwininfo"),
        { QStringLiteral("-display"), display, QStringLiteral("-root"), QStringLiteral("-tree") });
    x.waitForFinished(5000);
    for (const QByteArray& line : x.readAllStandardOutput().split('\n'))
        if (line.contains("\"" + title.toUtf8()) && !line.contains(" 1x1+"))
            return true;
    return false;
}

// Starts the program, waits for its window, lets it run, then stops it with SIGTERM.
Run window(const QString& program, const QStringList& arguments, const QString& title,
    const QString& display, const QString& directory, int runSeconds)
{
    const QStringList environment { QStringLiteral("DISPLAY=") + display,
        QStringLiteral("QT_QPA_PLATFORM=xcb"), QStringLiteral("XDG_RUNTIME_DIR=") + directory,
        QStringLiteral("HOME=") + directory,
        QStringLiteral("VOKEY_MESSAGE_LOG=") + directory + QStringLiteral("/messages.log") };
    Run run;
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = spawn(program, arguments, directory, environment);
    while (clock.elapsed() < 30000) {
        if (windowMapped(display, title)) {
            run.shownSeconds = clock.nsecsElapsed() / 1e9;
            break;
        }
        QThread::msleep(5);
    }
    QThread::sleep(runSeconds);
    kill(pid, SIGTERM);
    return finish(pid, clock, run);
}

} // namespace

int main(int argc, char* argv[])
{
    const int windowSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    QTemporaryDir dir;
    const QString shortWav = dir.filePath(QStringLiteral("1min.wav"));
    const QString longWav = dir.filePath(QStringLiteral("60min.wav"));
    if (!writeWav(shortWav, 60) || !writeWav(longWav, 3600)) {
        std::fprintf(stderr, "cannot write the WAV files in %s\n", qPrintable(dir.path()));
        return 1;
    }

    const Run oneMinute = replay(shortWav);
    const Run sixtyMinutes = replay(longWav);
    if (!oneMinute.ok || !sixtyMinutes.ok) {
        std::fprintf(stderr, "vokey-replay failed\n");
        return 1;
    }
    std::printf("vokey-replay  1 min: peak RSS %6ld KiB, %6.2f s (%.0fx real time)\n",
        oneMinute.peakKiB, oneMinute.seconds, 60 / oneMinute.seconds);
    std::printf("vokey-replay 60 min: peak RSS %6ld KiB, %6.2f s (%.0fx real time)\n",
        sixtyMinutes.peakKiB, sixtyMinutes.seconds, 3600 / sixtyMinutes.seconds);
    std::printf("replay peak RSS ratio 60 min / 1 min: %.3f (target <= 1.1)\n",
        double(sixtyMinutes.peakKiB) / oneMinute.peakKiB);

    // A display of our own, found by its number, stopped by its process id.
    const QString display = QStringLiteral(":%1").arg(200 + getpid() % 500);
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
        { display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24"),
            QStringLiteral("-nolisten"), QStringLiteral("tcp") });
    QElapsedTimer up;
    up.start();
    while (up.elapsed() < 10000 && !windowMapped(display, QStringLiteral("root")))
        QThread::msleep(50);

    QDir().mkpath(dir.filePath(QStringLiteral("vokey")));
    QDir().mkpath(dir.filePath(QStringLiteral("bare")));
    // Three runs each, alternating, so that warm file caches favour neither; medians.
    std::vector<Run> bares;
    std::vector<Run> vokeys;
    for (int i = 0; i < 3; ++i) {
        bares.push_back(window(QStringLiteral(VOKEY_BARE_WINDOW), {}, QStringLiteral("bare label"),
            display, dir.filePath(QStringLiteral("bare")), windowSeconds));
        vokeys.push_back(window(QStringLiteral(VOKEY_WINDOW),
            { QStringLiteral("--audio-file"), longWav }, QStringLiteral("VOKEY"), display,
            dir.filePath(QStringLiteral("vokey")), windowSeconds));
    }
    const auto median = [](std::vector<Run> runs, auto field) {
        std::sort(runs.begin(), runs.end(),
            [&](const Run& a, const Run& b) { return a.*field < b.*field; });
        return runs[1].*field;
    };
    Run bare;
    Run vokey;
    bare.peakKiB = median(bares, &Run::peakKiB);
    bare.shownSeconds = median(bares, &Run::shownSeconds);
    vokey.peakKiB = median(vokeys, &Run::peakKiB);
    vokey.shownSeconds = median(vokeys, &Run::shownSeconds);
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    if (bare.shownSeconds < 0 || vokey.shownSeconds < 0) {
        std::fprintf(stderr, "a window was not shown (bare %.2f s, vokey %.2f s)\n",
            bare.shownSeconds, vokey.shownSeconds);
        return 1;
    }
    std::printf("bare Qt label window (median of 3):     peak RSS %6ld KiB, shown after %.3f s\n",
        bare.peakKiB, bare.shownSeconds);
    std::printf("vokey --audio-file 60min (median of 3): peak RSS %6ld KiB, shown after %.3f s\n",
        vokey.peakKiB, vokey.shownSeconds);
    std::printf(
        "window/bare: peak RSS %.2f (target <= 1.5), start-up to shown %.2f (target <= 1.2)\n",
        double(vokey.peakKiB) / bare.peakKiB, vokey.shownSeconds / bare.shownSeconds);
    return 0;
}
