#include "widgets/TRigPanel.h"

#include "rig/RigModelList.h"
#include "serial/EComPort.h"
#include "serial/ListPortNames.h"

#include <QComboBox>
#include <QDebug>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

namespace {
const QString DefaultSpeed = QStringLiteral("Default");
constexpr int NumberRole = Qt::UserRole;

QString modelText(const RigModel& model)
{
    return QStringLiteral("%1 %2 (Hamlib model %3)")
        .arg(model.maker, model.model)
        .arg(model.number);
}

// Typed text, not one of the entries (those stay listed).
void setComboText(QComboBox* box, const QString& text)
{
    box->setCurrentIndex(-1);
    box->setEditText(text);
}
}

bool TRigPanel::UsesPttDevice(const QString& ptt)
{
    static const QStringList withDevice { QStringLiteral("DTR"), QStringLiteral("RTS"),
        QStringLiteral("CM108"), QStringLiteral("GPIO"), QStringLiteral("GPION") };
    return withDevice.contains(ptt);
}

TRigPanel::TRigPanel(RigId rig, TRigModelReader* models, QWidget* parent)
    : QGroupBox(parent)
    , m_rig(rig)
    , m_name(QStringLiteral("Rig ") + rigLetter(rig))
    , m_models(models)
{
    setTitle(m_name);
    const QString prefix = QStringLiteral("Rig%1").arg(rigNumber(rig));
    auto named = [&](auto* widget, const char* name) {
        widget->setObjectName(prefix + QLatin1String(name));
        return widget;
    };
    m_form = new QFormLayout(this);
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_kind = named(new QComboBox(this), "Kind");
    m_kind->addItems(
        { QStringLiteral("none"), QStringLiteral("Use a rigctld already running at host:port"),
            QStringLiteral("Start rigctld for this radio") });
    m_host = named(new QLineEdit(this), "Host");
    m_port = named(new QSpinBox(this), "Port");
    m_port->setRange(1, 65535);
    m_form->addRow(QStringLiteral("How"), m_kind);
    m_form->addRow(QStringLiteral("Host"), m_host);
    m_form->addRow(QStringLiteral("Port"), m_port);

    // What only a rigctld started here needs (shown only then).
    m_filter = named(new QLineEdit(this), "Filter");
    m_filter->setPlaceholderText(QStringLiteral("Type to narrow the list, e.g. 7300"));
    m_filter->setClearButtonEnabled(true);
    m_filter->installEventFilter(this);
    m_list = named(new QTreeWidget(this), "Models");
    m_list->setHeaderLabels({ QStringLiteral("Maker"), QStringLiteral("Model") });
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setMinimumHeight(fontMetrics().height() * 6);
    m_radio = named(new QLabel(this), "Radio");
    m_radio->setWordWrap(true);
    m_device = named(new QComboBox(this), "Device");
    m_device->setEditable(true);
    m_device->setInsertPolicy(QComboBox::NoInsert);
    m_device->lineEdit()->setPlaceholderText(QStringLiteral("/dev/ttyUSB0 or host:port"));
    m_speed = named(new QComboBox(this), "Speed");
    m_speed->setEditable(true);
    m_speed->setInsertPolicy(QComboBox::NoInsert);
    m_speed->addItem(DefaultSpeed);
    for (int speed : { 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 })
        m_speed->addItem(QString::number(speed));
    m_ptt = named(new QComboBox(this), "Ptt");
    for (const QString& method : RigServerOptions::PttMethods())
        m_ptt->addItem(method == QLatin1String("RIG") ? QStringLiteral("CAT") : method, method);
    m_pttDevice = named(new QComboBox(this), "PttDevice");
    m_pttDevice->setEditable(true);
    m_pttDevice->setInsertPolicy(QComboBox::NoInsert);
    m_pttDevice->setToolTip(QStringLiteral("The serial port for DTR or RTS, the hidraw device "
                                           "for CM108, the pin number for GPIO"));
    // Long entries (the by-id names of serial ports) do not widen the window; the fields
    // grow with it and the lists show them whole.
    for (QComboBox* box : { m_kind, m_device, m_speed, m_ptt, m_pttDevice }) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(box == m_kind ? 24 : 12);
    }
    m_form->addRow(QStringLiteral("Radio"), m_filter);
    m_form->addRow(m_list);
    m_form->addRow(m_radio);
    m_form->addRow(QStringLiteral("Serial device"), m_device);
    m_form->addRow(QStringLiteral("Speed"), m_speed);
    m_form->addRow(QStringLiteral("PTT"), m_ptt);
    m_form->addRow(QStringLiteral("PTT device"), m_pttDevice);
    m_serverFields = { m_filter, m_list, m_radio, m_device, m_speed, m_ptt, m_pttDevice };

    auto* testRow = new QHBoxLayout;
    m_test = named(new QPushButton(QStringLiteral("Test PTT"), this), "TestPtt");
    m_testResult = named(new QLabel(this), "TestResult");
    m_testResult->setWordWrap(true);
    testRow->addWidget(m_test);
    testRow->addWidget(m_testResult, 1);
    m_form->addRow(testRow);

    connect(m_kind, &QComboBox::currentIndexChanged, this, &TRigPanel::updateFields);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &TRigPanel::kindChanged);
    connect(m_ptt, &QComboBox::currentIndexChanged, this, &TRigPanel::updateFields);
    connect(m_host, &QLineEdit::textChanged, this, &TRigPanel::changed);
    connect(m_port, &QSpinBox::valueChanged, this, &TRigPanel::changed);
    connect(m_device, &QComboBox::currentTextChanged, this, &TRigPanel::changed);
    connect(m_speed, &QComboBox::currentTextChanged, this, &TRigPanel::changed);
    connect(m_pttDevice, &QComboBox::currentTextChanged, this, &TRigPanel::changed);
    connect(m_filter, &QLineEdit::textChanged, this, &TRigPanel::applyFilter);
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!m_syncing && item && item->data(0, NumberRole).toInt() > 0)
            chooseModel(item->data(0, NumberRole).toInt());
    });
    connect(m_test, &QPushButton::clicked, this, &TRigPanel::testPtt);
    connect(m_models, &TRigModelReader::finished, this, &TRigPanel::fillModels);
    fillModels();
    fillPorts();
    updateFields();
}

void TRigPanel::setRig(const RigEndpoint& endpoint, const RigServerOptions& server)
{
    const Kind kind = !endpoint.isConfigured() ? Kind::None
        : server.isManaged()                   ? Kind::Start
                                               : Kind::Running;
    const RigEndpoint fallback = RigSettings::defaultEndpoint(m_rig);
    // A rig set to none still offers the usual place as a starting point.
    m_host->setText(kind == Kind::Running ? endpoint.host : fallback.host);
    m_port->setValue(kind == Kind::None ? fallback.port : endpoint.port);
    fillPorts();
    setComboText(m_device, server.device);
    const QString speed = server.speed > 0 ? QString::number(server.speed) : DefaultSpeed;
    m_speed->setCurrentIndex(m_speed->findText(speed));
    if (m_speed->currentIndex() < 0)
        setComboText(m_speed, speed);
    m_ptt->setCurrentIndex(qMax(0, m_ptt->findData(server.ptt.isEmpty() ? "RIG" : server.ptt)));
    setComboText(m_pttDevice, server.pttDevice);
    m_kind->setCurrentIndex(int(kind));
    chooseModel(server.model);
    updateFields();
}

RigEndpoint TRigPanel::endpoint() const
{
    switch (kind()) {
    case Kind::None:
        return {};
    case Kind::Running:
        return { m_host->text().trimmed(), quint16(m_port->value()) };
    case Kind::Start:
        break;
    }
    // The rigctld started here listens on the loopback interface only.
    return { RigSettings::defaultEndpoint(RigId::A).host, quint16(m_port->value()) };
}

RigServerOptions TRigPanel::server() const
{
    if (kind() != Kind::Start)
        return {};
    RigServerOptions server;
    server.model = m_model;
    server.device = m_device->currentText().trimmed();
    bool ok = false;
    server.speed = speed(&ok); // 0 for a speed that is not one: OK is disabled then
    server.ptt = m_ptt->currentData().toString();
    if (UsesPttDevice(server.ptt))
        server.pttDevice = m_pttDevice->currentText().trimmed();
    return server;
}

TRigPanel::Kind TRigPanel::kind() const
{
    return Kind(qMax(0, m_kind->currentIndex()));
}

QString TRigPanel::problem() const
{
    switch (kind()) {
    case Kind::None:
        return {};
    case Kind::Running:
        if (RigSocketHost(m_host->text()).isEmpty())
            return QStringLiteral("%1: not a host name or address (write an IPv6 address as "
                                  "[::1])")
                .arg(m_name);
        return {};
    case Kind::Start:
        break;
    }
    if (m_model <= 0) {
        if (m_models->isLoading())
            return QStringLiteral("%1: choose the radio once the list has loaded").arg(m_name);
        if (!m_models->failure().isEmpty())
            return QStringLiteral("%1: no radio list: %2").arg(m_name, m_models->failure());
        return QStringLiteral("%1: choose the radio from the list").arg(m_name);
    }
    bool ok = false;
    speed(&ok);
    if (!ok)
        return QStringLiteral("%1: the speed is a number of bits per second, or Default")
            .arg(m_name);
    return {};
}

void TRigPanel::setTestState(bool enabled, const QString& why)
{
    m_test->setEnabled(enabled);
    m_test->setToolTip(why);
}

void TRigPanel::showTestResult(const QString& text)
{
    m_testResult->setText(text);
}

void TRigPanel::fillModels()
{
    m_syncing = true;
    m_list->clear();
    if (m_models->isLoading() || !m_models->failure().isEmpty()) {
        // The list says why it is empty; the line cannot be chosen.
        auto* item = new QTreeWidgetItem(m_list,
            { m_models->isLoading() ? QStringLiteral("Loading the radio list…")
                                    : m_models->failure() });
        item->setFlags(Qt::ItemIsEnabled);
        item->setFirstColumnSpanned(true);
    }
    for (const RigModel& model : m_models->models()) {
        auto* item = new QTreeWidgetItem(m_list, { model.maker, model.model });
        item->setData(0, NumberRole, model.number);
        item->setToolTip(1, QStringLiteral("Hamlib model %1").arg(model.number));
    }
    m_list->resizeColumnToContents(0);
    m_syncing = false;
    applyFilter();
    chooseModel(m_model);
}

void TRigPanel::fillPorts()
{
    QStringList ports;
    try {
        ListPortNames(ports);
    } catch (const EComPort& error) {
        // No list: the device is typed.
        qWarning().noquote() << "serial port list:" << error.Message();
    }
    for (QComboBox* box : { m_device, m_pttDevice }) {
        const QString text = box->currentText();
        box->clear();
        box->addItems(ports);
        setComboText(box, text);
    }
}

void TRigPanel::applyFilter()
{
    const QStringList words = m_filter->text().split(u' ', Qt::SkipEmptyParts);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        const int number = item->data(0, NumberRole).toInt();
        if (number <= 0)
            continue; // the loading or failure line stays
        const QString text
            = QStringLiteral("%1 %2 %3").arg(item->text(0), item->text(1)).arg(number);
        bool shown = true;
        for (const QString& word : words)
            shown = shown && text.contains(word, Qt::CaseInsensitive);
        item->setHidden(!shown);
    }
}

bool TRigPanel::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in the filter takes the first radio left, rather than pressing OK for a radio
    // half chosen.
    if (watched == m_filter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = m_list->topLevelItem(i);
                if (!item->isHidden() && item->data(0, NumberRole).toInt() > 0) {
                    chooseModel(item->data(0, NumberRole).toInt());
                    break;
                }
            }
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

void TRigPanel::chooseModel(int number)
{
    m_model = qMax(0, number);
    QString text = QStringLiteral("No radio chosen");
    m_syncing = true;
    m_list->setCurrentItem(nullptr);
    for (int i = 0; m_model > 0 && i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->data(0, NumberRole).toInt() == m_model) {
            m_list->setCurrentItem(item);
            text = modelText({ m_model, item->text(0), item->text(1) });
        }
    }
    m_syncing = false;
    scrollToChosen();
    if (m_model > 0 && !m_list->currentItem())
        text = QStringLiteral("Hamlib model %1").arg(m_model);
    m_radio->setText(text);
    emit changed();
}

void TRigPanel::showEvent(QShowEvent* event)
{
    QGroupBox::showEvent(event);
    scrollToChosen();
}

void TRigPanel::scrollToChosen()
{
    // Once the list has its size: a list not yet laid out scrolls to the wrong place.
    QTimer::singleShot(0, m_list, [list = m_list] {
        if (list->currentItem())
            list->scrollToItem(list->currentItem(), QAbstractItemView::PositionAtCenter);
    });
}

void TRigPanel::updateFields()
{
    const Kind current = kind();
    m_host->setEnabled(current == Kind::Running);
    m_form->setRowVisible(m_host, current != Kind::Start);
    m_port->setEnabled(current != Kind::None);
    m_port->setToolTip(current == Kind::Start
            ? QStringLiteral("The port the rigctld started here listens on (127.0.0.1)")
            : QString());
    for (QWidget* field : m_serverFields)
        m_form->setRowVisible(field, current == Kind::Start);
    scrollToChosen();
    m_pttDevice->setEnabled(UsesPttDevice(m_ptt->currentData().toString()));
    emit changed();
}

int TRigPanel::speed(bool* ok) const
{
    const QString text = m_speed->currentText().trimmed();
    if (text.isEmpty() || text.compare(DefaultSpeed, Qt::CaseInsensitive) == 0) {
        *ok = true;
        return 0;
    }
    const int value = text.toInt(ok);
    *ok = *ok && value > 0;
    return *ok ? value : 0;
}
