#include "RigKeyMarker.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <utility>

namespace {

// What a mark line names: the rig, and where and from which computer it was keyed.
QByteArray lineOf(RigId rig, const RigEndpoint& at)
{
    return "RIG" + QByteArray::number(rigNumber(rig)) + ' ' + at.host.toUtf8() + ' '
        + QByteArray::number(at.port) + ' ' + RigKeyMarker::thisMachine();
}

// Both rigs marked with lines that match wherever they are: a file that cannot be read.
RigKeyMarker::Lines everything()
{
    return { QByteArray("RIG1"), QByteArray("RIG2") };
}

} // namespace

RigKeyMarker::RigKeyMarker(QString fileName)
    : m_fileName(std::move(fileName))
{
}

QString RigKeyMarker::fileNameFor(const QString& configFile)
{
    return configFile.isEmpty() ? QString() : configFile + QStringLiteral(".keyed");
}

QByteArray RigKeyMarker::thisMachine()
{
    // /etc/machine-id; a settings folder in a home shared by several computers (NFS) is
    // read by each of them.
    static const QByteArray id = [] {
        const QByteArray machine = QSysInfo::machineUniqueId();
        return machine.isEmpty() ? QSysInfo::machineHostName().toUtf8() : machine;
    }();
    return id;
}

bool RigKeyMarker::mayBeKeyed(RigId rig, const RigEndpoint& at) const
{
    if (m_fileName.isEmpty())
        return true;
    const QByteArray& line = read()[rigIndex(rig)];
    // A mark of the older form names the rig alone: honoured, and rewritten in the new one.
    return line == "RIG" + QByteArray::number(rigNumber(rig)) || line == lineOf(rig, at);
}

void RigKeyMarker::mark(RigId rig, bool keyed, const RigEndpoint& at)
{
    if (m_fileName.isEmpty())
        return;
    Lines next = read();
    next[rigIndex(rig)] = keyed ? lineOf(rig, at) : QByteArray();
    if (next != read() || m_writeFailed)
        write(next);
}

const RigKeyMarker::Lines& RigKeyMarker::read() const
{
    if (m_lines)
        return *m_lines;
    // One line per marked rig: "RIG1 HOST PORT MACHINE" (or "RIG1" alone, as written
    // before). A file that cannot be read marks both: a release too many is less harm than
    // a radio left keyed.
    QFile file(m_fileName);
    Lines lines;
    if (!notAFile().isEmpty()) {
        lines = everything();
    } else if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.read(1024).split('\n')) {
            for (RigId rig : AllRigs) {
                const QByteArray name = "RIG" + QByteArray::number(rigNumber(rig));
                if (line.trimmed() == name || line.startsWith(name + ' '))
                    lines[rigIndex(rig)] = line.trimmed();
            }
        }
    } else if (file.exists()) {
        lines = everything();
    }
    m_lines = lines;
    return *m_lines;
}

QString RigKeyMarker::notAFile() const
{
    const QFileInfo info(m_fileName);
    if (info.isSymLink())
        return QStringLiteral("a link stands in its place");
    if (info.exists() && !info.isFile())
        return QStringLiteral("not a regular file");
    return {};
}

void RigKeyMarker::write(const Lines& lines)
{
    m_lines = lines;
    m_writeFailed = true;
    if (const QString reason = notAFile(); !reason.isEmpty()) {
        problem(reason);
        return;
    }
    QFile file(m_fileName);
    if (lines[0].isEmpty() && lines[1].isEmpty()) {
        if (!file.remove() && file.exists()) {
            problem(file.errorString());
            return;
        }
    } else {
        QByteArray text;
        for (const QByteArray& line : lines) {
            if (!line.isEmpty())
                text += line + '\n';
        }
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(text) != text.size()) {
            problem(file.errorString());
            return;
        }
    }
    m_writeFailed = false;
    m_problemSaid = false;
}

void RigKeyMarker::problem(const QString& reason)
{
    const QString text
        = QStringLiteral("Power-cut recovery is off: cannot write %1: %2").arg(m_fileName, reason);
    if (std::exchange(m_problemSaid, true))
        return;
    qWarning().noquote() << text;
    if (m_report)
        m_report(text);
}
