#pragma once
// The system calls of vokey-guard (GuardSystem_posix.cpp).

#include "GuardState.h"

#include <string>

// The descriptor the program hands its end of the socket pair on.
constexpr int GuardSocketFd = 3;

// A session of its own (no terminal's Ctrl-C, Ctrl-\ or Ctrl-Z reaches it), the signals a
// terminal, a service manager or a closed pipe sends ignored, no descriptor but the standard
// ones and the program's socket, and no hold on the working directory.
void DetachGuard();

// Whether `fd` is an AF_UNIX sequenced-packet socket, as the program hands over.
bool IsProgramSocket(int fd);

struct ReceivedMessage {
    bool ended = false; // end of file or an error: the program is gone
    bool timedOut = false; // nothing came within the time given
    std::string text;
    int fd = -1; // a descriptor that came with the message, owned by the caller
    std::string error; // when ended by an error
};

// Waits for the next message from the program, at most `timeoutMs` (-1: no limit).
ReceivedMessage ReceiveMessage(int socket, int timeoutMs = -1);
// Tells the program something, without waiting; false when it cannot take it now.
bool SendMessage(int socket, const std::string& text);

void CloseDescriptor(int fd);

// DTR and RTS of the serial port down, each on its own.
RoadOutcome DropSerialLines(int fd, std::string* error);

// For each configured rig, at the same time: a fresh connection to its rigctld and
// "+\set_ptt 0", waiting for the answer. A refused connection is tried again for a few
// seconds (rigctld may be restarting); for a rig with a command (how the program starts its
// rigctld) that rigctld is started for the release and ended afterwards.
void ReleaseRigs(const std::array<GuardEndpoint, 2>& rigs,
    const std::array<std::vector<std::string>, 2>& commands, ReleaseOutcome* outcome);

// SIGTERM to each rigctld the program ran (pid 0: none).
void EndServers(const std::array<long, 2>& servers);
