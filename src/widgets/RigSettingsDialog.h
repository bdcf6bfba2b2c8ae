#pragma once

#include "rig/RigSettingsView.h"

#include <QDialog>
#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The rig-control server's own settings window: for each rig, "rigctld" at host:port or
// "none". Non-modal; the owner applies the settings when the user presses OK.
class TRigSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TRigSettingsDialog(QWidget* parent = nullptr);

    void setSettings(const RigSettings& settings);
    RigSettings settings() const;

signals:
    void visibilityChanged(bool visible);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct RigRow {
        QComboBox* kind = nullptr;
        QLineEdit* host = nullptr;
        QSpinBox* port = nullptr;
    };

    void updateEnabled(int index);

    std::array<RigRow, 2> m_rows;
    QPushButton* m_ok = nullptr;
};

// The rig link's settings window on the desktop: a TRigSettingsDialog of its own each time
// the link first shows its settings.
RigSettingsViewFactory RigSettingsDialogFactory();
