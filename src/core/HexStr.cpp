#include "core/HexStr.h"

namespace {
bool IsHexDigit(QChar c)
{
    const char16_t u = c.toUpper().unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F');
}
}

VariantBytes HexTextToVariant(const QString& text)
{
    const int count = int(text.size() / 2);
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) {
        const QChar high = text.at(2 * i);
        const QChar low = text.at(2 * i + 1);
        if (!IsHexDigit(high) || !IsHexDigit(low))
            break;
        bytes[i] = char(16 * HexDigitValue(high) + HexDigitValue(low));
    }
    return VariantBytes(bytes);
}

QString VariantToHexText(const VariantBytes& value)
{
    if (!value.IsArray() || value.LowerBound() != 0)
        return QString();
    return QString::fromLatin1(value.Bytes().toHex().toUpper());
}

int HexPairToByte(const QString& text)
{
    if (text.isEmpty() || text.size() > 2)
        return 0;
    const QString pair = PadLeftText(text, 2, QLatin1Char('0'));
    return 16 * HexDigitValue(pair.at(0)) + HexDigitValue(pair.at(1));
}

int HexDigitValue(QChar c)
{
    const char16_t u = c.toUpper().unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return 0;
}

QString PadLeftText(const QString& text, int length, QChar fill)
{
    if (text.size() >= length)
        return text;
    return QString(length - text.size(), fill) + text;
}

int DecodeHexText(const QString& text, quint8* buffer, int capacity)
{
    int count = 0;
    // p is 1-based as the text positions are: a pair needs p and p + 1.
    for (int p = 1; p < text.size() && count < capacity; p += 2)
        buffer[count++] = quint8(HexPairToByte(text.mid(p - 1, 2)));
    return count;
}
