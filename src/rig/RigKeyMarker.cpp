#include "RigKeyMarker.h"

#include <QDebug>
#include <QFile>

RigKeyMarker::RigKeyMarker(QString fileName)
    : m_fileName(std::move(fileName))
{
}

QString RigKeyMarker::fileNameFor(const QString& configFile)
{
    return configFile.isEmpty() ? QString() : configFile + QStringLiteral(".keyed");
}

bool RigKeyMarker::mayBeKeyed(int rigNumber) const
{
    if (m_fileName.isEmpty())
        return true;
    return (read() & (1 << rigNumber)) != 0;
}

void RigKeyMarker::mark(int rigNumber, bool keyed)
{
    if (m_fileName.isEmpty())
        return;
    const int marks = read();
    const int next = keyed ? marks | (1 << rigNumber) : marks & ~(1 << rigNumber);
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
        for (int rig = 1; rig <= 2; ++rig) {
            if (text.contains("RIG" + QByteArray::number(rig)))
                marks |= 1 << rig;
        }
    } else if (file.exists()) {
        marks = (1 << 1) | (1 << 2);
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
    for (int rig = 1; rig <= 2; ++rig) {
        if (marks & (1 << rig))
            text += "RIG" + QByteArray::number(rig) + '\n';
    }
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        qWarning().noquote() << "Could not mark the keyed radios in" << m_fileName << ":"
                             << file.errorString();
}
