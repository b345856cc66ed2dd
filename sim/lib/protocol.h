// protocol.h - frames of the controller's serial protocol, seen from the
// controller: assembling requests from the byte stream, checking and decoding
// them, and formatting replies. Pure functions, no state beyond the assembler.
#ifndef DAZARAZ_SIM_PROTOCOL_H
#define DAZARAZ_SIM_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dazaraz::sim::detail {

inline constexpr char kStx = 0x02;
inline constexpr char kCr = 0x0D;
inline constexpr char kNak = 0x15;

// Low 8 bits of the sum of the bytes, taken as unsigned.
std::uint8_t Checksum(std::string_view bytes);
std::string Hex2(unsigned value);  // two upper-case digits
std::string Hex4(unsigned value);  // four upper-case digits

// A request as far as it could be read.
struct Request {
    int command = -1;                   // the two command characters as a number, -1 if not digits
    bool valid = false;
    std::string problem;                // why not valid
    std::vector<std::uint16_t> addresses;  // 32, 33: one or two
    std::uint16_t address = 0;          // 40, 41
    std::uint16_t value = 0;            // 40: the data byte, 41: the word
    std::string echo;                   // station and command to echo: 4 printable characters
};

// Checks and decodes one frame (STX ... CR).
Request Decode(std::string_view frame);

// lead (STX or NAK), two characters "00", the 4 echo characters, the data,
// the checksum of everything after the lead, CR.
std::string MakeReply(char lead, std::string_view echo, std::string_view data);

// Splits the incoming byte stream into frames. Bytes outside a frame are
// dropped; an STX inside a frame starts a new one (the broken one is
// dropped); a frame that grows beyond kMaxFrame bytes without a CR is dropped.
class FrameAssembler {
public:
    static constexpr std::size_t kMaxFrame = 256;
    void Feed(std::string_view bytes, std::vector<std::string> &frames);
    void Clear() { partial_.clear(); }

private:
    std::string partial_;  // empty: waiting for STX
};

}  // namespace dazaraz::sim::detail

#endif
