// frames.h - request frames and the checksum.
#ifndef DAZARAZ_FRAMES_H
#define DAZARAZ_FRAMES_H

#include <stdint.h>

#include "entry/driver_data.h"

enum : uint8_t { STX = 0x02, CR = 0x0D, NAK = 0x15 };
enum { ACK_REPLY_LENGTH = 10 };

// Low 8 bits of the sum of count bytes.
uint16_t CheckSum(const uint8_t *bytes, uint16_t count);

// Appends the checksum of SendBuffer[1 .. SendLength-1] ("%02X") and CR;
// SendLength += 3. A SendLength of 0, or one that leaves no room for the two
// digits, the CR and the NUL within SEND_BUFFER_SIZE, sets SendLength to 0
// instead (nothing to send); the builders never pass such a length.
void AppendCheckSum(DriverData *data);

// The builders answer true when a complete request stands in SendBuffer.
// On a first type letter they do not handle they log the internal error
// (category 32, "ZIROD> BuilReadRequest() Internal driver error ('%s')" with
// the AddressText) and answer false, leaving SendLength at 0 so that nothing
// stale can be sent. The same happens when the call block lacks its
// DriverData, SendBuffer or TagRecord, or a W tag lacks its ValueCell.
// Addresses are printed as "%04X" of Address & 0xFFFF (and
// (Address + 1) & 0xFFFF), so no frame exceeds 22 bytes.
//   BuildReadRequest: B -> 18 bytes (command 32, one address);
//                     W, T -> 22 bytes (command 32, Address and Address + 1).
//   BuildWriteReq:    B -> 14 bytes (command 40 with dataByte);
//                     W -> 16 bytes (command 41 with ValueCell->Value).
bool BuildReadRequest(CallBlock *block);
bool BuildWriteReq(CallBlock *block, uint8_t dataByte);

// The CPU start request: STX, "%02X12" with 0, AppendCheckSum; always the
// 8 bytes 02 30 30 31 32 43 33 0D, SendLength 8.
void BuildCpuStartRequest(DriverData *data);

#endif
