// protocol.cpp - request checking and decoding, reply formatting.
#include "protocol.h"

#include <cstdio>

namespace dazaraz::sim::detail {

namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

unsigned HexValue(char c) { return c <= '9' ? unsigned(c - '0') : unsigned(c - 'A' + 10); }

// Reads `text` as upper-case hexadecimal digits; false when any is not one.
bool ParseHex(std::string_view text, unsigned *value) {
    unsigned v = 0;
    for (char c : text) {
        if (!IsUpperHex(c)) return false;
        v = v * 16 + HexValue(c);
    }
    *value = v;
    return true;
}

char Visible(char c) { return (c >= 0x20 && c < 0x7F) ? c : '?'; }

Request Refuse(Request r, std::string problem) {
    r.valid = false;
    r.problem = std::move(problem);
    return r;
}

}  // namespace

std::uint8_t Checksum(std::string_view bytes) {
    unsigned sum = 0;
    for (char c : bytes) sum += static_cast<unsigned char>(c);
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::string Hex2(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string Hex4(unsigned value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

Request Decode(std::string_view frame) {
    Request r;
    r.echo = "0000";
    for (std::size_t i = 1; i < 5 && i < frame.size(); ++i) r.echo[i - 1] = Visible(frame[i]);
    if (frame.size() >= 5 && frame[3] >= '0' && frame[3] <= '9' && frame[4] >= '0' && frame[4] <= '9')
        r.command = (frame[3] - '0') * 10 + (frame[4] - '0');

    if (frame.empty() || frame.front() != kStx) return Refuse(r, "frame does not begin with STX");
    if (frame.back() != kCr) return Refuse(r, "frame does not end with CR");
    if (frame.size() < 8) return Refuse(r, "frame too short");
    if (frame.substr(1, 2) != "00") return Refuse(r, "station is not 00");

    const std::size_t sumAt = frame.size() - 3;
    unsigned received = 0;
    if (!ParseHex(frame.substr(sumAt, 2), &received))
        return Refuse(r, "checksum is not two upper-case hexadecimal digits");
    const unsigned expected = Checksum(frame.substr(1, sumAt - 1));
    if (received != expected) return Refuse(r, "checksum " + Hex2(received) + ", expected " + Hex2(expected));

    const std::string_view fields = frame.substr(5, sumAt - 5);
    unsigned a = 0, b = 0;
    switch (r.command) {
    case 12:
        if (!fields.empty()) return Refuse(r, "CPU start carries no fields");
        break;
    case 32:
    case 33:
        if (fields.size() == 10 && fields.substr(0, 6) == "000001" && ParseHex(fields.substr(6, 4), &a)) {
            r.addresses = {static_cast<std::uint16_t>(a)};
        } else if (fields.size() == 14 && fields.substr(0, 6) == "000002" && ParseHex(fields.substr(6, 4), &a) &&
                   ParseHex(fields.substr(10, 4), &b)) {
            r.addresses = {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b)};
        } else {
            return Refuse(r, "fields must be 000001 and one address or 000002 and two");
        }
        break;
    case 40:
        if (fields.size() != 6 || !ParseHex(fields.substr(0, 4), &a) || !ParseHex(fields.substr(4, 2), &b))
            return Refuse(r, "fields must be an address and a data byte");
        r.address = static_cast<std::uint16_t>(a);
        r.value = static_cast<std::uint16_t>(b);
        break;
    case 41:
        if (fields.size() != 8 || !ParseHex(fields.substr(0, 4), &a) || !ParseHex(fields.substr(4, 4), &b))
            return Refuse(r, "fields must be an address and a word");
        r.address = static_cast<std::uint16_t>(a);
        r.value = static_cast<std::uint16_t>(b);
        break;
    default:
        return Refuse(r, "unknown command " + r.echo.substr(2, 2));
    }
    r.valid = true;
    return r;
}

std::string MakeReply(char lead, std::string_view echo, std::string_view data) {
    std::string reply;
    reply.reserve(10 + data.size());
    reply += lead;
    reply += "00";
    reply += echo;
    reply += data;
    reply += Hex2(Checksum(std::string_view(reply).substr(1)));
    reply += kCr;
    return reply;
}

void FrameAssembler::Feed(std::string_view bytes, std::vector<std::string> &frames) {
    for (char c : bytes) {
        if (c == kStx) {
            partial_.assign(1, c);
        } else if (!partial_.empty()) {
            partial_ += c;
            if (c == kCr) {
                frames.push_back(std::move(partial_));
                partial_.clear();
            } else if (partial_.size() > kMaxFrame) {
                partial_.clear();
            }
        }
    }
}

}  // namespace dazaraz::sim::detail
