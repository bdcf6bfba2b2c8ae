#pragma once

#include <QObject>

class SignalPipe;

// The process's signals, turned into something the window can act on.
// SIGINT, SIGTERM, SIGHUP and SIGQUIT become exitRequested() on the main thread (a socket
// pair written by the handler, read through a socket notifier), so they end the program the
// way closing the window does. SIGSEGV, SIGABRT, SIGBUS, SIGILL and SIGFPE drop DTR and RTS
// of the serial port
// named by setSerialHandle() with async-signal-safe calls, then die as they would have.
// One instance per process; the destructor puts the default handlers back.
class ExitSignals : public QObject {
    Q_OBJECT

public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

    // The open serial port's file descriptor, or -1 when no port is open.
    static void setSerialHandle(int fd);
    static int serialHandle();

signals:
    void exitRequested(int signalNumber);

private:
    SignalPipe* m_pipe = nullptr;
};
