#pragma once

// Internals shared by the Linux implementation of the serial device layer.

#include "serial/SerialDevice.h"

#include <cstdint>
#include <memory>
#include <string>

namespace serial_posix {

// EBUSY when another program holds the device (a lock on it), else 0. Asked before opening:
// opening itself raises the holder's DTR and RTS.
int HeldByAnother(const std::string& path);
// The process id of the program that holds the device, -1 when it holds it but cannot be
// named, 0 when none does.
long HolderOf(const std::string& path);

// Counts one operation on a device (SerialDevice::CallCount).
void CountCall();

// Builds the tty's line settings (speed, frame, flow control, parity checking) and drives DTR
// and RTS as their controls ask. Settings the tty cannot do are refused with EINVAL before
// anything changes.
int ApplyLineSettings(int fd, const SerialLineSettings& settings);

// Makes the last close of the device drop DTR and RTS, so that a port closed, or left behind
// by a program that died, never keeps a transmitter keyed.
int SetHangUpOnClose(int fd);

// Empties the input and the output queue.
int FlushQueues(int fd);

// Sets (on) or clears the given TIOCM_* output bits. A driver without modem control lines
// answers ENOTTY or EINVAL; that counts as done when noLinesOk is true.
int DriveLines(int fd, int bits, bool on, bool noLinesOk);

std::unique_ptr<SerialEventSource> CreateEventSource(
    int fd, TComEvents events, std::int32_t inputSize);

} // namespace serial_posix
