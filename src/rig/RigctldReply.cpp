#include "RigctldReply.h"

#include <QRegularExpression>

#include <iterator>

namespace RigctldReply {

namespace {
    QByteArray valueAfter(const QList<QByteArray>& lines, const QByteArray& label)
    {
        for (const QByteArray& line : lines) {
            if (line.startsWith(label))
                return line.mid(label.size()).trimmed();
        }
        return {};
    }
}

std::optional<int> ptt(const QList<QByteArray>& lines)
{
    for (const QByteArray& line : lines) {
        if (!line.startsWith("PTT:"))
            continue;
        bool ok = false;
        const int value = line.mid(4).trimmed().toInt(&ok);
        if (ok)
            return value;
    }
    return std::nullopt;
}

QString rigType(const QList<QByteArray>& lines)
{
    const QString maker = QString::fromLatin1(valueAfter(lines, "Mfg name:"));
    const QString model = QString::fromLatin1(valueAfter(lines, "Model name:"));
    if (maker.isEmpty() || model.isEmpty())
        return maker + model;
    return maker + QLatin1Char(' ') + model;
}

QString maker(const QList<QByteArray>& lines)
{
    return QString::fromLatin1(valueAfter(lines, "Mfg name:"));
}

QByteArray encodeRaw(const QByteArray& bytes)
{
    QByteArray text;
    text.reserve(bytes.size() * 5);
    for (const char byte : bytes)
        text += "\\0x" + QByteArray::number(quint8(byte), 16).rightJustified(2, '0').toUpper();
    return text;
}

QByteArray rawReply(const QList<QByteArray>& lines)
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line;
    if (text.startsWith("Reply:"))
        text = text.mid(6).trimmed();
    static const QRegularExpression binary(
        QStringLiteral("^((?:\\\\0x[0-9A-Fa-f]{2})+)(?:\\s+\\d+)?$"));
    const QRegularExpressionMatch match = binary.match(QString::fromLatin1(text));
    if (!match.hasMatch())
        return text;
    QByteArray bytes;
    const QString hex = match.captured(1);
    for (qsizetype i = 0; i + 5 <= hex.size(); i += 5)
        bytes += char(hex.mid(i + 3, 2).toUInt(nullptr, 16));
    return bytes;
}

QString errorText(int code)
{
    // Hamlib's own texts for its error numbers; rigctld sends only the number.
    static const char* const texts[] = { "Command completed successfully", "Invalid parameter",
        "Invalid configuration", "Memory shortage", "Feature not implemented",
        "Communication timed out", "IO error", "Internal Hamlib error", "Protocol error",
        "Command rejected by the rig", "Command performed, but arg truncated",
        "Feature not available", "Target VFO unaccessible", "Communication bus error",
        "Communication bus collision", "NULL RIG handle or invalid pointer parameter",
        "Invalid VFO", "Argument out of domain of func", "Function deprecated", "Security error",
        "Rig is not powered on" };
    const int number = -code;
    const QString text = number >= 0 && number < int(std::size(texts))
        ? QString::fromLatin1(texts[number])
        : QStringLiteral("Unknown error");
    return QStringLiteral("%1 (RPRT %2)").arg(text).arg(code);
}

}
