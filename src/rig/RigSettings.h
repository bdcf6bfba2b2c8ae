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

// Never fails: what cannot be read is taken from the defaults.
RigSettings ReadRigSettings(
    const QString& fileName, const RigSettings& defaults = RigSettings::defaults());
// Throws EIniWrite when the file cannot be written.
void WriteRigSettings(const QString& fileName, const RigSettings& settings);
