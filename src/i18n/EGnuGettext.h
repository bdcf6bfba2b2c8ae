#pragma once

#include <QString>

#include <stdexcept>

// The translation runtime's failures: a catalogue that cannot be opened or is not a valid
// GNU gettext catalogue, a translation that is not UTF-8, a property that cannot be
// translated. The text is what the user is shown.
class EGnuGettext : public std::runtime_error {
public:
    explicit EGnuGettext(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString Message() const { return QString::fromUtf8(what()); }
};
