#pragma once

#include <QString>

// Why a serial port could not be opened, in words an operator can act on:
// "<device path>: <reason>" for the system's error code `error` (errno; -1: none known).
QString DescribeOpenFailure(const QString& devicePath, int error);
