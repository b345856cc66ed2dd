/* posix_line.h - the line settings that posix_baud.c applies with termios2. */
#ifndef DAZARAZ_POSIX_LINE_H
#define DAZARAZ_POSIX_LINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct DzLine {
    uint32_t baud;
    uint8_t byteSize;    /* 5 to 8 */
    uint8_t parity;      /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
    uint8_t twoStopBits;
    uint8_t checkParity; /* a byte with a parity error reads as NUL */
    uint8_t ctsFlow;
    uint8_t xonOut, xonIn;
    uint8_t xonChar, xoffChar, eofChar;
};

/* Both answer 0 on success, -1 on failure. */
int DzGetLine(int fd, struct DzLine *line);
int DzSetLine(int fd, const struct DzLine *line);

#ifdef __cplusplus
}
#endif

#endif
