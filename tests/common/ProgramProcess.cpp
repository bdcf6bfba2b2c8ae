#include "ProgramProcess.h"

ProgramProcess::ProgramProcess(QObject* parent)
    : QProcess(parent)
{
}

ProgramProcess::~ProgramProcess()
{
    end();
}

QProcessEnvironment ProgramProcess::environment(
    Display display, const QString& runtimeDir, const QString& linesLog)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display == Display::Offscreen)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (display == Display::None) {
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            env.remove(QString::fromLatin1(name));
    }
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    if (!linesLog.isEmpty()) {
        env.insert(QStringLiteral("VOKEY_LINES_LOG"), linesLog);
        env.insert(QStringLiteral("LD_PRELOAD"), preload());
    }
    return env;
}

ProgramProcess::Finished ProgramProcess::runToEnd(
    const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    Finished finished;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return finished;
    finished.exitCode = process.exitCode();
    finished.out = process.readAllStandardOutput();
    finished.err = process.readAllStandardError();
    return finished;
}

QString ProgramProcess::preload()
{
    return QStringLiteral(VOKEY_MODEMLINES_PRELOAD);
}

bool ProgramProcess::startIn(
    const QString& workDir, const QString& program, const QStringList& arguments)
{
    m_lines.clear();
    setWorkingDirectory(workDir);
    start(program, arguments);
    return waitForStarted(10000);
}

QStringList ProgramProcess::outputLines()
{
    while (canReadLine())
        m_lines << QString::fromUtf8(readLine()).chopped(1);
    return m_lines;
}

void ProgramProcess::end()
{
    if (state() != QProcess::NotRunning) {
        kill();
        waitForFinished(10000);
    }
}
