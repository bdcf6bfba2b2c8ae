#pragma once

// Ways to make file writes fail that also work when the tests run as root, where
// permission bits stop nothing.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <csignal>
#include <sys/resource.h>

// Every write beyond `bytes` into any regular file fails with EFBIG, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedSignal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved {};
    void (*m_savedSignal)(int) = nullptr;
};

// A directory in which no file can be created: read-only mode, and for root the immutable
// attribute as well. Locked() tells whether that worked on this file system.
class LockedDirectory {
public:
    explicit LockedDirectory(const QString& path)
        : m_path(path)
    {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        if (CanCreate() && QProcess::execute("chattr", { "+i", path }) == 0)
            m_immutable = true;
        m_locked = !CanCreate();
    }
    ~LockedDirectory()
    {
        if (m_immutable)
            QProcess::execute("chattr", { "-i", m_path });
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    LockedDirectory(const LockedDirectory&) = delete;
    LockedDirectory& operator=(const LockedDirectory&) = delete;

    bool Locked() const { return m_locked; }

private:
    bool CanCreate() const
    {
        QFile probe(m_path + "/probe");
        if (!probe.open(QIODevice::WriteOnly))
            return false;
        probe.remove();
        return true;
    }

    QString m_path;
    bool m_immutable = false;
    bool m_locked = false;
};

inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void WriteBytes(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

// Names in `dir` other than "." and "..", sorted.
inline QStringList Entries(const QString& dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
