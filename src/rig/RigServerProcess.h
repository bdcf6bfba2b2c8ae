#pragma once

#include "RigId.h"
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
    explicit RigServerProcess(RigId rig, QObject* parent = nullptr);
    // Stops it and waits (see stopAndWait()).
    ~RigServerProcess() override;

    // (Re)starts rigctld with these options. One that runs is stopped first, and the new one
    // is launched once the old one has ended and freed the port.
    void start(const RigServerOptions& options, quint16 port);
    // Ends it and its restarts: SIGTERM, SIGKILL when it has not ended after a moment. Only
    // once every radio it keys has been released: rigctld leaves a radio as it is. Returns
    // at once: a rigctld stuck in closing a radio that went away must not stop the window.
    void stop();
    // The same, waiting for the end: for the program's end, when nothing else is to run.
    void stopAndWait();
    // A release is owed through it: one that has ended is started again at once rather than
    // after the back-off (and one that is ending, as soon as it has ended). Nothing when it
    // was stopped or never started.
    void restartSoon();

    // Stopped, and not ended yet.
    bool isEnding() const { return m_ending; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    // The restart delays; tests shorten them.
    void setBackOff(int firstMs, int maxMs);

    static QStringList argumentsFor(const RigServerOptions& options, quint16 port);
    // The process listening on this loopback TCP port ("rigctld (PID 1234)"), when this user
    // may see it; empty otherwise.
    static QString portHolder(quint16 port);

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

    const RigId m_rig;
    QProcess m_process;
    QTimer m_restartTimer;
    QTimer m_killTimer; // SIGKILL for one that outlived its SIGTERM
    QElapsedTimer m_runTime;
    RigServerOptions m_options;
    quint16 m_port = 0;
    bool m_wanted = false;
    bool m_ending = false; // stop() sent SIGTERM to the one that runs
    bool m_soon = false; // restartSoon(): the next restart without delay
    int m_firstDelay = 1000;
    int m_maxDelay = 30000;
    int m_delay = 1000;
    QString m_told; // the last problem told, so that a retry does not tell it again
    QByteArray m_partialLine;
};
