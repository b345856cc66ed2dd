// platform.h - the seam between the driver and the operating system.
//
// The driver's port operations (port.h) and the send path (send_receive.h)
// reach the serial line, the clock and sleeping only through these calls.
// They mirror what the driver needs from the Win32 communications calls:
// each answers true on success (the Win32 "non-zero"), false on failure.
// Implementations: posix.cpp (termios), win32.cpp (kernel32) and, for the
// unit tests, a scripted fake.
#ifndef DAZARAZ_PLATFORM_H
#define DAZARAZ_PLATFORM_H

#include <stdint.h>

// The platform's handle of an open port. 0 never stands for an open port.
typedef uintptr_t PortHandle;

// DTR and RTS control modes of PlatLine (the Win32 DCB codes).
enum {
    DTR_CONTROL_DISABLE = 0,
    DTR_CONTROL_ENABLE = 1,
    DTR_CONTROL_HANDSHAKE = 2,
    RTS_CONTROL_DISABLE = 0,
    RTS_CONTROL_ENABLE = 1,
    RTS_CONTROL_HANDSHAKE = 2,
    RTS_CONTROL_TOGGLE = 3
};

// Codes for PlatEscape.
enum { PLAT_SETRTS = 3, PLAT_CLRRTS = 4 };

// The line settings of a port, member for member those of the Win32 DCB.
// A platform that cannot express a member keeps what it read.
struct PlatLine {
    uint32_t BaudRate;
    uint8_t fBinary;
    uint8_t fParity;
    uint8_t fOutxCtsFlow;
    uint8_t fOutxDsrFlow;
    uint8_t fDtrControl;
    uint8_t fDsrSensitivity;
    uint8_t fTXContinueOnXoff;
    uint8_t fOutX;
    uint8_t fInX;
    uint8_t fErrorChar;
    uint8_t fNull;
    uint8_t fRtsControl;
    uint8_t fAbortOnError;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize;
    uint8_t Parity;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits; // 0 one, 1 one and a half, 2 two
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
};

// The five time-outs of a port, in milliseconds (the Win32 COMMTIMEOUTS).
struct PlatTimeouts {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// Opens the port by name for exclusive, synchronous use.
bool PlatOpen(const char *name, PortHandle *handle);
bool PlatClose(PortHandle handle);
bool PlatGetLine(PortHandle handle, PlatLine *line);
bool PlatSetLine(PortHandle handle, const PlatLine *line);
bool PlatGetTimeouts(PortHandle handle, PlatTimeouts *timeouts);
bool PlatSetTimeouts(PortHandle handle, const PlatTimeouts *timeouts);
bool PlatSetupQueues(PortHandle handle, uint32_t inBytes, uint32_t outBytes);
// Clears the port's error state and tells how many received bytes wait.
bool PlatClearError(PortHandle handle, uint32_t *waiting);
// Returns when count bytes have arrived or the read time-out has run out
// since the call began, with what arrived (possibly nothing).
bool PlatRead(PortHandle handle, void *buffer, uint32_t count, uint32_t *received);
// Returns when the bytes are handed over to the line.
bool PlatWrite(PortHandle handle, const void *buffer, uint32_t count, uint32_t *written);
// SETRTS or CLRRTS; answers 1 on success, 0 on failure.
int PlatEscape(PortHandle handle, int function);
void PlatSleep(uint32_t milliseconds);
// Milliseconds since a fixed start, never running backwards.
uint64_t PlatMillis();

#endif
