#pragma once

// A tty's settings read back as the kernel holds them (termios2, with the real speed).

struct TtySettings {
    unsigned iflag = 0;
    unsigned cflag = 0;
    unsigned ispeed = 0;
    unsigned ospeed = 0;
    unsigned char startChar = 0;
    unsigned char stopChar = 0;
};

// False when the settings could not be read.
bool ReadTtySettings(int fd, TtySettings& settings);

// The flag values, for comparing without <asm/termbits.h>.
namespace TtyFlag {
extern const unsigned ParEnb, ParOdd, CmSpar, CStopB, CrtsCts, CSize, Cs8, HupCl, Bother, CBaud;
extern const unsigned IxOn, IxOff, InPck;
}
