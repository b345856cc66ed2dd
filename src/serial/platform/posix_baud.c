/*
 * posix_baud.c - line settings through the Linux termios2 interface, which
 * takes any line speed (14400, 250000, ...) rather than only the B-constants.
 * Kept apart because <asm/termbits.h> clashes with <termios.h>.
 *
 * The settings go to the kernel directly: the C library's tcsetattr refuses
 * a change that a pseudo-terminal does not reproduce (it forces 8 data bits
 * and no parity), and such a line must still open.
 */
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <stdint.h>
#include <sys/ioctl.h>

#include "posix_line.h"

int DzGetLine(int fd, struct DzLine *line) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    line->baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: line->byteSize = 5; break;
    case CS6: line->byteSize = 6; break;
    case CS7: line->byteSize = 7; break;
    default: line->byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        line->parity = 0;
    else if (t.c_cflag & CMSPAR)
        line->parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        line->parity = (t.c_cflag & PARODD) ? 1 : 2;
    line->twoStopBits = (t.c_cflag & CSTOPB) ? 1 : 0;
    line->checkParity = (t.c_iflag & INPCK) ? 1 : 0;
    line->ctsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    line->xonOut = (t.c_iflag & IXON) ? 1 : 0;
    line->xonIn = (t.c_iflag & IXOFF) ? 1 : 0;
    line->xonChar = t.c_cc[VSTART];
    line->xoffChar = t.c_cc[VSTOP];
    line->eofChar = t.c_cc[VEOF];
    return 0;
}

int DzSetLine(int fd, const struct DzLine *line) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    /* Raw: no line editing, echo, signals, translation or output processing. */
    t.c_iflag &= ~(tcflag_t)(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                             INPCK | IGNPAR);
    t.c_oflag &= ~(tcflag_t)OPOST;
    t.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    switch (line->byteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return -1;
    }
    switch (line->parity) {
    case 0: break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: return -1;
    }
    if (line->twoStopBits) t.c_cflag |= CSTOPB;
    if (line->checkParity && line->parity != 0) t.c_iflag |= INPCK;
    if (line->ctsFlow) t.c_cflag |= CRTSCTS;
    if (line->xonOut) t.c_iflag |= IXON;
    if (line->xonIn) t.c_iflag |= IXOFF;

    if (line->baud == 0) return -1; /* speed 0 would hang up the line */
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = line->baud;
    t.c_ospeed = line->baud;
    if (ioctl(fd, TCSETS2, &t) != 0) return -1;

    /* A rate the hardware cannot make is refused rather than approximated. */
    struct termios2 back;
    if (ioctl(fd, TCGETS2, &back) != 0 || back.c_ospeed != line->baud) return -1;
    return 0;
}
