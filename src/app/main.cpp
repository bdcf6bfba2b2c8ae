#include "DialogMessageBoxes.h"
#include "TForm1.h"
#include "TranslationSetup.h"
#include "i18n/TGnuGettextInstance.h"
#include "station/StationConsole.h"
#include "station/VoxStation.h"

#include <QApplication>
#include <QCoreApplication>
#include <QScopeGuard>

#include <cstdio>
#include <unistd.h>

namespace {

// Without a display Qt would abort with a long message; say what to do instead.
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Takes "--audio-file PATH" (or "--audio-file=PATH") out of the arguments.
QString takeAudioFile(QStringList& arguments)
{
    QString path;
    for (int i = 1; i < arguments.size();) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--audio-file") && i + 1 < arguments.size()) {
            path = arguments[i + 1];
            arguments.remove(i, 2);
        } else if (argument.startsWith(QLatin1String("--audio-file="))) {
            path = argument.mid(int(qstrlen("--audio-file=")));
            arguments.remove(i);
        } else {
            ++i;
        }
    }
    return path;
}

// Takes "--headless" out of the arguments; true when it was there.
bool takeHeadless(QStringList& arguments)
{
    return arguments.removeAll(QStringLiteral("--headless")) > 0;
}

bool headlessRequested(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0)
            return true;
    }
    return false;
}

// The station without a window: lines on standard output, keys from a terminal.
int runHeadless(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vokey"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));
    SetApplicationTitle(QStringLiteral("VOX Operated PTT Switch"));

    const ConsoleLines lines = StandardOutputLines();
    ConsoleMessageBoxes messages(lines);
    VoxStationOptions options;
    options.arguments = QCoreApplication::arguments();
    takeHeadless(options.arguments);
    options.audioFile = takeAudioFile(options.arguments);
    options.messages = &messages;

    TGnuGettextInstance gettext;
    const auto disconnect = qScopeGuard(TearDownTranslation);
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

} // namespace

int main(int argc, char* argv[])
{
    if (headlessRequested(argc, argv))
        return runHeadless(argc, argv);
    if (!displayAvailable()) {
        std::fputs("vokey: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start it under a virtual one: xvfb-run -a vokey, or without a window: "
                   "vokey --headless\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vokey"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vokey"));
    SetApplicationTitle(QStringLiteral("VOX Operated PTT Switch"));
    QApplication::setWindowIcon(TForm1::ApplicationIcon());

    const std::unique_ptr<IMessageBoxes> messages = createMessageBoxes();
    TForm1Options options;
    options.arguments = QCoreApplication::arguments();
    options.audioFile = takeAudioFile(options.arguments);
    options.messages = messages.get();

    // The translation engine comes before any window and goes after the last one.
    TGnuGettextInstance gettext;
    const auto disconnect = qScopeGuard(TearDownTranslation);
    try {
        SetUpTranslation(gettext);
    } catch (const std::exception& error) {
        messages->fatal(ApplicationTitle(), QString::fromUtf8(error.what()));
        return 1;
    }

    TForm1 form(options);
    if (!form.FormCreate())
        return 1;
    form.show();
    return app.exec();
}
