// The rig link against real rigctld dummy servers:
// - latency from a Tx write to the transmit state being visible to a second client of the
//   same rigctld (median and p99 over 1000 toggles, keying and releasing counted apart:
//   the dummy radio itself takes about 50 ms to release);
// - the link's CPU cost while it polls two online rigs at the default rate, in percent of
//   one core over 30 s (getrusage of this process; rigctld's own cost from /proc).
#include "common/RigTestSupport.h"
#include "rig/OmniRigX.h"

#include "ProcStat.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>

#include <benchmark/benchmark.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double ownCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size())));
    return values[index];
}

void BM_TxWriteVisibleToSecondClient(benchmark::State& state)
{
    RigctldServer server;
    if (!server.start()) {
        state.SkipWithError("rigctld did not start");
        return;
    }
    TOmniRigX omniRig;
    RigSettings settings;
    settings.rigs = { server.endpoint(), RigEndpoint {} };
    omniRig.ApplySettings(settings);
    omniRig.Connect();
    IRigX* rig = omniRig.Rig1();
    waitUntil([rig] { return rig->Status() == rsOnline; }, 5000);

    std::vector<double> keying;
    std::vector<double> releasing;
    for (auto _ : state) {
        for (int toggle = 0; toggle < 1000; ++toggle) {
            const bool on = toggle % 2 == 0;
            QElapsedTimer timer;
            timer.start();
            rig->SetTx(on ? PM_TX : PM_RX);
            while (server.ptt() != (on ? 1 : 0))
                QCoreApplication::processEvents();
            (on ? keying : releasing).push_back(double(timer.nsecsElapsed()) / 1000.0);
            // Let the link take the server's answer before the next write.
            waitUntil([rig, on] { return rig->Tx() == (on ? PM_TX : PM_RX); }, 2000);
        }
    }
    state.counters["key_median_us"] = percentile(keying, 0.5);
    state.counters["key_p99_us"] = percentile(keying, 0.99);
    state.counters["release_median_us"] = percentile(releasing, 0.5);
    state.counters["release_p99_us"] = percentile(releasing, 0.99);
    std::vector<double> all = keying;
    all.insert(all.end(), releasing.begin(), releasing.end());
    state.counters["all_median_us"] = percentile(all, 0.5);
    state.counters["all_p99_us"] = percentile(all, 0.99);
}
BENCHMARK(BM_TxWriteVisibleToSecondClient)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PollTwoRigsCpu(benchmark::State& state)
{
    RigctldServer server1;
    RigctldServer server2;
    if (!server1.start() || !server2.start()) {
        state.SkipWithError("rigctld did not start");
        return;
    }
    TOmniRigX omniRig; // default timings: PTT poll every 100 ms
    RigSettings settings;
    settings.rigs = { server1.endpoint(), server2.endpoint() };
    omniRig.ApplySettings(settings);
    omniRig.Connect();
    waitUntil(
        [&] {
            return omniRig.Rig1()->Status() == rsOnline && omniRig.Rig2()->Status() == rsOnline;
        },
        5000);

    for (auto _ : state) {
        const double seconds = 30;
        const double cpuBefore = ownCpuSeconds();
        const double serversBefore
            = processCpuSeconds(server1.processId()) + processCpuSeconds(server2.processId());
        QEventLoop loop;
        QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["link_cpu_percent"] = 100.0 * (ownCpuSeconds() - cpuBefore) / seconds;
        state.counters["rigctld_cpu_percent"] = 100.0
            * (processCpuSeconds(server1.processId()) + processCpuSeconds(server2.processId())
                - serversBefore)
            / seconds;
    }
}
BENCHMARK(BM_PollTwoRigsCpu)->Iterations(1)->Unit(benchmark::kSecond);

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
