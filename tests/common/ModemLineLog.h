#pragma once
// The modem-line library's log in this process (modemlines.h), for one pseudo-terminal.

#include "common/modemlines.h"

#include <QList>
#include <QString>

#include <sys/stat.h>

enum class ModemLineEvents { All, LinesOnly }; // LinesOnly leaves out the termios writes

// The logged events of the device at `path` (a slave's path, or a link to it), in order.
inline QList<modemlines_event> modemLineEvents(
    const QString& path, ModemLineEvents which = ModemLineEvents::All)
{
    struct stat st { };
    QList<modemlines_event> events;
    if (::stat(path.toLocal8Bit().constData(), &st) != 0)
        return events;
    for (int i = 0, size = modemlines_log_size(); i < size; ++i) {
        modemlines_event event {};
        if (modemlines_log_get(i, &event) == 0 && event.device == st.st_rdev
            && (which == ModemLineEvents::All || event.line != 0))
            events.append(event);
    }
    return events;
}
