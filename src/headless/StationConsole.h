#pragma once

#include "rig/RigId.h"
#include "station/MessageBoxes.h"

#include <QObject>

#include <functional>
#include <map>

class StationHost;
class VoxStation;

// Where the station's text goes without a window: one line each.
using ConsoleLines = std::function<void(const QString& line)>;
// Standard output, line by line, through a writer that never blocks the station (see
// ConsoleWriter).
ConsoleLines StandardOutputLines();

// The message boxes without a window: each is a line "error <text>" and never blocks; a
// question ("confirm <text>") is answered OK.
class ConsoleMessageBoxes : public IMessageBoxes {
public:
    explicit ConsoleMessageBoxes(ConsoleLines lines);

    void message(const QString& text) override;
    void report(const QString& text, std::function<void()> dismissed) override;
    void fatal(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;

private:
    ConsoleLines m_lines;
};

// The station's face on a terminal, for a station computer without a display. It writes a
// line for each change:
//   engine on | engine off
//   mode <status text>
//   selected A | selected B | selected A+B | selected none
//   rig A online | rig A offline | rig A name <model> | rig A reports transmit|receive
//   tx on level <VOX level> gain <Gain> | tx off
//   muted | unmuted
//   timeout on | timeout off
//   serial lost <port> | serial open <port>
//   exit
// and takes the keys its host reads from a terminal: a and b select rig A or B, m toggles
// mute, q exits after writing the settings (as the window's Exit does). The host's exit
// signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) release every road and end the event loop, as
// closing the window does; the terminal is put back after the release.
class StationConsole : public QObject {
    Q_OBJECT

public:
    StationConsole(VoxStation& station, ConsoleLines lines, QObject* parent = nullptr);
    ~StationConsole() override;

    // The host's keys and exit signals.
    void attachHost(StationHost& host);
    // One key, as if typed.
    void key(char key);

signals:
    // The station has been shut down; the program ends.
    void finished();

private:
    void showRigLamp(RigId rig);
    void showRigName(RigId rig);
    void showSelection();
    // "engine on" while the engine is on and captures, "engine off" otherwise: a capture
    // device lost and found again reads as the engine going off and on.
    void showEngine();
    void finish(const QString& line);

    VoxStation& m_station;
    ConsoleLines m_lines;
    StationHost* m_host = nullptr;
    struct Shown {
        bool online = false;
        bool transmitting = false;
        QString name;
    };
    std::map<RigId, Shown> m_shown;
    QString m_selection;
    QString m_mode;
    bool m_engineOn = false;
    bool m_finished = false;
};
