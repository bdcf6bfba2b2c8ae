#include "widgets/ComSetupForm.h"

#include "serial/ComTextConversions.h"
#include "serial/CustomComPort.h"
#include "serial/EComPort.h"
#include "widgets/TComComboBox.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
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

ERefusedSetting::ERefusedSetting(
    const EComPort& refusal, const QString& field, const QString& value)
    : EComPort(refusal.ReasonCode(), refusal.SystemErrorCode())
    , m_text(QStringLiteral("%1 %2: refused by the port; its previous settings are kept.\n%3")
                 .arg(field, value, refusal.Message())
                 .toStdString())
    , m_field(field)
{
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
    // Says why OK is refused; hidden while the choices are possible.
    m_problem = new QLabel(m_groupBox1);
    m_problem->setObjectName(QStringLiteral("Problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();
    grid->addWidget(m_problem, int(rows.size()), 0, 1, 2);
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
    for (TComComboBox* combo : { Combo(3), Combo(4) })
        connect(combo, &TComComboBox::Change, this, &TComSetupFrm::CheckCombination);
    FormCreate();
    CheckCombination();
}

QString TComSetupFrm::Problem() const
{
    return m_problem->text();
}

void TComSetupFrm::CheckCombination()
{
    // A Linux tty makes one and a half stop bits only from five data bits (where it cannot
    // make two); anything else is refused by the driver. Entries that cannot go with the
    // data bits shown are greyed; a choice left impossible by a later pick is named and OK
    // refused, rather than handing the port settings it would refuse.
    const bool fiveBits = DataBitsFromText(Combo(3)->Value()) == dbFive;
    if (auto* model = qobject_cast<QStandardItemModel*>(Combo(4)->model())) {
        for (int i = 0; i < model->rowCount(); ++i) {
            const TStopBits stop = StopBitsFromText(Combo(4)->itemText(i));
            if (QStandardItem* item = model->item(i))
                item->setEnabled(stop == sbOne5StopBits ? fiveBits
                        : stop == sbTwoStopBits         ? !fiveBits
                                                        : true);
        }
    }
    const TStopBits stop = StopBitsFromText(Combo(4)->Value());
    QString problem;
    if (stop == sbOne5StopBits && !fiveBits)
        problem = QStringLiteral("Stop bits: 1.5 stop bits need 5 data bits.");
    else if (stop == sbTwoStopBits && fiveBits)
        problem = QStringLiteral("Stop bits: 2 stop bits cannot go with 5 data bits.");
    m_problem->setText(problem);
    m_problem->setHidden(problem.isEmpty());
    m_button1->setEnabled(problem.isEmpty());
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
    form->CheckCombination();

    const QPointer<TCustomComPort> alive(&port);
    if (form->exec() != QDialog::Accepted || !alive)
        return;

    // The line settings as they were: a refused choice must not stay in the port, or every
    // later opening would be refused the same way.
    const TBaudRate baudRate = port.BaudRate();
    const TDataBits dataBits = port.DataBits();
    const TStopBits stopBits = port.StopBits();
    TComParity parity;
    parity.Assign(port.Parity());
    TComFlowControl flowControl;
    flowControl.Assign(port.FlowControl());
    const auto restore = [&] {
        port.BeginSettingsUpdate();
        port.SetBaudRate(baudRate);
        port.SetDataBits(dataBits);
        port.SetStopBits(stopBits);
        port.SetParity(parity);
        port.SetFlowControl(flowControl);
        port.EndSettingsUpdate();
    };

    port.BeginSettingsUpdate();
    std::exception_ptr failure;
    try {
        for (TComComboBox* combo : form->Combos())
            combo->ApplyChoice();
    } catch (...) {
        failure = std::current_exception();
    }
    // Closed even after a failure; the first failure is the one worth reporting.
    try {
        port.EndSettingsUpdate();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (!failure)
        return;
    try {
        restore();
    } catch (...) {
        std::rethrow_exception(failure); // the device itself fails (unplugged): nothing to name
    }
    // The port takes its old settings but refused the new ones: which field it was is found
    // by trying each choice alone on the open device (the driver's speeds, say, cannot be
    // known without it).
    if (port.Connected()) {
        for (int row = 2; row <= 6; ++row) {
            try {
                port.BeginSettingsUpdate();
                form->Combo(row)->ApplyChoice();
                port.EndSettingsUpdate();
                restore();
            } catch (const EComPort& refusal) {
                try {
                    restore();
                } catch (...) {
                }
                throw ERefusedSetting(refusal, form->Label(row)->text(), form->Combo(row)->Text());
            }
        }
    }
    std::rethrow_exception(failure);
}
