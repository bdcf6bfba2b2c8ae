#include "TextHelpers.h"

bool IsNumericText(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (!(c.isDigit() && c.unicode() < 128) && c != u',' && c != u'-' && c != u'.')
            return false;
    }
    return true;
}

bool ParseFlagText(const QString& text)
{
    const QString upper = text.toUpper();
    return upper == u"TRUE" || upper == u"YES" || upper == u"ON";
}

QString FlagText(bool flag)
{
    return flag ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

std::optional<int> ToInteger(const QString& text)
{
    // toInt would also skip surrounding blanks; a configured number must be the whole text.
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}
