#include "SoakParts.h"

#include <QDir>
#include <QFile>
#include <QProcess>

// The tool's output, or nothing when it failed.
std::optional<QString> runTool(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(60000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

Speech makeSpeech(const QString& dir, int totalSeconds)
{
    Speech speech;
    const QString raw = dir + QStringLiteral("/phrase.wav");
    const QString one = dir + QStringLiteral("/one.wav");
    speech.path = dir + QStringLiteral("/speech.wav");
    if (runTool(QStringLiteral("espeak-ng"),
            { QStringLiteral("-w"), raw, QStringLiteral("CQ contest, CQ contest, this is VOKEY.") })
            == std::nullopt
        || runTool(QStringLiteral("sox"),
               { QStringLiteral("-D"), QStringLiteral("-V1"), raw, QStringLiteral("-r"),
                   QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("1"),
                   QStringLiteral("-b"), QStringLiteral("16"), one, QStringLiteral("pad"),
                   QStringLiteral("0"), QStringLiteral("2.5") })
            == std::nullopt)
        return {};
    speech.voicedSeconds = runTool(QStringLiteral("soxi"), { QStringLiteral("-D"), raw })
                               .value_or(QString())
                               .trimmed()
                               .toDouble();
    speech.phraseSeconds = speech.voicedSeconds + 2.5;
    const int repeats = int(totalSeconds / speech.phraseSeconds) + 2;
    if (runTool(QStringLiteral("sox"),
            { one, speech.path, QStringLiteral("repeat"), QString::number(repeats) })
        == std::nullopt)
        return {};
    return speech;
}

Resources resourcesOf(qint64 pid)
{
    Resources r;
    r.fds = int(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                    .size());
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Threads:"))
                r.threads = line.mid(8).trimmed().toInt();
            else if (line.startsWith("VmRSS:"))
                r.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return r;
}
