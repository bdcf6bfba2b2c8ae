#include "SoakParts.h"

#include "common/Speech.h"

#include <QDir>
#include <QFile>

Speech makeSpeech(const QString& dir, int totalSeconds)
{
    Speech speech;
    const QString one = dir + QStringLiteral("/one.wav");
    speech.path = dir + QStringLiteral("/speech.wav");
    QString voiced;
    if (!makeSpeechWav(one,
            { .text = QStringLiteral("CQ contest, CQ contest, this is VOKEY."),
                .channels = 1,
                .after = 2.5 })
        || !runTool(QStringLiteral("soxi"), { QStringLiteral("-D"), espeakFileOf(one) }, &voiced))
        return {};
    speech.voicedSeconds = voiced.trimmed().toDouble();
    speech.phraseSeconds = speech.voicedSeconds + 2.5;
    const int repeats = int(totalSeconds / speech.phraseSeconds) + 2;
    if (!runTool(QStringLiteral("sox"),
            { one, speech.path, QStringLiteral("repeat"), QString::number(repeats) }))
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
