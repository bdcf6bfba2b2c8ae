#include "RigKeyMarker.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {
QByteArray lineOf(RigId rig)
{
    return "RIG" + QByteArray::number(rigNumber(rig));
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

bool RigKeyMarker::mayBeKeyed(RigId rig) const
{
    if (m_fileName.isEmpty())
        return true;
    return (read() & bitOf(rig)) != 0;
}

void RigKeyMarker::mark(RigId rig, bool keyed)
{
    if (m_fileName.isEmpty())
        return;
    const int marks = read();
    const int next = keyed ? marks | bitOf(rig) : marks & ~bitOf(rig);
    if (next != marks || m_writeFailed)
        write(next);
}

int RigKeyMarker::read() const
{
    if (m_marks >= 0)
        return m_marks;
    // One line per marked rig: "RIG1", "RIG2". A file that cannot be read marks both: a
    // release too many is harmless.
    QFile file(m_fileName);
    int marks = 0;
    if (!notAFile().isEmpty()) {
        marks = bitOf(RigId::A) | bitOf(RigId::B);
    } else if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.read(256);
        for (RigId rig : AllRigs) {
            if (text.contains(lineOf(rig)))
                marks |= bitOf(rig);
        }
    } else if (file.exists()) {
        marks = bitOf(RigId::A) | bitOf(RigId::B);
    }
    m_marks = marks;
    return marks;
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

void RigKeyMarker::write(int marks)
{
    m_marks = marks;
    m_writeFailed = true;
    if (const QString reason = notAFile(); !reason.isEmpty()) {
        problem(reason);
        return;
    }
    QFile file(m_fileName);
    if (marks == 0) {
        if (!file.remove() && file.exists()) {
            problem(file.errorString());
            return;
        }
    } else {
        QByteArray text;
        for (RigId rig : AllRigs) {
            if (marks & bitOf(rig))
                text += lineOf(rig) + '\n';
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
