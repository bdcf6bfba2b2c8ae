#pragma once
// The lines log a program under test writes through the preloaded modem-line library
// (VOKEY_LINES_LOG, see modemlines.h): one line "<call> <bits>" per modem-line call that
// succeeded ("failed-<call> <bits>" for one that did not), followed by " <CLOCK_MONOTONIC ns>"
// when VOKEY_LINES_LOG_TIMES=1.

#include <QString>
#include <QStringList>

#include <sys/ioctl.h>

inline const QString DtrUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_DTR);
inline const QString RtsUp = QStringLiteral("TIOCMBIS %1").arg(TIOCM_RTS);
inline const QString DtrDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_DTR);
inline const QString RtsDown = QStringLiteral("TIOCMBIC %1").arg(TIOCM_RTS);

namespace LinesLog {
// The calls in the file, in order, as "<call> <bits>" (without their times).
QStringList calls(const QString& log);
// When `call` (such as DtrUp) was first logged at or after `sinceNs`, from a log with times;
// -1 when it was not.
qint64 firstCallAt(const QString& log, const QString& call, qint64 sinceNs = 0);
// The calls after the last raising of a line.
QStringList callsAfterLastRaise(const QString& log);
}
