// kiv_main.cpp - the exported entry point and its function table.
#include "entry/kiv_main.h"

#include "address/parser.h"
#include "entry/lifecycle.h"
#include "entry/log.h"
#include "protocol/read_write.h"

std::atomic<bool> DriverEnded{false};

const KivHandler FunctionTable[FUNCTION_TABLE_SLOTS] = {
    nullptr,            // 0
    ColdStart,          // 1
    WarmStart,          // 2
    SingleParse,        // 3  SingleAddressParser
    BlockAddressParser, // 4
    SingleRead,         // 5
    BlockRead,          // 6
    SingleWrite,        // 7
    nullptr,            // 8
    nullptr,            // 9
    BlockWrite,         // 10
    EndKiv,             // 11
    CloseCom,           // 12
    ReOpenCom,          // 13
    GetKivInfo,         // 14
    ChangeKivParams,    // 15
    nullptr,            // 16
};

// Functions that use the instance's work area, and those that read a
// parameter record; a call without them is refused instead of followed.
static const uint32_t NEEDS_DATA = (1u << 1) | (1u << 2) | (1u << 5) | (1u << 7) | (1u << 11) | (1u << 12) |
                                   (1u << 13) | (1u << 15);
static const uint32_t NEEDS_PARAMS = (1u << 1) | (1u << 5) | (1u << 7) | (1u << 14) | (1u << 15);

extern "C" DAZARAZ_EXPORT uint32_t DAZARAZ_CALL KivMain(CallBlock *block) {
    if (DriverEnded.load()) return KIV_DONE;
    if (block == nullptr) {
        err(LOG_REFUSED, "ZIROD> KivMain() no call block");
        return KIV_FAILED;
    }
    const uint32_t function = block->Function;
    // Both messages name the function number less one, as hosts have always seen them.
    if (function >= FUNCTION_TABLE_SLOTS) {
        err(LOG_REFUSED, "ZIROD> KivMain() Wrong function number %d", static_cast<int32_t>(function - 1));
        return KIV_FAILED;
    }
    const KivHandler handler = FunctionTable[function];
    if (handler == nullptr) {
        err(LOG_REFUSED, "ZIROD> KivMain() Function %d not supported in this KIV", static_cast<int32_t>(function - 1));
        return KIV_FAILED;
    }
    const uint32_t bit = 1u << function;
    if (((NEEDS_DATA & bit) && block->Data == nullptr) || ((NEEDS_PARAMS & bit) && block->Params == nullptr)) {
        err(LOG_REFUSED, "ZIROD> KivMain() Function %u called without its record", function);
        return KIV_FAILED;
    }
    return static_cast<uint32_t>(handler(block));
}

uint16_t BlockAddressParser(CallBlock *) { return KIV_REFUSED; }

// The block record's first field names the block; a missing record or name
// is quoted as an empty text rather than followed.
static const char *BlockName(const CallBlock *block) {
    const BlockRecord *record = static_cast<const BlockRecord *>(block->Params);
    if (record == nullptr || record->BlockName == nullptr) return "";
    return record->BlockName;
}

uint16_t BlockRead(CallBlock *block) {
    err(LOG_OPERATION, "ZIROD> BlockRead(), Blocks not allowed ('%s')", BlockName(block));
    return KIV_REFUSED;
}

uint16_t BlockWrite(CallBlock *block) {
    err(LOG_OPERATION, "ZIROD> BlockWrite(), Blocks not allowed ('%s')", BlockName(block));
    return KIV_REFUSED;
}
