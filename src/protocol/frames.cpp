// frames.cpp - request frames and the checksum.
//
// Every request is formatted in place in the instance's 32-byte SendBuffer;
// nothing allocates. Addresses are masked to 16 bits before they are
// printed ("%04X" of Address & 0xFFFF, and (Address + 1) & 0xFFFF), so even
// a TagAddress that the parser never wrote cannot widen a field or overflow
// the buffer: the longest frame stays 22 bytes plus its NUL.
#include "protocol/frames.h"

#include <cstdarg>
#include <cstdio>

#include "entry/log.h"

namespace {

enum {
    CPU_START_FIELDS_END = 5,    // STX, 00, 12
    BIT_SETUP_FIELDS_END = 15,   // STX, 00, 32, 000001, address
    WORD_SETUP_FIELDS_END = 19,  // STX, 00, 32, 000002, address, address + 1
    BIT_WRITE_FIELDS_END = 11,   // STX, 00, 40, address, data byte
    WORD_WRITE_FIELDS_END = 13,  // STX, 00, 41, address, value
    CHECKSUM_AND_CR = 3          // two digits and CR (a NUL follows, not counted)
};

enum : unsigned { STATION = 0 };

char *Text(uint8_t *bytes) { return reinterpret_cast<char *>(bytes); }

unsigned Low16(uint32_t n) { return static_cast<unsigned>(n & 0xFFFFu); }

const char *AddressTextOf(const TagRecord *tag) {
    return tag != nullptr && tag->AddressText != nullptr ? tag->AddressText : "";
}

// The internal error of both builders: one category-32 line, nothing to send.
bool InternalError(DriverData *data, const TagRecord *tag) {
    err(LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('%s')", AddressTextOf(tag));
    if (data != nullptr) data->SendLength = 0;
    return false;
}

// The work area and tag record of a builder's call; false, after the
// internal error, when either (or the send buffer) is missing.
bool BuilderRecords(CallBlock *block, DriverData **data, const TagRecord **tag) {
    *data = block != nullptr ? block->Data : nullptr;
    *tag = block != nullptr ? static_cast<const TagRecord *>(block->Params) : nullptr;
    if (*data == nullptr || (*data)->SendBuffer == nullptr || *tag == nullptr) return InternalError(*data, *tag);
    return true;
}

// Writes STX, then the station number, command and fields by the format;
// SendLength counts up to the fields' end, where the checksum goes next.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void PutFields(DriverData *data, uint16_t fieldsEnd, const char *format, ...) {
    data->SendBuffer[0] = STX;
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(Text(data->SendBuffer + 1), SEND_BUFFER_SIZE - 1, format, ap);
    va_end(ap);
    data->SendLength = fieldsEnd;
}

} // namespace

uint16_t CheckSum(const uint8_t *bytes, uint16_t count) {
    unsigned sum = 0;
    for (uint16_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint16_t>(sum & 0xFFu);
}

void AppendCheckSum(DriverData *data) {
    const uint16_t length = data->SendLength;
    // Needs at least the STX before, and room for two digits, CR and NUL.
    if (data->SendBuffer == nullptr || length < 1 || length + CHECKSUM_AND_CR + 1 > SEND_BUFFER_SIZE) {
        data->SendLength = 0;
        return;
    }
    const uint16_t sum = CheckSum(data->SendBuffer + 1, static_cast<uint16_t>(length - 1));
    std::snprintf(Text(data->SendBuffer + length), SEND_BUFFER_SIZE - length, "%02X\r", unsigned{sum});
    data->SendLength = static_cast<uint16_t>(length + CHECKSUM_AND_CR);
}

void BuildCpuStartRequest(DriverData *data) {
    if (data->SendBuffer == nullptr) {
        data->SendLength = 0;
        return;
    }
    PutFields(data, CPU_START_FIELDS_END, "%02X12", unsigned{STATION});
    AppendCheckSum(data);
}

bool BuildReadRequest(CallBlock *block) {
    DriverData *data;
    const TagRecord *tag;
    if (!BuilderRecords(block, &data, &tag)) return false;

    const uint32_t address = tag->TagAddress.Address;
    switch (static_cast<uint8_t>(tag->TagAddress.Type & 0xFFu)) {
    case 'B':
        PutFields(data, BIT_SETUP_FIELDS_END, "%02X32000001%04X", unsigned{STATION}, Low16(address));
        break;
    case 'T':
    case 'W':
        PutFields(data, WORD_SETUP_FIELDS_END, "%02X32000002%04X%04X", unsigned{STATION}, Low16(address),
                  Low16(address + 1));
        break;
    default:
        return InternalError(data, tag);
    }
    AppendCheckSum(data);
    return true;
}

bool BuildWriteReq(CallBlock *block, uint8_t dataByte) {
    DriverData *data;
    const TagRecord *tag;
    if (!BuilderRecords(block, &data, &tag)) return false;

    const uint32_t address = tag->TagAddress.Address;
    switch (static_cast<uint8_t>(tag->TagAddress.Type & 0xFFu)) {
    case 'B':
        PutFields(data, BIT_WRITE_FIELDS_END, "%02X40%04X%02X", unsigned{STATION}, Low16(address), unsigned{dataByte});
        break;
    case 'W':
        if (tag->ValueCell == nullptr) return InternalError(data, tag);
        PutFields(data, WORD_WRITE_FIELDS_END, "%02X41%04X%04X", unsigned{STATION}, Low16(address),
                  unsigned{tag->ValueCell->Value});
        break;
    default:
        return InternalError(data, tag);
    }
    AppendCheckSum(data);
    return true;
}
