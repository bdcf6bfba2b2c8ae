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
    void setTestAvailable(RigId rig, bool available, const QString& why) override
    {
        m_dialog.setTestAvailable(rig, available, why);
    }
    void showTestResult(RigId rig, const QString& text) override
    {
        m_dialog.showTestResult(rig, text);
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
    for (RigId rig : AllRigs) {
        TRigPanel* panel = m_panels[rigIndex(rig)] = new TRigPanel(rig, models, content);
        rigs->addWidget(panel, 1, Qt::AlignTop);
        connect(panel, &TRigPanel::changed, this, &TRigSettingsDialog::updateButtons);
        connect(panel, &TRigPanel::testPtt, this, [this, rig] { emit testPtt(rig); });
        connect(panel, &TRigPanel::kindChanged, this, &TRigSettingsDialog::fitContents);
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
    for (RigId rig : AllRigs)
        panelOf(rig)->setRig(settings.rig(rig), settings.server(rig));
    updateButtons();
}

RigSettings TRigSettingsDialog::settings() const
{
    RigSettings settings;
    for (RigId rig : AllRigs) {
        settings.rig(rig) = panelOf(rig)->endpoint();
        settings.server(rig) = panelOf(rig)->server();
        // Unchanged choices come back as they were given, so that the owner sees no change.
        if (settings.rig(rig) == m_inForce.rig(rig)
            && effective(settings.server(rig)) == effective(m_inForce.server(rig)))
            settings.server(rig) = m_inForce.server(rig);
    }
    return settings;
}

void TRigSettingsDialog::setTestAvailable(RigId rig, bool available, const QString& why)
{
    m_testAvailable[rigIndex(rig)] = available;
    m_testWhy[rigIndex(rig)] = why;
    updateButtons();
}

void TRigSettingsDialog::showTestResult(RigId rig, const QString& text)
{
    panelOf(rig)->showTestResult(text);
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

bool TRigSettingsDialog::inForce(RigId rig) const
{
    const TRigPanel* shown = panelOf(rig);
    return shown->endpoint() == m_inForce.rig(rig)
        && effective(shown->server()) == effective(m_inForce.server(rig));
}

void TRigSettingsDialog::updateButtons()
{
    if (!panelOf(RigId::B) || !m_ok)
        return; // still being made
    QStringList problems;
    for (RigId rig : AllRigs) {
        TRigPanel* panel = panelOf(rig);
        const QString problem = panel->problem();
        if (!problem.isEmpty())
            problems << problem;
        // The test keys the radio with the settings in force, so only those can be tested.
        const int i = rigIndex(rig);
        QString why;
        if (panel->kind() == TRigPanel::Kind::None)
            why = QStringLiteral("%1 is set to none").arg(panel->title());
        else if (!inForce(rig))
            why = QStringLiteral("Apply the changed settings first");
        else if (!m_testAvailable[i])
            why = m_testWhy[i].isEmpty() ? QStringLiteral("The PTT test cannot start now")
                                         : m_testWhy[i];
        panel->setTestState(why.isEmpty(), why);
    }
    const bool changed = !inForce(RigId::A) || !inForce(RigId::B);
    m_ok->setEnabled(problems.isEmpty());
    m_ok->setToolTip(problems.join(u'\n'));
    m_apply->setEnabled(problems.isEmpty() && changed);
    m_apply->setToolTip(!problems.isEmpty() ? problems.join(u'\n')
            : changed                       ? QString()
                                            : QStringLiteral("Nothing changed"));
}
