// read_write.h - single read and single write of one tag.
#ifndef DAZARAZ_READ_WRITE_H
#define DAZARAZ_READ_WRITE_H

#include <stdint.h>

#include "entry/driver_data.h"

uint16_t SingleRead(CallBlock *block);
uint16_t SingleWrite(CallBlock *block);
uint16_t DoRead(CallBlock *block);
uint16_t DoWrite(CallBlock *block);
uint16_t CpuStart(DriverData *data);
uint16_t StoreData(CallBlock *block, const uint8_t *dataChars);

// Turns the acknowledged set-up request in SendBuffer (command 32) into the
// fetch request (command 33) in place, raising its checksum characters by one.
void MakeFetchRequest(DriverData *data);

#endif
