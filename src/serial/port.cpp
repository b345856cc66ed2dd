// port.cpp - the port operations: open and configure, close, read time-out,
// purge, write, read a byte count.
#include "serial/port.h"

#include <string.h>

// DTR and RTS control chosen by the open flags; the first matching row wins.
static uint8_t DtrControlFor(uint16_t openFlags) {
    if (openFlags & 0x0101) return DTR_CONTROL_ENABLE;
    if (openFlags & 0x8000) return DTR_CONTROL_HANDSHAKE;
    return DTR_CONTROL_DISABLE;
}

static uint8_t RtsControlFor(uint16_t openFlags) {
    if (openFlags & 0x0202) return RTS_CONTROL_ENABLE;
    if (openFlags & 0x1000) return RTS_CONTROL_HANDSHAKE;
    if (openFlags & 0x2000) return RTS_CONTROL_TOGGLE;
    return RTS_CONTROL_DISABLE;
}

int OpenPort(const char *name, const LineParams *line, uint16_t openFlags, PortHandle *handle) {
    PortHandle h = 0;
    if (!PlatOpen(name, &h)) return PORT_OPEN_FAILED;
    *handle = h;

    // The null port takes no line settings, time-outs or queue sizes.
    if (strcmp(name, "NUL") == 0) return PORT_OK;

    PlatLine settings;
    if (!PlatGetLine(h, &settings)) {
        PlatClose(h);
        return PORT_GET_STATE_FAILED;
    }

    // A read ends when its bytes are in or 1000 ms after it began; writes have no time-out.
    PlatTimeouts timeouts = {0, 0, PORT_OPEN_READ_TIMEOUT_MS, 0, 0};
    if (!PlatSetTimeouts(h, &timeouts)) {
        PlatClose(h);
        return PORT_OPEN_FAILED;
    }

    settings.BaudRate = line->BaudRate;
    settings.ByteSize = static_cast<uint8_t>(line->ByteSize);
    settings.Parity = static_cast<uint8_t>(line->Parity);
    settings.StopBits = static_cast<uint8_t>(line->StopBits);
    settings.fBinary = 1;
    settings.fParity = 1;
    settings.fOutxCtsFlow = 0;
    settings.fOutxDsrFlow = 0;
    settings.fDtrControl = DtrControlFor(openFlags);
    settings.fDsrSensitivity = 0;
    settings.fOutX = 0;
    settings.fInX = 0;
    settings.fErrorChar = 0;
    settings.fNull = 0;
    settings.fRtsControl = RtsControlFor(openFlags);
    settings.fAbortOnError = 0;
    settings.ErrorChar = static_cast<char>(0xFC);
    if (!PlatSetLine(h, &settings)) {
        PlatClose(h);
        return PORT_SET_STATE_FAILED;
    }

    PlatSetupQueues(h, PORT_QUEUE_SIZE, PORT_QUEUE_SIZE);
    return PORT_OK;
}

int ClosePort(PortHandle handle) { return PlatClose(handle) ? PORT_OK : PORT_CALL_FAILED; }

uint32_t SetReadTimeout(PortHandle handle, uint32_t units) {
    PlatTimeouts timeouts;
    if (!PlatGetTimeouts(handle, &timeouts)) return 0;
    const uint32_t previous = timeouts.ReadTotalTimeoutConstant;
    const uint32_t wanted = units * 10u;
    if (wanted != previous) {
        timeouts.ReadTotalTimeoutConstant = wanted;
        if (!PlatSetTimeouts(handle, &timeouts)) return 0;
    }
    return previous / 10u;
}

int PurgeInput(PortHandle handle) {
    uint32_t waiting = 0;
    if (PlatClearError(handle, &waiting) && waiting == 0) return PORT_OK;

    const uint32_t previous = SetReadTimeout(handle, PURGE_READ_TIMEOUT_UNITS);
    uint8_t scratch[PURGE_SCRATCH_SIZE]; // contents are thrown away
    bool failed = false;
    for (;;) {
        uint32_t got = 0;
        if (!PlatRead(handle, scratch, sizeof scratch, &got)) {
            failed = true;
            break;
        }
        if (got < sizeof scratch) break;
    }
    // A previous time-out of 0 (unknown, or below 10 ms) cannot be told
    // apart from a failure, so the purge time-out stays in place then.
    if (previous != 0) SetReadTimeout(handle, previous);
    return failed ? PORT_OPEN_FAILED : PORT_OK;
}

int WriteBytes(PortHandle handle, const uint8_t *bytes, uint32_t count, uint32_t *written) {
    uint32_t n = 0;
    if (!PlatWrite(handle, bytes, count, &n)) return PORT_CALL_FAILED;
    *written = n;
    return n == count ? PORT_OK : PORT_SHORT_WRITE;
}

int ReadBytes(PortHandle handle, uint8_t *buffer, uint16_t count, uint16_t *received) {
    *received = 0;
    uint32_t total = 0;
    while (total < count) {
        uint32_t got = 0;
        if (!PlatRead(handle, buffer + total, count - total, &got)) return PORT_CALL_FAILED;
        if (got == 0) return PORT_CALL_FAILED;
        total += got;
        *received = static_cast<uint16_t>(total);
    }
    return PORT_OK;
}
