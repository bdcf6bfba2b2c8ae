#pragma once

#include <QString>

#include <optional>

// Plain conversions between configuration texts and values.

// True when the text is not empty and holds only digits, "," "-" and ".". It tests the
// characters only: "1.5" and "--3" pass although they are no integers.
bool IsNumericText(const QString& text);

// True for "TRUE", "YES" and "ON" in any letter case; false for everything else.
bool ParseFlagText(const QString& text);

// "TRUE" or "FALSE".
QString FlagText(bool flag);

// A decimal 32-bit integer with an optional sign, or nothing.
std::optional<int> ToInteger(const QString& text);
