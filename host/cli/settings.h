// settings.h - the texts a user gives the program: line settings, port
// names, tag kinds, values and tag files.
#ifndef DAZARAZ_CLI_SETTINGS_H
#define DAZARAZ_CLI_SETTINGS_H

#include <cstdint>
#include <string>
#include <vector>

#include "host_records.h"

namespace dazaraz::cli {

// Port names hold at most this many characters in the driver's records.
constexpr std::size_t kMaxPortName = 11;

// "BAUD" or "BAUD,FRAME" with FRAME data bits (5-8), parity N/O/E/M/S and
// stop bits (1 or 2): "9600,7E1", "19200,8N1". BAUD alone keeps 7E1. Parity
// letters become codes 0-4 (none, odd, even, mark, space); one stop bit is
// code 0, two are code 2. Throws a usage Failure.
LineParams ParseLineText(const std::string &text);
// The same form back: "9600,7E1" ("1.5" stop bits for code 1).
std::string FormatLine(const LineParams &line);
// "9600 baud, 7 data bits, even parity, 1 stop bit"
std::string DescribeLine(const LineParams &line);

// Refuses an empty name or one longer than kMaxPortName with a usage Failure.
void CheckPortName(const std::string &port);

// Milliseconds to the driver's read time-out in units of 10 ms, rounded up.
std::uint32_t TimeoutUnits(std::uint32_t milliseconds);

// "analog", "digital", "string" or a number. Throws a usage Failure.
std::uint32_t ParseKind(const std::string &text);
// The kind an address text asks for: digital (6) for B, analog (0) otherwise.
std::uint32_t KindForText(const std::string &text);
std::string KindName(std::uint32_t kind);

// A 16-bit value, decimal or 0x hexadecimal. Throws a usage Failure.
std::uint16_t ParseValue(const std::string &text);

// One address text per line; '#' starts a comment, blank lines are skipped.
// Throws a usage Failure for a file that cannot be read or a line with more
// than one word.
std::vector<std::string> ReadTagFile(const std::string &path);

// The tags of the command line followed by those of the file (if any);
// throws a usage Failure when there are none.
std::vector<std::string> CollectTags(const std::vector<std::string> &given, const std::string &tagFile);

}  // namespace dazaraz::cli

#endif
