#include "widgets/RigSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHideEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
const QString KindRigctld = QStringLiteral("rigctld");
const QString KindNone = QStringLiteral("none");

class DialogView : public IRigSettingsView {
public:
    void setEvents(Events events) override
    {
        m_dialog.disconnect();
        if (events.visibilityChanged)
            QObject::connect(&m_dialog, &TRigSettingsDialog::visibilityChanged, &m_dialog,
                [changed = events.visibilityChanged] { changed(); });
        if (events.finished)
            QObject::connect(
                &m_dialog, &QDialog::finished, &m_dialog, [finished = events.finished](int result) {
                    finished(result == QDialog::Accepted);
                });
    }
    void setSettings(const RigSettings& settings) override { m_dialog.setSettings(settings); }
    RigSettings settings() const override { return m_dialog.settings(); }
    bool isVisible() const override { return m_dialog.isVisible(); }
    void open() override
    {
        m_dialog.show();
        m_dialog.raise();
        m_dialog.activateWindow();
    }
    void hide() override { m_dialog.hide(); }
    void showError(const QString& text) override
    {
        QMessageBox::warning(nullptr, m_dialog.windowTitle(), text);
    }
    void setTestAvailable(int, bool, const QString&) override { }
    void showTestResult(int, const QString&) override { }

private:
    TRigSettingsDialog m_dialog;
};

} // namespace

RigSettingsViewFactory RigSettingsDialogFactory()
{
    return [] { return std::make_unique<DialogView>(); };
}

TRigSettingsDialog::TRigSettingsDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Rig control settings"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    for (int i = 0; i < 2; ++i) {
        const QString name = QStringLiteral("Rig%1").arg(i + 1);
        auto* box = new QGroupBox(name, this);
        auto* form = new QFormLayout(box);
        RigRow& row = m_rows[i];
        row.kind = new QComboBox(box);
        row.kind->addItems({ KindRigctld, KindNone });
        row.kind->setObjectName(name + QStringLiteral("Kind"));
        row.host = new QLineEdit(box);
        row.host->setObjectName(name + QStringLiteral("Host"));
        row.port = new QSpinBox(box);
        row.port->setRange(1, 65535);
        row.port->setObjectName(name + QStringLiteral("Port"));
        form->addRow(QStringLiteral("Server"), row.kind);
        form->addRow(QStringLiteral("Host"), row.host);
        form->addRow(QStringLiteral("Port"), row.port);
        layout->addWidget(box);
        connect(row.kind, &QComboBox::currentIndexChanged, this, [this, i] { updateEnabled(i); });
        connect(row.host, &QLineEdit::textChanged, this, [this, i] { updateEnabled(i); });
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setSettings(RigSettings::defaults());
}

void TRigSettingsDialog::setSettings(const RigSettings& settings)
{
    for (int i = 0; i < 2; ++i) {
        const RigEndpoint& rig = settings.rigs[i];
        const RigEndpoint fallback = RigSettings::defaultEndpoint(i + 1);
        RigRow& row = m_rows[i];
        row.kind->setCurrentText(rig.isConfigured() ? KindRigctld : KindNone);
        // A rig set to none still offers the usual place as a starting point.
        row.host->setText(rig.isConfigured() ? rig.host : fallback.host);
        row.port->setValue(rig.isConfigured() ? rig.port : fallback.port);
        updateEnabled(i);
    }
}

RigSettings TRigSettingsDialog::settings() const
{
    RigSettings settings;
    for (int i = 0; i < 2; ++i) {
        const RigRow& row = m_rows[i];
        const QString host = row.host->text().trimmed();
        if (row.kind->currentText() == KindRigctld && !host.isEmpty())
            settings.rigs[i] = RigEndpoint { host, quint16(row.port->value()) };
        else
            settings.rigs[i] = RigEndpoint {};
    }
    return settings;
}

void TRigSettingsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        emit visibilityChanged(true);
}

void TRigSettingsDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        emit visibilityChanged(false);
}

void TRigSettingsDialog::updateEnabled(int index)
{
    const bool rigctld = m_rows[index].kind->currentText() == KindRigctld;
    m_rows[index].host->setEnabled(rigctld);
    m_rows[index].port->setEnabled(rigctld);
    // OK only with hosts the link can reach: what it cannot use would be "Host not found"
    // for ever. The host field says why.
    bool usable = true;
    for (const RigRow& row : m_rows) {
        if (!row.kind)
            continue;
        const bool bad
            = row.kind->currentText() == KindRigctld && RigSocketHost(row.host->text()).isEmpty();
        row.host->setToolTip(bad
                ? QStringLiteral("Not a host name or address (write an IPv6 address as [::1])")
                : QString());
        usable = usable && !bad;
    }
    if (m_ok)
        m_ok->setEnabled(usable);
}
