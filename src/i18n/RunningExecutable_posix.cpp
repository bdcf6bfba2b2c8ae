#include "i18n/RunningExecutable.h"

#include <QCoreApplication>
#include <QFile>

QString RunningExecutablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    // Before the application object exists the kernel still knows the file.
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}
