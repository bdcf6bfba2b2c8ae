#pragma once
// What vokey-guard knows about the program it watches, from the messages it sent
// (GuardProtocol.h), and what it decides from it. Everything here is free of system calls so
// that it can be checked on its own.

#include "GuardProtocol.h"

#include <array>
#include <string>
#include <vector>

struct GuardState {
    std::array<GuardEndpoint, 2> rigs;
    // The rigctld processes the program runs: ended by the guard after its release, since
    // nobody else would end them.
    std::array<long, 2> servers {};
    // How the program starts them: for a release after they have ended as well.
    std::array<std::vector<std::string>, 2> commands;
    bool keyed = false;
    // The rigs the program may have keyed: the only ones the guard releases (another
    // program's transmission through the same server is not the guard's to end).
    std::array<bool, 2> rigKeyed {};
    bool bye = false;

    void apply(const GuardMessage& message);
    // The program is gone (or said goodbye): whatever it may have left keyed is released.
    // A program that ended while nothing was keyed leaves the radio to whoever uses it.
    bool mustRelease() const { return keyed; }
    friend bool operator==(const GuardState&, const GuardState&) = default;
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
// `why` the guard released: the program ended, or hung, while keyed.
std::string ReleaseReport(
    const ReleaseOutcome& outcome, std::string_view why = "the program ended while keyed");
// The exit status after a release: 1 when every road was released, 2 when one was not.
int ReleaseExitStatus(const ReleaseOutcome& outcome);
