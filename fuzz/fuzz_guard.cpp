// The program's messages to vokey-guard, one per packet (0xFF splits the input into packets:
// NUL belongs to the command line's message).
// Whatever the bytes, the guard reads a message or Unknown; what it reads, the program's
// functions write back in as many bytes or fewer; a packet moves only the part of the state it
// names; and what the program writes from any values reads back as those values.
#include "FuzzCheck.h"
#include "GuardState.h"

#include <algorithm>
#include <cstring>

using Kind = GuardMessage::Kind;
using namespace GuardProtocol;

// The program and the guard of one build always agree with each other: only these written-out
// bytes notice a message that changed on the wire.
static const bool WireAsItWas = [] {
    FUZZ_CHECK(rigMessage(GuardRig::A, "127.0.0.1", 4532) == "rig 1 127.0.0.1 4532");
    FUZZ_CHECK(rigMessage(GuardRig::B, "a b", 4533) == "rig 2");
    FUZZ_CHECK(serverMessage(GuardRig::B, 31337) == "server 2 31337");
    FUZZ_CHECK(serverMessage(GuardRig::A, 0) == "server 1");
    FUZZ_CHECK(keyedMessage(true) == "keyed 1" && keyedMessage(false) == "keyed 0");
    FUZZ_CHECK(portMessage() == "port" && noPortMessage() == "noport" && byeMessage() == "bye");
    FUZZ_CHECK(commandMessage(GuardRig::B, { "rigctld", "-m", "2" })
        == std::string_view("command 2\0rigctld\0-m\0"
                            "2",
            22));
    FUZZ_CHECK(commandMessage(GuardRig::A, { "rigctld", "" }) == "command 1");
    FUZZ_CHECK(aliveMessage() == "alive");
    FUZZ_CHECK(
        txMessage(GuardRig::B, true) == "tx 2 1" && txMessage(GuardRig::A, false) == "tx 1 0");
    return true;
}();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    GuardState state;
    for (std::size_t start = 0; start <= size;) {
        const std::size_t end = std::min(text.find('\xff', start), size);
        const std::string_view packet = text.substr(start, end - start);
        start = end + 1;
        const GuardMessage m = ParseGuardMessage(packet);
        FUZZ_CHECK(m.endpoint.configured() || m.endpoint == GuardEndpoint {});
        FUZZ_CHECK(m.pid == 0 || m.pid > 1);
        FUZZ_CHECK(m.kind != Kind::Unknown || m == GuardMessage {});
        if (m.kind != Kind::Unknown) {
            const std::string forms[] = { rigMessage(m.rig, m.endpoint.host, m.endpoint.port),
                keyedMessage(m.keyed), portMessage(), noPortMessage(), serverMessage(m.rig, m.pid),
                commandMessage(m.rig, m.command), byeMessage(), aliveMessage(),
                txMessage(m.rig, m.keyed) };
            static_assert(std::size(forms) == std::size_t(Kind::Unknown));
            const std::string& again = forms[int(m.kind)];
            FUZZ_CHECK(ParseGuardMessage(again) == m && again.size() <= packet.size());
            // One more word after a whole message makes it none (after a command line's last
            // argument it belongs to that argument).
            if ((m.kind != Kind::Server || m.pid != 0)
                && (m.kind != Kind::Command || m.command.empty()))
                FUZZ_CHECK(ParseGuardMessage(again + " 7") == GuardMessage {});
        }

        const GuardState before = state;
        state.apply(m);
        const std::size_t i = rigIndex(m.rig);
        FUZZ_CHECK(i < 2 && state.rigs[1 - i] == before.rigs[1 - i]
            && state.servers[1 - i] == before.servers[1 - i]
            && state.commands[1 - i] == before.commands[1 - i]
            && state.rigKeyed[1 - i] == before.rigKeyed[1 - i]);
        FUZZ_CHECK(state.rigKeyed[i] == (m.kind == Kind::Tx ? m.keyed : before.rigKeyed[i]));
        FUZZ_CHECK(state.commands[i] == (m.kind == Kind::Command ? m.command : before.commands[i]));
        FUZZ_CHECK(state.rigs[i] == (m.kind == Kind::Rig ? m.endpoint : before.rigs[i]));
        FUZZ_CHECK(state.servers[i] == (m.kind == Kind::Server ? m.pid : before.servers[i]));
        FUZZ_CHECK(state.keyed == (m.kind == Kind::Keyed ? m.keyed : before.keyed));
    }

    // Values taken from the input: the rig, the port, the process id, the rest as the host.
    const GuardRig rig = size > 0 && data[0] % 2 ? GuardRig::B : GuardRig::A;
    const std::uint16_t port = size > 2 ? std::uint16_t(data[1] << 8 | data[2]) : 0;
    long pid = 0;
    if (size > 0)
        std::memcpy(&pid, data, std::min(size, sizeof pid));
    const std::string host(text.substr(std::min<std::size_t>(size, 3)));
    const bool oneWord
        = !host.empty() && host.find_first_of(std::string_view(" \n\0", 3)) == host.npos;
    const GuardEndpoint endpoint
        = oneWord && port != 0 ? GuardEndpoint { host, port } : GuardEndpoint {};
    FUZZ_CHECK(ParseGuardMessage(rigMessage(rig, host, port))
        == (GuardMessage { Kind::Rig, rig, endpoint }));
    FUZZ_CHECK(ParseGuardMessage(serverMessage(rig, pid))
        == (GuardMessage { Kind::Server, rig, {}, false, pid > 1 ? pid : 0 }));
    return 0;
}
