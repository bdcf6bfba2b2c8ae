#pragma once

#include "widgets/TComSelect.h"

#include <QComboBox>

#include <memory>

// A drop-down list (no free typing) bound to one setting of a serial port. A pick is
// remembered and written to the port by ApplyChoice, or at once with AutoApply.
class TComComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit TComComboBox(QWidget* parent = nullptr);
    ~TComComboBox() override;

    TCustomComPort* ComPort() const { return m_select->ComPort(); }
    // Binds the port and shows its value; the box forgets the port when it is destroyed.
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return m_select->ComProperty(); }
    // Fills the list for the property and shows the port's value (item 0 without a port).
    void SetComProperty(TComProperty property);
    bool AutoApply() const { return m_select->AutoApply(); }
    void SetAutoApply(bool value) { m_select->SetAutoApply(value); }
    // The selected item's text, empty with no selection.
    QString Text() const;
    // What the selected item stands for: its text, or for the Port list the name it stores
    // (empty for "(none)").
    QString Value() const;
    // Selects the item with this text (the list's lookup); nothing when it is absent.
    void SetText(const QString& text);

    // Where the cpPort list comes from; set before SetComProperty.
    void SetPortLister(TPortLister lister) { m_select->SetPortLister(std::move(lister)); }

    void ApplyChoice() { m_select->ApplyChoice(); }
    void ShowPortValue();

    const TComSelect& Select() const { return *m_select; }

signals:
    // After a pick by the user has been remembered.
    void Change();

private:
    void UserPicked(int index);
    void PortDestroyed();

    std::unique_ptr<TComSelect> m_select;
    QMetaObject::Connection m_portWatch;
};
