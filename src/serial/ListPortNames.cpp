#include "serial/ListPortNames.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace {

void sortByText(QStringList& names)
{
    QCollator collator { QLocale() };
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
        [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

}

void ListPortNames(QStringList& list, const TPortListRoots& roots)
{
    const QStringList consoles = ConsoleDevices(roots);
    QStringList ttys;
    for (QString device : PresentSerialDevices(roots.sysfs)) {
        if (consoles.contains(device))
            continue;
        // sysfs spells a '/' in a device path as '!' (for ports in a subdirectory of /dev).
        ttys << QStringLiteral("/dev/") + device.replace(QLatin1Char('!'), QLatin1Char('/'));
    }
    QStringList links;
    for (const QString& link : StablePortLinks(roots.byId)) {
        if (!consoles.contains(QFileInfo(QFileInfo(link).canonicalFilePath()).fileName()))
            links << link;
    }
    sortByText(links);
    sortByText(ttys);
    list = links + ttys;
}
