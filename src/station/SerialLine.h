#pragma once

#include "PttRoad.h"

#include <QObject>

#include <functional>

class SerialPttRoad;
class TComPort;
class QTimer;
struct StationServices;
struct VokeySettings;

// The serial port whose DTR and RTS key the transmitter: opened with the engine and closed
// with it, its line errors, and a port that comes and goes. A USB adapter that is unplugged
// (a hang-up, or EIO, ENXIO or ENODEV from the device) is closed and reported once; while
// the engine runs, a port that is not open is tried again every DeviceRetryMs, so that a
// replugged adapter, or one plugged in after the start, keys again from the next tick
// without the operator. As a keying road it is the lines of the open port.
class SerialLine : public QObject, public PttRoad {
    Q_OBJECT

public:
    SerialLine(StationServices& services, int retryMs, QObject* parent = nullptr);

    TComPort& port() { return *m_port; }
    const TComPort& port() const { return *m_port; }
    // The port named in the settings, at their speed; the lines driven by keying alone.
    void applySettings(const VokeySettings& settings);
    // An empty port name: no serial keying.
    bool hasPort() const;
    QString portName() const;

    // With the engine: opened (a failure is said, and the port tried again) and closed.
    void open();
    void close();
    // The port not opened again from now on; as it is until it is closed.
    void stopWatching();
    // A line error: both lines dropped at once; the next keying raises them again.
    void lineError();

    QString name() const override;
    void key() override;
    void release() override;
    bool keyed() const override;

signals:
    // The open port's file descriptor at each opening, -1 before each closing.
    void handleChanged(int fd);
    // The device went away (unplugged), or opened again while the engine ran.
    void lost(const QString& port);
    void found(const QString& port);

private:
    void watch();
    // Runs a step on the port; a device that has gone away closes the port, once reported.
    void drive(const std::function<void()>& step);
    bool deviceGone();
    void portLost();

    StationServices& m_services;
    TComPort* m_port = nullptr;
    SerialPttRoad* m_road = nullptr;
    QTimer* m_watch = nullptr; // runs while the engine wants the port
    bool m_lost = false; // reported lost, not found again yet
};
