#include "GuardState.h"

#include <vector>

namespace {

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

void GuardState::apply(const GuardMessage& message)
{
    switch (message.kind) {
    case GuardMessage::Kind::Rig:
        rigs[GuardProtocol::rigIndex(message.rig)] = message.endpoint;
        break;
    case GuardMessage::Kind::Keyed:
        keyed = message.keyed;
        break;
    case GuardMessage::Kind::Server:
        servers[GuardProtocol::rigIndex(message.rig)] = message.pid;
        break;
    case GuardMessage::Kind::Command:
        commands[GuardProtocol::rigIndex(message.rig)] = message.command;
        break;
    case GuardMessage::Kind::Tx:
        rigKeyed[GuardProtocol::rigIndex(message.rig)] = message.keyed;
        break;
    case GuardMessage::Kind::Bye:
        bye = true;
        break;
    default:
        break;
    }
}

std::string ReleaseReport(const ReleaseOutcome& outcome, std::string_view why)
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

    std::string text = "vokey-guard: " + std::string(why) + "; ";
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
