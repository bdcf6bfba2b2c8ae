#include "RigServerProcess.h"
#include "RigServerProgram.h"

#include <QHostAddress>
#include <QTcpServer>
#include <algorithm>
#include <utility>

namespace {
// How long a stopped rigctld gets to end on SIGTERM, and then on SIGKILL.
constexpr int TerminateWaitMs = 1000;
constexpr int KillWaitMs = 1000;
}

RigServerProcess::RigServerProcess(RigId rig, QObject* parent)
    : QObject(parent)
    , m_rig(rig)
    , m_process(this)
    , m_restartTimer(this)
    , m_killTimer(this)
{
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, &RigServerProcess::launch);
    m_killTimer.setSingleShot(true);
    m_killTimer.setInterval(TerminateWaitMs);
    connect(&m_killTimer, &QTimer::timeout, &m_process, &QProcess::kill);
    // Its standard output carries nothing for the operator; its standard error its
    // complaints about the radio.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    keepFromTerminalSignals(m_process);
    connect(&m_process, &QProcess::readyReadStandardError, this, &RigServerProcess::onReadyRead);
    connect(&m_process, &QProcess::finished, this, &RigServerProcess::onFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &RigServerProcess::onErrorOccurred);
    connect(&m_process, &QProcess::started, this, [this] {
        m_told.clear();
        emit started(m_process.processId());
    });
}

RigServerProcess::~RigServerProcess()
{
    stopAndWait();
}

void RigServerProcess::setBackOff(int firstMs, int maxMs)
{
    m_firstDelay = firstMs;
    m_maxDelay = maxMs;
}

QStringList RigServerProcess::argumentsFor(const RigServerOptions& options, quint16 port)
{
    QStringList arguments { QStringLiteral("-m"), QString::number(options.model) };
    if (!options.device.isEmpty())
        arguments << QStringLiteral("-r") << options.device;
    if (options.speed > 0)
        arguments << QStringLiteral("-s") << QString::number(options.speed);
    arguments << QStringLiteral("-P")
              << (options.ptt.isEmpty() ? RigServerOptions::PttMethods().first() : options.ptt);
    if (!options.pttDevice.isEmpty())
        arguments << QStringLiteral("-p") << options.pttDevice;
    arguments << QStringLiteral("-T") << QStringLiteral("127.0.0.1") << QStringLiteral("-t")
              << QString::number(port);
    return arguments;
}

void RigServerProcess::start(const RigServerOptions& options, quint16 port)
{
    stop();
    m_options = options;
    m_port = port;
    m_wanted = true;
    m_delay = m_firstDelay;
    m_told.clear();
    launch(); // or, while the old one ends, when it has ended
}

void RigServerProcess::stop()
{
    m_wanted = false;
    m_restartTimer.stop();
    if (m_process.state() == QProcess::NotRunning || m_ending)
        return;
    m_ending = true;
    m_process.terminate();
    m_killTimer.start();
}

void RigServerProcess::stopAndWait()
{
    stop();
    if (m_process.state() == QProcess::NotRunning)
        return;
    if (!m_process.waitForFinished(TerminateWaitMs)) {
        m_process.kill();
        m_process.waitForFinished(KillWaitMs);
    }
}

void RigServerProcess::restartSoon()
{
    if (!m_wanted)
        return;
    m_soon = true;
    if (m_restartTimer.isActive())
        m_restartTimer.start(0);
}

void RigServerProcess::launch()
{
    if (!m_wanted || m_process.state() != QProcess::NotRunning)
        return;
    // rigctld says nothing when its port is taken; it only exits. Another program's server
    // there would take this program's commands for a radio it does not drive, so the port
    // is tried first.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, m_port)) {
        const QString holder = portHolder(m_port);
        tellOnce(QStringLiteral("%1: port %2 is held by %3; choose another port or end it")
                     .arg(rigName())
                     .arg(m_port)
                     .arg(holder.isEmpty() ? QStringLiteral("another program") : holder));
        scheduleRestart();
        return;
    }
    probe.close();
    m_partialLine.clear();
    m_runTime.start();
    m_soon = false;
    m_process.start(RigServerProgram(), argumentsFor(m_options, m_port));
}

void RigServerProcess::onErrorOccurred(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    tellOnce(QStringLiteral("%1: %2").arg(rigName(), RigServerMissingText()));
    scheduleRestart();
}

void RigServerProcess::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    onReadyRead();
    if (!m_partialLine.isEmpty())
        emit output(QString::fromLocal8Bit(std::exchange(m_partialLine, {})));
    m_killTimer.stop();
    const bool stopped = std::exchange(m_ending, false);
    emit exited(exitStatus == QProcess::CrashExit ? QStringLiteral("signal %1").arg(exitCode)
                                                  : QString::number(exitCode));
    if (stopped) {
        launch(); // started again with other options while it ended
        return;
    }
    // One that ran a good while before it ended is not failing over and over.
    if (m_runTime.isValid() && m_runTime.elapsed() >= m_maxDelay)
        m_delay = m_firstDelay;
    scheduleRestart();
}

void RigServerProcess::onReadyRead()
{
    m_partialLine += m_process.readAllStandardError();
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        const QByteArray line = m_partialLine.left(end).trimmed();
        m_partialLine.remove(0, end + 1);
        if (!line.isEmpty())
            emit output(QString::fromLocal8Bit(line));
    }
}

void RigServerProcess::scheduleRestart()
{
    if (!m_wanted)
        return;
    m_restartTimer.start(std::exchange(m_soon, false) ? 0 : m_delay);
    m_delay = std::min(m_delay * 2, m_maxDelay);
}

void RigServerProcess::tellOnce(const QString& text)
{
    if (text == m_told)
        return;
    m_told = text;
    emit problem(text);
}

QString RigServerProcess::rigName() const
{
    return QStringLiteral("Rig %1").arg(rigLetter(m_rig));
}
