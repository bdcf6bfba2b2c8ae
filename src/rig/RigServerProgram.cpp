#include "RigServerProgram.h"

#include <QtGlobal>

QString RigServerProgram()
{
    const QString named = qEnvironmentVariable("VOKEY_RIGCTLD");
    return named.isEmpty() ? QStringLiteral("rigctld") : named;
}

QString RigServerMissingText()
{
    // Debian 12 ships rigctld in libhamlib-utils.
    return QStringLiteral("rigctld not found: install Debian's libhamlib-utils");
}
