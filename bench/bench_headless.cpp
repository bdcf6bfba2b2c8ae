// The station without a window next to the window program, in the same run: each listens
// to a minute of pink noise from a WAV file (below the Gain: nothing keys), and the CPU
// time and resident memory of each are read from /proc over 20 seconds.
#include "ProcStat.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <pty.h>
#include <unistd.h>

namespace {

// Each program has a directory of its own: the single-instance lock lives in the runtime
// directory, the settings and the log in the working directory.
struct Station {
    QTemporaryDir dir;
    QProcess process;
    int master = -1; // the serial port: a pseudo-terminal of its own

    void start(const QProcessEnvironment& base, const QString& wav, const QStringList& extra)
    {
        int slave = -1;
        char name[256] = {};
        ::openpty(&master, &slave, name, nullptr, nullptr);
        ::close(slave);
        QFile ini(dir.filePath("VOKEY.INI"));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[SETTINGS]\nCOMPORT=" + QByteArray(name)
                + "\nGAIN=100\nTRACE=0\n[RIG1]\nHOST=\n[RIG2]\nHOST=\n");
        ini.close();
        QProcessEnvironment env = base;
        env.insert("XDG_RUNTIME_DIR", dir.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(VOKEY_BINARY, extra + QStringList { "--audio-file", wav });
    }
    ~Station()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        ::close(master);
    }
};

void BM_HeadlessAgainstWindow(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("noise.wav");
    QProcess::execute("sox",
        { "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "pinknoise", "vol",
            "0.2" });
    QProcess xvfb;
    xvfb.start("Xvfb", { ":94", "-screen", "0", "1024x768x24", "-nolisten", "tcp" });
    if (!xvfb.waitForStarted(2000)) {
        state.SkipWithError("Xvfb is needed for the window");
        return;
    }
    QTest::qWait(1000);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    QProcessEnvironment headlessEnv = env;
    headlessEnv.remove("DISPLAY");
    env.insert("DISPLAY", ":94");
    Station headless, window;
    headless.start(headlessEnv, wav, { "--headless" });
    window.start(env, wav, {});
    if (!headless.process.waitForStarted() || !window.process.waitForStarted()) {
        state.SkipWithError("cannot start the programs");
        return;
    }
    QTest::qWait(3000); // start-up done, capture running
    const qint64 h = headless.process.processId();
    const qint64 w = window.process.processId();
    for (auto _ : state) {
        const double h0 = processCpuSeconds(h);
        const double w0 = processCpuSeconds(w);
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(20000);
        const double seconds = clock.elapsed() / 1000.0;
        const double hc = 100.0 * (processCpuSeconds(h) - h0) / seconds;
        const double wc = 100.0 * (processCpuSeconds(w) - w0) / seconds;
        state.counters["headless_cpu_percent"] = hc;
        state.counters["window_cpu_percent"] = wc;
        state.counters["cpu_ratio"] = wc > 0 ? hc / wc : 0;
        const double hr = processStatusKib(h, "VmRSS"), wr = processStatusKib(w, "VmRSS");
        state.counters["headless_rss_kib"] = hr;
        state.counters["window_rss_kib"] = wr;
        state.counters["rss_ratio"] = wr > 0 ? hr / wr : 0;
        state.counters["headless_peak_kib"] = processStatusKib(h, "VmHWM");
        state.counters["window_peak_kib"] = processStatusKib(w, "VmHWM");
        state.counters["both_running"] = headless.process.state() == QProcess::Running
            && window.process.state() == QProcess::Running;
    }
    xvfb.terminate();
    xvfb.waitForFinished(5000);
}
BENCHMARK(BM_HeadlessAgainstWindow)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
