#pragma once

#include "rig/RigSettingsView.h"

#include <QDialog>
#include <array>

class QPushButton;
class QScrollArea;
class TRigModelReader;
class TRigPanel;

// The rig link's settings window: for each rig, none, a rigctld already running at
// host:port, or a rigctld this program starts for a radio chosen from Hamlib's list, and a
// PTT test of the settings in force. Non-modal; the owner applies the settings on OK and
// on Apply.
class TRigSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // models: where the radio list comes from; by default the program's shared reader.
    explicit TRigSettingsDialog(QWidget* parent = nullptr, TRigModelReader* models = nullptr);

    // The settings in force: shown, and what the PTT test needs the rows to equal.
    void setSettings(const RigSettings& settings);
    RigSettings settings() const;

    // Whether the owner can test a rig's PTT now, and if not, why.
    void setTestAvailable(RigId rig, bool available, const QString& why);
    void showTestResult(RigId rig, const QString& text);

signals:
    void visibilityChanged(bool visible);
    void testPtt(RigId rig);
    // The operator pressed Apply: the owner applies settings() and calls setSettings.
    void applied();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void fitContents();
    bool inForce(RigId rig) const;
    TRigPanel* panelOf(RigId rig) const { return m_panels[rigIndex(rig)]; }
    void updateButtons();

    std::array<TRigPanel*, 2> m_panels {};
    RigSettings m_inForce;
    std::array<bool, 2> m_testAvailable {};
    std::array<QString, 2> m_testWhy;
    QScrollArea* m_scroll = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_apply = nullptr;
};

// The rig link's settings window on the desktop: a TRigSettingsDialog of its own each time
// the link first shows its settings.
RigSettingsViewFactory RigSettingsDialogFactory();
