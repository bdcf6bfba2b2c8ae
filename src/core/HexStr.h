#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A byte array as the rig-control interface passes it: either an array (with its lower
// bound, normally 0) or "not an array" at all, which a well-formed reply never is.
class VariantBytes {
public:
    VariantBytes() = default; // not an array
    explicit VariantBytes(QByteArray bytes, int lowerBound = 0)
        : m_bytes(std::move(bytes))
        , m_lowerBound(lowerBound)
    {
    }

    bool IsArray() const { return m_bytes.has_value(); }
    int LowerBound() const { return m_lowerBound; }
    // The elements; empty when this is not an array.
    QByteArray Bytes() const { return m_bytes.value_or(QByteArray()); }

private:
    std::optional<QByteArray> m_bytes;
    int m_lowerBound = 0;
};

// Two hexadecimal digits per byte, upper or lower case. An odd last digit is ignored; the
// conversion stops at the first pair that is not hexadecimal, leaving the remaining bytes 0.
VariantBytes HexTextToVariant(const QString& text);
// Upper-case hexadecimal text of a zero-based array; empty for anything else.
QString VariantToHexText(const VariantBytes& value);
// Value of one or two hexadecimal digits (one digit counts as "0" + digit); 0 for an empty
// text or a longer one. Characters that are not digits count as 0.
int HexPairToByte(const QString& text);
int HexDigitValue(QChar c);
QString PadLeftText(const QString& text, int length, QChar fill);

// Decodes hexadecimal text pair by pair into buffer (at most capacity bytes), the way the
// poll replies are read: a last single digit is not decoded. Returns the bytes stored.
int DecodeHexText(const QString& text, quint8* buffer, int capacity);
