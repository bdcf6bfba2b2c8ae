#include "SerialLine.h"

#include "SerialPttRoad.h"
#include "StationServices.h"

#include "core/VokeySettings.h"
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

SerialLine::SerialLine(StationServices& services, int retryMs, QObject* parent)
    : QObject(parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("SerialLine"));
    // The port as the program holds it: COM1, 9600 bit/s, 8N1, no flow control, DTR and RTS
    // driven by keying only, every line event watched.
    m_port = new TComPort(this);
    m_port->setObjectName(QStringLiteral("ComPort"));
    m_port->SetPort(QStringLiteral("COM1"));
    m_port->SetBaudRate(br9600);
    m_port->SetDataBits(dbEight);
    m_port->Parity().SetBits(prNone);
    m_port->SetStopBits(sbOneStopBit);
    m_port->FlowControl().SetFlowControl(fcNone);
    m_port->FlowControl().SetControlDTR(dtrDisable);
    m_port->FlowControl().SetControlRTS(rtsDisable);
    m_port->SetEvents(AllComEvents);
    m_port->OnError = [this](QObject*, TComErrors) { m_services.guarded([this] { lineError(); }); };
    m_road = new SerialPttRoad(*m_port, this);
    connect(m_road, &SerialPttRoad::handleChanged, this, &SerialLine::handleChanged);
    m_watch = new QTimer(this);
    m_watch->setObjectName(QStringLiteral("SerialWatch"));
    m_watch->setInterval(retryMs);
    connect(m_watch, &QTimer::timeout, this, [this] { m_services.guarded([this] { watch(); }); });
}

void SerialLine::applySettings(const VokeySettings& settings)
{
    m_port->SetBaudRate(BaudRateFromSpeed(SpeedFromBaudSetting(settings.BaudRate)));
    m_port->SetPort(settings.ComPort);
    // The two lines are driven by keying alone.
    m_port->FlowControl().SetControlDTR(dtrDisable);
    m_port->FlowControl().SetControlRTS(rtsDisable);
}

bool SerialLine::hasPort() const
{
    return !portName().isEmpty();
}

QString SerialLine::portName() const
{
    return m_port->Port();
}

void SerialLine::open()
{
    m_lost = false;
    if (!hasPort())
        return;
    m_watch->start();
    if (m_port->Connected())
        return;
    try {
        m_port->OpenPort();
    } catch (const EComPort& error) {
        const QString text = QStringLiteral("Defined COM Port not available\n")
            + DescribeOpenFailure(m_port->DevicePath(), error.SystemErrorCode());
        m_services.logLine(QString(text).replace(QLatin1Char('\n'), QStringLiteral(": ")));
        m_services.messages.message(text);
    } catch (const std::exception&) {
        m_services.messages.message(QStringLiteral("Serial port Error"));
    }
}

void SerialLine::stopWatching()
{
    m_watch->stop();
}

void SerialLine::close()
{
    m_watch->stop();
    try {
        m_port->ClosePort();
    } catch (const EComPort&) {
        m_services.messages.message(QStringLiteral("Defined COM Port not available"));
    } catch (const std::exception&) {
        m_services.messages.message(QStringLiteral("Serial port Error"));
    }
}

void SerialLine::watch()
{
    if (!hasPort())
        return;
    if (m_port->Connected()) {
        // An idle port is asked for its lines: the one cheap call that fails once the
        // device is gone. Other failures (a driver without modem lines) say nothing here.
        if (deviceGone())
            portLost();
        return;
    }
    try {
        m_port->OpenPort();
    } catch (const std::exception&) {
        return; // still missing, or still refused: said once already
    }
    m_lost = false;
    const QString port = portName();
    m_services.logLine(QStringLiteral("Serial port %1 open").arg(port));
    emit found(port);
}

void SerialLine::drive(const std::function<void()>& step)
{
    try {
        step();
    } catch (const EComPort& error) {
        if (!isLostDevice(error.SystemErrorCode()) || !deviceGone())
            throw;
        portLost();
    }
}

bool SerialLine::deviceGone()
{
    // A single line may fail with EIO on a device that is still there; one that is gone
    // (hung up, unplugged) fails every call, its modem status read included.
    try {
        m_port->ReadModemSignals();
        return false;
    } catch (const EComPort& error) {
        return isLostDevice(error.SystemErrorCode());
    }
}

void SerialLine::portLost()
{
    // What can be dropped is gone with the device; the descriptor is closed so that the
    // adapter can come back under its old name.
    try {
        m_port->ClosePort();
    } catch (const std::exception&) {
    }
    if (std::exchange(m_lost, true))
        return;
    const QString port = portName();
    m_services.report(QStringLiteral("Serial port %1 disconnected").arg(port));
    emit lost(port);
}

void SerialLine::lineError()
{
    drive([this] { m_road->dropLines(); });
}

QString SerialLine::name() const
{
    return m_road->name();
}

void SerialLine::key()
{
    drive([this] { m_road->key(); });
}

void SerialLine::release()
{
    drive([this] { m_road->release(); });
}

bool SerialLine::keyed() const
{
    return m_road->keyed();
}
