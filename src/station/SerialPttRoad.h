#pragma once

#include "PttRoad.h"

#include <QObject>

class TComPort;

// DTR and RTS of the serial port, raised together to key. Only an open port is driven; a
// line that fails does not keep the other one from being driven.
//
// A crash, or a guard that outlives the program, must still be able to drop the lines of
// the open port: the road tells the port's descriptor (handleChanged) at each opening and
// takes it back before each closing, whoever opens or closes the port (a new port name
// closes and reopens).
class SerialPttRoad : public QObject, public PttRoad {
    Q_OBJECT

public:
    explicit SerialPttRoad(TComPort& port, QObject* parent = nullptr);

    QString name() const override;
    void key() override;
    void release() override;
    bool keyed() const override;
    // Both lines dropped (a line error); the road stays keyed, so that the next keying
    // raises them again.
    void dropLines();

signals:
    // The open port's file descriptor at each opening, -1 before each closing.
    void handleChanged(int fd);

private:
    void setLines(bool on);
    void setHandle(int fd);

    TComPort& m_port;
    bool m_keyed = false;
};
