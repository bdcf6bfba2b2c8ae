#pragma once
// The real parts a station keys, for the tests that run it in this process or as the vokey
// program: two rigctld dummy servers on loopback, a pseudo-terminal as the serial port, the
// test audio (silence, and espeak-ng speech where it can be made), and the modem-line calls
// the preloaded logger writes.

#include "StationTestSupport.h"

#include "rig/RigTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

inline const QString DtrUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_DTR);
inline const QString RtsUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_RTS);
inline const QString DtrDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_DTR);
inline const QString RtsDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_RTS);

struct KeyingParts {
    QTemporaryDir runtime;
    std::unique_ptr<RigctldServer> server1;
    std::unique_ptr<RigctldServer> server2;
    QString silence;
    QString speech; // empty without espeak-ng and sox
    int master = -1;
    QString pty;

    // From initTestCase, once rigctld is known to be there: the audio and both servers.
    bool start()
    {
        if (!runtime.isValid())
            return false;
        silence = runtime.filePath("silence.wav");
        if (!writeTestWav(silence, 0.2))
            return false;
        if (makeSpeechWav(runtime.path(), "speech.wav", 1.0, 3.0))
            speech = runtime.filePath("speech.wav");
        server1 = std::make_unique<RigctldServer>();
        server2 = std::make_unique<RigctldServer>();
        return server1->start() && server2->start();
    }
    // From init: both radios released and a fresh pseudo-terminal.
    bool newPort()
    {
        if (!server1->setPtt(false) || !server2->setPtt(false))
            return false;
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        ::close(slave);
        pty = QString::fromLocal8Bit(name);
        return true;
    }
    void closePort()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // A configuration file naming the port and both servers (rig A at `rigAPort` instead
    // when given); `more` goes into SETTINGS as it is.
    bool writeConfig(
        const QString& file, int gain, int delay, const QString& more = {}, quint16 rigAPort = 0)
    {
        QFile config(file);
        if (!config.open(QIODevice::WriteOnly))
            return false;
        return config.write(QStringLiteral(
                   "[SETTINGS]\nCOMPORT=%1\nGAIN=%2\nDELAY=%3\n%6"
                   "[RIG1]\nHOST=127.0.0.1\nPORT=%4\n[RIG2]\nHOST=127.0.0.1\nPORT=%5\n")
                                .arg(pty)
                                .arg(gain)
                                .arg(delay)
                                .arg(rigAPort ? rigAPort : server1->port())
                                .arg(server2->port())
                                .arg(more)
                                .toUtf8())
            > 0;
    }

    // The modem-line calls in the logger's file, in order.
    static QStringList lineCalls(const QString& log)
    {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // The calls after the last raising of a line.
    static QStringList callsAfterLastRaise(const QString& log)
    {
        const QStringList calls = lineCalls(log);
        qsizetype last = calls.size() - 1;
        while (last >= 0 && !calls[last].startsWith("TIOCMBIS"))
            --last;
        return last < 0 ? QStringList() : calls.mid(last + 1);
    }
};
