#pragma once

// Binds one list of texts to one setting of a serial port: fills the list, shows the
// port's current value and writes the chosen value back.

#include "serial/ComTypes.h"
#include "serial/CustomComPort.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class QComboBox;

enum TComProperty : std::uint8_t {
    cpNone,
    cpPort,
    cpBaudRate,
    cpDataBits,
    cpStopBits,
    cpParity,
    cpFlowControl
};

// The value chosen for each setting, kept until it is applied.
struct TComChoice {
    QString port;
    TBaudRate baudRate = TBaudRate(0);
    TDataBits dataBits = TDataBits(0);
    TStopBits stopBits = TStopBits(0);
    TParityBits parity = TParityBits(0);
    TFlowControl flowControl = TFlowControl(0);
};

// Fills a list with the names of the serial ports present (ListPortNames by default).
using TPortLister = std::function<void(QStringList& names)>;

class TComSelect {
public:
    // items is the list this object fills and reads; it belongs to the caller.
    explicit TComSelect(QComboBox& items);

    TComProperty ComProperty() const { return m_property; }
    TCustomComPort* ComPort() const { return m_port; }
    void SetComPort(TCustomComPort* port) { m_port = port; }
    bool AutoApply() const { return m_autoApply; }
    void SetAutoApply(bool value) { m_autoApply = value; }
    const TComChoice& Choice() const { return m_choice; }
    void SetPortLister(TPortLister lister) { m_listPorts = std::move(lister); }

    // Binds the property and replaces the list with its texts (the ports present for
    // cpPort, which raises EComPort code 23 when they cannot be listed).
    void FillList(TComProperty property);
    // Remembers the value of a picked text; applies it at once with AutoApply.
    void RememberChoice(const QString& text);
    // Writes the remembered value to the port; nothing without a port.
    void ApplyChoice();
    // The item showing the port's current value (letter case ignored), -1 when none is.
    // A found item becomes the remembered choice. A port name that is not listed is added
    // below "(none)" and shown.
    int ShowPortValue();
    // The value an item stands for: its text, or for cpPort the name it stores.
    QString ValueAt(int index) const;

    // The first entry of the Port list: no serial port (an empty name).
    static const QString NoPortText;

private:
    void StoreChoice(const QString& text);
    int ShowPort(const QString& current);

    QComboBox& m_items;
    TComProperty m_property = cpNone;
    QPointer<TCustomComPort> m_port;
    TComChoice m_choice;
    bool m_autoApply = false;
    TPortLister m_listPorts;
};
