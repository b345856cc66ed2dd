// read_write.cpp - single read and single write of one tag.
//
// A read is two exchanges: the set-up request names the address, and the same
// frame, changed in place into the fetch request, brings the data. A write is
// one exchange. The first read or write after a cold or warm start is preceded
// by the CPU start request. Every exchange runs through SendRecvLoop.
#include "protocol/read_write.h"

#include <cstdio>
#include <cstring>

#include "entry/log.h"
#include "protocol/frames.h"
#include "protocol/transaction.h"

enum {
    // Reply bytes around the data of a fetch reply, and the offset of the data.
    FETCH_FRAME_BYTES = 10,
    REPLY_DATA_OFFSET = 7,
    // Characters per value in a fetch reply.
    BIT_VALUE_CHARS = 2,
    WORD_VALUE_CHARS = 4,
    // The largest Count whose fetch reply still fits the receive buffer.
    MAX_BIT_COUNT = (RECV_BUFFER_SIZE - FETCH_FRAME_BYTES) / BIT_VALUE_CHARS,   // 59
    MAX_WORD_COUNT = (RECV_BUFFER_SIZE - FETCH_FRAME_BYTES) / WORD_VALUE_CHARS, // 29
    // Offsets in a set-up frame.
    COMMAND_LOW_OFFSET = 4,
    // Bit 7 of the byte at a bit tag's address is the bit.
    BIT_WRITE_MASK = 0x80
};

static TagRecord *TagOf(const CallBlock *block) { return static_cast<TagRecord *>(block->Params); }

static const char *TagText(const CallBlock *block) {
    const TagRecord *tag = TagOf(block);
    if (tag == nullptr || tag->AddressText == nullptr) return "";
    return tag->AddressText;
}

static uint8_t FirstTypeLetter(const TagRecord *tag) { return static_cast<uint8_t>(tag->TagAddress.Type & 0xFF); }
static uint8_t AreaLetter(const TagRecord *tag) { return static_cast<uint8_t>((tag->TagAddress.Type >> 8) & 0xFF); }

// A call the driver can work on has a work area, a tag record and a value
// cell. A host that passes less is refused (1) with a line naming what is
// missing, before anything is sent.
static bool CallComplete(const CallBlock *block, const char *operation) {
    const TagRecord *tag = TagOf(block);
    if (tag == nullptr) {
        err(LOG_OPERATION, "ZIROD> %s() No tag record", operation);
        return false;
    }
    if (tag->ValueCell == nullptr) {
        err(LOG_OPERATION, "ZIROD> %s() No value cell for tag '%s'", operation, TagText(block));
        return false;
    }
    if (block->Data == nullptr) {
        err(LOG_OPERATION, "ZIROD> %s() No driver data for tag '%s'", operation, TagText(block));
        return false;
    }
    return true;
}

uint16_t CpuStart(DriverData *data) {
    BuildCpuStartRequest(data);
    data->ReplyLength = ACK_REPLY_LENGTH;
    const uint16_t rc = SendRecvLoop(data);
    if (rc == 0) data->CpuStarted = 1;
    return rc;
}

// Raises one checksum character by one. 0-8 and anything else below 9 grow
// by one, 9 becomes A, A-E grow by one; F, and any character that is no
// upper-case digit above 9, becomes 0 and carries.
static uint8_t RaiseHexChar(uint8_t c, bool *carry) {
    *carry = false;
    if (c < '9') return static_cast<uint8_t>(c + 1);
    if (c == '9') return 'A';
    if (c >= 'A' && c < 'F') return static_cast<uint8_t>(c + 1);
    *carry = true;
    return '0';
}

// Turns the acknowledged set-up frame (command 32) into the fetch frame
// (command 33). Only the command's second character grows by one, so the
// checksum grows by one too, modulo 0x100; the frame keeps its length.
void MakeFetchRequest(DriverData *data) {
    uint8_t *frame = data->SendBuffer;
    frame[COMMAND_LOW_OFFSET] = '3';
    uint8_t *high = frame + data->SendLength - 3;
    uint8_t *low = frame + data->SendLength - 2;
    bool carry;
    *low = RaiseHexChar(*low, &carry);
    if (carry) *high = RaiseHexChar(*high, &carry); // FF becomes 00: no further carry
}

// The Count range whose fetch reply fits the receive buffer. Count 0 would
// expect a reply without data, whose checksum characters would then be
// stored as the value, so it is refused as well.
static bool CountFits(const CallBlock *block) {
    const TagRecord *tag = TagOf(block);
    const uint32_t limit = FirstTypeLetter(tag) == 'B' ? MAX_BIT_COUNT : MAX_WORD_COUNT;
    if (tag->Count == 0 || tag->Count > limit) {
        err(LOG_OPERATION, "ZIROD> DoRead() Count %u out of range for tag '%s'", static_cast<unsigned>(tag->Count),
            TagText(block));
        return false;
    }
    return true;
}

// Records the operation in progress (the retry lines name its tag) and
// starts the controller's CPU when no CPU start has succeeded since the last
// cold or warm start. Answers 0, or the failed start's result after logging
// the caller's line.
static uint16_t BeginExchanges(CallBlock *block, const char *cpuStartFailed) {
    DriverData *data = block->Data;
    data->Current = block;
    if (data->CpuStarted) return 0;
    const uint16_t rc = CpuStart(data);
    if (rc != 0) err(LOG_OPERATION, "%s", cpuStartFailed);
    return rc;
}

uint16_t DoRead(CallBlock *block) {
    if (!CallComplete(block, "DoRead")) return 1;
    if (!CountFits(block)) return 1;
    DriverData *data = block->Data;
    if (data->ComHandle == 0) return 1;
    const uint16_t started = BeginExchanges(block, "ZIROD> DoRead() CPU start failed");
    if (started != 0) return started;

    // The builder has logged its internal error; nothing stands to be sent.
    if (!BuildReadRequest(block)) return 2;
    data->ReplyLength = ACK_REPLY_LENGTH;
    uint16_t rc = SendRecvLoop(data);
    if (rc != 0) return rc;

    MakeFetchRequest(data);
    const TagRecord *tag = TagOf(block);
    const uint32_t charsPerValue = FirstTypeLetter(tag) == 'B' ? BIT_VALUE_CHARS : WORD_VALUE_CHARS;
    data->ReplyLength = static_cast<uint16_t>(tag->Count * charsPerValue + FETCH_FRAME_BYTES);
    rc = SendRecvLoop(data);
    if (rc != 0) return rc;

    if (data->DebugFlag) err(LOG_OPERATION, "ZIROD> DoRead() calling StoreData()");
    return StoreData(block, data->RecvBuffer + REPLY_DATA_OFFSET);
}

// Converts up to width hexadecimal characters like "%0<width>hX" would, but
// on a copy that ends after them, so the conversion never reads past the
// value's own characters. Data that does not begin with a digit leaves
// *value as it was.
static void ScanHex(const uint8_t *chars, size_t width, unsigned short *value) {
    char text[WORD_VALUE_CHARS + 1];
    memcpy(text, chars, width);
    text[width] = '\0';
    unsigned short scanned;
    if (sscanf(text, "%hX", &scanned) == 1) *value = scanned;
}

uint16_t StoreData(CallBlock *block, const uint8_t *dataChars) {
    TagRecord *tag = TagOf(block);
    if (block->Function != KIV_SINGLE_READ || tag == nullptr || tag->ValueCell == nullptr) {
        err(LOG_REFUSED, "ZIROD> StoreData() Internal driver error '%s'", TagText(block));
        return 2;
    }
    unsigned short value = tag->ValueCell->Value;
    switch (FirstTypeLetter(tag)) {
    case 'B':
        ScanHex(dataChars, BIT_VALUE_CHARS, &value);
        tag->ValueCell->Value = value >= BIT_WRITE_MASK ? 1 : 0;
        break;
    case 'W':
    case 'T':
        ScanHex(dataChars, WORD_VALUE_CHARS, &value);
        if (tag->TagAddress.Bit != -1) {
            // A 16-bit value shifted by the count modulo 32: bits 16 to 31 read 0.
            const uint32_t shift = static_cast<uint32_t>(tag->TagAddress.Bit) & 31u;
            value = static_cast<unsigned short>((static_cast<uint32_t>(value) >> shift) & 1u);
        }
        tag->ValueCell->Value = value;
        break;
    default:
        break; // no such tag comes from the parser; nothing is stored
    }
    return 0;
}

uint16_t SingleRead(CallBlock *block) {
    const uint16_t rc = DoRead(block);
    if (rc != 0) err(LOG_OPERATION, "ZIROD> SingleRead(), rc=%u for tag '%s'", static_cast<unsigned>(rc), TagText(block));
    return rc;
}

// The data byte of a bit write. Without UsageFlag it is 0x80 or 0x00. With
// UsageFlag the word holding the bit is read first (the call block and tag
// record pose as a word read for its duration) and its high byte is written
// back with bit 7 changed, so the other seven bits keep their state.
static uint16_t BitWriteDataByte(CallBlock *block, uint8_t *dataByte) {
    DriverData *data = block->Data;
    TagRecord *tag = TagOf(block);
    const uint16_t wanted = tag->ValueCell->Value;
    if (!data->UsageFlag) {
        *dataByte = wanted != 0 ? BIT_WRITE_MASK : 0x00;
        return 0;
    }

    const uint32_t keptType = tag->TagAddress.Type & 0xFFFF;
    block->Function = KIV_SINGLE_READ;
    tag->TagAddress.Type = 'W' | (keptType & 0xFF00);
    const uint16_t rc = SingleRead(block);
    tag->TagAddress.Type = keptType;
    block->Function = KIV_SINGLE_WRITE;
    const uint16_t word = tag->ValueCell->Value;
    tag->ValueCell->Value = wanted;

    if (rc != 0) {
        err(LOG_OPERATION, "ZIROD> BuildWriteReq() WORD read for bit write, rc=%u", static_cast<unsigned>(rc));
        return rc;
    }
    if (data->DebugFlag) err(LOG_OPERATION, "ZIROD> BuildWriteReq() WORD read succesful for bit write");

    const uint8_t highByte = static_cast<uint8_t>(word >> 8);
    *dataByte = wanted != 0 ? static_cast<uint8_t>(highByte | BIT_WRITE_MASK)
                            : static_cast<uint8_t>(highByte & ~BIT_WRITE_MASK);
    return 0;
}

uint16_t DoWrite(CallBlock *block) {
    if (!CallComplete(block, "DoWrite")) return 1;
    const TagRecord *tag = TagOf(block);
    const uint8_t area = AreaLetter(tag);
    if (area != 'Y' && area != 'M') {
        err(LOG_OPERATION, "ZIROD> BuildWriteRequest() Writing not allowed for this type (%s)", TagText(block));
        return 1;
    }
    DriverData *data = block->Data;
    if (data->ComHandle == 0) return 1;
    const uint16_t started = BeginExchanges(block, "ZIROD> DoWrite() CPU start failed");
    if (started != 0) return started;

    // The word read of a bit write uses the send buffer itself, so the write
    // frame is built only after it.
    uint8_t dataByte = 0;
    if (FirstTypeLetter(tag) == 'B') {
        const uint16_t rc = BitWriteDataByte(block, &dataByte);
        if (rc != 0) return rc;
    }
    if (!BuildWriteReq(block, dataByte)) return 2;
    data->ReplyLength = ACK_REPLY_LENGTH;
    return SendRecvLoop(data);
}

uint16_t SingleWrite(CallBlock *block) {
    const uint16_t rc = DoWrite(block);
    if (rc != 0)
        err(LOG_OPERATION, "ZIROD> SingleWrite() , rc=%u for tag '%s'", static_cast<unsigned>(rc), TagText(block));
    return rc;
}
