#include "CommandLine.h"

#include "core/VokeySettings.h"

#include <QDir>

#include <cstdio>
#include <cstring>

InformationRequest RequestedInformation(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "-f") == 0 || std::strcmp(argument, "--audio-file") == 0)
            ++i;
        else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)
            return InformationRequest::Help;
        else if (std::strcmp(argument, "--version") == 0)
            return InformationRequest::Version;
    }
    return InformationRequest::None;
}

int AnswerInformation(InformationRequest request, const char* program, const char* usage)
{
    if (request == InformationRequest::Help)
        std::fputs(usage, stdout);
    else
        std::printf("%s %s\n", program, VokeyVersion);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

VoxStationOptions StationOptionsFromArguments(QStringList arguments, IMessageBoxes* messages)
{
    VoxStationOptions options;
    options.audioFile = TakeAudioFile(arguments);
    options.audioLoop = TakeAudioLoop(arguments);
    options.configFile = ConfigPathFromArguments(arguments, WorkDirFrom(QDir::currentPath()));
    options.messages = messages;
    return options;
}
