// kiv_main.h - the entry point's function table and the library-wide end flag.
#ifndef DAZARAZ_KIV_MAIN_H
#define DAZARAZ_KIV_MAIN_H

#include <atomic>
#include <stdint.h>

#include "entry/host_records.h"

typedef uint16_t (*KivHandler)(CallBlock *block);

enum { FUNCTION_TABLE_SLOTS = 17 };

// Handlers by function number 0 to 16; empty slots are null.
extern const KivHandler FunctionTable[FUNCTION_TABLE_SLOTS];

// Set by EndKiv of any instance; from then on KivMain answers 0 to every
// call until the library is loaded again. Instances may run on different
// threads, so the flag is atomic.
extern std::atomic<bool> DriverEnded;

uint16_t BlockAddressParser(CallBlock *block);
uint16_t BlockRead(CallBlock *block);
uint16_t BlockWrite(CallBlock *block);

#endif
