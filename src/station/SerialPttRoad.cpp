#include "SerialPttRoad.h"

#include "serial/ComPort.h"

SerialPttRoad::SerialPttRoad(TComPort& port, QObject* parent)
    : QObject(parent)
    , m_port(port)
{
    m_port.OnAfterOpen = [this](QObject*) { setHandle(m_port.NativeHandle()); };
    m_port.OnBeforeClose = [this](QObject*) { setHandle(-1); };
}

QString SerialPttRoad::name() const
{
    return QStringLiteral("Serial ") + m_port.Port();
}

void SerialPttRoad::key()
{
    if (!m_port.Connected())
        return;
    m_keyed = true;
    setLines(true);
}

void SerialPttRoad::release()
{
    if (!m_port.Connected())
        return;
    // Released once both lines dropped: a failing line is tried again by the next release.
    setLines(false);
    m_keyed = false;
}

bool SerialPttRoad::keyed() const
{
    return m_keyed && m_port.Connected();
}

void SerialPttRoad::dropLines()
{
    if (m_port.Connected())
        setLines(false);
}

void SerialPttRoad::setLines(bool on)
{
    // RTS is driven even when DTR fails; the first failure is raised afterwards.
    std::exception_ptr failure;
    driveRoad(failure, [&] { m_port.SetDTRState(on); });
    driveRoad(failure, [&] { m_port.SetRTSState(on); });
    if (failure)
        std::rethrow_exception(failure);
}

void SerialPttRoad::setHandle(int fd)
{
    emit handleChanged(fd);
}
