#pragma once

#include <QString>

// The full path of the running program's executable file.
QString RunningExecutablePath();
