#pragma once
// The real parts a station keys, for the tests that run it in this process or as the vokey
// program: two rigctld dummy servers on loopback, a pseudo-terminal as the serial port, the
// test audio (silence, and espeak-ng speech where it can be made), and the modem-line calls
// the preloaded library logs.

#include "StationTestSupport.h"

#include "common/LinesLog.h"
#include "common/ProgramProcess.h"
#include "common/PtyPair.h"
#include "common/RigTestSupport.h"
#include "common/TextFile.h"
#include "common/WaitUntil.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

struct KeyingParts {
    QTemporaryDir runtime;
    std::unique_ptr<RigctldServer> server1;
    std::unique_ptr<RigctldServer> server2;
    QString silence;
    QString speech; // empty without espeak-ng and sox
    std::unique_ptr<PtyPair> port;
    QString pty;

    // From initTestCase, once rigctld is known to be there: the audio and both servers.
    bool start()
    {
        if (!runtime.isValid())
            return false;
        silence = runtime.filePath("silence.wav");
        if (!writeTestWav(silence, 0.2))
            return false;
        if (makeSpeechWav(runtime.filePath("speech.wav"), { .before = 1.0, .after = 3.0 }))
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
        port = std::make_unique<PtyPair>();
        port->CloseSlave();
        pty = port->SlavePath();
        return port->IsOpen();
    }
    void closePort() { port.reset(); }
    // A configuration file naming the port and both servers (rig A at `rigAHost`:`rigAPort`
    // instead when given); `more` goes into SETTINGS as it is.
    bool writeConfig(const QString& file, int gain, int delay, const QString& more = {},
        quint16 rigAPort = 0, const QString& rigAHost = QStringLiteral("127.0.0.1"))
    {
        QFile config(file);
        if (!config.open(QIODevice::WriteOnly))
            return false;
        return config.write(
                   QStringLiteral("[SETTINGS]\nCOMPORT=%1\nGAIN=%2\nDELAY=%3\n%6"
                                  "[RIG1]\nHOST=%7\nPORT=%4\n[RIG2]\nHOST=127.0.0.1\nPORT=%5\n")
                       .arg(pty)
                       .arg(gain)
                       .arg(delay)
                       .arg(rigAPort ? rigAPort : server1->port())
                       .arg(server2->port())
                       .arg(more)
                       .arg(rigAHost)
                       .toUtf8())
            > 0;
    }
};
