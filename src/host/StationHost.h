#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class ExitSignals;
class JobControl;
class SingleInstance;
class SleepWatch;
class TerminalKeys;
class TxGuard;
class VoxStation;

// What the process around a station is started with.
struct StationHostOptions {
    // vokey-guard, started once the instance is held: it releases the radios and the serial
    // lines when the program ends without doing so itself (SIGKILL, a crash). Empty: none.
    QString guardProgram;
    // Hold a logind sleep inhibitor: before a system suspend every road is released, and
    // after it nothing keys until a tick that does not pass.
    bool watchSleep = false;
    // Job control of a shell: Ctrl+Z releases every road before the program stops.
    bool jobControl = false;

    // As the programs run: all of it, with the guard from the program's own folder.
    static StationHostOptions forProgram();
};

// The process around a station: the single-instance lock, the exit and crash signals, job
// control, the terminal's keys, the suspend watch and the guard process. It talks to the
// station through its signals and a few verbs only (hold and lift keying, release and await
// the radios' answers, shut down), so that a station in a test needs none of it. One per
// process.
class StationHost : public QObject {
    Q_OBJECT

public:
    StationHost(VoxStation& station, StationHostOptions options, QObject* parent = nullptr);
    // A station still running is shut down first: the guard hears "bye" only after the
    // final release.
    ~StationHost() override;

    // Before the station is configured: the lock of the one running instance, then the exit
    // signals and the guard. False when another instance runs: that has been shown, nothing
    // has been touched, and the caller ends the process with a non-zero status.
    bool acquire();
    // Once the station runs: the guard told the rigs, the suspend watch and job control on.
    void started();
    // Keys from this descriptor when it is a terminal (see TerminalKeys); false otherwise.
    bool readKeys(int fd);
    // The terminal as it was, and no key read any more.
    void releaseTerminal();

signals:
    // SIGINT, SIGTERM, SIGHUP or SIGQUIT arrived: the program is to end as an operator's
    // close does.
    void exitRequested(int signalNumber);
    void keyPressed(char key);

private:
    void startGuard();
    void reportGuardTrouble(const QString& text);
    // The guard ended: said in the log and shown.
    void reportGuardEnd(const QString& text);
    void stopRequested();
    void continued();
    void releasedForHang();
    void prepareForSleep();
    void wakeFromSleep();

    VoxStation& m_station;
    StationHostOptions m_options;
    std::unique_ptr<SingleInstance> m_instance;
    ExitSignals* m_exitSignals = nullptr;
    JobControl* m_jobControl = nullptr;
    TerminalKeys* m_keys = nullptr;
    SleepWatch* m_sleepWatch = nullptr;
    TxGuard* m_guard = nullptr;
    QString m_guardTrouble; // said before the log was open: said once it is
    bool m_stopping = false;
    bool m_asleep = false; // from the suspend's announcement to the wake
    bool m_keyed = false; // as the station last said
    QElapsedTimer m_alive; // since the guard was last told the program runs
};
