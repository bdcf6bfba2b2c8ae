#include "DialogMessageBoxes.h"
#include "TForm1.h"
#include "TranslationSetup.h"
#include "host/CommandLine.h"
#include "host/ConsoleWriter.h"
#include "host/StationHost.h"
#include "i18n/TGnuGettextInstance.h"

#include <QApplication>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Without a display Qt would abort with a long message; say what to do instead.
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

bool headlessRequested(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0)
            return true;
    }
    return false;
}

// Without a window the program is vokey-station, beside this one: made without the widget
// and GUI libraries, it starts faster and takes far less memory. It takes the place of this
// process, so a service manager and signals see one program.
int runHeadless(char* argv[])
{
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const QByteArray dir = length > 0 ? QByteArray(self, length) : QByteArray(argv[0]);
    const QByteArray station = dir.left(dir.lastIndexOf('/') + 1) + "vokey-station";
    ::execv(station.constData(), argv);
    std::fprintf(stderr, "vokey: cannot start %s: %s\n", station.constData(), std::strerror(errno));
    return 1;
}

const char Usage[] = R"(Usage: vokey [-f FILE] [--audio-file WAV [--audio-loop]] [--headless]
VOKEY keys the selected radios (rigctld) and DTR and RTS of the serial port while you speak.

  -f FILE            the configuration file (default: VOKEY.INI in the current directory)
  --audio-file WAV   capture from a 16-bit 44100 Hz WAV file instead of a sound card
  --audio-loop       play that file over and over
  --headless         the station without a window (runs vokey-station)
  --help             show this text and exit
  --version          show the version and exit
)";

} // namespace

int main(int argc, char* argv[])
{
    if (headlessRequested(argc, argv))
        return runHeadless(argv); // which answers --help and --version itself
    if (const InformationRequest request = RequestedInformation(argc, argv);
        request != InformationRequest::None)
        return AnswerInformation(request, "vokey", Usage);
    // Qt's messages never hold the window: a stopped terminal only costs lines.
    InstallConsoleOutput();
    if (!displayAvailable()) {
        std::fputs("vokey: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start it under a virtual one: xvfb-run -a vokey, or without a window: "
                   "vokey --headless\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vokey"));
    QApplication::setApplicationVersion(QString::fromLatin1(VokeyVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("vokey"));
    SetApplicationTitle(QStringLiteral("VOX Operated PTT Switch"));
    QApplication::setWindowIcon(TForm1::ApplicationIcon());

    const std::unique_ptr<IMessageBoxes> messages = createMessageBoxes();
    const TForm1Options options
        = StationOptionsFromArguments(QCoreApplication::arguments(), messages.get());

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
    // Started from a terminal, Ctrl+Z releases every road before the window stops.
    StationHost host(form.Station(), StationHostOptions::forProgram());
    if (!host.acquire())
        return 1;
    QObject::connect(&host, &StationHost::exitRequested, &form, &TForm1::closeOnSignal);
    form.FormCreate();
    host.started();
    form.show();
    const int status = app.exec();
    // A radio that may still transmit is worth a script's notice.
    return status == 0 && form.Station().LeftTransmitting() ? 1 : status;
}
