// A logger sharing rig A's rigctld with VOKEY: Hamlib's TS-590S backend (rigctld -m 2031) on
// a stand-in radio (KenwoodRadio), a logger client asking the frequency ten times a second,
// and vokey-station on the same rigctld, first idle (its Gain above every level), then keying
// and releasing on a looped capture of 2 s tone and 2 s silence. For each phase it prints
// the logger's median and 99th-percentile wait for its answer, and what reached the radio
// per second: transmit commands (TX, RX) and all commands but the logger's frequency reads.
//
// Run (needs rigctld):
//     cmake --preset bench && cmake --build build-bench -j2 --target bench_logger
//     build-bench/bench/bench_logger
// Ends with status 1 when keying adds more than 3 ms to the logger's median wait, or VOKEY
// sends more than two transmit commands a second while keyed; 2 when it cannot run here.
#include "common/KenwoodRadio.h"
#include "common/ProgramProcess.h"
#include "common/RigTestSupport.h"
#include "common/WavWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int PhaseMs = 12000;
constexpr int QueryEveryMs = 100;

struct Phase {
    double medianMs = -1;
    double p99Ms = -1;
    int queries = 0;
    double transmitPerSecond = 0; // TX and RX commands at the radio
    double othersPerSecond = 0; // every command but the logger's FA reads
};

// 2 s of a 1 kHz tone at half scale, then 2 s of silence.
bool writeBursts(const QString& path)
{
    std::vector<qint16> samples;
    for (int i = 0; i < 4 * 44100; ++i) {
        const double value = i < 2 * 44100 ? 0.5 * std::sin(2 * M_PI * 1000.0 * i / 44100) : 0;
        const auto sample = qint16(value * 32767);
        samples.push_back(sample);
        samples.push_back(sample);
    }
    return writeWav(path, samples);
}

Phase measure(KenwoodRadio& radio, quint16 port, const QTemporaryDir& dir, int gain)
{
    Phase phase;
    QFile config(dir.filePath(QStringLiteral("VOKEY.INI")));
    if (!config.open(QIODevice::WriteOnly))
        return phase;
    config.write(QStringLiteral("[SETTINGS]\nCOMPORT=\nGAIN=%1\nDELAY=0\n"
                                "[RIG1]\nHOST=127.0.0.1\nPORT=%2\n[RIG2]\nHOST=\n")
                     .arg(gain)
                     .arg(port)
                     .toUtf8());
    config.close();
    ProgramProcess station;
    station.setProcessEnvironment(
        ProgramProcess::environment(ProgramProcess::Display::None, dir.path()));
    station.setStandardOutputFile(QProcess::nullDevice());
    if (!station.startIn(dir.path(), QStringLiteral(VOKEY_STATION_BINARY),
            { QStringLiteral("--audio-file"), dir.filePath(QStringLiteral("bursts.wav")),
                QStringLiteral("--audio-loop") }))
        return phase;
    QThread::msleep(2000); // online and, with the tone, keying

    QTcpSocket logger;
    logger.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!logger.waitForConnected(3000))
        return phase;
    const qsizetype before = radio.commands().size();
    std::vector<double> waits;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < PhaseMs) {
        const qint64 next = clock.elapsed() + QueryEveryMs;
        QElapsedTimer wait;
        wait.start();
        logger.write("+\\get_freq\n");
        QByteArray answer;
        while (!answer.contains("RPRT") && logger.waitForReadyRead(2000))
            answer += logger.readAll();
        waits.push_back(double(wait.nsecsElapsed()) / 1e6);
        QThread::msleep(std::max<qint64>(0, next - clock.elapsed()));
    }
    const double seconds = double(clock.elapsed()) / 1000;
    int transmit = 0;
    int others = 0;
    const QList<KenwoodRadio::Command> commands = radio.commands().mid(before);
    for (const KenwoodRadio::Command& command : commands) {
        if (command.text.startsWith("TX") || command.text == "RX")
            ++transmit;
        if (!command.text.startsWith("FA"))
            ++others;
    }
    station.terminate();
    station.waitForFinished(5000);
    std::sort(waits.begin(), waits.end());
    phase.queries = int(waits.size());
    if (!waits.empty()) {
        phase.medianMs = waits[waits.size() / 2];
        phase.p99Ms = waits[std::min(waits.size() - 1, waits.size() * 99 / 100)];
    }
    phase.transmitPerSecond = transmit / seconds;
    phase.othersPerSecond = others / seconds;
    return phase;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    KenwoodRadio radio;
    if (!RigctldServer::available() || !dir.isValid() || !radio.start()
        || !writeBursts(dir.filePath(QStringLiteral("bursts.wav")))) {
        std::fprintf(stderr, "bench_logger: rigctld and a pseudo-terminal are needed\n");
        return 2;
    }
    RigctldServer server(QStringList {
        QStringLiteral("-m"), QStringLiteral("2031"), QStringLiteral("-r"), radio.devicePath() });
    if (!server.start()) {
        std::fprintf(stderr, "bench_logger: rigctld did not start\n");
        return 2;
    }
    std::printf("%-8s %8s %10s %8s %14s %14s\n", "VOKEY", "queries", "median ms", "p99 ms",
        "TX+RX per s", "others per s");
    const Phase idle = measure(radio, server.port(), dir, 100);
    const Phase keying = measure(radio, server.port(), dir, 5);
    for (const auto& [name, phase] : { std::pair { "idle", idle }, std::pair { "keying", keying } })
        std::printf("%-8s %8d %10.2f %8.2f %14.2f %14.2f\n", name, phase.queries, phase.medianMs,
            phase.p99Ms, phase.transmitPerSecond, phase.othersPerSecond);
    const bool met = keying.medianMs - idle.medianMs <= 3 && keying.transmitPerSecond <= 2;
    std::printf(
        "goals (median +3 ms at most, 2 transmit commands a second): %s\n", met ? "met" : "missed");
    return met ? 0 : 1;
}
