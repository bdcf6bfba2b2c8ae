// What vokey-guard costs: its resident memory, and how much starting it adds to the station's
// start-up (from starting vokey-station with a WAV file until its "engine on" line). The same
// station runs from the build folder, where the guard lies beside it, and from a copy in a
// folder without one (it then runs on without a guard); the runs alternate, and the medians
// of each are reported.
#include "ProcStat.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <pty.h>
#include <unistd.h>

namespace {

// The guard is the station's only child.
qint64 childOf(qint64 pid)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!children.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 child = children.readAll().trimmed().split(' ').value(0).toLongLong(&ok);
    return ok ? child : -1;
}

struct GuardMemory {
    double rss = 0; // VmRSS: the pages it touched, shared libraries included
    double anonymous = 0; // RssAnon: its own heap and stacks
    double peak = 0; // VmHWM
};

// Milliseconds from the start to "engine on"; -1 when it did not come. With `guard`, the
// guard's memory is read half a second later, when it has long been waiting for messages.
double startupMs(const QString& station, const QString& wav, GuardMemory* guard = nullptr)
{
    QTemporaryDir dir;
    int master = -1, slave = -1;
    char name[256] = {};
    ::openpty(&master, &slave, name, nullptr, nullptr);
    ::close(slave);
    QFile ini(dir.filePath("VOKEY.INI"));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[SETTINGS]\nCOMPORT=" + QByteArray(name)
            + "\nGAIN=100\nTRACE=0\n[RIG1]\nHOST=\n[RIG2]\nHOST=\n");
    ini.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("XDG_RUNTIME_DIR", dir.path());
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(station, { "--audio-file", wav });
    double elapsed = -1;
    while (elapsed < 0 && process.waitForReadyRead(10000)) {
        while (process.canReadLine()) {
            if (process.readLine().trimmed() == "engine on") {
                elapsed = clock.nsecsElapsed() / 1e6;
                break;
            }
        }
    }
    if (guard) {
        QDeadlineTimer settled(500);
        while (!settled.hasExpired())
            process.waitForFinished(int(settled.remainingTime()));
        const qint64 pid = childOf(process.processId());
        *guard = { processStatusKib(pid, "VmRSS"), processStatusKib(pid, "RssAnon"),
            processStatusKib(pid, "VmHWM") };
    }
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    ::close(master);
    return elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void BM_GuardCost(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("noise.wav");
    QProcess::execute("sox",
        { "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "pinknoise", "vol",
            "0.2" });
    // The same program in a folder without vokey-guard.
    const QString alone = dir.filePath("vokey-station");
    if (!QFile::copy(VOKEY_STATION_BINARY, alone)) {
        state.SkipWithError("cannot copy vokey-station");
        return;
    }
    QFile(alone).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (auto _ : state) {
        const int runs = int(state.range(0));
        GuardMemory guard;
        startupMs(VOKEY_STATION_BINARY, wav, &guard);
        std::vector<double> with, without;
        for (int run = 0; run < runs; ++run) {
            with.push_back(startupMs(VOKEY_STATION_BINARY, wav));
            without.push_back(startupMs(alone, wav));
        }
        state.counters["startup_with_guard_ms"] = median(with);
        state.counters["startup_without_guard_ms"] = median(without);
        state.counters["guard_adds_ms"] = median(with) - median(without);
        state.counters["guard_rss_kib"] = guard.rss;
        state.counters["guard_rss_anon_kib"] = guard.anonymous;
        state.counters["guard_peak_kib"] = guard.peak;
        state.counters["runs_each"] = runs;
        state.counters["failed_runs"] = double(std::count(with.begin(), with.end(), -1.0)
            + std::count(without.begin(), without.end(), -1.0));
    }
}
BENCHMARK(BM_GuardCost)->Arg(41)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
