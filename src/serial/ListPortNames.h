#pragma once

#include <QString>
#include <QStringList>

// Where the port list looks. The defaults are the system's; tests point them at trees of
// their own.
struct TPortListRoots {
    QString sysfs = QStringLiteral("/sys/class/tty");
    // udev's stable names: links named after the adapter, which keep their name when the
    // adapter comes back under another number.
    QString byId = QStringLiteral("/dev/serial/by-id");
    QString consoles = QStringLiteral("/proc/consoles");
};

// The serial ports present, as the device paths users type: first the stable links of
// roots.byId (/dev/serial/by-id/usb-FTDI_...), then the ttys (/dev/ttyUSB0, /dev/ttyS1),
// each group sorted without regard to letter case in the locale's order. Only ports with
// real hardware behind them are listed; the placeholder UARTs the kernel always creates are
// not, nor the kernel's console (keying it would toggle the console's lines). No device is
// opened to build the list. Raises EComPort code 23 with errno when the sysfs directory
// cannot be read; a missing by-id directory or consoles file just means none.
void ListPortNames(QStringList& list, const TPortListRoots& roots = {});

// The serial device names (ttyUSB0, ttyS1) found under sysfsRoot, unsorted, the console
// included. Raises like ListPortNames.
QStringList PresentSerialDevices(const QString& sysfsRoot);

// The device names (ttyS0) the kernel writes its console to: those whose sysfs "console"
// attribute says Y, and those listed in the consoles file.
QStringList ConsoleDevices(const TPortListRoots& roots);

// The stable links of the by-id directory whose device exists, as full paths, unsorted.
QStringList StablePortLinks(const QString& byIdRoot);
