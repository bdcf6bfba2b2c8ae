#include "GuardState.h"

#include <charconv>
#include <vector>

namespace {

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\n'))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\n')
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

bool parsePort(std::string_view text, std::uint16_t* port)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return false;
    *port = std::uint16_t(value);
    return true;
}

// "rig A", "rig A and rig B", "rig A, rig B and the serial lines".
std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text;
}

} // namespace

GuardMessage ParseGuardMessage(std::string_view text)
{
    using Kind = GuardMessage::Kind;
    const std::vector<std::string_view> w = words(text);
    GuardMessage message;
    if (w.empty())
        return message;
    if (w[0] == "rig" && (w.size() == 2 || w.size() == 4) && (w[1] == "1" || w[1] == "2")) {
        message.rig = w[1] == "1" ? 0 : 1;
        if (w.size() == 4) {
            if (!parsePort(w[3], &message.endpoint.port))
                return message;
            message.endpoint.host = std::string(w[2]);
        }
        message.kind = Kind::Rig;
    } else if (w[0] == "keyed" && w.size() == 2 && (w[1] == "0" || w[1] == "1")) {
        message.kind = Kind::Keyed;
        message.keyed = w[1] == "1";
    } else if (w.size() == 1 && w[0] == "port") {
        message.kind = Kind::Port;
    } else if (w.size() == 1 && w[0] == "noport") {
        message.kind = Kind::NoPort;
    } else if (w[0] == "server" && (w.size() == 2 || w.size() == 3)
        && (w[1] == "1" || w[1] == "2")) {
        message.rig = w[1] == "1" ? 0 : 1;
        if (w.size() == 3) {
            const auto [end, error]
                = std::from_chars(w[2].data(), w[2].data() + w[2].size(), message.pid);
            if (error != std::errc() || end != w[2].data() + w[2].size() || message.pid <= 1)
                return message;
        }
        message.kind = Kind::Server;
    } else if (w.size() == 1 && w[0] == "bye") {
        message.kind = Kind::Bye;
    }
    return message;
}

void GuardState::apply(const GuardMessage& message)
{
    switch (message.kind) {
    case GuardMessage::Kind::Rig:
        rigs[message.rig] = message.endpoint;
        break;
    case GuardMessage::Kind::Keyed:
        keyed = message.keyed;
        break;
    case GuardMessage::Kind::Server:
        servers[message.rig] = message.pid;
        break;
    case GuardMessage::Kind::Bye:
        bye = true;
        break;
    default:
        break;
    }
}

std::string ReleaseReport(const ReleaseOutcome& outcome)
{
    static const char* const rigNames[] = { "rig A", "rig B" };
    std::vector<std::string> released;
    std::vector<std::string> failed;
    for (int i = 0; i < 2; ++i) {
        if (outcome.rigs[i] == RoadOutcome::Released)
            released.push_back(rigNames[i]);
        else if (outcome.rigs[i] == RoadOutcome::Failed)
            failed.push_back(std::string(rigNames[i]) + " (" + outcome.rigErrors[i] + ")");
    }
    if (outcome.serial == RoadOutcome::Released)
        released.push_back("the serial lines");
    else if (outcome.serial == RoadOutcome::Failed)
        failed.push_back("the serial lines (" + outcome.serialError + ")");

    std::string text = "vokey-guard: the program ended while keyed; ";
    if (released.empty() && failed.empty())
        return text + "it had no rig server and no serial port to release";
    if (!released.empty())
        text += "released " + joined(released);
    if (!failed.empty())
        text += (released.empty() ? "" : "; ") + std::string("could not release ") + joined(failed);
    return text;
}

int ReleaseExitStatus(const ReleaseOutcome& outcome)
{
    const bool failed = outcome.rigs[0] == RoadOutcome::Failed
        || outcome.rigs[1] == RoadOutcome::Failed || outcome.serial == RoadOutcome::Failed;
    return failed ? 2 : 1;
}
