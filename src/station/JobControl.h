#pragma once

#include <QObject>

#include <functional>

class SignalPipe;
class VoxStation;

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
    // What a station does with it: on SIGTSTP every road released and the radios' answers
    // awaited, then `beforeStop` (the terminal given back), then the stop; on SIGCONT
    // `continued` (the terminal taken again) and keying resumed. A station that is shutting
    // down is not stopped: it ends.
    void keepReleased(VoxStation& station, std::function<void()> beforeStop = {},
        std::function<void()> continued = {});

signals:
    void stopRequested();
    void continued();

private:
    SignalPipe* m_pipe = nullptr;
    bool m_stopping = false;
};
