#pragma once

#include "RigId.h"
#include "RigSettings.h"

#include <QString>

#include <functional>
#include <memory>

// Where the operator edits the rig settings: a window of the desktop program. The rig link
// itself draws nothing; the program hands it a factory for its settings window, and a
// program without a display hands it none.
class IRigSettingsView {
public:
    struct Events {
        // The view was shown or hidden.
        std::function<void()> visibilityChanged;
        // The operator closed it: true for OK.
        std::function<void(bool accepted)> finished;
        // The operator asked to key this rig briefly with the settings in force.
        std::function<void(RigId rig)> testPtt;
        // The operator applied the settings without closing: the owner applies settings()
        // as on OK, then shows the settings in force (setSettings).
        std::function<void()> applied;
    };

    virtual ~IRigSettingsView() = default;

    virtual void setEvents(Events events) = 0;
    virtual void setSettings(const RigSettings& settings) = 0;
    virtual RigSettings settings() const = 0;
    virtual bool isVisible() const = 0;
    // Shows it in front of the other windows.
    virtual void open() = 0;
    virtual void hide() = 0;
    // A settings change that could not be stored.
    virtual void showError(const QString& text) = 0;
    // Whether a PTT test of this rig can start now, and if not, why (shown to the operator).
    virtual void setTestAvailable(RigId rig, bool available, const QString& why) = 0;
    // What the PTT test of this rig saw so far, e.g. "transmit confirmed after 12 ms".
    virtual void showTestResult(RigId rig, const QString& text) = 0;
};

using RigSettingsViewFactory = std::function<std::unique_ptr<IRigSettingsView>()>;
