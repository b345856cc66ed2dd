// transaction.cpp - one request/reply exchange in up to three attempts.
//
// The request in SendBuffer is sent unchanged on every attempt; each reply is
// checked for NAK, length, checksum and acceptance in that order. The call
// answers the result of its last attempt; earlier outcomes only reach the log.
#include "protocol/transaction.h"

#include "entry/log.h"
#include "protocol/frames.h"
#include "serial/send_receive.h"

enum {
    MIN_REPLY_LENGTH = 4,
    // Printed as the received checksum when the reply's checksum characters
    // are not two hexadecimal digits: no byte has this value, and "%02X"
    // shows it as 100, so the line cannot be mistaken for a real mismatch.
    UNREADABLE_CHECKSUM = 0x100
};

// The tag of the operation in progress, for the retry line. An operation
// without a call block, tag record or text is named by an empty text.
static const char *CurrentTagText(const DriverData *data) {
    if (data->Current == nullptr) return "";
    const TagRecord *tag = static_cast<const TagRecord *>(data->Current->Params);
    if (tag == nullptr || tag->AddressText == nullptr) return "";
    return tag->AddressText;
}

static int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The checksum a reply carries in its two characters before the last byte.
// Only two hexadecimal digits (either case) count: a sign, a blank or a
// single digit gives UNREADABLE_CHECKSUM, which never equals a computed sum.
static uint16_t ReceivedCheckSum(const uint8_t *chars) {
    const int high = HexDigit(chars[0]);
    const int low = HexDigit(chars[1]);
    if (high < 0 || low < 0) return UNREADABLE_CHECKSUM;
    return static_cast<uint16_t>(high * 16 + low);
}

// Any one condition accepts a reply whose checksum matched.
static bool Accepted(const DriverData *data, uint16_t len) {
    const uint8_t *reply = data->RecvBuffer;
    if (reply[0] == STX) return true;
    if (reply[len - 1] == CR) return true;
    if (reply[1] == 0) return true;
    if (reply[2] == 0) return true;
    // Station number and command echoed. A reply too short to hold them
    // (possible only up to a terminator, which then ended it) is not compared.
    if (len < 7) return false;
    for (int i = 0; i < 4; i++)
        if (reply[3 + i] != data->SendBuffer[1 + i]) return false;
    return true;
}

// One attempt: 0 accepted, 1 refused, 2 not sent or no complete reply.
static uint16_t Attempt(DriverData *data, uint16_t expectedLength) {
    if (Send(data) != 0) {
        err(LOG_OPERATION, "ZIROD> SendRecvLoop() Send request error");
        return 2;
    }
    // A Receive of an earlier attempt has left the received length here.
    data->ReplyLength = expectedLength;
    if (Receive(data, CR) != 0) {
        err(LOG_OPERATION, "ZIROD> SendRecvLoop() Read reply error");
        return 2;
    }
    if (data->RecvBuffer[0] == NAK) {
        err(LOG_OPERATION, "ZIROD> SendRecvLoop() NAK received");
        return 1;
    }
    const uint16_t len = data->ReplyLength;
    if (len < MIN_REPLY_LENGTH) {
        err(LOG_OPERATION, "ZIROD> SendRecvLoop() Wrong length for message reply (%u)", static_cast<unsigned>(len));
        return 1;
    }
    const uint16_t received = ReceivedCheckSum(data->RecvBuffer + len - 3);
    const uint16_t computed = CheckSum(data->RecvBuffer + 1, static_cast<uint16_t>(len - 4));
    if (received != computed) {
        err(LOG_OPERATION, "ZIROD> SendRecvLoop() CheckSum error (%02X <> %02X)", static_cast<unsigned>(received),
            static_cast<unsigned>(computed));
        return 1;
    }
    if (!Accepted(data, len)) {
        err(LOG_OPERATION, "ZIROD> SendRecvLoop() Wrong reply");
        return 1;
    }
    return 0;
}

uint16_t SendRecvLoop(DriverData *data) {
    const uint16_t expectedLength = data->ReplyLength;
    int attemptsLeft = EXCHANGE_ATTEMPTS;
    for (;;) {
        if (attemptsLeft < EXCHANGE_ATTEMPTS)
            err(LOG_OPERATION, "ZIROD> SendRecvLoop() '%s', Retry %d, TLen %d", CurrentTagText(data),
                EXCHANGE_ATTEMPTS - attemptsLeft, static_cast<int>(data->SendLength));
        attemptsLeft--;
        const uint16_t result = Attempt(data, expectedLength);
        if (result == 0 || attemptsLeft == 0) return result;
    }
}
