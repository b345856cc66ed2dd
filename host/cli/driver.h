// driver.h - hosting the driver: the loaded library and its information, the
// instances with their storage, tags, and the calls of KivMain.
#ifndef DAZARAZ_CLI_DRIVER_H
#define DAZARAZ_CLI_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver_log.h"
#include "host_records.h"
#include "loader.h"

namespace dazaraz::cli {

// What GetKivInfo told, with the texts copied.
struct DriverInfo {
    std::string path;
    std::string name;
    std::string banner;  // code page 437, as the driver gives it
    std::uint32_t dataSize = 0;
    LineParams defaultLine{};
    std::uint32_t valueA = 0, valueB = 0, valueC = 0;
};

class Driver {
public:
    // Loads the library at path, or, when path is empty, the first of
    // DefaultDriverPaths that loads; asks it for its information. Throws a
    // Failure (status 2) naming every place tried.
    static std::unique_ptr<Driver> Load(const std::string &path, DriverLog &log);

    const DriverInfo &Info() const { return info_; }
    DriverLog &Log() { return log_; }
    std::uint32_t Call(CallBlock &block) const { return entry_(&block); }

    // Function 3: answers the driver's result and, on 0, the parsed words.
    std::uint32_t Parse(const std::string &text, std::uint32_t kind, TagAddress *out);

private:
    Driver(std::unique_ptr<DriverLibrary> library, DriverLog &log);

    std::unique_ptr<DriverLibrary> library_;
    KivMainFunction entry_;
    DriverLog &log_;
    DriverInfo info_;
};

// One tag: its address text (which the driver quotes), the words the parser
// wrote, and its value cell.
struct Tag {
    std::string text;
    TagAddress address{};
    std::uint32_t count = 1;
    TagValue cell{};

    char FirstLetter() const { return static_cast<char>(address.Type & 0xFF); }
    char AreaLetter() const { return static_cast<char>((address.Type >> 8) & 0xFF); }
    // A bit tag, or a word tag of which one bit is read.
    bool ReadsBit() const { return FirstLetter() == 'B' || address.Bit != -1; }
    // "1" for a bit, "4660 0x1234" for a word.
    std::string FormatValue() const;
};

// The port and line an instance opens at its cold start.
struct PortSettings {
    std::string port;
    LineParams line{9600, 7, 0, 2};
    std::uint32_t timeoutMs = 1000;
};

// The result of one call, its duration and the driver's lines meanwhile.
struct Outcome {
    std::uint32_t result = KIV_DONE;
    double milliseconds = 0;
    std::vector<LogLine> lines;
};

// Why a call did not succeed, in the driver's words too: "the controller
// refused the request (NAK) (driver answered 1: ZIROD> SendRecvLoop() NAK received)".
std::string ExplainOutcome(const Outcome &outcome);
// "WM0150: read failed: <explanation>" or "... refused: ..." by the result.
std::string DescribeFailure(const std::string &tag, const char *operation, const Outcome &outcome);

// One instance with its storage. Ends the driver when destroyed after a cold
// start, unless End has run.
class Instance {
public:
    Instance(Driver &driver, std::uint32_t number);
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    // Cold start that opens the port. Throws a Failure (status 2) when the
    // driver could not open it (the cold start itself answers 0 then; the
    // driver's log tells) or when the cold start fails.
    Outcome ColdStart(const PortSettings &settings);
    Outcome Read(Tag &tag);
    Outcome Write(Tag &tag, std::uint16_t value);
    Outcome End();

private:
    Outcome Call(std::uint32_t function, void *params);

    Driver &driver_;
    std::vector<std::max_align_t> storage_;  // at least DataSize bytes, aligned for any field
    CallBlock block_{};
    bool started_ = false;
    bool ended_ = false;
};

// Parses each text with the kind its first letter asks for; throws a Failure
// (status 1) quoting the driver for the first text it refuses. bit (0-15,
// or -1) goes into the Bit word of word tags.
std::vector<Tag> ParseTags(Driver &driver, const std::vector<std::string> &texts, int bit, std::uint32_t count);

}  // namespace dazaraz::cli

#endif
