// port.h - the six port operations over the platform seam.
//
// They know nothing of DriverData, the host or the log; each answers a small
// result code (0 done).
#ifndef DAZARAZ_PORT_H
#define DAZARAZ_PORT_H

#include <stdint.h>

#include "entry/host_records.h"
#include "serial/platform/platform.h"

enum {
    PORT_OK = 0,
    PORT_OPEN_FAILED = 1,     // OpenPort: open or time-outs failed; PurgeInput: last read failed
    PORT_SHORT_WRITE = 2,     // WriteBytes: fewer bytes taken than asked
    PORT_GET_STATE_FAILED = 4,// OpenPort: current line settings not readable
    PORT_SET_STATE_FAILED = 5,// OpenPort: new line settings refused
    PORT_CALL_FAILED = 7      // ClosePort, WriteBytes, ReadBytes
};

enum {
    PORT_QUEUE_SIZE = 1200,
    PORT_OPEN_READ_TIMEOUT_MS = 1000,
    PURGE_READ_TIMEOUT_UNITS = 5,
    PURGE_SCRATCH_SIZE = 512
};

int OpenPort(const char *name, const LineParams *line, uint16_t openFlags, PortHandle *handle);
int ClosePort(PortHandle handle);
// Answers the previous read time-out in units of 10 ms, or 0 on failure.
uint32_t SetReadTimeout(PortHandle handle, uint32_t units);
int PurgeInput(PortHandle handle);
int WriteBytes(PortHandle handle, const uint8_t *bytes, uint32_t count, uint32_t *written);
int ReadBytes(PortHandle handle, uint8_t *buffer, uint16_t count, uint16_t *received);

#endif
