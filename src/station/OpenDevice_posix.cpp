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
        struct stat open = {};
        if (::fstat(int(fd), &open) == 0 && S_ISCHR(open.st_mode)
            && open.st_rdev == device.st_rdev) {
            found = int(fd);
            break;
        }
    }
    ::closedir(fds);
    return found;
}
