// vokey-station: the station without a window, for a station computer without a display.
// `vokey --headless` runs this program. It is made of the station's libraries alone and
// loads no widget or GUI library.
#include "core/VokeySettings.h"
#include "i18n/TGnuGettextInstance.h"
#include "station/MessageTranslation.h"
#include "station/StationConsole.h"
#include "station/VoxStation.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vokey"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));
    SetApplicationTitle(QStringLiteral("VOX Operated PTT Switch"));

    const ConsoleLines lines = StandardOutputLines();
    ConsoleMessageBoxes messages(lines);
    VoxStationOptions options;
    options.arguments = QCoreApplication::arguments();
    options.arguments.removeAll(QStringLiteral("--headless"));
    options.audioFile = TakeAudioFile(options.arguments);
    options.audioLoop = TakeAudioLoop(options.arguments);
    options.messages = &messages;
    options.watchSleep = true;
    options.guardProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/vokey-guard");

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
    if (!station.AcquireInstance())
        return 1;
    station.Guarded([&station] {
        station.Configure();
        SetApplicationTitle(QStringLiteral("VOKEY"));
        station.Run();
    });
    console.readKeys(STDIN_FILENO);
    return app.exec();
}
