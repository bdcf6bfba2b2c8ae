#include "RigServerProcess.h"

#include <unistd.h>

void RigServerProcess::keepFromTerminalSignals(QProcess& process)
{
    // Ctrl-C, Ctrl-\ and a closing terminal signal the whole foreground process group. The
    // rigctld must outlive this program's own end by that long: the release of a keyed
    // radio goes out through it.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}
