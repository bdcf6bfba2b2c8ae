#include "RigKeyMarker.h"

#include <QDebug>
#include <QFile>

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
    if (next != marks)
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
    if (file.open(QIODevice::ReadOnly)) {
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

void RigKeyMarker::write(int marks)
{
    m_marks = marks;
    if (marks == 0) {
        if (!QFile::remove(m_fileName) && QFile::exists(m_fileName))
            qWarning().noquote() << "Could not remove" << m_fileName;
        return;
    }
    QByteArray text;
    for (RigId rig : AllRigs) {
        if (marks & bitOf(rig))
            text += lineOf(rig) + '\n';
    }
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        qWarning().noquote() << "Could not mark the keyed radios in" << m_fileName << ":"
                             << file.errorString();
}
