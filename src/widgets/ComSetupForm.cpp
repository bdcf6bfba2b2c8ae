#include "widgets/ComSetupForm.h"

#include "serial/CustomComPort.h"
#include "widgets/TComComboBox.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <memory>

namespace {

TComSetupTranslator& translator()
{
    static TComSetupTranslator installed;
    return installed;
}

struct Row {
    const char* label;
    TComProperty property;
};
constexpr std::array<Row, 6> rows
    = { { { "Port", cpPort }, { "Baud rate", cpBaudRate }, { "Data bits", cpDataBits },
        { "Stop bits", cpStopBits }, { "Parity", cpParity }, { "Flow control", cpFlowControl } } };

}

void SetComSetupTranslator(TComSetupTranslator translatorToUse)
{
    translator() = std::move(translatorToUse);
}

TComSetupFrm::TComSetupFrm(const TPortLister& listPorts, QWidget* parent)
    : QDialog(parent)
    , m_groupBox1(new QGroupBox(QStringLiteral(" Settings "), this))
{
    setObjectName(QStringLiteral("ComSetupFrm"));
    setWindowTitle(QStringLiteral("Setup"));
    setModal(true);

    auto* grid = new QGridLayout(m_groupBox1);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(3);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString number = QString::number(i + 1);
        auto* label = new QLabel(QString::fromLatin1(rows[i].label), m_groupBox1);
        label->setObjectName(QStringLiteral("Label") + number);
        auto* combo = new TComComboBox(m_groupBox1);
        combo->setObjectName(QStringLiteral("Combo") + number);
        combo->setMinimumSize(129, 21);
        label->setBuddy(combo);
        grid->addWidget(label, int(i), 0);
        grid->addWidget(combo, int(i), 1);
        m_labels[i] = label;
        m_combos[i] = combo;
    }
    grid->setColumnMinimumWidth(0, 64);
    grid->setColumnStretch(1, 1);

    m_button1 = new QPushButton(QStringLiteral("OK"), this);
    m_button1->setObjectName(QStringLiteral("Button1"));
    m_button1->setDefault(true);
    m_button1->setMinimumSize(75, 25);
    connect(m_button1, &QPushButton::clicked, this, &QDialog::accept);
    m_button2 = new QPushButton(QStringLiteral("Cancel"), this);
    m_button2->setObjectName(QStringLiteral("Button2"));
    m_button2->setMinimumSize(75, 25);
    connect(m_button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(5);
    buttons->addStretch();
    buttons->addWidget(m_button1);
    buttons->addWidget(m_button2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 6, 7);
    layout->setSpacing(7);
    layout->addWidget(m_groupBox1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_groupBox1->setMinimumSize(217, 169);

    // The lists are filled last: the port list may raise, and everything above is owned by
    // the dialog by then.
    m_combos[0]->SetPortLister(listPorts);
    for (std::size_t i = 0; i < rows.size(); ++i)
        m_combos[i]->SetComProperty(rows[i].property);
    FormCreate();
}

TComSetupFrm::~TComSetupFrm() = default;

void TComSetupFrm::FormCreate()
{
    if (!translator())
        return;
    QList<QWidget*> values;
    for (TComComboBox* combo : m_combos)
        values << combo;
    translator()(this, values);
}

void RunSettingsDialog(TCustomComPort& port, QWidget* parent)
{
    RunSettingsDialog(port, TPortLister(), parent);
}

void RunSettingsDialog(TCustomComPort& port, const TPortLister& listPorts, QWidget* parent)
{
    // Released on every way out, before an exception reaches the caller.
    const auto form = std::make_unique<TComSetupFrm>(listPorts, parent);
    for (TComComboBox* combo : form->Combos())
        combo->SetComPort(&port);
    for (TComComboBox* combo : form->Combos())
        combo->ShowPortValue();

    const QPointer<TCustomComPort> alive(&port);
    if (form->exec() != QDialog::Accepted || !alive)
        return;

    port.BeginSettingsUpdate();
    try {
        for (TComComboBox* combo : form->Combos())
            combo->ApplyChoice();
    } catch (...) {
        // Close the update even so; the first failure is the one worth reporting.
        const std::exception_ptr failure = std::current_exception();
        try {
            port.EndSettingsUpdate();
        } catch (...) {
        }
        std::rethrow_exception(failure);
    }
    port.EndSettingsUpdate();
}
