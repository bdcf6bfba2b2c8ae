#pragma once

#include <QObject>

class SignalPipe;

// Job control of a shell, made safe for a program that keys a transmitter. SIGTSTP (Ctrl+Z)
// no longer stops the process at once: it becomes stopRequested() on the main thread, and
// the owner releases every road before it calls stopProcess(). SIGCONT becomes continued().
// SIGTTIN and SIGTTOU are ignored, so that no read or write of a terminal the program has
// been put in the background of can stop it keyed (the terminal's keys are only read in the
// foreground, see TerminalKeys). One instance per process; the destructor puts the default
// handlers back.
class JobControl : public QObject {
    Q_OBJECT

public:
    explicit JobControl(QObject* parent = nullptr);
    ~JobControl() override;

    // Stops the process as SIGTSTP would have; returns once it is continued.
    void stopProcess();

signals:
    void stopRequested();
    void continued();

private:
    SignalPipe* m_pipe = nullptr;
};
