// text.cpp - line settings, memory files and printable bytes.
#include <cctype>
#include <charconv>
#include <fstream>
#include <istream>
#include <random>
#include <stdexcept>
#include <sstream>
#include <vector>

#include <sys/stat.h>

#include "dazaraz/sim.h"

namespace dazaraz::sim {

std::chrono::nanoseconds LineSpeed::CharTime() const {
    if (baud == 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(std::uint64_t(bitsPerChar) * 1'000'000'000ull / baud);
}

namespace {

bool Fail(std::string *error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// Reads a whole unsigned number of the given base; false on anything else.
bool ParseNumber(std::string_view text, int base, unsigned long *value) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string_view StripHexPrefix(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    return text;
}

}  // namespace

bool ParseLine(std::string_view text, LineSpeed *out, std::string *error) {
    const std::size_t comma = text.find(',');
    const std::string_view baudText = text.substr(0, comma);
    unsigned long baud = 0;
    if (!ParseNumber(baudText, 10, &baud) || baud > 4'000'000)
        return Fail(error, "line speed '" + std::string(baudText) + "' is not a baud rate");
    LineSpeed line;
    line.baud = static_cast<unsigned>(baud);
    if (comma != std::string_view::npos) {
        const std::string_view frame = text.substr(comma + 1);
        if (frame.size() != 3) return Fail(error, "character frame '" + std::string(frame) + "' is not like 7E1");
        const char data = frame[0], parity = char(std::toupper(static_cast<unsigned char>(frame[1]))),
                   stop = frame[2];
        if (data < '5' || data > '8') return Fail(error, "data bits must be 5 to 8");
        if (std::string_view("NOEMS").find(parity) == std::string_view::npos)
            return Fail(error, "parity must be N, O, E, M or S");
        if (stop != '1' && stop != '2') return Fail(error, "stop bits must be 1 or 2");
        line.bitsPerChar = 1 + unsigned(data - '0') + (parity == 'N' ? 0u : 1u) + unsigned(stop - '0');
    }
    *out = line;
    return true;
}

bool LoadMemory(std::istream &in, Simulator &sim, std::string *error) {
    struct Entry {
        std::uint16_t address;
        unsigned value;
        bool word;
    };
    std::vector<Entry> entries;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string addressText, valueText, more;
        if (!(words >> addressText)) continue;
        if (!(words >> valueText)) return Fail(error, where + "an address needs a value");
        if (words >> more) return Fail(error, where + "unexpected '" + more + "'");
        const std::string_view address = StripHexPrefix(addressText), value = StripHexPrefix(valueText);
        unsigned long a = 0, v = 0;
        if (address.size() > 4 || !ParseNumber(address, 16, &a))
            return Fail(error, where + "address '" + addressText + "' is not 1 to 4 hexadecimal digits");
        if (value.size() > 4 || !ParseNumber(value, 16, &v))
            return Fail(error, where + "value '" + valueText + "' is not 1 to 4 hexadecimal digits");
        entries.push_back({static_cast<std::uint16_t>(a), static_cast<unsigned>(v), value.size() > 2});
    }
    if (in.bad()) return Fail(error, "read error");
    for (const Entry &e : entries) {
        if (e.word)
            sim.SetWord(e.address, static_cast<std::uint16_t>(e.value));
        else
            sim.SetByte(e.address, static_cast<std::uint8_t>(e.value));
    }
    return true;
}

bool LoadMemoryFile(const std::string &path, Simulator &sim, std::string *error) {
    std::ifstream in(path);
    if (!in) return Fail(error, "cannot open '" + path + "'");
    std::string why;
    if (LoadMemory(in, sim, &why)) return true;
    return Fail(error, path + ": " + why);
}

std::string Printable(std::string_view bytes) {
    static const char *const names[0x20] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF", "CR", "SO", "SI",
        "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US"};
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20) {
            out += '<';
            out += names[u];
            out += '>';
        } else if (u < 0x7F) {
            out += c;
        } else {
            out += "<x";
            out += digits[u >> 4];
            out += digits[u & 15];
            out += '>';
        }
    }
    return out;
}

std::string FreeShortLinkPath() {
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::string name = "/tmp/dz";
        for (int i = 0; i < 4; ++i) name += chars[random() % 36];
        struct stat st;
        if (lstat(name.c_str(), &st) != 0) return name;
    }
    throw std::runtime_error("no free name /tmp/dzXXXX for a link");
}

}  // namespace dazaraz::sim
