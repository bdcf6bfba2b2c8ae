#pragma once

#include "serial/EComPort.h"
#include "widgets/TComSelect.h"

#include <QDialog>
#include <QList>

#include <array>
#include <functional>
#include <string>

class QGroupBox;
class QLabel;
class QPushButton;
class TComComboBox;
class TCustomComPort;

// Shows the serial settings dialog for the port and, when the user confirms, writes the
// choices to it inside one settings update, so an open port gets its new line settings in
// one step. Cancel writes nothing. Raises EComPort when the port list cannot be read
// (before anything is shown) and when the port refuses the choices; the line settings it
// had are then put back, and a choice the open port refuses on its own raises
// ERefusedSetting, which names the field (all after the dialog has
// been released).
void RunSettingsDialog(TCustomComPort& port, QWidget* parent = nullptr);
// The same with the port list from the given lister instead of the system's ports.
void RunSettingsDialog(TCustomComPort& port, const TPortLister& listPorts, QWidget* parent);

// A choice the open port refused, found by trying each one alone: what() names the field
// and the value on its first line and carries the port's own message after it.
class ERefusedSetting : public EComPort {
public:
    ERefusedSetting(const EComPort& refusal, const QString& field, const QString& value);
    const char* what() const noexcept override { return m_text.c_str(); }
    QString Field() const { return m_field; }

private:
    std::string m_text;
    QString m_field;
};

// Translation of the form's captions (text domain "cport"). It is handed the form and the
// controls whose texts are values, not words, and must stay as they are. While none is
// installed the captions show as written.
using TComSetupTranslator = std::function<void(QWidget* form, const QList<QWidget*>& untranslated)>;
void SetComSetupTranslator(TComSetupTranslator translator);

// The form: six bound lists (port, speed, data bits, stop bits, parity, flow control) and
// OK / Cancel.
class TComSetupFrm : public QDialog {
    Q_OBJECT

public:
    // Fills the lists; the port list from listPorts, or the system's ports without one.
    explicit TComSetupFrm(const TPortLister& listPorts = {}, QWidget* parent = nullptr);
    ~TComSetupFrm() override;

    // Combo1 (port) to Combo6 (flow control), in dialog order.
    const std::array<TComComboBox*, 6>& Combos() const { return m_combos; }
    TComComboBox* Combo(int row) const { return m_combos.at(row - 1); }
    QLabel* Label(int row) const { return m_labels.at(row - 1); }
    QPushButton* Button1() const { return m_button1; }
    QPushButton* Button2() const { return m_button2; }
    // Why OK is refused (the field and the reason), empty while the choices are possible.
    QString Problem() const;

    // Greys the entries that cannot go with the data bits shown and refuses OK, naming the
    // field, while the choices shown are impossible for a tty.
    void CheckCombination();

private:
    void FormCreate();

    QGroupBox* m_groupBox1 = nullptr;
    std::array<QLabel*, 6> m_labels {};
    std::array<TComComboBox*, 6> m_combos {};
    QLabel* m_problem = nullptr;
    QPushButton* m_button1 = nullptr;
    QPushButton* m_button2 = nullptr;
};
