// driver_data.h - the work area of one driver instance.
//
// The host provides the storage (GetKivInfo announces its size) and passes
// it as CallBlock.Data in every call. Fields in this order; 56 bytes on a
// 32-bit build.
#ifndef DAZARAZ_DRIVER_DATA_H
#define DAZARAZ_DRIVER_DATA_H

#include <stddef.h>
#include <stdint.h>

#include "entry/host_records.h"
#include "serial/platform/platform.h"

enum {
    SEND_BUFFER_SIZE = 32,
    RECV_BUFFER_SIZE = 128,
    DEFAULT_IFG_MS = 10,
    COM_FLAGS_AT_COLD_START = 0x0303
};

struct DriverData {
    uint32_t ReadTimeout;   // reply time-out in units of 10 ms
    PortHandle ComHandle;   // the open port; 0 when none is open
    char ComName[12];       // port name, NUL-terminated
    LineParams ComParams;   // line settings of the port
    uint16_t ComFlags;      // open flags (DTR/RTS control)
    uint8_t *SendBuffer;    // SEND_BUFFER_SIZE bytes
    uint8_t *RecvBuffer;    // RECV_BUFFER_SIZE bytes
    uint16_t SendLength;    // bytes of the request to send
    uint16_t ReplyLength;   // bytes of reply expected; 0 = up to the CR
    uint8_t RTSCTSflag;     // key RTSCTS
    uint8_t CpuStarted;     // CPU start done since the last cold or warm start
    uint8_t UsageFlag;      // key NEWUSE: bit writes read the word first
    uint8_t DebugFlag;      // key DEBUG: two extra trace lines
    uint16_t IFG;           // minimum gap before every frame, ms; 0 = none
    CallBlock *Current;     // the read or write in progress
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(DriverData, ComHandle) == 4, "DriverData.ComHandle");
static_assert(offsetof(DriverData, ComName) == 8, "DriverData.ComName");
static_assert(offsetof(DriverData, ComParams) == 20, "DriverData.ComParams");
static_assert(offsetof(DriverData, ComFlags) == 28, "DriverData.ComFlags");
static_assert(offsetof(DriverData, SendBuffer) == 32, "DriverData.SendBuffer");
static_assert(offsetof(DriverData, RecvBuffer) == 36, "DriverData.RecvBuffer");
static_assert(offsetof(DriverData, SendLength) == 40, "DriverData.SendLength");
static_assert(offsetof(DriverData, ReplyLength) == 42, "DriverData.ReplyLength");
static_assert(offsetof(DriverData, RTSCTSflag) == 44, "DriverData.RTSCTSflag");
static_assert(offsetof(DriverData, IFG) == 48, "DriverData.IFG");
static_assert(offsetof(DriverData, Current) == 52, "DriverData.Current");
static_assert(sizeof(DriverData) == 56, "DriverData is 56 bytes on the 32-bit interface");
#else
static_assert(offsetof(DriverData, ComHandle) == 8, "DriverData.ComHandle");
static_assert(offsetof(DriverData, ComName) == 16, "DriverData.ComName");
static_assert(offsetof(DriverData, ComFlags) == 36, "DriverData.ComFlags");
static_assert(offsetof(DriverData, SendBuffer) == 40, "DriverData.SendBuffer");
static_assert(offsetof(DriverData, IFG) == 64, "DriverData.IFG");
static_assert(offsetof(DriverData, Current) == 72, "DriverData.Current");
static_assert(sizeof(DriverData) == 80, "DriverData with 8-byte pointers");
#endif

#endif
