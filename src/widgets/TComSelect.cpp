#include "widgets/TComSelect.h"

#include "serial/ComTextConversions.h"
#include "serial/CustomComPort.h"
#include "serial/ListPortNames.h"

#include <QComboBox>
#include <QFileInfo>

namespace {

// What the Port list shows for a name: a link (a stable by-id name) with the tty it leads
// to now, so that the user can tell which adapter it is.
QString shownPortName(const QString& name)
{
    const QFileInfo info(name);
    if (!info.isSymLink())
        return name;
    const QString target = QFileInfo(info.canonicalFilePath()).fileName();
    return target.isEmpty() ? name : name + QStringLiteral(" (") + target + u')';
}

}

const QString TComSelect::NoPortText = QStringLiteral("(none)");

TComSelect::TComSelect(QComboBox& items)
    : m_items(items)
{
}

void TComSelect::FillList(TComProperty property)
{
    m_property = property;
    QStringList texts;
    switch (property) {
    case cpNone:
        break;
    case cpPort:
        if (m_listPorts)
            m_listPorts(texts);
        else
            ListPortNames(texts);
        // The entries show names and hold the name to store; "(none)" stores an empty name,
        // which means no serial keying.
        m_items.clear();
        m_items.addItem(NoPortText, QString());
        for (const QString& name : std::as_const(texts))
            m_items.addItem(shownPortName(name), name);
        return;
    case cpBaudRate:
        texts = BaudRateTexts();
        break;
    case cpDataBits:
        texts = DataBitsTexts();
        break;
    case cpStopBits:
        texts = StopBitsTexts();
        break;
    case cpParity:
        texts = ParityTexts();
        break;
    case cpFlowControl:
        texts = FlowControlTexts();
        break;
    }
    m_items.clear();
    m_items.addItems(texts);
}

void TComSelect::RememberChoice(const QString& text)
{
    StoreChoice(text);
    if (m_autoApply)
        ApplyChoice();
}

void TComSelect::StoreChoice(const QString& text)
{
    switch (m_property) {
    case cpNone:
        break;
    case cpPort:
        m_choice.port = text;
        break;
    case cpBaudRate:
        m_choice.baudRate = BaudRateFromText(text);
        break;
    case cpDataBits:
        m_choice.dataBits = DataBitsFromText(text);
        break;
    case cpStopBits:
        m_choice.stopBits = StopBitsFromText(text);
        break;
    case cpParity:
        m_choice.parity = ParityFromText(text);
        break;
    case cpFlowControl:
        m_choice.flowControl = FlowControlFromText(text);
        break;
    }
}

void TComSelect::ApplyChoice()
{
    if (!m_port)
        return;
    switch (m_property) {
    case cpNone:
        break;
    case cpPort:
        // No port: let the device go rather than try to open an empty name.
        if (m_choice.port.isEmpty() && !m_port->Port().isEmpty())
            m_port->ClosePort();
        m_port->SetPort(m_choice.port);
        break;
    case cpBaudRate:
        m_port->SetBaudRate(m_choice.baudRate);
        break;
    case cpDataBits:
        m_port->SetDataBits(m_choice.dataBits);
        break;
    case cpStopBits:
        m_port->SetStopBits(m_choice.stopBits);
        break;
    case cpParity:
        m_port->Parity().SetBits(m_choice.parity);
        break;
    case cpFlowControl:
        m_port->FlowControl().SetFlowControl(m_choice.flowControl);
        break;
    }
}

int TComSelect::ShowPortValue()
{
    if (!m_port)
        return -1;
    QString current;
    switch (m_property) {
    case cpNone:
        return -1;
    case cpPort:
        current = m_port->Port();
        break;
    case cpBaudRate:
        current = BaudRateText(m_port->BaudRate());
        break;
    case cpDataBits:
        current = DataBitsText(m_port->DataBits());
        break;
    case cpStopBits:
        current = StopBitsText(m_port->StopBits());
        break;
    case cpParity:
        current = ParityText(m_port->Parity().Bits());
        break;
    case cpFlowControl:
        current = FlowControlText(m_port->FlowControl().FlowControl());
        break;
    }
    if (m_property == cpPort)
        return ShowPort(current);
    // The list's own lookup: the whole text, letter case ignored.
    const int index = m_items.findText(current, Qt::MatchFixedString);
    // Remember the list's value, so that confirming unchanged writes what is shown.
    if (index >= 0)
        StoreChoice(m_items.itemText(index));
    return index;
}

int TComSelect::ShowPort(const QString& current)
{
    // The names the entries hold, letter case ignored.
    int index = m_items.findData(current, Qt::UserRole, Qt::MatchFixedString);
    // The port may be named by its device name alone ("ttyUSB0"); the list holds paths.
    if (index < 0 && !current.isEmpty() && !current.contains(u'/'))
        index = m_items.findData(
            QStringLiteral("/dev/") + current, Qt::UserRole, Qt::MatchFixedString);
    if (index < 0) {
        // A port that is not present (unplugged, or typed by hand) is shown under "(none)"
        // and kept unless the user picks another: confirming must not change the name.
        index = 1;
        m_items.insertItem(index, current, current);
    }
    m_choice.port = m_items.itemData(index).toString();
    return index;
}

QString TComSelect::ValueAt(int index) const
{
    if (index < 0)
        return QString();
    if (m_property == cpPort)
        return m_items.itemData(index).toString();
    return m_items.itemText(index);
}
