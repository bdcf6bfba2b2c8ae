#pragma once

#include "MessageBoxes.h"

#include "rig/RigSettingsView.h"
#include "rig/RigTypes.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TOmniRigX;

// How often a lost capture device or serial port is tried again while the engine runs.
inline constexpr int DeviceRetryMs = 2000;

// What the station is started with.
struct VoxStationOptions {
    // The configuration file; empty: VOKEY.INI in the working directory.
    QString configFile;
    // Capture from this WAV file instead of the sound card, played once or over and over.
    QString audioFile;
    bool audioLoop = false;
    // The message boxes; required, owned by the caller.
    IMessageBoxes* messages = nullptr;
    // Time limits of the rig link; tests shorten them. Unset: the link's own.
    std::optional<RigTimings> rigTimings;
    // Makes the rig-control client in place of the rigctld one (a substitute server).
    std::function<std::unique_ptr<TOmniRigX>()> makeOmniRig;
    // The rig link's settings window; none without a display.
    RigSettingsViewFactory rigSettingsView;
};
