// init_file.h - the instance's initialisation file (ZIROD03.INT, ZIROD3.INT, ZIROD.INT).
#ifndef DAZARAZ_INIT_FILE_H
#define DAZARAZ_INIT_FILE_H

#include <stdint.h>
#include <stdio.h>

#include "entry/driver_data.h"

// Large enough for the base name, any 32-bit instance number and ".INT".
enum { INIT_FILE_NAME_SIZE = 24 };

// Tries the three name patterns in order; answers the first file that opens
// (or null) and leaves the name last formed in nameBuffer.
FILE *OpenInitFile(const char *baseName, char nameBuffer[INIT_FILE_NAME_SIZE], uint32_t instance);

// Reads the file of the call's Instance into the call's DriverData.
void ReadInitFile(CallBlock *block);

// Answers whether the (upper-cased) line sets this key; stores 0 or 1 in
// flag for OFF or ON, leaves it for any other word.
bool ReadOnOff(const char *line, const char *pattern, uint8_t *flag);

#endif
