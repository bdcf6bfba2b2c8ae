// Whether another program holds a serial device, found without opening it. Opening a tty
// raises DTR and RTS whenever its speed is not 0, also when the open is non-blocking and
// also when a lock taken afterwards fails: the radio of the program that holds the port
// would transmit. So a port is refused when the kernel lists a lock on the device's inode
// (flock, POSIX and open-file-description locks), when a UUCP lock file names a process
// that is alive, or when another process has the device open (Hamlib's rigctld, for one,
// holds its port without any lock). Processes of other users are visible only to root.

#include "serial/SerialPosix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace serial_posix {

namespace {

    // /var/lock is a link to /run/lock on current systems, a directory of its own on older ones.
    constexpr const char* kLockDirs[] = { "/run/lock", "/var/lock" };

    // Each finder answers the holder's process id, -1 for a holder whose process is not
    // known (an open-file-description lock), or 0 for none.
    long KernelLockOn(const struct stat& device)
    {
        FILE* locks = std::fopen("/proc/locks", "re");
        if (!locks)
            return 0; // no /proc: nothing to learn there
        // Each line names the inode as "MAJ:MIN:INODE", the file system's device in hex.
        char inode[64];
        std::snprintf(inode, sizeof inode, " %02x:%02x:%lu ", major(device.st_dev),
            minor(device.st_dev), static_cast<unsigned long>(device.st_ino));
        char line[512];
        long holder = 0;
        while (!holder && std::fgets(line, sizeof line, locks)) {
            // "1: FLOCK  ADVISORY  WRITE 1234 00:05:123 0 EOF": the process id stands
            // before the inode.
            const char* at = std::strstr(line, inode);
            if (!at)
                continue;
            const char* start = at;
            while (start > line && start[-1] != ' ')
                --start;
            holder = start > line ? std::strtol(start, nullptr, 10) : -1;
            if (holder == 0)
                holder = -1;
        }
        std::fclose(locks);
        return holder;
    }

    // A lock file holds its owner's process id, as text (HDB style) or as a binary int (older
    // programs). A file whose process has ended is stale and holds nothing.
    long LiveLockFile(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return 0;
        char text[32] = {};
        const ssize_t size = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (size <= 0)
            return 0;
        long pid = 0;
        if (size == sizeof(int) && (text[0] < ' ' || text[3] < ' ')) {
            int binary = 0;
            std::memcpy(&binary, text, sizeof binary);
            pid = binary;
        } else {
            pid = std::strtol(text, nullptr, 10);
        }
        if (pid <= 0)
            return 0;
        return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
    }

    long UucpLockOn(const std::string& devicePath)
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
                if (const long pid
                    = name.empty() ? 0 : LiveLockFile(std::string(dir) + "/LCK.." + name))
                    return pid;
            }
        }
        return 0;
    }

    // The links under /proc/PID/fd name the files as the kernel reaches them; read as text,
    // they never touch the files themselves (a stat could hang on a dead network mount).
    long OpenElsewhere(const std::string& devicePath)
    {
        DIR* processes = ::opendir("/proc");
        if (!processes)
            return 0;
        const long self = ::getpid();
        long holder = 0;
        bool held = false;
        while (!held) {
            const dirent* process = ::readdir(processes);
            if (!process)
                break;
            char* end = nullptr;
            const long pid = std::strtol(process->d_name, &end, 10);
            if (*end != '\0' || pid <= 0 || pid == self)
                continue;
            const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
            DIR* fds = ::opendir(fdDir.c_str());
            if (!fds)
                continue; // another user's, or ended meanwhile
            char target[PATH_MAX];
            while (!held) {
                const dirent* fd = ::readdir(fds);
                if (!fd)
                    break;
                const ssize_t size
                    = ::readlinkat(::dirfd(fds), fd->d_name, target, sizeof target - 1);
                held = size > 0 && devicePath.compare(0, std::string::npos, target, size) == 0;
            }
            ::closedir(fds);
            if (held)
                holder = pid;
        }
        ::closedir(processes);
        return holder;
    }

} // namespace

long HolderOf(const std::string& path)
{
    struct stat device { };
    if (::stat(path.c_str(), &device) != 0)
        return 0; // opening reports why
    if (const long pid = KernelLockOn(device))
        return pid;
    char* real = ::realpath(path.c_str(), nullptr);
    const std::string resolved = real ? real : path;
    std::free(real);
    if (const long pid = UucpLockOn(resolved))
        return pid;
    return OpenElsewhere(resolved);
}

int HeldByAnother(const std::string& path)
{
    return HolderOf(path) != 0 ? EBUSY : 0;
}

} // namespace serial_posix
