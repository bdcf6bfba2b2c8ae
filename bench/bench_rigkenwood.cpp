// Keying latency of the headless station to a Kenwood radio: Hamlib's TS-590S backend
// (rigctld -m 2031) on a stand-in radio at the far end of a pseudo-terminal (KenwoodRadio).
// For speech that starts 0.2, 0.45, 0.6, 0.9 and 2.0 s into the capture, vokey-station runs
// with the speech as its capture file, rig A at that rigctld and its serial port on another
// pseudo-terminal with the modem-line library preloaded, and the delay is measured from the
// keying decision to the radio receiving TX. The decision is the raising of DTR, which the
// station does in the same keying call right after it has handed the radio's key to the
// link: its time comes from the lines log (VOKEY_LINES_LOG_TIMES=1), the radio's from its
// own record, both on CLOCK_MONOTONIC.
//
// A radio that does not understand a raw command (the station's Yaesu status poll, 00 00 00
// 00 FA) holds rigctld for the backend's read time-out of 500 ms, and a keying that falls
// into that time waits for it; the last column says when the radio got each poll's bytes.
//
// Run (needs rigctld, espeak-ng and sox):
//     cmake --preset bench && cmake --build build-bench -j2 --target bench_rigkenwood
//     build-bench/bench/bench_rigkenwood
// It prints one row per start time and ends with status 1 when any delay is over 50 ms (or
// a keying never reached the radio), 2 when it cannot run here, 0 otherwise.
#include "common/KenwoodRadio.h"
#include "common/LinesLog.h"
#include "common/ProgramProcess.h"
#include "common/PtyPair.h"
#include "common/RigTestSupport.h"
#include "common/Speech.h"
#include "common/WaitUntil.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace {

constexpr double LimitMs = 50;

struct Row {
    double speechAt = 0; // seconds into the capture file
    std::optional<double> decisionMs; // after the program was started
    std::optional<double> delayMs; // from the decision to the radio receiving TX
    QStringList pollMs; // each poll's bytes at the radio, after the start
};

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}

QString column(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
}

Row measure(double speechAt)
{
    Row row { speechAt };
    QTemporaryDir dir;
    KenwoodRadio radio;
    if (!dir.isValid() || !radio.start())
        return row;
    RigctldServer server(QStringList {
        QStringLiteral("-m"), QStringLiteral("2031"), QStringLiteral("-r"), radio.devicePath() });
    const QString speech = dir.filePath(QStringLiteral("speech.wav"));
    PtyPair port;
    port.CloseSlave();
    QFile config(dir.filePath(QStringLiteral("VOKEY.INI")));
    if (!server.start() || !makeSpeechWav(speech, { .before = speechAt, .after = 2.0 })
        || !config.open(QIODevice::WriteOnly))
        return row;
    // Gain 5 and delay 10 key on the speech and release 0.5 s after it, as the headless
    // tests do; rig B is none.
    config.write(QStringLiteral("[SETTINGS]\nCOMPORT=%1\nGAIN=5\nDELAY=10\n"
                                "[RIG1]\nHOST=127.0.0.1\nPORT=%2\n[RIG2]\nHOST=\n")
                     .arg(port.SlavePath())
                     .arg(server.port())
                     .toUtf8());
    config.close();

    const QString linesLog = dir.filePath(QStringLiteral("lines.log"));
    QProcessEnvironment env
        = ProgramProcess::environment(ProgramProcess::Display::None, dir.path(), linesLog);
    env.insert(QStringLiteral("VOKEY_LINES_LOG_TIMES"), QStringLiteral("1"));
    ProgramProcess station;
    station.setProcessEnvironment(env);
    station.setStandardOutputFile(QProcess::nullDevice());
    station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 startNs = KenwoodRadio::nowNs();
    if (!station.startIn(dir.path(), QStringLiteral(VOKEY_STATION_BINARY),
            { QStringLiteral("--audio-file"), speech }))
        return row;
    qint64 decisionNs = -1;
    qint64 transmitNs = -1;
    waitUntil(
        [&] {
            decisionNs = LinesLog::firstCallAt(linesLog, DtrUp, startNs);
            transmitNs = radio.firstTransmitAt(startNs);
            return decisionNs >= 0 && transmitNs >= 0;
        },
        int(speechAt * 1000) + 20000);
    if (decisionNs >= 0)
        row.decisionMs = msBetween(startNs, decisionNs);
    if (decisionNs >= 0 && transmitNs >= 0)
        row.delayMs = msBetween(decisionNs, transmitNs);
    for (const qint64 arrival : radio.foreignArrivals())
        row.pollMs << QString::number(msBetween(startNs, arrival), 'f', 0);
    station.terminate();
    station.waitForFinished(5000);
    return row;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!RigctldServer::available() || !speechToolsFound()) {
        std::fprintf(stderr, "bench_rigkenwood: rigctld, espeak-ng and sox are needed\n");
        return 2;
    }
    std::printf("%10s %12s %12s  %s\n", "speech s", "decision ms", "to TX ms", "polls at ms");
    bool over = false;
    for (const double speechAt : { 0.2, 0.45, 0.6, 0.9, 2.0 }) {
        const Row row = measure(speechAt);
        over = over || !row.delayMs || *row.delayMs > LimitMs;
        std::printf("%10.2f %12s %12s  %s\n", row.speechAt, qPrintable(column(row.decisionMs)),
            qPrintable(column(row.delayMs)), qPrintable(row.pollMs.join(' ')));
        std::fflush(stdout);
    }
    std::printf("limit %.0f ms: %s\n", LimitMs, over ? "exceeded" : "met");
    return over ? 1 : 0;
}
