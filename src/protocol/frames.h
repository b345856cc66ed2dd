// frames.h - request frames and the checksum.
#ifndef DAZARAZ_FRAMES_H
#define DAZARAZ_FRAMES_H

#include <stdint.h>

#include "entry/driver_data.h"

enum : uint8_t { STX = 0x02, CR = 0x0D, NAK = 0x15 };
enum { ACK_REPLY_LENGTH = 10 };

// Low 8 bits of the sum of count bytes.
uint16_t CheckSum(const uint8_t *bytes, uint16_t count);

// Appends the checksum of SendBuffer[1 .. SendLength-1] and CR; SendLength += 3.
void AppendCheckSum(DriverData *data);

// The builders answer true when a complete request stands in SendBuffer.
// On a first type letter they do not handle they log the internal error and
// answer false, leaving SendLength at 0 so that nothing stale can be sent.
bool BuildReadRequest(CallBlock *block);
bool BuildWriteReq(CallBlock *block, uint8_t dataByte);
void BuildCpuStartRequest(DriverData *data);

#endif
