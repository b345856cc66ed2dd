// lifecycle.cpp - the handlers that create, adjust and end an instance, and
// the driver information.
#include "entry/lifecycle.h"

#include <stdlib.h>
#include <string.h>

#include "entry/init_file.h"
#include "entry/kiv_main.h"
#include "entry/log.h"
#include "entry/memory.h"
#include "serial/port.h"

void *(*AllocateBlock)(size_t size) = malloc;
void (*ReleaseBlock)(void *block) = free;

const char DriverName[] = "Hitachi series EM II";

// Three framed lines of 65 bytes in code page 437, after a backspace and a
// line feed: 199 bytes and the terminating NUL.
static constexpr int BANNER_WIDTH = 65;
static constexpr char BANNER_TITLE[] = "  ZIROD :  Hitachi series EM II (32 bit)";

struct BannerText {
    char text[200];
};

static constexpr BannerText MakeBanner() {
    BannerText b{};
    int n = 0;
    b.text[n++] = '\x08';
    b.text[n++] = '\n';
    b.text[n++] = '\xC9';
    for (int i = 0; i < BANNER_WIDTH - 2; ++i) b.text[n++] = '\xCD';
    b.text[n++] = '\xBB';
    b.text[n++] = '\n';
    b.text[n++] = '\xBA';
    int title = 0;
    for (; BANNER_TITLE[title] != '\0'; ++title) b.text[n++] = BANNER_TITLE[title];
    for (int i = title; i < BANNER_WIDTH - 2; ++i) b.text[n++] = ' ';
    b.text[n++] = '\xBA';
    b.text[n++] = '\n';
    b.text[n++] = '\xC8';
    for (int i = 0; i < BANNER_WIDTH - 2; ++i) b.text[n++] = '\xCD';
    b.text[n++] = '\xBC';
    b.text[n] = '\0';
    return b;
}

static constexpr BannerText BANNER = MakeBanner();
static_assert(BANNER.text[198] == '\xBC' && BANNER.text[199] == '\0', "banner is 199 bytes");
static_assert(sizeof(BANNER_TITLE) - 1 == 40, "banner title is 40 characters");

const char Banner[200] = {
#define B(i) BANNER.text[i]
#define B10(i) B(i), B(i + 1), B(i + 2), B(i + 3), B(i + 4), B(i + 5), B(i + 6), B(i + 7), B(i + 8), B(i + 9)
    B10(0),   B10(10),  B10(20),  B10(30),  B10(40),  B10(50),  B10(60),  B10(70),  B10(80),  B10(90),
    B10(100), B10(110), B10(120), B10(130), B10(140), B10(150), B10(160), B10(170), B10(180), B10(190),
#undef B10
#undef B
};

// Instances that have been cold-started in this process, with the buffers
// and the port that each holds. A second cold start of the same storage
// releases those first instead of leaking the buffers and keeping the port
// locked; it trusts this record, not the host's storage, for what to release.
enum { TRACKED_INSTANCES = 64 };

struct StartedInstance {
    std::atomic<DriverData *> data; // claims the slot
    void *sendBuffer;               // the rest belongs to the instance's caller
    void *recvBuffer;
    PortHandle handle;
};

static StartedInstance startedInstances[TRACKED_INSTANCES];

static StartedInstance *Tracked(DriverData *data) {
    for (auto &slot : startedInstances)
        if (slot.data.load() == data) return &slot;
    return nullptr;
}

static StartedInstance *Track(DriverData *data) {
    for (auto &slot : startedInstances) {
        DriverData *expected = nullptr;
        if (slot.data.compare_exchange_strong(expected, data)) {
            slot.sendBuffer = nullptr;
            slot.recvBuffer = nullptr;
            slot.handle = 0;
            return &slot;
        }
    }
    return nullptr; // every slot taken: the instance is simply not tracked
}

static void Untrack(StartedInstance *slot) {
    if (slot) slot->data.store(nullptr);
}

void ForgetStartedInstances() {
    for (auto &slot : startedInstances) slot.data.store(nullptr);
}

static void NoteHandle(DriverData *data, PortHandle handle) {
    if (StartedInstance *slot = Tracked(data)) slot->handle = handle;
}

// Copies a host's 12-byte port name: at most 11 characters, always terminated.
static void CopyPortName(char target[12], const char source[12]) {
    size_t n = 0;
    while (n < 11 && source[n] != '\0') {
        target[n] = source[n];
        ++n;
    }
    memset(target + n, 0, 12 - n);
}

static void ReleaseBuffers(DriverData *data) {
    ReleaseBlock(data->SendBuffer);
    ReleaseBlock(data->RecvBuffer);
    data->SendBuffer = nullptr;
    data->RecvBuffer = nullptr;
}

void SetDefaults(CallBlock *block) {
    DriverData *data = block->Data;
    const ColdStartParams *params = static_cast<const ColdStartParams *>(block->Params);
    data->ReadTimeout = params->ReadTimeout;
    data->ComHandle = 0;
    data->RTSCTSflag = 0;
    data->DebugFlag = 0;
    data->CpuStarted = 0;
    data->UsageFlag = 0;
    data->IFG = DEFAULT_IFG_MS;
}

uint16_t AllocateBuffers(DriverData *data) {
    data->SendBuffer = nullptr;
    data->RecvBuffer = nullptr;
    uint8_t *send = static_cast<uint8_t *>(AllocateBlock(SEND_BUFFER_SIZE));
    if (send == nullptr) {
        err(LOG_REFUSED, "ZIROD> AllocateBuffers() Error send buffer");
        return KIV_FAILED;
    }
    data->SendLength = 0;
    data->SendBuffer = send;
    uint8_t *recv = static_cast<uint8_t *>(AllocateBlock(RECV_BUFFER_SIZE));
    if (recv == nullptr) {
        err(LOG_REFUSED, "ZIROD> AllocateBuffers() Error receive buffer");
        return KIV_FAILED;
    }
    data->ReplyLength = 0;
    data->RecvBuffer = recv;
    return KIV_DONE;
}

uint16_t RtsCtsSetup(DriverData *) {
    // RTS is driven by the send path around every frame; the flag asks for
    // nothing more on this controller's line.
    return 0;
}

PortHandle OpenCom(DriverData *data) {
    PortHandle handle = 0;
    if (OpenPort(data->ComName, &data->ComParams, data->ComFlags, &handle) != PORT_OK) {
        err(LOG_REFUSED, "ZIROD> OpenCom() failed");
        return 0;
    }
    err(LOG_OPERATION, "ZIROD> OpenCom() File handle %u", static_cast<unsigned>(handle));
    data->ComHandle = handle;
    NoteHandle(data, handle);
    return handle;
}

uint16_t ColdStart(CallBlock *block) {
    DriverData *data = block->Data;
    const ColdStartParams *params = static_cast<const ColdStartParams *>(block->Params);
    err(LOG_OPERATION, "ZIROD> version compiled on %s at time %s", __DATE__, __TIME__);

    StartedInstance *slot = Tracked(data);
    if (slot) {
        // A second cold start of a started instance: let go of its port and
        // buffers first, so that the port can be opened again.
        if (slot->handle != 0) ClosePort(slot->handle);
        ReleaseBlock(slot->sendBuffer);
        ReleaseBlock(slot->recvBuffer);
    } else {
        slot = Track(data);
    }

    SetDefaults(block);
    const uint16_t allocated = AllocateBuffers(data);
    if (slot) {
        slot->sendBuffer = data->SendBuffer;
        slot->recvBuffer = data->RecvBuffer;
        slot->handle = 0;
    }
    if (allocated != KIV_DONE) return KIV_FAILED;
    ReadInitFile(block);

    if (params->OpenAtStart != 0) {
        CopyPortName(data->ComName, params->PortName);
        data->ComParams = params->Line;
        data->ComFlags = COM_FLAGS_AT_COLD_START;
        if (OpenCom(data) == 0) {
            err(LOG_REFUSED, "ZIROD> ColdStart() error opening COM port");
        } else {
            err(LOG_OPERATION, "ZIROD> ColdStart() port opened");
            SetReadTimeout(data->ComHandle, params->ReadTimeout);
            if (data->RTSCTSflag == 1 && RtsCtsSetup(data) != 0) return KIV_FAILED;
        }
    }
    err(LOG_OPERATION, "ZIROD> ColdStart() installation OK!");
    return KIV_DONE;
}

uint16_t WarmStart(CallBlock *block) {
    DriverData *data = block->Data;
    if (data->ComHandle != 0) PurgeInput(data->ComHandle);
    data->CpuStarted = 0;
    err(LOG_OPERATION, "ZIROD> WarmStart()");
    return KIV_DONE;
}

uint16_t EndKiv(CallBlock *block) {
    DriverData *data = block->Data;
    DriverEnded.store(true);
    ReleaseBuffers(data);
    const uint16_t result = CloseCom(block);
    Untrack(Tracked(data));
    err(LOG_OPERATION, "ZIROD> EndKiv() exited, %d", result);
    return result;
}

uint16_t CloseCom(CallBlock *block) {
    DriverData *data = block->Data;
    if (data->ComHandle == 0) return KIV_DONE;
    if (ClosePort(data->ComHandle) == PORT_OK) {
        data->ComHandle = 0;
        NoteHandle(data, 0);
        return KIV_DONE;
    }
    err(LOG_OPERATION, "ZIROD> CloseCom() exited 2");
    return KIV_FAILED;
}

uint16_t ReOpenCom(CallBlock *block) {
    DriverData *data = block->Data;
    if (OpenCom(data) == 0) {
        err(LOG_REFUSED, "ZIROD> ReOpenCom() open COM port failed, exited 2");
        return KIV_FAILED;
    }
    err(LOG_OPERATION, "ZIROD> ReOpenCom() port opened");
    SetReadTimeout(data->ComHandle, data->ReadTimeout);
    err(LOG_OPERATION, "ZIROD> ReOpenCom() exited 0");
    return KIV_DONE;
}

uint16_t ChangeKivParams(CallBlock *block) {
    DriverData *data = block->Data;
    const ChangeParams *params = static_cast<const ChangeParams *>(block->Params);
    if (params->ReadTimeout != 0 && params->ReadTimeout != 0xFFFFFFFFu) data->ReadTimeout = params->ReadTimeout;
    if (data->ComHandle != 0) CloseCom(block);
    CopyPortName(data->ComName, params->PortName);
    if (params->Line.BaudRate != 0) data->ComParams = params->Line;
    if (OpenCom(data) == 0) {
        err(LOG_OPERATION, "ZIROD> ChangeKivParams() open new COM port failed");
        return KIV_FAILED;
    }
    err(LOG_OPERATION, "ZIROD> ChangeKivParams() port opened");
    SetReadTimeout(data->ComHandle, data->ReadTimeout);
    return KIV_DONE;
}

uint16_t GetKivInfo(CallBlock *block) {
    InfoBlock *info = static_cast<InfoBlock *>(block->Params);
    info->InfoValueA = 70;
    info->DriverName = DriverName;
    info->Banner = Banner;
    // The storage a host must provide: 56 bytes on the 32-bit interface,
    // more where pointers are wider.
    info->DataSize = sizeof(DriverData);
    info->InfoValueB = 4;
    info->DefaultLine = LineParams{9600, 7, 0, 2};
    info->InfoValueC = 0;
    err(LOG_INFO, "ZIROD> GetKivInfo() exited");
    return KIV_DONE;
}
