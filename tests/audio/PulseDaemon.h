#pragma once
// A PulseAudio daemon of a test's own: one null sink (its monitor is the default source),
// clients without authentication, and this process's connections pointed at it. The test
// may freeze it (SIGSTOP), kill it and start it again.

#include "common/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class PulseDaemon {
public:
    ~PulseDaemon() { stop(); }

    // Starts it with its runtime files under `runtimeDir`; false when it is not installed or
    // does not come up.
    bool start(const QString& runtimeDir, const QString& sinkName)
    {
        const QString pulseaudio = QStandardPaths::findExecutable("pulseaudio");
        if (pulseaudio.isEmpty())
            return false;
        QDir(runtimeDir).mkpath("pulse-home");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("HOME", runtimeDir + "/pulse-home");
        env.remove("PULSE_SERVER");
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A daemon that was killed leaves its socket behind: wait for the new one.
        const QString socket = runtimeDir + "/pulse/native";
        QFile::remove(socket);
        m_process.start(pulseaudio,
            { "--daemonize=no", "--exit-idle-time=-1", "-n", "--disallow-exit", "--use-pid-file=no",
                "--log-level=error", "-L",
                "module-null-sink sink_name=" + sinkName + " rate=44100 channels=2", "-L",
                "module-native-protocol-unix auth-anonymous=1" });
        if (!m_process.waitForStarted())
            return false;
        // Only this process's connections go to this daemon.
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
        return waitUntil([&socket] { return QFile::exists(socket); }, 20000);
    }

    // Kills it, as when the sound server crashes.
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.kill();
        return m_process.waitForFinished();
    }

    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
};
