#include "TForm2.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {
const QString defaultEntry = QStringLiteral("Default");
}

TForm2::TForm2(QWidget* parent)
    : QDialog(parent)
    , m_label4(new QLabel(QStringLiteral("Input Soundcard device  "), this))
    , m_comboBox4(new QComboBox(this))
    , m_button1(new QPushButton(QStringLiteral("Ok"), this))
{
    setWindowTitle(QStringLiteral("SO2R Configuration Settings"));
    setFixedSize(440, 198);

    m_label4->setObjectName(QStringLiteral("Label4"));
    m_comboBox4->setObjectName(QStringLiteral("ComboBox4"));
    m_button1->setObjectName(QStringLiteral("Button1"));

    // The label and list heights follow the font so that the texts are never clipped.
    m_label4->setGeometry(46, 41, 147, std::max(13, m_label4->sizeHint().height()));
    m_comboBox4->setGeometry(222, 40, 170, m_comboBox4->sizeHint().height());
    m_button1->setGeometry(165, 103, 97, 41);
    m_button1->setDefault(true);

    connect(m_button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

TForm2::~TForm2() = default;

void TForm2::setDeviceNameSource(DeviceNameSource source)
{
    m_source = std::move(source);
}

void TForm2::setDeviceNames(const QStringList& inputs, const QStringList& outputs)
{
    m_source = [inputs, outputs](TSO2RMode mode, int n) -> std::optional<QString> {
        const QStringList& names = mode == TSO2RMode::ddIn ? inputs : outputs;
        if (n < 0 || n >= names.size())
            return std::nullopt;
        return names.at(n);
    };
}

bool TForm2::GetDeviceName(int n, QString& name) const
{
    if (n == -1) {
        name = defaultEntry;
        return true;
    }
    std::optional<QString> found;
    if (m_source && n >= 0)
        found = m_source(m_mode, n);
    name = found.value_or(QString());
    return found.has_value();
}

void TForm2::SetList()
{
    GetDeviceName(m_device, m_deviceName);
    m_label4->setText(m_mode == TSO2RMode::ddOut ? QStringLiteral("Output Soundcard device")
                                                 : QStringLiteral("Input Soundcard device"));
    m_comboBox4->addItem(defaultEntry);
    QString name;
    for (int n = 0; GetDeviceName(n, name); ++n)
        m_comboBox4->addItem(name);
    // A device number outside the list (a device that went away) selects nothing.
    const int entry = m_device + 1;
    m_comboBox4->setCurrentIndex(entry >= 0 && entry < m_comboBox4->count() ? entry : -1);
}

void TForm2::Button1Click()
{
    // Without a selection (the configured device is gone and the user picked nothing),
    // keep the configured device rather than storing a number that names no device.
    const int index = m_comboBox4->currentIndex();
    if (index >= 0)
        m_device = index - 1;
    accept();
}
