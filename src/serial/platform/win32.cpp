// win32.cpp - the platform seam on the kernel32 communications calls.
//
// Each call maps onto one Win32 call; PlatLine and PlatTimeouts are copied
// member for member to and from the DCB and COMMTIMEOUTS. The port is opened
// synchronous (no FILE_FLAG_OVERLAPPED), so ReadFile returns when the bytes
// asked for have arrived or when the total read time-out has run out.
// platform.h comes first: its DTR and RTS control names are also macros of
// windows.h (with the same values), which must not expand inside its enum.
#include "serial/platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

static_assert(PLAT_SETRTS == SETRTS && PLAT_CLRRTS == CLRRTS, "escape codes are the Win32 ones");
static_assert(DTR_CONTROL_HANDSHAKE == 2 && RTS_CONTROL_TOGGLE == 3, "control modes are the DCB ones");

// A PortHandle carries the HANDLE's bits. Win32 never hands out 0 for a file
// handle, so 0 keeps meaning "no port".
static HANDLE ToHandle(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool PlatOpen(const char *name, PortHandle *handle) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    *handle = reinterpret_cast<PortHandle>(h);
    return true;
}

bool PlatClose(PortHandle handle) { return CloseHandle(ToHandle(handle)) != 0; }

bool PlatGetLine(PortHandle handle, PlatLine *line) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(ToHandle(handle), &dcb)) return false;
    line->BaudRate = dcb.BaudRate;
    line->fBinary = static_cast<uint8_t>(dcb.fBinary);
    line->fParity = static_cast<uint8_t>(dcb.fParity);
    line->fOutxCtsFlow = static_cast<uint8_t>(dcb.fOutxCtsFlow);
    line->fOutxDsrFlow = static_cast<uint8_t>(dcb.fOutxDsrFlow);
    line->fDtrControl = static_cast<uint8_t>(dcb.fDtrControl);
    line->fDsrSensitivity = static_cast<uint8_t>(dcb.fDsrSensitivity);
    line->fTXContinueOnXoff = static_cast<uint8_t>(dcb.fTXContinueOnXoff);
    line->fOutX = static_cast<uint8_t>(dcb.fOutX);
    line->fInX = static_cast<uint8_t>(dcb.fInX);
    line->fErrorChar = static_cast<uint8_t>(dcb.fErrorChar);
    line->fNull = static_cast<uint8_t>(dcb.fNull);
    line->fRtsControl = static_cast<uint8_t>(dcb.fRtsControl);
    line->fAbortOnError = static_cast<uint8_t>(dcb.fAbortOnError);
    line->XonLim = dcb.XonLim;
    line->XoffLim = dcb.XoffLim;
    line->ByteSize = dcb.ByteSize;
    line->Parity = dcb.Parity;
    line->StopBits = dcb.StopBits;
    line->XonChar = dcb.XonChar;
    line->XoffChar = dcb.XoffChar;
    line->ErrorChar = dcb.ErrorChar;
    line->EofChar = dcb.EofChar;
    line->EvtChar = dcb.EvtChar;
    return true;
}

bool PlatSetLine(PortHandle handle, const PlatLine *line) {
    // The members PlatLine does not carry (fDummy2, wReserved, wReserved1)
    // must be zero.
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = line->BaudRate;
    dcb.fBinary = line->fBinary & 1;
    dcb.fParity = line->fParity & 1;
    dcb.fOutxCtsFlow = line->fOutxCtsFlow & 1;
    dcb.fOutxDsrFlow = line->fOutxDsrFlow & 1;
    dcb.fDtrControl = line->fDtrControl & 3;
    dcb.fDsrSensitivity = line->fDsrSensitivity & 1;
    dcb.fTXContinueOnXoff = line->fTXContinueOnXoff & 1;
    dcb.fOutX = line->fOutX & 1;
    dcb.fInX = line->fInX & 1;
    dcb.fErrorChar = line->fErrorChar & 1;
    dcb.fNull = line->fNull & 1;
    dcb.fRtsControl = line->fRtsControl & 3;
    dcb.fAbortOnError = line->fAbortOnError & 1;
    dcb.XonLim = line->XonLim;
    dcb.XoffLim = line->XoffLim;
    dcb.ByteSize = line->ByteSize;
    dcb.Parity = line->Parity;
    dcb.StopBits = line->StopBits;
    dcb.XonChar = line->XonChar;
    dcb.XoffChar = line->XoffChar;
    dcb.ErrorChar = line->ErrorChar;
    dcb.EofChar = line->EofChar;
    dcb.EvtChar = line->EvtChar;
    return SetCommState(ToHandle(handle), &dcb) != 0;
}

bool PlatGetTimeouts(PortHandle handle, PlatTimeouts *timeouts) {
    COMMTIMEOUTS t;
    if (!GetCommTimeouts(ToHandle(handle), &t)) return false;
    timeouts->ReadIntervalTimeout = t.ReadIntervalTimeout;
    timeouts->ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts->ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    timeouts->WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts->WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return true;
}

bool PlatSetTimeouts(PortHandle handle, const PlatTimeouts *timeouts) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = timeouts->ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts->ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts->ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts->WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts->WriteTotalTimeoutConstant;
    return SetCommTimeouts(ToHandle(handle), &t) != 0;
}

bool PlatSetupQueues(PortHandle handle, uint32_t inBytes, uint32_t outBytes) {
    return SetupComm(ToHandle(handle), inBytes, outBytes) != 0;
}

bool PlatClearError(PortHandle handle, uint32_t *waiting) {
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    if (!ClearCommError(ToHandle(handle), &errors, &status)) {
        *waiting = 0;
        return false;
    }
    *waiting = status.cbInQue;
    return true;
}

bool PlatRead(PortHandle handle, void *buffer, uint32_t count, uint32_t *received) {
    DWORD got = 0;
    const BOOL ok = ReadFile(ToHandle(handle), buffer, count, &got, nullptr);
    *received = got;
    return ok != 0;
}

bool PlatWrite(PortHandle handle, const void *buffer, uint32_t count, uint32_t *written) {
    DWORD put = 0;
    const BOOL ok = WriteFile(ToHandle(handle), buffer, count, &put, nullptr);
    *written = put;
    return ok != 0;
}

int PlatEscape(PortHandle handle, int function) {
    return EscapeCommFunction(ToHandle(handle), static_cast<DWORD>(function)) ? 1 : 0;
}

void PlatSleep(uint32_t milliseconds) { Sleep(milliseconds); }

// The performance counter runs at a fixed rate (fixed at boot), so one
// reading of the frequency serves for the life of the process. Whole
// milliseconds are counted from the first reading; the tick count's 10-16 ms
// steps would make the gap wait see sleeps that the clock has not confirmed.
uint64_t PlatMillis() {
    static LARGE_INTEGER frequency = {};
    static LARGE_INTEGER origin = {};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&origin);
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart - origin.QuadPart);
    const uint64_t freq = static_cast<uint64_t>(frequency.QuadPart);
    // Split into whole seconds and the rest so that ticks * 1000 cannot overflow.
    return (ticks / freq) * 1000u + (ticks % freq) * 1000u / freq;
}
