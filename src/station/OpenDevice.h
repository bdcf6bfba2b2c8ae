#pragma once

#include <QString>

// The file descriptor through which this process holds the character device at `path` open,
// or -1. Lets the crash handler reach the serial port, whose component keeps its descriptor
// to itself.
int FindOpenDeviceDescriptor(const QString& path);
