#pragma once

#include "core/Version.h"
#include "station/VoxStationOptions.h"

#include <QStringList>

// What --help and --version ask for. They are answered before anything else happens: no
// settings read, no lock taken, no device opened. Other arguments the programs do not know
// are ignored; the value after -f or --audio-file is a name, not an option.
enum class InformationRequest { None, Help, Version };
InformationRequest RequestedInformation(int argc, char* argv[]);

// Prints the usage (its text given) or "<program> <version>" on standard output; the exit
// status for main().
int AnswerInformation(InformationRequest request, const char* program, const char* usage);

// The station's options from a program's command line (program first): --audio-file WAV,
// --audio-loop and -f FILE, the configuration file resolved once, against the working
// directory. `messages` as they are.
VoxStationOptions StationOptionsFromArguments(QStringList arguments, IMessageBoxes* messages);
