#include "serial/ListPortNames.h"

#include "serial/EComPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

constexpr int registryError = 23;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool exists(const QByteArray& path)
{
    struct stat info;
    return stat(path.constData(), &info) == 0;
}

// The serial core's port type, or nothing when the attribute is absent or unreadable.
// Type 0 is PORT_UNKNOWN: a UART slot the 8250 driver reserves without hardware behind it.
std::optional<int> portType(const QByteArray& entry)
{
    QFile file(QString::fromLocal8Bit(entry + "/type"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int type = file.readAll().trimmed().toInt(&ok);
    return ok ? std::optional<int>(type) : std::nullopt;
}

bool isSerialPort(const QByteArray& entry, const QByteArray& name)
{
    // Virtual terminals, pseudo-terminals and the console have no device behind them.
    if (!exists(entry + "/device"))
        return false;
    const std::optional<int> type = portType(entry);
    if (type)
        return *type != 0;
    // An 8250-style port must say which UART it is; USB and other drivers have no type.
    return !name.startsWith("ttyS");
}

}

QStringList PresentSerialDevices(const QString& sysfsRoot)
{
    const QByteArray root = QFile::encodeName(sysfsRoot);
    std::unique_ptr<DIR, DirCloser> dir(opendir(root.constData()));
    if (!dir)
        throw EComPort(registryError, errno);

    QStringList names;
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir.get());
        if (!item) {
            if (errno != 0)
                throw EComPort(registryError, errno);
            break;
        }
        const QByteArray name(item->d_name);
        if (name.startsWith('.'))
            continue;
        if (isSerialPort(root + '/' + name, name))
            names << QFile::decodeName(name);
    }
    return names;
}

QStringList ConsoleDevices(const TPortListRoots& roots)
{
    QStringList names;
    // Serial-core ports say themselves whether the console writes to them.
    const QDir sysfs(roots.sysfs);
    for (const QString& name : sysfs.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        QFile flag(sysfs.filePath(name + QStringLiteral("/console")));
        if (flag.open(QIODevice::ReadOnly) && flag.readAll().trimmed() == "Y")
            names << name;
    }
    // Lines like "ttyS0                -W- (EC p a)    4:64": the device name comes first.
    QFile consoles(roots.consoles);
    if (consoles.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : consoles.readAll().split('\n')) {
            const QByteArray name = line.simplified().split(' ').value(0);
            if (!name.isEmpty() && !names.contains(QString::fromLocal8Bit(name)))
                names << QString::fromLocal8Bit(name);
        }
    }
    return names;
}

QStringList StablePortLinks(const QString& byIdRoot)
{
    QStringList links;
    const QDir dir(byIdRoot);
    for (const QFileInfo& entry :
        dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        // A link left behind by an adapter that went away leads nowhere: skip it.
        if (entry.isSymLink() && QFileInfo::exists(entry.canonicalFilePath()))
            links << entry.absoluteFilePath();
    }
    return links;
}
