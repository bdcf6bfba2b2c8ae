// vokey-guard: started by the VOKEY station before anything can key, tied to it by a socket
// pair on descriptor 3. The station tells it the rig servers, whether a road may be keyed and
// the serial port's descriptor. When the station ends without releasing (SIGKILL, a crash,
// an exit(1) from a lost display), the socket reaches end of file while the last state was
// keyed: the guard drops DTR and RTS and sends each rigctld a release on a fresh connection,
// since rigctld keeps the PTT of a client that died.
#include "GuardState.h"
#include "GuardSystem.h"

#include <cstdio>
#include <cstring>

namespace {

// Every road the program may have keyed: the serial lines, then the radios.
ReleaseOutcome releaseAll(const GuardState& state, int serial)
{
    ReleaseOutcome outcome;
    if (serial >= 0)
        outcome.serial = DropSerialLines(serial, &outcome.serialError);
    std::array<GuardEndpoint, 2> keyed;
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        if (state.rigKeyed[i])
            keyed[i] = state.rigs[i];
    }
    ReleaseRigs(keyed, state.commands, &outcome);
    return outcome;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 || !IsProgramSocket(GuardSocketFd)) {
        std::fprintf(stderr,
            "%s: started by vokey and vokey-station, which hand it their socket on "
            "descriptor %d; it is not run by hand\n",
            argc > 0 ? argv[0] : "vokey-guard", GuardSocketFd);
        return argc > 1 && (std::strcmp(argv[1], "--help") == 0) ? 0 : 64;
    }
    DetachGuard();

    GuardState state;
    int serial = -1;
    for (;;) {
        // Keyed, the program's main thread says it runs; a program stopped or stuck (SIGSTOP,
        // a debugger, a stalled disk) would otherwise keep the radio keyed for as long.
        ReceivedMessage received
            = ReceiveMessage(GuardSocketFd, state.keyed ? GuardProtocol::WatchdogMs : -1);
        if (received.timedOut) {
            const ReleaseOutcome outcome = releaseAll(state, serial);
            std::fprintf(stderr, "%s\n",
                ReleaseReport(outcome, "the program did not answer for 2 s while keyed").c_str());
            // Told at once; the program reads it when it runs again.
            SendMessage(GuardSocketFd, GuardProtocol::releasedMessage());
            state.keyed = false;
            continue;
        }
        if (received.ended)
            break;
        const GuardMessage message = ParseGuardMessage(received.text);
        if (message.kind == GuardMessage::Kind::Port && received.fd >= 0) {
            CloseDescriptor(serial);
            serial = received.fd;
            received.fd = -1;
        } else if (message.kind == GuardMessage::Kind::NoPort) {
            // The program closes its own right after: the device must really close.
            CloseDescriptor(serial);
            serial = -1;
        }
        CloseDescriptor(received.fd);
        state.apply(message);
        if (state.bye)
            break;
    }

    // The program's rigctld processes outlive it: once the radios are released they are
    // ended, so that the next start finds their ports free. After "bye" the program has
    // ended them itself.
    if (!state.mustRelease()) {
        if (!state.bye)
            EndServers(state.servers);
        return 0;
    }
    const ReleaseOutcome outcome = releaseAll(state, serial);
    CloseDescriptor(serial);
    EndServers(state.servers);
    std::fprintf(stderr, "%s\n", ReleaseReport(outcome).c_str());
    return ReleaseExitStatus(outcome);
}
