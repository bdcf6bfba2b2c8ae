#include "OpenDevice.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>

int FindOpenDeviceDescriptor(const QString& path)
{
    struct stat device = {};
    if (::stat(QFile::encodeName(path).constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return -1;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(fds))
            continue;
        // Through its /proc entry rather than fstat(): the descriptor itself belongs to whichever
        // thread opened it (glib's eventfd, the serial event thread) and is not touched here.
        const QByteArray entryPath = QByteArray("/proc/self/fd/") + entry->d_name;
        struct stat open = {};
        if (::stat(entryPath.constData(), &open) == 0 && S_ISCHR(open.st_mode)
            && open.st_rdev == device.st_rdev) {
            found = int(fd);
            break;
        }
    }
    ::closedir(fds);
    return found;
}
