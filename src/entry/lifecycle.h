// lifecycle.h - cold start, warm start, end, port close/reopen/change, info.
#ifndef DAZARAZ_LIFECYCLE_H
#define DAZARAZ_LIFECYCLE_H

#include <stdint.h>

#include "entry/driver_data.h"

extern const char DriverName[];   // "Hitachi series EM II"
extern const char Banner[200];    // 199 bytes in code page 437 and a NUL

uint16_t ColdStart(CallBlock *block);
uint16_t WarmStart(CallBlock *block);
uint16_t EndKiv(CallBlock *block);
uint16_t CloseCom(CallBlock *block);
uint16_t ReOpenCom(CallBlock *block);
uint16_t GetKivInfo(CallBlock *block);
uint16_t ChangeKivParams(CallBlock *block);

// Steps of the cold start.
void SetDefaults(CallBlock *block);
uint16_t AllocateBuffers(DriverData *data);
uint16_t RtsCtsSetup(DriverData *data);

// Forgets every instance that has been cold-started, as a fresh load of the
// library would (used where one process stands in for several loads).
void ForgetStartedInstances();

// Opens ComName with ComParams and ComFlags; answers the handle (stored in
// ComHandle) or 0, and logs either way.
PortHandle OpenCom(DriverData *data);

#endif
