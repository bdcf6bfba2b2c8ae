// Whether another program holds a serial device, found without opening it. Opening a tty
// raises DTR and RTS whenever its speed is not 0, also when the open is non-blocking and
// also when a lock taken afterwards fails: the radio of the program that holds the port
// would transmit. So a port is refused when the kernel lists a lock on the device's inode
// (flock, POSIX and open-file-description locks) or when a UUCP lock file names a process
// that is alive.

#include "serial/SerialPosix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace serial_posix {

namespace {

    // /var/lock is a link to /run/lock on current systems, a directory of its own on older ones.
    constexpr const char* kLockDirs[] = { "/run/lock", "/var/lock" };

    bool KernelLockOn(const struct stat& device)
    {
        FILE* locks = std::fopen("/proc/locks", "re");
        if (!locks)
            return false; // no /proc: nothing to learn there
        // Each line names the inode as "MAJ:MIN:INODE", the file system's device in hex.
        char inode[64];
        std::snprintf(inode, sizeof inode, " %02x:%02x:%lu ", major(device.st_dev),
            minor(device.st_dev), static_cast<unsigned long>(device.st_ino));
        char line[512];
        bool held = false;
        while (!held && std::fgets(line, sizeof line, locks))
            held = std::strstr(line, inode) != nullptr;
        std::fclose(locks);
        return held;
    }

    // A lock file holds its owner's process id, as text (HDB style) or as a binary int (older
    // programs). A file whose process has ended is stale and holds nothing.
    bool LiveLockFile(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return false;
        char text[32] = {};
        const ssize_t size = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (size <= 0)
            return false;
        long pid = 0;
        if (size == sizeof(int) && (text[0] < ' ' || text[3] < ' ')) {
            int binary = 0;
            std::memcpy(&binary, text, sizeof binary);
            pid = binary;
        } else {
            pid = std::strtol(text, nullptr, 10);
        }
        if (pid <= 0)
            return false;
        return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    }

    bool UucpLockOn(const std::string& devicePath)
    {
        // Programs name the lock after the device under /dev ("ttyUSB0"; "pts_3" for
        // /dev/pts/3) or after the last part of its path.
        std::string names[2];
        if (devicePath.rfind("/dev/", 0) == 0) {
            names[0] = devicePath.substr(5);
            for (char& c : names[0]) {
                if (c == '/')
                    c = '_';
            }
        }
        names[1] = devicePath.substr(devicePath.rfind('/') + 1);
        for (const char* dir : kLockDirs) {
            for (const std::string& name : names) {
                if (!name.empty() && LiveLockFile(std::string(dir) + "/LCK.." + name))
                    return true;
            }
        }
        return false;
    }

} // namespace

int HeldByAnother(const std::string& path)
{
    struct stat device { };
    if (::stat(path.c_str(), &device) != 0)
        return 0; // opening reports why
    if (KernelLockOn(device))
        return EBUSY;
    char* real = ::realpath(path.c_str(), nullptr);
    const std::string resolved = real ? real : path;
    std::free(real);
    return UucpLockOn(resolved) ? EBUSY : 0;
}

} // namespace serial_posix
