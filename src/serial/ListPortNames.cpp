#include "serial/ListPortNames.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

void ListPortNames(QStringList& list, const QString& sysfsRoot)
{
    QStringList names;
    for (QString device : PresentSerialDevices(sysfsRoot))
        // sysfs spells a '/' in a device path as '!' (for ports in a subdirectory of /dev).
        names << QStringLiteral("/dev/") + device.replace(QLatin1Char('!'), QLatin1Char('/'));

    QCollator collator { QLocale() };
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
        [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    list = names;
}
