#include "serial/ComTextConversions.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::array<const char*, 16> baudRateTexts
    = { "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
          "56000", "57600", "115200", "128000", "256000" };
constexpr std::array<const char*, 3> stopBitsTexts = { "1", "1.5", "2" };
constexpr std::array<const char*, 4> dataBitsTexts = { "5", "6", "7", "8" };
constexpr std::array<const char*, 5> parityTexts = { "None", "Odd", "Even", "Mark", "Space" };
constexpr std::array<const char*, 4> flowControlTexts
    = { "Hardware", "Software", "None", "Custom" };

// Only the ASCII letters are folded: the texts are protocol words, and a locale's case
// rules (the Turkish dotless i) must not make "Binary" differ from "BINARY".
QString asciiUpper(const QString& text)
{
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return result;
}

template <std::size_t N> QString textOf(const std::array<const char*, N>& texts, std::size_t value)
{
    return value < N ? QString::fromLatin1(texts[value]) : QString();
}

template <typename E, std::size_t N>
E valueOf(const std::array<const char*, N>& texts, const QString& text, E fallback)
{
    const QString wanted = asciiUpper(text);
    for (std::size_t i = 0; i < N; ++i) {
        if (asciiUpper(QString::fromLatin1(texts[i])) == wanted)
            return static_cast<E>(i);
    }
    return fallback;
}

template <std::size_t N> QStringList allOf(const std::array<const char*, N>& texts)
{
    QStringList list;
    for (const char* text : texts)
        list << QString::fromLatin1(text);
    return list;
}

}

QString BaudRateText(TBaudRate value)
{
    return textOf(baudRateTexts, value);
}
QString StopBitsText(TStopBits value)
{
    return textOf(stopBitsTexts, value);
}
QString DataBitsText(TDataBits value)
{
    return textOf(dataBitsTexts, value);
}
QString ParityText(TParityBits value)
{
    return textOf(parityTexts, value);
}
QString FlowControlText(TFlowControl value)
{
    return textOf(flowControlTexts, value);
}

TBaudRate BaudRateFromText(const QString& text)
{
    return valueOf(baudRateTexts, text, br9600);
}
TStopBits StopBitsFromText(const QString& text)
{
    return valueOf(stopBitsTexts, text, sbOneStopBit);
}
TDataBits DataBitsFromText(const QString& text)
{
    return valueOf(dataBitsTexts, text, dbEight);
}
TParityBits ParityFromText(const QString& text)
{
    return valueOf(parityTexts, text, prNone);
}
TFlowControl FlowControlFromText(const QString& text)
{
    return valueOf(flowControlTexts, text, fcCustom);
}

QStringList BaudRateTexts()
{
    return allOf(baudRateTexts);
}
QStringList StopBitsTexts()
{
    return allOf(stopBitsTexts);
}
QStringList DataBitsTexts()
{
    return allOf(dataBitsTexts);
}
QStringList ParityTexts()
{
    return allOf(parityTexts);
}
QStringList FlowControlTexts()
{
    return allOf(flowControlTexts);
}
