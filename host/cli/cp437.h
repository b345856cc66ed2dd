// cp437.h - text in code page 437 (the driver's banner) to UTF-8.
#ifndef DAZARAZ_CLI_CP437_H
#define DAZARAZ_CLI_CP437_H

#include <string>
#include <string_view>

namespace dazaraz::cli {

// Bytes 0x00-0x7F stay as they are; 0x80-0xFF become their characters
// (box drawings, accented letters, Greek letters and symbols) in UTF-8.
std::string Cp437ToUtf8(std::string_view text);

}  // namespace dazaraz::cli

#endif
