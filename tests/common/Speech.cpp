#include "Speech.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

bool speechToolsFound()
{
    return !QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty();
}

QString espeakFileOf(const QString& path)
{
    const QFileInfo file(path);
    return file.dir().filePath(
        QStringLiteral("espeak-") + file.completeBaseName() + QStringLiteral(".wav"));
}

bool makeSpeechWav(const QString& path, const SpeechFormat& format)
{
    if (!speechToolsFound())
        return false;
    const QString spoken = espeakFileOf(path);
    QStringList convert { QStringLiteral("-D"), QStringLiteral("-V1"), spoken, QStringLiteral("-r"),
        QStringLiteral("44100"), QStringLiteral("-c"), QString::number(format.channels),
        QStringLiteral("-b"), QStringLiteral("16") };
    if (format.raw)
        convert << QStringLiteral("-t") << QStringLiteral("raw");
    convert << path;
    convert << QStringLiteral("pad") << QString::number(format.before)
            << QString::number(format.after);
    return runTool(QStringLiteral("espeak-ng"), { QStringLiteral("-w"), spoken, format.text })
        && runTool(QStringLiteral("sox"), convert);
}

bool runTool(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput());
    return ok;
}
