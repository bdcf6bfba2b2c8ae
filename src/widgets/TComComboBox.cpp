#include "widgets/TComComboBox.h"

#include "serial/CustomComPort.h"

TComComboBox::TComComboBox(QWidget* parent)
    : QComboBox(parent)
    , m_select(std::make_unique<TComSelect>(*this))
{
    setEditable(false);
    // Only the user's own picks count: the list changing under program control is not one.
    connect(this, &QComboBox::activated, this, &TComComboBox::UserPicked);
}

TComComboBox::~TComComboBox()
{
    disconnect(m_portWatch);
}

void TComComboBox::SetComPort(TCustomComPort* port)
{
    if (port == m_select->ComPort())
        return;
    disconnect(m_portWatch);
    m_select->SetComPort(port);
    if (port) {
        m_portWatch = connect(port, &QObject::destroyed, this, &TComComboBox::PortDestroyed);
        ShowPortValue();
    }
}

void TComComboBox::SetComProperty(TComProperty property)
{
    m_select->FillList(property);
    if (count() == 0)
        return;
    if (!m_select->ComPort())
        setCurrentIndex(0);
    else
        ShowPortValue();
}

QString TComComboBox::Text() const
{
    return currentIndex() < 0 ? QString() : currentText();
}

void TComComboBox::SetText(const QString& text)
{
    const int index = findText(text, Qt::MatchFixedString);
    if (index >= 0)
        setCurrentIndex(index);
}

void TComComboBox::ShowPortValue()
{
    if (!m_select->ComPort())
        return;
    setCurrentIndex(m_select->ShowPortValue());
}

QString TComComboBox::Value() const
{
    return m_select->ValueAt(currentIndex());
}

void TComComboBox::UserPicked(int)
{
    m_select->RememberChoice(Value());
    emit Change();
}

void TComComboBox::PortDestroyed()
{
    m_select->SetComPort(nullptr);
    if (count() > 0)
        setCurrentIndex(0);
}
