#include "widgets/TComSelect.h"

#include "serial/ComTextConversions.h"
#include "serial/CustomComPort.h"
#include "serial/ListPortNames.h"

#include <QComboBox>

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
        break;
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
    // The list's own lookup: the whole text, letter case ignored.
    int index = m_items.findText(current, Qt::MatchFixedString);
    // The port may be named by its device name alone ("ttyUSB0"); the list holds paths.
    if (index < 0 && m_property == cpPort && !current.isEmpty() && !current.contains(u'/'))
        index = m_items.findText(QStringLiteral("/dev/") + current, Qt::MatchFixedString);
    if (index >= 0) {
        // Remember the list's value, so that confirming unchanged writes what is shown.
        StoreChoice(m_items.itemText(index));
    } else if (m_property == cpPort) {
        // A port that is not present (unplugged, or typed by hand) keeps its name unless
        // the user picks another: confirming must not store an empty name.
        m_choice.port = current;
    }
    return index;
}
