// send_receive.cpp - one request frame out, one reply in.
//
// Send keeps the inter-frame gap, turns RTS around the frame and purges stale
// input before writing; Receive takes the reply either as an exact byte count
// or byte by byte up to a terminator. Both work only on the instance's
// DriverData and the port operations of port.h.
#include "serial/send_receive.h"

#include "entry/log.h"
#include "serial/port.h"

// Milliseconds are read from the platform clock and kept as seconds.
static double ClockSeconds() { return static_cast<double>(PlatMillis()) * 0.001; }

double StartClock(double *start) {
    *start = ClockSeconds();
    return *start;
}

double ElapsedSeconds(double start) { return ClockSeconds() - start; }

// Sleeps until IFG milliseconds have passed since the wait began. The elapsed
// time is scaled by 1001.0 rather than 1000.0, so a clock that shows exactly
// IFG ms after the sleep is always enough. Every sleep that the clock does
// not confirm is logged and followed by another full sleep.
void WaitIFG(DriverData *data) {
    double start;
    StartClock(&start);
    for (;;) {
        PlatSleep(data->IFG);
        const double elapsed = ElapsedSeconds(start) * 1001.0;
        if (data->IFG > elapsed) {
            err(LOG_OPERATION, "ZIROD> IFG failed (%lfms < %dms)", elapsed, static_cast<int>(data->IFG));
            continue;
        }
        return;
    }
}

uint16_t Send(DriverData *data) {
    // A frame longer than the send buffer was never built by this driver;
    // refuse it before anything touches the line rather than write past the
    // buffer.
    if (data->SendLength > SEND_BUFFER_SIZE) {
        err(LOG_OPERATION, "ZIROD> Send() Unable to send message.");
        return 2;
    }
    if (data->IFG != 0) WaitIFG(data);

    if (PlatEscape(data->ComHandle, PLAT_SETRTS) != 1) err(LOG_OPERATION, "ZIROD> Send() EscapeCommFunction() failed");

    PurgeInput(data->ComHandle);

    uint32_t written = 0;
    const int rc = WriteBytes(data->ComHandle, data->SendBuffer, data->SendLength, &written);

    // Clears whatever error state the write left; only the call matters here.
    uint32_t waiting = 0;
    PlatClearError(data->ComHandle, &waiting);

    // RTS stays up until the last character has left the line.
    PlatSleep(RTS_TURNAROUND_MS);
    const int lowered = PlatEscape(data->ComHandle, PLAT_CLRRTS);
    if (lowered != 1) err(LOG_OPERATION, "ZIROD> Send() EscapeCommFunction() failed (%d)", lowered);

    if (rc == PORT_OK && written == data->SendLength) return 0;
    err(LOG_OPERATION, "ZIROD> Send() Unable to send message.");
    return 2;
}

// Exact mode: ReplyLength bytes in one ReadBytes.
static uint16_t ReceiveExact(DriverData *data) {
    // The read path never expects more than the receive buffer holds; a
    // larger expectation is refused without reading, so nothing can be
    // stored beyond RecvBuffer.
    if (data->ReplyLength > RECV_BUFFER_SIZE) {
        err(LOG_OPERATION, "ZIROD> Receive() Reply length %u exceeds receive buffer (%u)",
            static_cast<unsigned>(data->ReplyLength), static_cast<unsigned>(RECV_BUFFER_SIZE));
        return 2;
    }
    uint16_t received = 0;
    const int rc = ReadBytes(data->ComHandle, data->RecvBuffer, data->ReplyLength, &received);
    if (rc != PORT_OK) {
        err(LOG_OPERATION, "ZIROD> Receive() Nothing replied (%u)", static_cast<unsigned>(rc));
        return 2;
    }
    return 0;
}

// Terminator mode: one byte per read until the terminator has been read.
// ReplyLength is the index of the byte last read while the loop runs, and the
// reply's full length once the terminator is in.
static uint16_t ReceiveToTerminator(DriverData *data, uint8_t terminator) {
    data->ReplyLength = 0;
    uint16_t received = 0;
    int rc = ReadBytes(data->ComHandle, data->RecvBuffer, 1, &received);
    if (rc != PORT_OK) {
        err(LOG_OPERATION, "ZIROD> Receive() Nothing replied (%u)", static_cast<unsigned>(rc));
        return 2;
    }
    while (data->RecvBuffer[data->ReplyLength] != terminator) {
        // The buffer is full and still no terminator: the reply is cut off
        // like one that stops early, and nothing more is read.
        if (data->ReplyLength + 1 >= RECV_BUFFER_SIZE) return PORT_CALL_FAILED;
        data->ReplyLength++;
        rc = ReadBytes(data->ComHandle, data->RecvBuffer + data->ReplyLength, 1, &received);
        if (rc != PORT_OK) return static_cast<uint16_t>(rc);
    }
    data->ReplyLength += received;
    return 0;
}

uint16_t Receive(DriverData *data, uint8_t terminator) {
    const uint16_t entryLength = data->ReplyLength;
    const uint16_t answer = entryLength != 0 ? ReceiveExact(data) : ReceiveToTerminator(data, terminator);
    // A failed receive leaves the expectation as it came, so the caller can retry.
    if (answer != 0) data->ReplyLength = entryLength;
    return answer;
}
