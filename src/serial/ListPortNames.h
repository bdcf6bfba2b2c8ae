#pragma once

#include <QString>
#include <QStringList>

// The serial ports present, as the device paths users type (/dev/ttyUSB0, /dev/ttyS1),
// sorted without regard to letter case in the locale's order. Only ports with real
// hardware behind them are listed; the placeholder UARTs the kernel always creates are
// not. No device is opened to build the list. Raises EComPort code 23 with errno when the
// device directory cannot be read. sysfsRoot exists for tests.
void ListPortNames(QStringList& list, const QString& sysfsRoot = QStringLiteral("/sys/class/tty"));

// The serial device names (ttyUSB0, ttyS1) found under sysfsRoot, unsorted. Raises like
// ListPortNames.
QStringList PresentSerialDevices(const QString& sysfsRoot);
