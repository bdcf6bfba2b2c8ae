#pragma once

#include <QString>

// The rigctld program this one runs: "rigctld" from the search path, or the program named
// by VOKEY_RIGCTLD (an installation in another place; tests name a missing one).
QString RigServerProgram();

// What to tell the operator when it cannot be started.
QString RigServerMissingText();
