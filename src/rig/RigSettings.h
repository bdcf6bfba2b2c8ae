#pragma once

#include "RigTypes.h"

#include <QString>
#include <array>

// Where the two radios' servers are. Kept in the program's configuration file, sections
// RIG1 and RIG2, keys HOST and PORT. A rig set to "none" is stored with an empty HOST;
// a missing key means the default.
struct RigSettings {
    std::array<RigEndpoint, 2> rigs;

    static RigEndpoint defaultEndpoint(int rigNumber);
    static RigSettings defaults();
    friend bool operator==(const RigSettings&, const RigSettings&) = default;
};

// The host as the socket takes it: a name, an IPv4 address, or an IPv6 address bare
// ("::1") or bracketed the way it is written next to a port ("[::1]", which loses its
// brackets). Empty when the text cannot name a host ("[::1", "host:4532", "a b"), and for
// an empty text. The settings window accepts exactly the hosts this gives a name for.
QString RigSocketHost(const QString& host);

// Never fails: what cannot be read is taken from the defaults.
RigSettings ReadRigSettings(
    const QString& fileName, const RigSettings& defaults = RigSettings::defaults());
// Throws EIniWrite when the file cannot be written.
void WriteRigSettings(const QString& fileName, const RigSettings& settings);
