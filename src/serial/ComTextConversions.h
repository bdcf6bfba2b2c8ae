#pragma once

// The texts the settings dialog shows for the port's enumerations, and back. The lists
// are the texts in ordinal order. A reverse conversion compares without regard to the
// case of ASCII letters, takes the first value whose text matches, and falls back to a
// default when none does.

#include "serial/ComTypes.h"

#include <QString>
#include <QStringList>

QString BaudRateText(TBaudRate value);
QString StopBitsText(TStopBits value);
QString DataBitsText(TDataBits value);
QString ParityText(TParityBits value);
QString FlowControlText(TFlowControl value);

TBaudRate BaudRateFromText(const QString& text); // default br9600
TStopBits StopBitsFromText(const QString& text); // default sbOneStopBit
TDataBits DataBitsFromText(const QString& text); // default dbEight
TParityBits ParityFromText(const QString& text); // default prNone
TFlowControl FlowControlFromText(const QString& text); // default fcCustom

QStringList BaudRateTexts();
QStringList StopBitsTexts();
QStringList DataBitsTexts();
QStringList ParityTexts();
QStringList FlowControlTexts();
