// The serial port: opened with the engine and closed with it, its line errors, and a port
// that comes and goes. A USB adapter that is unplugged (a hang-up, or EIO, ENXIO or ENODEV
// from the device) is closed and reported once; while the engine runs, a port that is not
// open is tried again every 2 s, so that a replugged adapter, or one plugged in after the
// start, keys again from the next tick without the operator.
#include "VoxStation.h"

#include "MessageBoxes.h"
#include "SerialPttRoad.h"

#include "serial/ComPort.h"
#include "serial/SerialPortProblem.h"

#include <QTimer>

#include <cerrno>
#include <utility>

namespace {

bool isLostDevice(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

} // namespace

bool VoxStation::HasSerialPort() const
{
    // An empty port name: no serial keying.
    return !SerialPortName().isEmpty();
}

void VoxStation::OpenSerialPort()
{
    m_serialLost = false;
    if (!HasSerialPort())
        return;
    m_serialWatch->start();
    if (m_comPort->Connected())
        return;
    try {
        m_comPort->OpenPort();
    } catch (const EComPort& error) {
        const QString text = QStringLiteral("Defined COM Port not available\n")
            + DescribeOpenFailure(m_comPort->DevicePath(), error.SystemErrorCode());
        m_log.WriteLine(1, QString(text).replace(QLatin1Char('\n'), QStringLiteral(": ")));
        m_messages.message(text);
    } catch (const std::exception&) {
        m_messages.message(QStringLiteral("Serial port Error"));
    }
}

void VoxStation::CloseSerialPort()
{
    m_serialWatch->stop();
    try {
        m_comPort->ClosePort();
    } catch (const EComPort&) {
        m_messages.message(QStringLiteral("Defined COM Port not available"));
    } catch (const std::exception&) {
        m_messages.message(QStringLiteral("Serial port Error"));
    }
}

void VoxStation::WatchSerialPort()
{
    if (!m_running || !HasSerialPort())
        return;
    if (m_comPort->Connected()) {
        // An idle port is asked for its lines: the one cheap call that fails once the
        // device is gone. Other failures (a driver without modem lines) say nothing here.
        if (DeviceGone())
            SerialPortLost();
        return;
    }
    try {
        m_comPort->OpenPort();
    } catch (const std::exception&) {
        return; // still missing, or still refused: said once already
    }
    m_serialLost = false;
    const QString port = SerialPortName();
    m_log.WriteLine(1, QStringLiteral("Serial port %1 open").arg(port));
    emit serialPortFound(port);
}

void VoxStation::DriveSerial(const std::function<void()>& step)
{
    try {
        step();
    } catch (const EComPort& error) {
        if (!isLostDevice(error.SystemErrorCode()) || !DeviceGone())
            throw;
        SerialPortLost();
    }
}

bool VoxStation::DeviceGone()
{
    // A single line may fail with EIO on a device that is still there; one that is gone
    // (hung up, unplugged) fails every call, its modem status read included.
    try {
        m_comPort->ReadModemSignals();
        return false;
    } catch (const EComPort& error) {
        return isLostDevice(error.SystemErrorCode());
    }
}

void VoxStation::SerialPortLost()
{
    // What can be dropped is gone with the device; the descriptor is closed so that the
    // adapter can come back under its old name.
    try {
        m_comPort->ClosePort();
    } catch (const std::exception&) {
    }
    if (std::exchange(m_serialLost, true))
        return;
    const QString port = SerialPortName();
    const QString text = QStringLiteral("Serial port %1 disconnected").arg(port);
    m_log.WriteLine(1, text);
    m_errorReport->show(text);
    emit serialPortLost(port);
}

void VoxStation::ComPortError()
{
    // A line error drops both lines at once; the next keying tick raises them again.
    DriveSerial([this] { m_serialRoad->dropLines(); });
}
