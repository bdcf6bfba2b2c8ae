// vokey-station: the station without a window, for a station computer without a display.
// `vokey --headless` runs this program. It is made of the station's libraries alone and
// loads no widget or GUI library.
#include "StationConsole.h"

#include "host/CommandLine.h"
#include "host/ConsoleWriter.h"
#include "host/MessageTranslation.h"
#include "host/StationHost.h"
#include "i18n/TGnuGettextInstance.h"
#include "station/VoxStation.h"

#include <QCoreApplication>

#include <unistd.h>

namespace {

const char Usage[] = R"(Usage: vokey-station [-f FILE] [--audio-file WAV [--audio-loop]]
       vokey --headless [-f FILE] [--audio-file WAV [--audio-loop]]
VOKEY without a window: keys the selected radios (rigctld) and DTR and RTS of the serial
port while you speak, writes a line to standard output for each change, and takes the keys
a, b (select rig A or B), m (mute) and q (exit) from a terminal on standard input.

  -f FILE            the configuration file (default: VOKEY.INI in the current directory)
  --audio-file WAV   capture from a 16-bit 44100 Hz WAV file instead of a sound card
  --audio-loop       play that file over and over
  --help             show this text and exit
  --version          show the version and exit
)";

} // namespace

int main(int argc, char* argv[])
{
    if (const InformationRequest request = RequestedInformation(argc, argv);
        request != InformationRequest::None)
        return AnswerInformation(request, "vokey-station", Usage);
    // The console never holds the station: a stopped terminal or a full pipe only costs lines.
    InstallConsoleOutput();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vokey"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(VokeyVersion));
    SetApplicationTitle(QStringLiteral("VOX Operated PTT Switch"));

    const ConsoleLines lines = StandardOutputLines();
    ConsoleMessageBoxes messages(lines);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeAll(QStringLiteral("--headless"));
    const VoxStationOptions options = StationOptionsFromArguments(arguments, &messages);

    // The translation engine comes before the station and goes after it.
    TGnuGettextInstance gettext;
    try {
        SetUpMessageTranslation(gettext);
    } catch (const std::exception& error) {
        messages.fatal(ApplicationTitle(), QString::fromUtf8(error.what()));
        return 1;
    }

    VoxStation station(options);
    StationConsole console(station, lines);
    QObject::connect(
        &console, &StationConsole::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    StationHost host(station, StationHostOptions::forProgram());
    if (!host.acquire())
        return 1;
    console.attachHost(host);
    station.Guarded([&station] {
        station.Configure();
        SetApplicationTitle(QStringLiteral("VOKEY"));
        station.Run();
    });
    host.started();
    host.readKeys(STDIN_FILENO);
    const int status = app.exec();
    // A radio that may still transmit is worth the service manager's notice.
    return status == 0 && station.LeftTransmitting() ? 1 : status;
}
