#include "StationConsole.h"

#include "host/ConsoleWriter.h"
#include "host/StationHost.h"
#include "station/VoxStation.h"

ConsoleLines StandardOutputLines()
{
    return
        [](const QString& line) { ConsoleWriter::standardOutput().writeLine(line.toLocal8Bit()); };
}

ConsoleMessageBoxes::ConsoleMessageBoxes(ConsoleLines lines)
    : m_lines(std::move(lines))
{
}

namespace {
// One line each: a second line of a box (the reason) follows the first after a colon.
QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QStringLiteral(": "));
}
} // namespace

void ConsoleMessageBoxes::message(const QString& text)
{
    m_lines(QStringLiteral("error ") + oneLine(text));
}

void ConsoleMessageBoxes::report(const QString& text, std::function<void()> dismissed)
{
    m_lines(QStringLiteral("error ") + oneLine(text));
    if (dismissed)
        dismissed();
}

void ConsoleMessageBoxes::fatal(const QString&, const QString& text)
{
    m_lines(QStringLiteral("error ") + oneLine(text));
}

bool ConsoleMessageBoxes::confirm(const QString&, const QString& text)
{
    m_lines(QStringLiteral("confirm ") + text);
    return true;
}

StationConsole::StationConsole(VoxStation& station, ConsoleLines lines, QObject* parent)
    : QObject(parent)
    , m_station(station)
    , m_lines(std::move(lines))
{
    connect(&station, &VoxStation::runningChanged, this, &StationConsole::showEngine);
    connect(&station, &VoxStation::captureLost, this, &StationConsole::showEngine);
    connect(&station, &VoxStation::captureFound, this, &StationConsole::showEngine);
    connect(&station, &VoxStation::modeChanged, this, [this](const QString& text) {
        if (text != m_mode)
            m_lines(QStringLiteral("mode ") + text);
        m_mode = text;
    });
    connect(&station, &VoxStation::selectionChanged, this, &StationConsole::showSelection);
    connect(&station, &VoxStation::rigLampChanged, this, &StationConsole::showRigLamp);
    connect(&station, &VoxStation::rigNameChanged, this, &StationConsole::showRigName);
    connect(&station, &VoxStation::transmitChanged, this, [this](bool on) {
        m_lines(on ? QStringLiteral("tx on level %1 gain %2")
                         .arg(m_station.VoxLevel())
                         .arg(m_station.Gain())
                   : QStringLiteral("tx off"));
    });
    connect(&station, &VoxStation::mutedChanged, this, [this](bool muted) {
        m_lines(muted ? QStringLiteral("muted") : QStringLiteral("unmuted"));
    });
    connect(&station, &VoxStation::timeOutChanged, this, [this](bool on) {
        m_lines(on ? QStringLiteral("timeout on") : QStringLiteral("timeout off"));
    });
    connect(&station, &VoxStation::serialPortLost, this,
        [this](const QString& port) { m_lines(QStringLiteral("serial lost ") + port); });
    connect(&station, &VoxStation::serialPortFound, this,
        [this](const QString& port) { m_lines(QStringLiteral("serial open ") + port); });
    connect(&station, &VoxStation::rigServerStarted, this, [this](RigId rig) {
        m_lines(QStringLiteral("rig %1 server started").arg(rigLetter(rig)));
    });
    connect(&station, &VoxStation::rigServerExited, this, [this](RigId rig, const QString& status) {
        m_lines(QStringLiteral("rig %1 server exited %2").arg(rigLetter(rig)).arg(status));
    });
}

StationConsole::~StationConsole() = default;

void StationConsole::attachHost(StationHost& host)
{
    m_host = &host;
    connect(&host, &StationHost::keyPressed, this, &StationConsole::key);
    connect(&host, &StationHost::exitRequested, this,
        [this](int signalNumber) { finish(QStringLiteral("exit signal %1").arg(signalNumber)); });
}

void StationConsole::key(char key)
{
    if (m_finished)
        return;
    switch (key) {
    case 'a':
    case 'A':
        m_station.Guarded([this] { m_station.selectRig(RigId::A, true); });
        break;
    case 'b':
    case 'B':
        m_station.Guarded([this] { m_station.selectRig(RigId::B, true); });
        break;
    case 'm':
    case 'M':
        m_station.Guarded([this] { m_station.setMuted(!m_station.Muted()); });
        break;
    case 'q':
    case 'Q':
        // As the window's Exit: a failing write is shown and the program runs on.
        if (m_station.exitSavingSettings())
            finish(QStringLiteral("exit"));
        break;
    default:
        break;
    }
}

void StationConsole::finish(const QString& line)
{
    if (m_finished)
        return;
    m_finished = true;
    // Release first: the terminal comes after, and only in the foreground (a terminal call
    // from the background would stop the program).
    if (!m_station.IsShutDown())
        m_station.Shutdown();
    if (m_host)
        m_host->releaseTerminal();
    m_lines(line);
    // The exit line is the last: what the rig link still reports on the way out is not shown.
    disconnect(&m_station, nullptr, this, nullptr);
    emit finished();
}

void StationConsole::showSelection()
{
    const bool a = m_station.RigSelected(RigId::A);
    const bool b = m_station.RigSelected(RigId::B);
    const QString selection = a && b ? QStringLiteral("A+B")
        : a                          ? QStringLiteral("A")
        : b                          ? QStringLiteral("B")
                                     : QStringLiteral("none");
    if (selection == m_selection)
        return;
    m_selection = selection;
    m_lines(QStringLiteral("selected ") + selection);
}

void StationConsole::showEngine()
{
    const bool on = m_station.Running() && !m_station.CaptureLost();
    if (on == m_engineOn)
        return;
    m_engineOn = on;
    m_lines(on ? QStringLiteral("engine on") : QStringLiteral("engine off"));
}

void StationConsole::showRigLamp(RigId id)
{
    const RigLamp& lamp = m_station.RigLampState(id);
    Shown& shown = m_shown[id];
    const QString rig = QStringLiteral("rig ") + rigLetter(id);
    if (lamp.online != shown.online)
        m_lines(rig + (lamp.online ? QStringLiteral(" online") : QStringLiteral(" offline")));
    if (lamp.transmitting != shown.transmitting)
        m_lines(rig
            + (lamp.transmitting ? QStringLiteral(" reports transmit")
                                 : QStringLiteral(" reports receive")));
    shown.online = lamp.online;
    shown.transmitting = lamp.transmitting;
}

void StationConsole::showRigName(RigId rig)
{
    const QString& name = m_station.RigLampState(rig).name;
    Shown& shown = m_shown[rig];
    if (name == shown.name)
        return;
    shown.name = name;
    m_lines(QStringLiteral("rig ") + rigLetter(rig) + QStringLiteral(" name ") + name);
}
