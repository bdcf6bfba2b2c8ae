#pragma once
// What vokey-guard knows about the program it watches, and what it decides from it. The
// program sends one small text message per packet:
//   "rig N HOST PORT"  rig N (1 or 2) is reached through the rigctld at HOST:PORT
//   "rig N"            rig N has no rigctld
//   "keyed 1"          some road may be keyed (sent before the first road is keyed)
//   "keyed 0"          every road the program keyed has been released
//   "port"             the serial port's descriptor comes with this message (SCM_RIGHTS)
//   "noport"           the port is about to be closed: the guard lets go of its copy
//   "server N PID"     rig N's rigctld is the program's child PID
//   "server N"         the program runs no rigctld for rig N
//   "bye"              the program's final release is done; it ends normally
// Everything here is free of system calls so that it can be checked on its own.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct GuardEndpoint {
    std::string host;
    std::uint16_t port = 0;

    bool configured() const { return !host.empty() && port != 0; }
    friend bool operator==(const GuardEndpoint&, const GuardEndpoint&) = default;
};

struct GuardMessage {
    enum class Kind { Rig, Keyed, Port, NoPort, Server, Bye, Unknown };
    Kind kind = Kind::Unknown;
    int rig = 0; // Rig: 0 or 1
    GuardEndpoint endpoint; // Rig
    bool keyed = false; // Keyed
    long pid = 0; // Server: 0 for none
};

GuardMessage ParseGuardMessage(std::string_view text);

struct GuardState {
    std::array<GuardEndpoint, 2> rigs;
    // The rigctld processes the program runs: ended by the guard after its release, since
    // nobody else would end them.
    std::array<long, 2> servers {};
    bool keyed = false;
    bool bye = false;

    void apply(const GuardMessage& message);
    // The program is gone (or said goodbye): whatever it may have left keyed is released.
    // A program that ended while nothing was keyed leaves the radio to whoever uses it.
    bool mustRelease() const { return keyed; }
};

// How one road's release went.
enum class RoadOutcome { Absent, Released, Failed };

struct ReleaseOutcome {
    std::array<RoadOutcome, 2> rigs { RoadOutcome::Absent, RoadOutcome::Absent };
    std::array<std::string, 2> rigErrors; // for Failed: what went wrong
    RoadOutcome serial = RoadOutcome::Absent;
    std::string serialError;
};

// The line vokey-guard writes on standard error after a release, without the newline.
std::string ReleaseReport(const ReleaseOutcome& outcome);
// The exit status after a release: 1 when every road was released, 2 when one was not.
int ReleaseExitStatus(const ReleaseOutcome& outcome);
