// SPDX-License-Identifier: MIT
// Rates without a termios constant (14400 of the console's list) are set
// through Linux's termios2 and BOTHER. This lives apart because the kernel's
// termbits header cannot share a translation unit with <termios.h>.
#include <cstdint>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>

int PortSetCustomBaud(int fd, uint32_t rate)
{
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) < 0)
        return -1;
    // Both directions: an input rate left split by an earlier program would
    // otherwise stay as it was.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t);
}
#else
int PortSetCustomBaud(int, uint32_t)
{
    return -1;
}
#endif
