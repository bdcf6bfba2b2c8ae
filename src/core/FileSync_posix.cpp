#include "FileSync.h"

#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

void SyncParentDirectory(const QString& filePath)
{
    const QByteArray dir = QFileInfo(filePath).absolutePath().toLocal8Bit();
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
