#pragma once
// The messages the program sends vokey-guard, one small text per packet. The program writes
// them and the guard reads them through this one file, so that the two cannot drift apart:
//   "rig N HOST PORT"  rig N (1 or 2) is reached through the rigctld at HOST:PORT
//   "rig N"            rig N has no rigctld
//   "keyed 1"          some road may be keyed (sent before the first road is keyed)
//   "keyed 0"          every road the program keyed has been released
//   "tx N 1"           rig N may be keyed by the program (sent before it is keyed)
//   "tx N 0"           rig N's release by the program was confirmed: not the program's to end
//   "port"             the serial port's descriptor comes with this message (SCM_RIGHTS)
//   "noport"           the port is about to be closed: the guard lets go of its copy
//   "server N PID"     rig N's rigctld is the program's child PID
//   "server N"         the program runs no rigctld for rig N
//   "command N" NUL PROGRAM NUL ARG ...
//                      how the program starts rig N's rigctld (each NUL-separated word is one
//                      argument): one that has ended is started again by the guard just to
//                      send the release, then ended
//   "command N"        the program does not start rig N's rigctld
//   "bye"              the program's final release is done; it ends normally
//   "alive"            the program's main thread runs (at least every AliveEveryMs while
//                      keyed); keyed and silent for WatchdogMs, it counts as hung
// and one the guard sends the program:
//   "released"         the program hung while keyed, and the guard released every road
// Plain C++ without Qt: the program includes the header alone; the guard links the reader.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

enum class GuardRig { A, B };

struct GuardEndpoint {
    std::string host;
    std::uint16_t port = 0;

    bool configured() const { return !host.empty() && port != 0; }
    friend bool operator==(const GuardEndpoint&, const GuardEndpoint&) = default;
};

struct GuardMessage {
    enum class Kind { Rig, Keyed, Port, NoPort, Server, Command, Bye, Alive, Tx, Unknown };
    Kind kind = Kind::Unknown;
    GuardRig rig = GuardRig::A; // Rig, Server, Command, Tx
    GuardEndpoint endpoint; // Rig: not configured for "rig N"
    bool keyed = false; // Keyed, Tx
    long pid = 0; // Server: 0 for none
    std::vector<std::string> command; // Command: the program and its arguments; empty for none
    friend bool operator==(const GuardMessage&, const GuardMessage&) = default;
};

// Unknown, with nothing else set, for anything that is not exactly one of the messages above,
// extra words included.
GuardMessage ParseGuardMessage(std::string_view text);

namespace GuardProtocol {

// Each message's first word.
inline constexpr std::string_view RigWord = "rig";
inline constexpr std::string_view KeyedWord = "keyed";
inline constexpr std::string_view TxWord = "tx";
inline constexpr std::string_view PortWord = "port";
inline constexpr std::string_view NoPortWord = "noport";
inline constexpr std::string_view ServerWord = "server";
inline constexpr std::string_view CommandWord = "command";
inline constexpr std::string_view ByeWord = "bye";
inline constexpr std::string_view AliveWord = "alive";
inline constexpr std::string_view ReleasedWord = "released";
// The longest message: a command line that does not fit is sent as none.
inline constexpr std::size_t MaxMessageSize = 4096;
// The program's heartbeat while keyed, and how long the guard waits for it.
inline constexpr int AliveEveryMs = 400;
inline constexpr int WatchdogMs = 2000;
// "keyed"'s second word.
inline constexpr std::string_view KeyedOn = "1";
inline constexpr std::string_view KeyedOff = "0";

// Words are separated by spaces; a line break counts as one, for a message typed by hand.
constexpr bool isSeparator(char c)
{
    return c == ' ' || c == '\n';
}

// The rig's position in the guard's arrays of two.
constexpr std::size_t rigIndex(GuardRig rig)
{
    return rig == GuardRig::A ? 0 : 1;
}
// The rig's number on the wire: rig A is "1", rig B is "2".
constexpr std::string_view rigNumber(GuardRig rig)
{
    return rig == GuardRig::A ? "1" : "2";
}

// The words joined by single spaces.
inline std::string joinWords(std::initializer_list<std::string_view> words)
{
    std::string text;
    for (const std::string_view word : words)
        text.append(text.empty() ? "" : " ").append(word);
    return text;
}

inline std::string rigMessage(GuardRig rig)
{
    return joinWords({ RigWord, rigNumber(rig) });
}

// A host that cannot travel as one word, or no port, is sent as no rigctld at all.
inline std::string rigMessage(GuardRig rig, std::string_view host, std::uint16_t port)
{
    bool oneWord = !host.empty();
    for (const char c : host)
        oneWord = oneWord && !isSeparator(c) && c != '\0';
    if (!oneWord || port == 0)
        return rigMessage(rig);
    return joinWords({ RigWord, rigNumber(rig), host, std::to_string(port) });
}

inline std::string keyedMessage(bool keyed)
{
    return joinWords({ KeyedWord, keyed ? KeyedOn : KeyedOff });
}
inline std::string txMessage(GuardRig rig, bool keyed)
{
    return joinWords({ TxWord, rigNumber(rig), keyed ? KeyedOn : KeyedOff });
}
inline std::string portMessage()
{
    return std::string(PortWord);
}
inline std::string noPortMessage()
{
    return std::string(NoPortWord);
}

// The guard ends the server it is told of; process ids 0 and 1 are never the program's child.
inline std::string serverMessage(GuardRig rig, long pid)
{
    if (pid <= 1)
        return joinWords({ ServerWord, rigNumber(rig) });
    return joinWords({ ServerWord, rigNumber(rig), std::to_string(pid) });
}

// A command line with an empty word or a NUL in one, or too long, is sent as none.
inline std::string commandMessage(GuardRig rig, const std::vector<std::string>& command)
{
    std::string text = joinWords({ CommandWord, rigNumber(rig) });
    const std::size_t bare = text.size();
    for (const std::string& word : command) {
        if (word.empty() || word.find('\0') != std::string::npos)
            return text.substr(0, bare);
        text.append(1, '\0').append(word);
    }
    return text.size() > MaxMessageSize ? text.substr(0, bare) : text;
}

inline std::string byeMessage()
{
    return std::string(ByeWord);
}
inline std::string aliveMessage()
{
    return std::string(AliveWord);
}
inline std::string releasedMessage()
{
    return std::string(ReleasedWord);
}

} // namespace GuardProtocol
