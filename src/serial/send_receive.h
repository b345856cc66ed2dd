// send_receive.h - one request frame out, one reply in.
#ifndef DAZARAZ_SEND_RECEIVE_H
#define DAZARAZ_SEND_RECEIVE_H

#include <stdint.h>

#include "entry/driver_data.h"

enum { RTS_TURNAROUND_MS = 15 };

// Writes SendLength bytes of SendBuffer after the gap, with RTS raised;
// answers 0 when every byte went out, else 2.
uint16_t Send(DriverData *data);

// Reads ReplyLength bytes (or, with ReplyLength 0, up to and including the
// terminator) into RecvBuffer; answers 0, 2 (nothing received) or 7 (a reply
// read up to the terminator stopped before it, or filled the buffer).
uint16_t Receive(DriverData *data, uint8_t terminator);

void WaitIFG(DriverData *data);
double StartClock(double *start);
double ElapsedSeconds(double start);

#endif
