#pragma once

// The serial port component the program places on its window; all behaviour is its base's.
// Construct it with its owner: TComPort port(window) or std::make_unique<TComPort>(this).

#include "serial/CustomComPort.h"

class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
