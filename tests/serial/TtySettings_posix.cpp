// Kept apart from <termios.h>, whose struct termios is not the kernel's.

#include "TtySettings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool ReadTtySettings(int fd, TtySettings& settings)
{
    termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    settings.iflag = tio.c_iflag;
    settings.cflag = tio.c_cflag;
    settings.ispeed = tio.c_ispeed;
    settings.ospeed = tio.c_ospeed;
    settings.startChar = tio.c_cc[VSTART];
    settings.stopChar = tio.c_cc[VSTOP];
    return true;
}

namespace TtyFlag {
const unsigned ParEnb = PARENB, ParOdd = PARODD, CmSpar = CMSPAR, CStopB = CSTOPB,
               CrtsCts = CRTSCTS, CSize = CSIZE, Cs8 = CS8, HupCl = HUPCL, Bother = BOTHER,
               CBaud = CBAUD;
const unsigned IxOn = IXON, IxOff = IXOFF, InPck = INPCK;
}
