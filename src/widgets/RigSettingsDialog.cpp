#include "widgets/RigSettingsDialog.h"
#include "widgets/TRigPanel.h"

#include "rig/RigModelList.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {
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
        if (events.testPtt)
            QObject::connect(&m_dialog, &TRigSettingsDialog::testPtt, &m_dialog, events.testPtt);
        if (events.applied)
            QObject::connect(&m_dialog, &TRigSettingsDialog::applied, &m_dialog, events.applied);
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
    void setTestAvailable(int rigNumber, bool available, const QString& why) override
    {
        m_dialog.setTestAvailable(rigNumber, available, why);
    }
    void showTestResult(int rigNumber, const QString& text) override
    {
        m_dialog.showTestResult(rigNumber, text);
    }

private:
    TRigSettingsDialog m_dialog;
};

// What a rigctld started here does: a server not started here, an empty PTT method (RIG)
// and a PTT device its method does not use are all the same.
RigServerOptions effective(RigServerOptions server)
{
    if (!server.isManaged())
        return {};
    if (server.ptt.isEmpty())
        server.ptt = QStringLiteral("RIG");
    if (!TRigPanel::UsesPttDevice(server.ptt))
        server.pttDevice.clear();
    return server;
}

bool validRig(int rigNumber)
{
    return rigNumber == 1 || rigNumber == 2;
}
} // namespace

RigSettingsViewFactory RigSettingsDialogFactory()
{
    return [] { return std::make_unique<DialogView>(); };
}

TRigSettingsDialog::TRigSettingsDialog(QWidget* parent, TRigModelReader* models)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Rig control settings"));
    setModal(false);
    if (!models)
        models = TRigModelReader::shared();
    models->start();
    // Side by side in a scroll area: the window stays usable on a small screen.
    auto* content = new QWidget(this);
    auto* rigs = new QHBoxLayout(content);
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new TRigPanel(i + 1, models, content);
        rigs->addWidget(m_panels[i], 1, Qt::AlignTop);
        connect(m_panels[i], &TRigPanel::changed, this, &TRigSettingsDialog::updateButtons);
        connect(m_panels[i], &TRigPanel::testPtt, this, [this, i] { emit testPtt(i + 1); });
        connect(m_panels[i], &TRigPanel::kindChanged, this, &TRigSettingsDialog::fitContents);
    }
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidget(content);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_apply = buttons->button(QDialogButtonBox::Apply);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_apply, &QPushButton::clicked, this, &TRigSettingsDialog::applied);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(buttons);
    setSettings(RigSettings::defaults());
}

void TRigSettingsDialog::setSettings(const RigSettings& settings)
{
    m_inForce = settings;
    for (int i = 0; i < 2; ++i)
        m_panels[i]->setRig(settings.rigs[i], settings.servers[i]);
    updateButtons();
}

RigSettings TRigSettingsDialog::settings() const
{
    RigSettings settings;
    for (int i = 0; i < 2; ++i) {
        settings.rigs[i] = m_panels[i]->endpoint();
        settings.servers[i] = m_panels[i]->server();
        // Unchanged choices come back as they were given, so that the owner sees no change.
        if (settings.rigs[i] == m_inForce.rigs[i]
            && effective(settings.servers[i]) == effective(m_inForce.servers[i]))
            settings.servers[i] = m_inForce.servers[i];
    }
    return settings;
}

void TRigSettingsDialog::setTestAvailable(int rigNumber, bool available, const QString& why)
{
    if (!validRig(rigNumber))
        return;
    m_testAvailable[rigNumber - 1] = available;
    m_testWhy[rigNumber - 1] = why;
    updateButtons();
}

void TRigSettingsDialog::showTestResult(int rigNumber, const QString& text)
{
    if (validRig(rigNumber))
        m_panels[rigNumber - 1]->showTestResult(text);
}

void TRigSettingsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        fitContents();
        emit visibilityChanged(true);
    }
}

void TRigSettingsDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        emit visibilityChanged(false);
}

void TRigSettingsDialog::fitContents()
{
    // Grows to show what a rig's choice brought in, within the screen; the scroll area
    // serves a smaller screen. Later, once the layouts have taken in the change.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        QSize wanted = m_scroll->widget()->sizeHint() + size() - m_scroll->viewport()->size();
        wanted = wanted.expandedTo(size());
        if (const QScreen* shown = screen())
            wanted = wanted.boundedTo(shown->availableSize());
        if (wanted != size())
            resize(wanted);
    });
}

bool TRigSettingsDialog::inForce(int index) const
{
    const TRigPanel* panel = m_panels[index];
    return panel->endpoint() == m_inForce.rigs[index]
        && effective(panel->server()) == effective(m_inForce.servers[index]);
}

void TRigSettingsDialog::updateButtons()
{
    if (!m_panels[1] || !m_ok)
        return; // still being made
    QStringList problems;
    for (int i = 0; i < 2; ++i) {
        TRigPanel* panel = m_panels[i];
        const QString problem = panel->problem();
        if (!problem.isEmpty())
            problems << problem;
        // The test keys the radio with the settings in force, so only those can be tested.
        QString why;
        if (panel->kind() == TRigPanel::Kind::None)
            why = QStringLiteral("%1 is set to none").arg(panel->title());
        else if (!inForce(i))
            why = QStringLiteral("Apply the changed settings first");
        else if (!m_testAvailable[i])
            why = m_testWhy[i].isEmpty() ? QStringLiteral("The PTT test cannot start now")
                                         : m_testWhy[i];
        panel->setTestState(why.isEmpty(), why);
    }
    const bool changed = !inForce(0) || !inForce(1);
    m_ok->setEnabled(problems.isEmpty());
    m_ok->setToolTip(problems.join(u'\n'));
    m_apply->setEnabled(problems.isEmpty() && changed);
    m_apply->setToolTip(!problems.isEmpty() ? problems.join(u'\n')
            : changed                       ? QString()
                                            : QStringLiteral("Nothing changed"));
}
