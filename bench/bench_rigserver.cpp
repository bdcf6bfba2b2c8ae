// A radio set up in the program (MODEL=1, the dummy, PTT by CAT): the rig link runs its
// rigctld itself.
// - start-up: from Connect() (which starts rigctld) until the rig is online, median and
//   worst of 10 starts;
// - the PTT test's round trip as the settings window shows it: from the transmit write until
//   the link reports transmit, and from the release until it reports receive (the dummy
//   radio takes about 50 ms to release), median of 20.
// Run: build/bench/bench_rigserver
#include "common/RigTestSupport.h"
#include "rig/OmniRigX.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

#include <benchmark/benchmark.h>
#include <vector>

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return condition();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::unique_ptr<TOmniRigX> managedDummy(const QTemporaryDir& dir)
{
    const QString config = dir.filePath("vokey.ini");
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("[RIG1]\nPORT=%1\nMODEL=1\nPTT=RIG\n[RIG2]\nHOST=\n")
                   .arg(freeLoopbackPort())
                   .toUtf8());
    file.close();
    auto omniRig = std::make_unique<TOmniRigX>();
    omniRig->SetConfigFile(config);
    return omniRig;
}

void BM_ManagedRigStartUp(benchmark::State& state)
{
    QTemporaryDir dir;
    std::vector<double> startUp;
    std::vector<double> keyed;
    std::vector<double> released;
    for (auto _ : state) {
        for (int start = 0; start < 10; ++start) {
            auto omniRig = managedDummy(dir);
            QElapsedTimer timer;
            timer.start();
            omniRig->Connect();
            IRigX* rig = omniRig->Rig1();
            if (!waitFor([rig] { return rig->Status() == rsOnline; }, 10000)) {
                state.SkipWithError("the managed rigctld did not come online");
                return;
            }
            startUp.push_back(double(timer.elapsed()));
            for (int test = 0; test < 2; ++test) {
                timer.restart();
                rig->SetTx(PM_TX);
                waitFor([rig] { return rig->Tx() == PM_TX; }, 5000);
                keyed.push_back(double(timer.nsecsElapsed()) / 1e6);
                timer.restart();
                rig->SetTx(PM_RX);
                waitFor([rig] { return rig->Tx() == PM_RX; }, 5000);
                released.push_back(double(timer.nsecsElapsed()) / 1e6);
            }
        }
    }
    state.counters["startup_median_ms"] = median(startUp);
    state.counters["startup_worst_ms"] = *std::max_element(startUp.begin(), startUp.end());
    state.counters["ptt_test_tx_median_ms"] = median(keyed);
    state.counters["ptt_test_rx_median_ms"] = median(released);
}
BENCHMARK(BM_ManagedRigStartUp)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
