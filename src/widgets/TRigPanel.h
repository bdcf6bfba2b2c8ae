#pragma once

#include "rig/RigId.h"
#include "rig/RigSettings.h"

#include <QGroupBox>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class TRigModelReader;

// One rig of the rig settings window: none, a rigctld already running at host:port, or a
// rigctld this program starts for a radio (model, serial device, speed, PTT method), with
// the rig's PTT test. The children are named "Rig<n>..." after the rig's number.
class TRigPanel : public QGroupBox {
    Q_OBJECT
public:
    enum class Kind { None, Running, Start };

    TRigPanel(RigId rig, TRigModelReader* models, QWidget* parent = nullptr);

    void setRig(const RigEndpoint& endpoint, const RigServerOptions& server);
    RigEndpoint endpoint() const;
    RigServerOptions server() const;
    Kind kind() const;
    // Why the choices cannot be used as they are (empty when they can).
    QString problem() const;

    void setTestState(bool enabled, const QString& why);
    void showTestResult(const QString& text);

    // PTT methods that key through a line of their own, named by the PTT device.
    static bool UsesPttDevice(const QString& ptt);

signals:
    void changed();
    void kindChanged();
    void testPtt();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scrollToChosen();
    void fillModels();
    void fillPorts();
    void applyFilter();
    void chooseModel(int number);
    void updateFields();
    int speed(bool* ok) const;

    RigId m_rig;
    QString m_name; // "Rig A"
    TRigModelReader* m_models;
    int m_model = 0; // the chosen radio; 0: none yet
    bool m_syncing = false;

    QFormLayout* m_form = nullptr;
    QComboBox* m_kind = nullptr;
    QLineEdit* m_host = nullptr;
    QSpinBox* m_port = nullptr;
    QLineEdit* m_filter = nullptr;
    QTreeWidget* m_list = nullptr;
    QLabel* m_radio = nullptr;
    QComboBox* m_device = nullptr;
    QComboBox* m_speed = nullptr;
    QComboBox* m_ptt = nullptr;
    QComboBox* m_pttDevice = nullptr;
    QList<QWidget*> m_serverFields;
    QPushButton* m_test = nullptr;
    QLabel* m_testResult = nullptr;
};
