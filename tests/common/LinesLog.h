#pragma once
// The lines log a program under test writes through the preloaded modem-line library
// (VOKEY_LINES_LOG, see modemlines.h): one line "<call> <bits>" per modem-line call.

#include <QString>
#include <QStringList>

#include <sys/ioctl.h>

inline const QString DtrUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_DTR);
inline const QString RtsUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_RTS);
inline const QString DtrDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_DTR);
inline const QString RtsDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_RTS);

namespace LinesLog {
// The calls in the file, in order.
QStringList calls(const QString& log);
// The calls after the last raising of a line.
QStringList callsAfterLastRaise(const QString& log);
}
