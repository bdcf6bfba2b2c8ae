// Keying latency of the main window on both roads, with the CAT poll timer running against two
// rigctld dummy servers: from the call of SetTX(on) to
// - DTR and RTS raised on the serial port (time stamps of the modem-line library, which
//   answers the line calls for a pseudo-terminal),
// - the transmit state visible at each server to an independent client ("t").
// The dummy radios never answer the poll: they get the first one only, which holds each server
// for about a second, and measuring starts after it. Both rigs are selected, so one keying
// reaches both. Median and p99 over 500 keyings; each
// keying is released and the release awaited before the next.
// The modem-line library is loaded by running this program again with LD_PRELOAD.
#include "app/TForm1.h"
#include "common/RigTestSupport.h"
#include "common/modemlines.h"
#include "core/IniProfile.h"
#include "rig/OmniRigX.h"
#include "widgets/TLedButton.h"
#include "window/WindowTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const int Keyings = qEnvironmentVariableIntValue("VOKEY_BENCH_KEYINGS") > 0
    ? qEnvironmentVariableIntValue("VOKEY_BENCH_KEYINGS")
    : 500;

long long nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

double percentileUs(std::vector<long long> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))] / 1000.0;
}

// Runs the event loop until `done` or the time limit.
template <typename Condition> bool waitFor(Condition done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// When `device` raised `line` first after `since`, or -1.
long long lineRaisedAt(dev_t device, int line, long long since)
{
    for (int i = 0, n = modemlines_log_size(); i < n; ++i) {
        modemlines_event event {};
        if (modemlines_log_get(i, &event) == 0 && event.device == device && event.line == line
            && event.value == 1 && event.time_ns >= since)
            return event.time_ns;
    }
    return -1;
}

void BM_SetTxToBothRoads(benchmark::State& state)
{
    RigctldServer rig1, rig2;
    if (!rig1.start() || !rig2.start()) {
        state.SkipWithError("rigctld did not start");
        return;
    }
    QTemporaryDir dir;
    const QString startDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    int master = -1, slave = -1;
    char name[256] = {};
    ::openpty(&master, &slave, name, nullptr, nullptr);
    ::close(slave);
    modemlines_reset(name);
    struct stat st { };
    ::stat(name, &st);
    const QString ini = dir.filePath("VOKEY.INI");
    WriteProfileString(ini, "SETTINGS", "COMPORT", QString::fromLocal8Bit(name));
    WriteProfileString(ini, "SETTINGS", "GAIN", "100"); // the detector never keys by itself
    WriteProfileString(ini, "SETTINGS", "TRACE", "0");
    WriteProfileString(ini, "RIG1", "HOST", "127.0.0.1");
    WriteProfileString(ini, "RIG1", "PORT", QString::number(rig1.port()));
    WriteProfileString(ini, "RIG2", "HOST", "127.0.0.1");
    WriteProfileString(ini, "RIG2", "PORT", QString::number(rig2.port()));
    const QString silence = dir.filePath("silence.wav");
    writeTestWav(silence, 0.2);

    RecordingMessageBoxes boxes;
    TForm1Options options;
    options.audioFile = silence;
    options.messages = &boxes;
    {
        TForm1 form(options);
        form.FormCreate();
        IRigX* r1 = form.Station().OmniRig()->Rig1();
        IRigX* r2 = form.Station().OmniRig()->Rig2();
        if (!waitFor([&] { return r1->Status() == rsOnline && r2->Status() == rsOnline; }, 10000)) {
            state.SkipWithError("rigs not online");
            return;
        }
        // Let the first CAT polls go out and be settled before measuring.
        waitFor([] { return false; }, 2500);
        form.findChild<TLedButton*>("Rig1Button")->setIsActive(true);
        form.findChild<TLedButton*>("Rig2Button")->setIsActive(true);

        std::vector<long long> dtr, rts, atRig1, atRig2, call;
        for (auto _ : state) {
            for (int i = 0; i < Keyings; ++i) {
                modemlines_log_clear();
                const long long start = nowNs();
                form.Station().SetTX(true);
                call.push_back(nowNs() - start);
                long long seen1 = -1, seen2 = -1;
                const QDeadlineTimer deadline(5000);
                while ((seen1 < 0 || seen2 < 0) && !deadline.hasExpired()) {
                    // The program's event loop goes on meanwhile, as it would; the servers are
                    // asked about every 100 us.
                    QCoreApplication::processEvents();
                    const timespec pause { 0, 100000 };
                    nanosleep(&pause, nullptr);
                    if (seen1 < 0 && rig1.ptt() == 1)
                        seen1 = nowNs();
                    if (seen2 < 0 && rig2.ptt() == 1)
                        seen2 = nowNs();
                }
                atRig1.push_back(seen1 < 0 ? 5000000000LL : seen1 - start);
                atRig2.push_back(seen2 < 0 ? 5000000000LL : seen2 - start);
                dtr.push_back(lineRaisedAt(st.st_rdev, TIOCM_DTR, start) - start);
                rts.push_back(lineRaisedAt(st.st_rdev, TIOCM_RTS, start) - start);
                form.Station().SetTX(false);
                // Released on both servers, then the link has taken the answers of both writes
                // (none in flight, so the next keying goes out at once).
                waitFor([&] { return rig1.ptt() == 0 && rig2.ptt() == 0; }, 5000);
                waitFor([&] { return r1->Tx() == PM_RX && r2->Tx() == PM_RX; }, 5000);
            }
        }
        state.counters["settx_call_median_us"] = percentileUs(call, 0.5);
        state.counters["settx_call_p99_us"] = percentileUs(call, 0.99);
        state.counters["dtr_median_us"] = percentileUs(dtr, 0.5);
        state.counters["dtr_p99_us"] = percentileUs(dtr, 0.99);
        state.counters["rts_median_us"] = percentileUs(rts, 0.5);
        state.counters["rts_p99_us"] = percentileUs(rts, 0.99);
        state.counters["rig1_median_us"] = percentileUs(atRig1, 0.5);
        state.counters["rig1_p99_us"] = percentileUs(atRig1, 0.99);
        state.counters["rig2_median_us"] = percentileUs(atRig2, 0.5);
        state.counters["rig2_p99_us"] = percentileUs(atRig2, 0.99);
        state.counters["error_boxes"] = double(boxes.boxes.size());
    }
    ::close(master);
    QDir::setCurrent(startDir);
}
BENCHMARK(BM_SetTxToBothRoads)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The modem lines of the pseudo-terminal come from the preloaded library.
    if (!modemlines_loaded()) {
        setenv("LD_PRELOAD", VOKEY_MODEMLINES_PRELOAD, 1);
        execv("/proc/self/exe", argv);
        perror("bench_keying: cannot run again with the modem-line library");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
