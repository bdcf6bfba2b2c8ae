// The display: what drawing costs the render tick, and what the running window costs at rest.
// - BM_RenderFrame: one spectrum frame with the main window's settings (241 x 169, cyan bars
//   5 pixels wide, red peak marks, stride 3) copied to the paint box's surface; median and
//   p99 over 100000 frames of a changing spectrum.
// - BM_LedRepaint: the 49-pixel transmit lamp switched on or off, which repaints it at once.
// - BM_RenderTickWithDrawing: the window's whole render tick on a running capture (spectrum,
//   level, keying decision, rig status), then the paint box put on the window's surface.
// - BM_IdleCpu: CPU of the real program listening to a WAV file for 20 s, against a bare Qt
//   window that updates a label every 33 ms, both running at the same time under the same
//   platform plugin (Xvfb when it can be started, else offscreen).
#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "widgets/FftBarPainter.h"
#include "widgets/TLed.h"
#include "widgets/TPaintBox.h"
#include "window/WindowTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ProcStat.h"
#include <algorithm>
#include <array>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <pty.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::time_point begin, Clock::time_point end)
{
    return std::chrono::duration<double, std::micro>(end - begin).count();
}

void percentiles(benchmark::State& state, std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
    state.counters["max_us"] = us.back();
}

// Spectra that rise and fall, so bars, decays and marks all take their turn.
std::vector<std::array<float, TSpectrum::SnapshotLength>> spectra()
{
    std::vector<std::array<float, TSpectrum::SnapshotLength>> all(64);
    for (std::size_t f = 0; f < all.size(); ++f)
        for (std::size_t bin = 0; bin < TSpectrum::SnapshotLength; ++bin)
            all[f][bin] = float(0.25 * std::fabs(std::sin(0.05 * double(bin) + 0.4 * double(f))));
    return all;
}

void windowSettings(TSpectrum& s)
{
    s.TraceColor = 0xFFFF00;
    s.PeakMarkColor = 0xFF;
    s.PlotMode = 1;
    s.BinStride = 3;
    s.BarDecay = 10;
}

void BM_RenderFrame(benchmark::State& state)
{
    TSpectrum spectrum(241, 169);
    windowSettings(spectrum);
    TPaintBox box;
    box.resize(241, 169);
    const auto frames = spectra();
    constexpr int Frames = 100000;
    std::vector<double> us(Frames);
    for (auto _ : state) {
        for (int i = 0; i < Frames; ++i) {
            const auto begin = Clock::now();
            spectrum.RenderFrame(
                box.surface(), frames[std::size_t(i) % frames.size()].data(), 10, 0);
            us[std::size_t(i)] = micros(begin, Clock::now());
        }
    }
    percentiles(state, us);
}
BENCHMARK(BM_RenderFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LedRepaint(benchmark::State& state)
{
    QWidget parent;
    parent.resize(200, 100);
    auto* led = new TLed(&parent);
    led->setGeometry(105 - 60, 20, 49, 49);
    led->setColors(0x008000, 0x00FF00, 0, 0x00FF00);
    parent.show();
    if (!QTest::qWaitForWindowExposed(&parent)) {
        state.SkipWithError("the lamp's window was not shown");
        return;
    }
    constexpr int Repaints = 20000;
    std::vector<double> us(Repaints);
    for (auto _ : state) {
        for (int i = 0; i < Repaints; ++i) {
            const auto begin = Clock::now();
            led->setOn(!led->isOn());
            us[std::size_t(i)] = micros(begin, Clock::now());
        }
    }
    percentiles(state, us);
}
BENCHMARK(BM_LedRepaint)->Iterations(1)->Unit(benchmark::kMillisecond);

// A working directory with a configuration whose serial port is a pseudo-terminal, and a
// minute of noise to listen to.
struct Setup {
    QTemporaryDir dir;
    int master = -1;
    QString wav;

    Setup()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        int slave = -1;
        char name[256] = {};
        ::openpty(&master, &slave, name, nullptr, nullptr);
        ::close(slave);
        const QString ini = dir.filePath("VOKEY.INI");
        WriteProfileString(ini, "SETTINGS", "COMPORT", QString::fromLocal8Bit(name));
        // Loud enough for bars, but the detector does not key (the pseudo-terminal has no
        // modem lines to raise).
        WriteProfileString(ini, "SETTINGS", "GAIN", "100");
        WriteProfileString(ini, "SETTINGS", "TRACE", "0");
        wav = dir.filePath("noise.wav");
        QProcess::execute("sox",
            { "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "pinknoise", "vol",
                "0.2" });
    }
    ~Setup() { ::close(master); }
};

void BM_RenderTickWithDrawing(benchmark::State& state)
{
    Setup setup;
    const QString startDir = QDir::currentPath();
    QDir::setCurrent(setup.dir.path());
    RecordingMessageBoxes boxes;
    TForm1Options options;
    options.audioFile = setup.wav;
    options.messages = &boxes;
    {
        TForm1 form(options);
        form.FormCreate();
        form.show();
        if (!QTest::qWaitForWindowExposed(&form)) {
            state.SkipWithError("the window was not shown");
            QDir::setCurrent(startDir);
            return;
        }
        // A second of capture, so the ring is full.
        QTest::qWait(1000);
        auto* box = form.findChild<TPaintBox*>("PaintFrame");
        constexpr int Ticks = 20000;
        std::vector<double> us(Ticks);
        for (auto _ : state) {
            for (int i = 0; i < Ticks; ++i) {
                const auto begin = Clock::now();
                form.Station().TimerRenderTimer();
                box->repaint();
                us[std::size_t(i)] = micros(begin, Clock::now());
            }
        }
        percentiles(state, us);
        // Ticks that drew: the frame has bars.
        const QImage& surface = box->surface();
        int lit = 0;
        for (int x = 0; x < surface.width(); ++x)
            lit += surface.pixel(x, surface.height() - 1) != 0xFF000000;
        state.counters["bottom_row_lit_pixels"] = lit;
        state.counters["keyed"] = form.Station().TxOn();
        state.counters["message_boxes"] = double(boxes.boxes.size());
    }
    QDir::setCurrent(startDir);
}
BENCHMARK(BM_RenderTickWithDrawing)->Iterations(1)->Unit(benchmark::kMillisecond);

// The floor: a bare window that shows a new label text every 33 ms.
int bareWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label;
    label.resize(260, 436);
    label.show();
    int count = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] { label.setText(QString::number(++count)); });
    timer.start(33);
    return app.exec();
}

void BM_IdleCpu(benchmark::State& state)
{
    Setup setup;
    // Xvfb when it starts; the platform plugin the children use follows from DISPLAY.
    QProcess xvfb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    xvfb.start("Xvfb", { ":93", "-screen", "0", "1024x768x24", "-nolisten", "tcp" });
    QString platform = "offscreen";
    if (xvfb.waitForStarted(2000)) {
        QTest::qWait(1000);
        if (xvfb.state() == QProcess::Running) {
            env.insert("DISPLAY", ":93");
            platform = "xcb";
        }
    }
    env.insert("QT_QPA_PLATFORM", platform);
    env.insert("XDG_RUNTIME_DIR", setup.dir.path());
    QProcess program, bare;
    for (QProcess* p : { &program, &bare }) {
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(setup.dir.path());
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    program.start(VOKEY_BINARY, { "--audio-file", setup.wav });
    bare.start(QCoreApplication::applicationFilePath(), { "--bare-window" });
    if (!program.waitForStarted() || !bare.waitForStarted()) {
        state.SkipWithError("cannot start the program or the bare window");
        return;
    }
    QTest::qWait(3000); // start-up done, capture running
    for (auto _ : state) {
        const double p0 = processCpuSeconds(program.processId());
        const double b0 = processCpuSeconds(bare.processId());
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(20000);
        const double seconds = clock.elapsed() / 1000.0;
        const double p = 100.0 * (processCpuSeconds(program.processId()) - p0) / seconds;
        const double b = 100.0 * (processCpuSeconds(bare.processId()) - b0) / seconds;
        state.counters["program_cpu_percent"] = p;
        state.counters["bare_window_cpu_percent"] = b;
        state.counters["ratio"] = b > 0 ? p / b : 0;
        state.counters["xvfb"] = platform == "xcb" ? 1 : 0;
        // Both still running at the end, so the figures are of running windows.
        state.counters["both_running"]
            = program.state() == QProcess::Running && bare.state() == QProcess::Running;
    }
    for (QProcess* p : { &program, &bare, &xvfb }) {
        p->terminate();
        if (!p->waitForFinished(5000))
            p->kill();
    }
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--bare-window") == 0)
        return bareWindow(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
