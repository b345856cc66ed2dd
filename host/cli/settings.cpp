// settings.cpp - parsing and printing of the user's settings.
#include "settings.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "failure.h"

namespace dazaraz::cli {

namespace {

const char kParityLetters[] = "NOEMS";
const char *const kParityNames[] = {"no", "odd", "even", "mark", "space"};

bool ParseUnsigned(const std::string &text, unsigned long long *out, int base = 10) {
    if (text.empty()) return false;
    const char *first = text.data();
    const char *last = first + text.size();
    auto [end, ec] = std::from_chars(first, last, *out, base);
    return ec == std::errc() && end == last;
}

std::string Trim(const std::string &text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

LineParams ParseLineText(const std::string &text) {
    const auto comma = text.find(',');
    const std::string baudText = text.substr(0, comma);
    const std::string frame = comma == std::string::npos ? "7E1" : text.substr(comma + 1);
    unsigned long long baud = 0;
    if (!ParseUnsigned(baudText, &baud) || baud == 0)
        throw UsageError("line settings '" + text + "': the speed must be a number of bits per second, e.g. 9600,7E1");
    if (baud > 65535)
        throw UsageError("line settings '" + text + "': the driver takes speeds up to 65535 bits per second");
    if (frame.size() != 3 || frame[0] < '5' || frame[0] > '8' ||
        std::string_view(kParityLetters).find(static_cast<char>(std::toupper(static_cast<unsigned char>(frame[1])))) ==
            std::string_view::npos ||
        (frame[2] != '1' && frame[2] != '2'))
        throw UsageError("line settings '" + text +
                         "': the frame must be data bits 5-8, parity N, O, E, M or S, stop bits 1 or 2, e.g. 7E1");
    LineParams line{};
    line.BaudRate = static_cast<std::uint16_t>(baud);
    line.ByteSize = static_cast<std::uint16_t>(frame[0] - '0');
    line.Parity = static_cast<std::uint16_t>(
        std::string_view(kParityLetters).find(static_cast<char>(std::toupper(static_cast<unsigned char>(frame[1])))));
    line.StopBits = frame[2] == '1' ? 0 : 2;
    return line;
}

std::string FormatLine(const LineParams &line) {
    std::string text = std::to_string(line.BaudRate) + "," + std::to_string(line.ByteSize);
    text += line.Parity < 5 ? kParityLetters[line.Parity] : '?';
    text += line.StopBits == 0 ? "1" : line.StopBits == 1 ? "1.5" : line.StopBits == 2 ? "2" : "?";
    return text;
}

std::string DescribeLine(const LineParams &line) {
    std::string text = std::to_string(line.BaudRate) + " baud, " + std::to_string(line.ByteSize) + " data bits, ";
    text += line.Parity < 5 ? std::string(kParityNames[line.Parity]) + " parity" : "parity code " + std::to_string(line.Parity);
    text += line.StopBits == 0   ? ", 1 stop bit"
            : line.StopBits == 1 ? ", 1.5 stop bits"
            : line.StopBits == 2 ? ", 2 stop bits"
                                 : ", stop-bit code " + std::to_string(line.StopBits);
    return text;
}

void CheckPortName(const std::string &port) {
    if (port.empty()) throw UsageError("the port name is empty");
    if (port.size() > kMaxPortName)
        throw UsageError("port name '" + port + "' is longer than " + std::to_string(kMaxPortName) +
#if defined(_WIN32)
                         " characters, the most the driver takes");
#else
                         " characters, the most the driver takes; make a short link to the device, "
                         "e.g. ln -s " + port + " /tmp/em2, and give --port /tmp/em2");
#endif
}

std::uint32_t TimeoutUnits(std::uint32_t milliseconds) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(milliseconds) + 9) / 10);
}

std::uint32_t ParseKind(const std::string &text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "analog") return KIV_KIND_ANALOG_0;
    if (lower == "digital") return KIV_KIND_DIGITAL;
    if (lower == "string") return KIV_KIND_STRING;
    unsigned long long number = 0;
    if (!ParseUnsigned(text, &number) || number > 0xFFFFFFFFull)
        throw UsageError("tag kind '" + text + "': give analog, digital, string or a number");
    return static_cast<std::uint32_t>(number);
}

std::uint32_t KindForText(const std::string &text) {
    return !text.empty() && std::toupper(static_cast<unsigned char>(text[0])) == 'B' ? KIV_KIND_DIGITAL
                                                                                     : KIV_KIND_ANALOG_0;
}

std::string KindName(std::uint32_t kind) {
    switch (kind) {
    case KIV_KIND_ANALOG_0:
    case KIV_KIND_ANALOG_1:
    case KIV_KIND_ANALOG_2: return "analog " + std::to_string(kind);
    case KIV_KIND_DIGITAL: return "digital 6";
    case KIV_KIND_STRING: return "string 7";
    default: return std::to_string(kind);
    }
}

std::uint16_t ParseValue(const std::string &text) {
    unsigned long long number = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!(hex ? ParseUnsigned(text.substr(2), &number, 16) : ParseUnsigned(text, &number)) || number > 0xFFFF)
        throw UsageError("value '" + text + "': give a number from 0 to 65535, decimal or 0x hexadecimal");
    return static_cast<std::uint16_t>(number);
}

std::vector<std::string> ReadTagFile(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw UsageError("cannot read the tag file " + path);
    std::vector<std::string> tags;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = Trim(line.substr(0, line.find('#')));
        if (text.empty()) continue;
        if (text.find_first_of(" \t") != std::string::npos)
            throw UsageError(path + ":" + std::to_string(number) + ": one address text per line, found '" + text + "'");
        tags.push_back(text);
    }
    return tags;
}

std::vector<std::string> CollectTags(const std::vector<std::string> &given, const std::string &tagFile) {
    std::vector<std::string> tags = given;
    if (!tagFile.empty()) {
        const auto fromFile = ReadTagFile(tagFile);
        tags.insert(tags.end(), fromFile.begin(), fromFile.end());
    }
    if (tags.empty()) throw UsageError("no tags: give address texts such as WM0150, or --tags FILE");
    return tags;
}

}  // namespace dazaraz::cli
