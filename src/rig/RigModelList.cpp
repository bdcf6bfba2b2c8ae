#include "RigModelList.h"
#include "RigServerProgram.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QTimer>

namespace {
// rigctld -l takes well under a second; one that hangs is stopped after this.
constexpr int ListTimeLimitMs = 15000;

QString column(const QString& line, qsizetype from, qsizetype to)
{
    if (from < 0 || from >= line.size())
        return {};
    return line.mid(from, to < 0 ? -1 : to - from).trimmed();
}
}

QList<RigModel> ParseRigModelList(const QByteArray& stdoutText)
{
    QList<RigModel> models;
    const QStringList lines = QString::fromUtf8(stdoutText).split(u'\n');
    qsizetype makerAt = -1;
    qsizetype modelAt = -1;
    qsizetype versionAt = -1;
    for (const QString& line : lines) {
        if (makerAt < 0) {
            // The header: " Rig #  Mfg    Model    Version    Status    Macro".
            if (line.contains(QLatin1String("Rig #"))) {
                makerAt = line.indexOf(QLatin1String("Mfg"));
                modelAt = line.indexOf(QLatin1String("Model"));
                versionAt = line.indexOf(QLatin1String("Version"));
                if (makerAt < 0 || modelAt <= makerAt)
                    makerAt = -1;
            }
            continue;
        }
        bool ok = false;
        const int number = line.left(makerAt).trimmed().toInt(&ok);
        if (!ok || number <= 0)
            continue;
        RigModel model { number, column(line, makerAt, modelAt),
            column(line, modelAt, versionAt > modelAt ? versionAt : -1) };
        if (!model.model.isEmpty())
            models.append(model);
    }
    return models;
}

TRigModelReader::TRigModelReader(QObject* parent)
    : QObject(parent)
{
}

TRigModelReader::~TRigModelReader()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

TRigModelReader* TRigModelReader::shared()
{
    static QPointer<TRigModelReader> reader;
    if (!reader)
        reader = new TRigModelReader(QCoreApplication::instance());
    reader->start();
    return reader;
}

void TRigModelReader::start()
{
    if (m_state != State::Idle)
        return;
    m_state = State::Running;
    m_process = new QProcess(this);
    // Its standard error carries the backends' start-up chatter ("initrigs4_...").
    m_process->setStandardErrorFile(QProcess::nullDevice());
    connect(m_process, &QProcess::finished, this,
        [this](int exitCode, QProcess::ExitStatus status) { onFinished(exitCode, status); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFailedToStart();
    });
    auto* limit = new QTimer(m_process);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this] {
        m_process->disconnect(this);
        m_process->kill();
        finish(QStringLiteral("%1 -l gave no list in time").arg(RigServerProgram()));
    });
    limit->start(ListTimeLimitMs);
    m_process->start(RigServerProgram(), { QStringLiteral("-l") }, QIODevice::ReadOnly);
}

void TRigModelReader::onFinished(int exitCode, int exitStatus)
{
    if (exitStatus != QProcess::NormalExit || exitCode != 0) {
        finish(QStringLiteral("%1 -l failed (%2)")
                   .arg(RigServerProgram(),
                       exitStatus == QProcess::NormalExit
                           ? QStringLiteral("exit status %1").arg(exitCode)
                           : QStringLiteral("crashed")));
        return;
    }
    m_models = ParseRigModelList(m_process->readAllStandardOutput());
    finish(m_models.isEmpty() ? QStringLiteral("%1 -l listed no radios").arg(RigServerProgram())
                              : QString());
}

void TRigModelReader::onFailedToStart()
{
    finish(RigServerMissingText());
}

void TRigModelReader::finish(const QString& failure)
{
    if (m_state == State::Done)
        return;
    m_state = State::Done;
    m_failure = failure;
    if (m_process) {
        m_process->disconnect(this);
        // Deleted later: this may run inside one of the process's own signals.
        m_process->deleteLater();
        m_process = nullptr;
    }
    emit finished();
}
