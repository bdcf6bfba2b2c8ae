#pragma once

#include "RigSettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

// A rigctld this program runs for one radio, listening on the loopback interface at the
// rig's port so that a logger can share the radio through it. Once started it is watched:
// when it exits it is started again after 1, 2, 4 ... 30 s, until stop(). Its standard
// error comes out line by line as output(); what the operator must fix (no rigctld on
// this computer, the port taken by another program) comes out once as problem().
class RigServerProcess : public QObject {
    Q_OBJECT
public:
    explicit RigServerProcess(int rigNumber, QObject* parent = nullptr);
    // Stops it (see stop()).
    ~RigServerProcess() override;

    // (Re)starts rigctld with these options, after stopping one that runs.
    void start(const RigServerOptions& options, quint16 port);
    // Ends it and its restarts: SIGTERM, SIGKILL when it has not ended after a moment. Only
    // once every radio it keys has been released: rigctld leaves a radio as it is.
    void stop();

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    // The restart delays; tests shorten them.
    void setBackOff(int firstMs, int maxMs);

    static QStringList argumentsFor(const RigServerOptions& options, quint16 port);

signals:
    void started(qint64 pid);
    // Exit status as shown to the operator: the exit code, or "signal N".
    void exited(const QString& status);
    void output(const QString& line);
    void problem(const QString& text);

private:
    static void keepFromTerminalSignals(QProcess& process);
    void launch();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onErrorOccurred(QProcess::ProcessError error);
    void onReadyRead();
    void scheduleRestart();
    void tellOnce(const QString& text);
    QString rigName() const;

    const int m_rigNumber;
    QProcess m_process;
    QTimer m_restartTimer;
    QElapsedTimer m_runTime;
    RigServerOptions m_options;
    quint16 m_port = 0;
    bool m_wanted = false;
    int m_firstDelay = 1000;
    int m_maxDelay = 30000;
    int m_delay = 1000;
    QString m_told; // the last problem told, so that a retry does not tell it again
    QByteArray m_partialLine;
};
