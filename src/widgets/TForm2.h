#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

// Which device list the dialog offers: capture devices or playback devices.
enum class TSO2RMode { ddIn = 0, ddOut = 1 };

// Modal dialog that lets the user pick a sound device. Entry 0 is "Default" (device -1),
// entry i + 1 is device i. The device names come from the caller, so this library never
// links the audio engine: the window hands in the capture engine's device names.
class TForm2 : public QDialog {
    Q_OBJECT

public:
    // Name of device n (n >= 0) in the given mode, or nothing when no such device exists.
    // The list ends at the first device without a name.
    using DeviceNameSource = std::function<std::optional<QString>(TSO2RMode mode, int n)>;

    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    TSO2RMode SO2RMode() const { return m_mode; }
    void setSO2RMode(TSO2RMode mode) { m_mode = mode; }
    int Device() const { return m_device; }
    void setDevice(int device) { m_device = device; }
    QString DeviceName() const { return m_deviceName; }

    void setDeviceNameSource(DeviceNameSource source);
    // Convenience for callers that already hold the lists: one list per mode.
    void setDeviceNames(const QStringList& inputs, const QStringList& outputs);

    // "Default" for -1; otherwise the source's name of device n. False (and an empty
    // name) when the device does not exist.
    bool GetDeviceName(int n, QString& name) const;

    // Fills the label and the list from the current Device and SO2RMode. Call once,
    // after setting both and before showing the dialog.
    void SetList();

    QLabel* Label4() const { return m_label4; }
    QComboBox* ComboBox4() const { return m_comboBox4; }
    QPushButton* Button1() const { return m_button1; }

private slots:
    void Button1Click();

private:
    TSO2RMode m_mode = TSO2RMode::ddIn;
    int m_device = -1;
    QString m_deviceName;
    DeviceNameSource m_source;
    QLabel* m_label4 = nullptr;
    QComboBox* m_comboBox4 = nullptr;
    QPushButton* m_button1 = nullptr;
};
