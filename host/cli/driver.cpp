// driver.cpp - the calls of KivMain and what the program makes of them.
#include "driver.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "failure.h"
#include "port_names.h"
#include "settings.h"

namespace dazaraz::cli {

namespace {

bool Contains(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

// The driver's cold start answers 0 even when it could not open the port;
// only this line of its log tells.
constexpr const char kPortNotOpened[] = "ColdStart() error opening COM port";

}  // namespace

// ---------------------------------------------------------------- Driver

Driver::Driver(std::unique_ptr<DriverLibrary> library, DriverLog &log)
    : library_(std::move(library)), entry_(library_->Entry()), log_(log) {
    InfoBlock block{};
    CallBlock call{};
    call.Function = KIV_GET_KIV_INFO;
    call.Params = &block;
    const std::uint32_t result = Call(call);
    if (result != KIV_DONE)
        throw Failure(kExitFailed, "the driver " + library_->Path() + " answered " + std::to_string(result) +
                                       " to GetKivInfo");
    info_.path = library_->Path();
    info_.name = block.DriverName ? block.DriverName : "";
    info_.banner = block.Banner ? block.Banner : "";
    info_.dataSize = block.DataSize;
    info_.defaultLine = block.DefaultLine;
    info_.valueA = block.InfoValueA;
    info_.valueB = block.InfoValueB;
    info_.valueC = block.InfoValueC;
}

std::unique_ptr<Driver> Driver::Load(const std::string &path, DriverLog &log) {
    const std::vector<std::string> candidates = path.empty() ? DefaultDriverPaths() : std::vector<std::string>{path};
    std::string reasons;
    for (const auto &candidate : candidates) {
        std::string error;
        if (auto library = LoadDriverLibrary(candidate, &error))
            return std::unique_ptr<Driver>(new Driver(std::move(library), log));
        reasons += (reasons.empty() ? "" : "; ") + error;
    }
    throw Failure(kExitFailed, "cannot load the driver (" + reasons + "); give its path with --driver");
}

std::uint32_t Driver::Parse(const std::string &text, std::uint32_t kind, TagAddress *out) {
    ParseRecord record{};
    record.AddressText = text.c_str();
    record.Kind = kind;
    CallBlock call{};
    call.Function = KIV_SINGLE_ADDRESS_PARSER;
    call.Params = &record;
    const std::uint32_t result = Call(call);
    *out = record.TagAddress;
    return result;
}

// ---------------------------------------------------------------- Tag

std::string Tag::FormatValue() const {
    if (ReadsBit()) return std::to_string(cell.Value);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(cell.Value));
    return std::to_string(cell.Value) + " " + hex;
}

std::vector<Tag> ParseTags(Driver &driver, const std::vector<std::string> &texts, int bit, std::uint32_t count) {
    std::vector<Tag> tags;
    std::vector<std::string> refusals;
    for (const auto &text : texts) {
        Tag tag;
        tag.text = text;
        tag.count = count;
        driver.Log().Mark();
        const std::uint32_t result = driver.Parse(text, KindForText(text), &tag.address);
        if (result != KIV_DONE) {
            std::string why;
            for (const auto &line : driver.Log().Captured()) why = line.text;
            refusals.push_back("tag '" + text + "' refused by the driver" + (why.empty() ? "" : ": " + why));
            continue;
        }
        if (bit >= 0 && tag.FirstLetter() != 'B') tag.address.Bit = bit;
        tags.push_back(std::move(tag));
    }
    if (!refusals.empty()) {
        for (std::size_t i = 0; i + 1 < refusals.size(); ++i) std::fprintf(stderr, "dazaraz: %s\n", refusals[i].c_str());
        throw Failure(kExitRefused, refusals.back());
    }
    return tags;
}

// ---------------------------------------------------------------- Outcome

std::string ExplainOutcome(const Outcome &outcome) {
    struct Cause {
        const char *logText;
        const char *meaning;
    };
    // The first cause found in the driver's lines explains the result.
    static const Cause causes[] = {
        {"Writing not allowed", "only the output areas Y and M can be written"},
        {"out of range", "the count is out of range"},
        {"NAK received", "the controller refused the request (NAK)"},
        {"CheckSum error", "the controller's reply had a wrong checksum"},
        {"Wrong length", "the controller's reply was too short"},
        {"Wrong reply", "the controller's reply did not match the request"},
        {"Read reply error", "no complete reply from the controller within the time-out "
                             "(is it connected and on, are the port and line settings right?)"},
        {"Send request error", "the request could not be sent on the port"},
    };
    const char *meaning = nullptr;
    std::string quoted;
    for (const auto &cause : causes) {
        for (const auto &line : outcome.lines) {
            if (Contains(line.text, cause.logText)) {
                meaning = cause.meaning;
                quoted = line.text;
                break;
            }
        }
        if (meaning) break;
    }
    if (!meaning) {
        meaning = outcome.result == KIV_REFUSED ? "refused by the driver" : "the driver failed";
        if (!outcome.lines.empty()) quoted = outcome.lines.front().text;
    }
    std::string text = std::string(meaning) + " (driver answered " + std::to_string(outcome.result);
    if (!quoted.empty()) text += ": " + quoted;
    return text + ")";
}

std::string DescribeFailure(const std::string &tag, const char *operation, const Outcome &outcome) {
    return tag + ": " + operation + (outcome.result == KIV_REFUSED ? " refused: " : " failed: ") +
           ExplainOutcome(outcome);
}

// ---------------------------------------------------------------- Instance

Instance::Instance(Driver &driver, std::uint32_t number)
    : driver_(driver),
      storage_((driver.Info().dataSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t) + 1) {
    block_.Data = reinterpret_cast<DriverData *>(storage_.data());
    block_.Instance = number;
}

Instance::~Instance() {
    if (started_ && !ended_) End();
}

Outcome Instance::Call(std::uint32_t function, void *params) {
    driver_.Log().Mark();
    block_.Function = function;
    block_.Params = params;
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome;
    outcome.result = driver_.Call(block_);
    outcome.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    outcome.lines = driver_.Log().Captured();
    return outcome;
}

Outcome Instance::ColdStart(const PortSettings &settings) {
    CheckPortName(settings.port);
    ColdStartParams params{};
    std::memcpy(params.PortName, settings.port.data(), settings.port.size());
    params.OpenAtStart = 1;
    params.ReadTimeout = TimeoutUnits(settings.timeoutMs);
    params.Line = settings.line;
    Outcome outcome = Call(KIV_COLD_START, &params);
    started_ = true;
    if (outcome.result != KIV_DONE)
        throw Failure(kExitFailed, "the cold start failed: " + ExplainOutcome(outcome));
    for (const auto &line : outcome.lines)
        if (Contains(line.text, kPortNotOpened))
            throw Failure(kExitFailed, "port " + settings.port + " could not be opened: " +
                                           PortOpenProblem(settings.port) + " (driver: " + line.text + ")");
    return outcome;
}

Outcome Instance::Read(Tag &tag) {
    TagRecord record{};
    record.AddressText = tag.text.c_str();
    record.TagAddress = tag.address;
    record.Count = tag.count;
    record.ValueCell = &tag.cell;
    return Call(KIV_SINGLE_READ, &record);
}

Outcome Instance::Write(Tag &tag, std::uint16_t value) {
    TagRecord record{};
    record.AddressText = tag.text.c_str();
    record.TagAddress = tag.address;
    record.Count = tag.count;
    record.ValueCell = &tag.cell;
    tag.cell.Value = value;
    return Call(KIV_SINGLE_WRITE, &record);
}

Outcome Instance::End() {
    ended_ = true;
    return Call(KIV_END_KIV, nullptr);
}

}  // namespace dazaraz::cli
