#pragma once

#include "RigId.h"
#include "RigTypes.h"

#include <QString>
#include <QStringList>
#include <array>

// A rigctld this program runs for a radio itself: rigctld -m model -r device -s speed
// -P ptt -p pttDevice, listening on 127.0.0.1 at the rig's port. Model 0: none; the link
// uses a rigctld already running at the rig's host and port.
struct RigServerOptions {
    int model = 0; // Hamlib model number
    QString device; // serial device or network address of the radio
    int speed = 0; // serial speed; 0: the backend's default
    QString ptt; // one of PttMethods; empty: RIG (by CAT)
    QString pttDevice; // the port, hidraw device or GPIO pin of a separate PTT line

    bool isManaged() const { return model > 0; }
    friend bool operator==(const RigServerOptions&, const RigServerOptions&) = default;

    // rigctld's -P values, the first is its default.
    static const QStringList& PttMethods();
};

// Where the two radios' servers are. Kept in the program's configuration file, sections
// RIG1 and RIG2, keys HOST and PORT, and for a rigctld this program runs MODEL, DEVICE,
// SPEED, PTT and PTTDEVICE (written only for such a rig). A rig set to "none" is stored
// with an empty HOST; a missing key means the default.
struct RigSettings {
    std::array<RigEndpoint, 2> rigs;
    std::array<RigServerOptions, 2> servers {};

    RigEndpoint& rig(RigId id) { return rigs[rigIndex(id)]; }
    const RigEndpoint& rig(RigId id) const { return rigs[rigIndex(id)]; }
    RigServerOptions& server(RigId id) { return servers[rigIndex(id)]; }
    const RigServerOptions& server(RigId id) const { return servers[rigIndex(id)]; }

    static RigEndpoint defaultEndpoint(RigId id);
    static RigSettings defaults();
    friend bool operator==(const RigSettings&, const RigSettings&) = default;
};

// The host as the socket takes it: a name, an IPv4 address, or an IPv6 address bare
// ("::1") or bracketed the way it is written next to a port ("[::1]", which loses its
// brackets). Empty when the text cannot name a host ("[::1", "host:4532", "a b"), and for
// an empty text. The settings window accepts exactly the hosts this gives a name for.
QString RigSocketHost(const QString& host);

// Never fails: what cannot be read is taken from the defaults, and each value that cannot be
// used is added to `problems` with the line it came from.
RigSettings ReadRigSettings(const QString& fileName,
    const RigSettings& defaults = RigSettings::defaults(), QStringList* problems = nullptr);
// A MODEL rigctld does not know (it says so when started with it), with the line it came from.
QString UnknownModelProblem(const QString& fileName, RigId id, int model);
// Throws EIniWrite when the file cannot be written.
void WriteRigSettings(const QString& fileName, const RigSettings& settings);
