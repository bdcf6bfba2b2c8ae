// Serial port figures:
// - BM_SetDTRToLineChange: from SetDTRState to the line's change as the modem-line model logs
//   it (median, p99). Needs the model:
//   LD_PRELOAD=<build>/tests/common/libvokey_modemlines_preload.so
// - BM_QuietPortThreadCpu: CPU time of the port's threads on an open, quiet pseudo-terminal
//   over VOKEY_BENCH_QUIET_SECONDS (default 30), for the kernel's modem-line wait, sampled
//   lines (a driver without that wait) and, run without the preload, a pty without lines.

#include "serial/ComPort.h"

#include "../tests/common/modemlines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <pty.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    QString path;
    Pty()
    {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave);
    }
};

long long NowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

std::vector<int> Threads()
{
    std::vector<int> ids;
    for (const QString& entry :
        QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        ids.push_back(entry.toInt());
    return ids;
}

// Run time in ns and the number of times the thread was scheduled.
std::pair<double, double> SchedStat(int tid)
{
    QFile file(QString("/proc/self/task/%1/schedstat").arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return { 0, 0 };
    const auto fields = file.readAll().simplified().split(' ');
    return { fields.value(0).toDouble(), fields.value(2).toDouble() };
}

void BM_SetDTRToLineChange(benchmark::State& state)
{
    if (!modemlines_loaded()) {
        state.SkipWithError("needs LD_PRELOAD of libvokey_modemlines_preload.so");
        return;
    }
    Pty pty;
    modemlines_reset(pty.path.toLocal8Bit().constData());
    TComPort port;
    port.SetPort(pty.path);
    port.OpenPort();
    std::vector<double> latencies;
    bool on = false;
    for (auto _ : state) {
        modemlines_log_clear();
        on = !on;
        const long long start = NowNs();
        port.SetDTRState(on);
        modemlines_event event {};
        modemlines_log_get(modemlines_log_size() - 1, &event);
        latencies.push_back(double(event.time_ns - start));
    }
    port.SetDTRState(false);
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ns"] = latencies[latencies.size() / 2];
    state.counters["p99_ns"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(BM_SetDTRToLineChange)->Iterations(20000);

// Argument: 1 with the kernel's modem-line wait, 0 with sampled lines.
void BM_QuietPortThreadCpu(benchmark::State& state)
{
    const bool kernelWait = state.range(0) != 0;
    if (!kernelWait && !modemlines_loaded()) {
        state.SkipWithError("sampling needs the modem-line model");
        return;
    }
    if (modemlines_loaded())
        modemlines_set_features(kernelWait, 1);
    const int seconds = qEnvironmentVariableIntValue("VOKEY_BENCH_QUIET_SECONDS") > 0
        ? qEnvironmentVariableIntValue("VOKEY_BENCH_QUIET_SECONDS")
        : 30;
    for (auto _ : state) {
        Pty pty;
        TComPort port;
        port.SetPort(pty.path);
        const auto before = Threads();
        port.OpenPort();
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let the threads settle
        std::vector<int> ours;
        for (int id : Threads()) {
            if (std::find(before.begin(), before.end(), id) == before.end())
                ours.push_back(id);
        }
        double ns0 = 0, runs0 = 0;
        for (int id : ours) {
            const auto [ns, runs] = SchedStat(id);
            ns0 += ns;
            runs0 += runs;
        }
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        double ns1 = 0, runs1 = 0;
        for (int id : ours) {
            const auto [ns, runs] = SchedStat(id);
            ns1 += ns;
            runs1 += runs;
        }
        port.ClosePort();
        state.counters["threads"] = double(ours.size());
        state.counters["cpu_us_total"] = (ns1 - ns0) / 1000;
        state.counters["cpu_percent"] = (ns1 - ns0) / (seconds * 1e9) * 100;
        state.counters["wakeups_per_s"] = (runs1 - runs0) / seconds;
    }
}
BENCHMARK(BM_QuietPortThreadCpu)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
