#include "GuardProtocol.h"

#include <charconv>
#include <limits>
#include <vector>

using namespace GuardProtocol;

namespace {

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !isSeparator(text[i]))
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

// The rig the second word names, if it names one.
bool parseRig(const std::vector<std::string_view>& w, GuardRig* rig)
{
    for (const GuardRig candidate : { GuardRig::A, GuardRig::B }) {
        if (w.size() >= 2 && w[1] == rigNumber(candidate)) {
            *rig = candidate;
            return true;
        }
    }
    return false;
}

// The whole word, as a number in [min, max].
template <typename T> bool parseNumber(std::string_view word, T min, T max, T* number)
{
    T value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value < min || value > max)
        return false;
    *number = value;
    return true;
}

// The NUL-separated words after the first NUL; false when one is empty.
bool parseCommand(std::string_view tail, std::vector<std::string>* command)
{
    for (;;) {
        const std::size_t end = tail.find('\0');
        const std::string_view word = tail.substr(0, end);
        if (word.empty())
            return false;
        command->emplace_back(word);
        if (end == std::string_view::npos)
            return true;
        tail.remove_prefix(end + 1);
    }
}

} // namespace

GuardMessage ParseGuardMessage(std::string_view text)
{
    using Kind = GuardMessage::Kind;
    // Only a command line carries NULs: its words come after the first.
    const std::size_t nul = text.find('\0');
    const std::vector<std::string_view> w = words(text.substr(0, nul));
    GuardMessage message;
    if (w.empty())
        return message;
    GuardRig rig = GuardRig::A;
    const bool named = parseRig(w, &rig);
    if (w[0] == CommandWord) {
        if (w.size() != 2 || !named || text.size() > MaxMessageSize
            || (nul != std::string_view::npos
                && !parseCommand(text.substr(nul + 1), &message.command)))
            return {};
        message.rig = rig;
        message.kind = Kind::Command;
    } else if (nul != std::string_view::npos) {
        return message;
    } else if (w[0] == RigWord && (w.size() == 2 || w.size() == 4) && named) {
        message.rig = rig;
        if (w.size() == 4) {
            if (!parseNumber<std::uint16_t>(w[3], 1, 65535, &message.endpoint.port))
                return {};
            message.endpoint.host = std::string(w[2]);
        }
        message.kind = Kind::Rig;
    } else if (w[0] == KeyedWord && w.size() == 2 && (w[1] == KeyedOn || w[1] == KeyedOff)) {
        message.kind = Kind::Keyed;
        message.keyed = w[1] == KeyedOn;
    } else if (w[0] == TxWord && w.size() == 3 && named && (w[2] == KeyedOn || w[2] == KeyedOff)) {
        message.kind = Kind::Tx;
        message.rig = rig;
        message.keyed = w[2] == KeyedOn;
    } else if (w.size() == 1 && w[0] == PortWord) {
        message.kind = Kind::Port;
    } else if (w.size() == 1 && w[0] == NoPortWord) {
        message.kind = Kind::NoPort;
    } else if (w[0] == ServerWord && (w.size() == 2 || w.size() == 3) && named) {
        message.rig = rig;
        // 0 and below name process groups, 1 is init: never a server to end.
        if (w.size() == 3 && !parseNumber(w[2], 2L, std::numeric_limits<long>::max(), &message.pid))
            return {};
        message.kind = Kind::Server;
    } else if (w.size() == 1 && w[0] == ByeWord) {
        message.kind = Kind::Bye;
    } else if (w.size() == 1 && w[0] == AliveWord) {
        message.kind = Kind::Alive;
    }
    return message;
}
