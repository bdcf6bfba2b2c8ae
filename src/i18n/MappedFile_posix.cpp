#include "i18n/MappedFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

TMappedFile::TResult TMappedFile::Open(const QString& path)
{
    Close();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_errorText = QString::fromLocal8Bit(std::strerror(errno));
        return mfCannotOpen;
    }
    struct stat info { };
    const int statError = ::fstat(fd, &info) == 0 ? 0 : errno;
    if (statError != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        // Only a regular file with content can be mapped (mmap refuses a length of 0).
        m_errorText = QString::fromLocal8Bit(std::strerror(statError ? statError : EINVAL));
        ::close(fd);
        return mfCannotCreateMap;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    const int mapError = errno;
    // The mapping keeps the file referenced; the descriptor is not needed any longer.
    ::close(fd);
    if (view == MAP_FAILED) {
        m_errorText = QString::fromLocal8Bit(std::strerror(mapError)).left(2000);
        return mfCannotMap;
    }
    m_data = static_cast<const unsigned char*>(view);
    m_size = size;
    m_errorText.clear();
    return mfOk;
}

void TMappedFile::Close()
{
    if (m_data)
        ::munmap(const_cast<unsigned char*>(m_data), m_size);
    m_data = nullptr;
    m_size = 0;
}
