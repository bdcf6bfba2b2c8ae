#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The file the data belongs in: the end of a chain of symbolic links, or `path` itself.
QString FinalTarget(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    return info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
}

bool WriteAll(int fd, const QByteArray& data)
{
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

void SyncDirectory(const QByteArray& dir)
{
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // the data itself is already on disk
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool ReplaceFileAtomically(const QString& path, const QByteArray& data, QString* error)
{
    const QByteArray target = FinalTarget(path).toLocal8Bit();
    struct stat old { };
    const bool hadFile = ::stat(target.constData(), &old) == 0;
    if (hadFile && !S_ISREG(old.st_mode)) {
        // Renaming over a device or a pipe would replace it, not write to it.
        *error = QStringLiteral("not a regular file");
        return false;
    }
    // The rename needs only the directory's permission; the file's own must be asked for.
    // A file without any write permission was made read-only on purpose: root, whom the
    // system lets write anything, leaves it alone too.
    if (hadFile
        && (::access(target.constData(), W_OK) != 0
            || (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)) {
        *error = SystemError(EACCES);
        return false;
    }

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary
            = target + ".tmp" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
        // Mode 0666 lets the umask decide for a new file, as for any other file we create.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = SystemError(errno);
        return false;
    }

    const auto discard = [&](int code) {
        ::unlink(temporary.constData());
        *error = SystemError(code);
        return false;
    };
    const auto fail = [&](int code) {
        ::close(fd);
        return discard(code);
    };
    if (hadFile) {
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            return fail(errno);
        // Only root may give the file back to its owner; for anyone else it already is theirs.
        (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    if (!WriteAll(fd, data) || ::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0 || ::rename(temporary.constData(), target.constData()) != 0)
        return discard(errno);
    SyncDirectory(QFileInfo(QString::fromLocal8Bit(target)).absolutePath().toLocal8Bit());
    return true;
}

int OpenRegularFileForWriting(const QString& path, bool truncate)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st { };
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return -1;
    // O_NONBLOCK: something that turned into a pipe since the check must not hold us up.
    const int fd = ::open(
        name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (truncate && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
