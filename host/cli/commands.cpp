// commands.cpp - info, parse, read and write.
#include <cstdio>
#include <string>

#include "commands.h"
#include "cp437.h"
#include "failure.h"
#include "settings.h"

namespace dazaraz::cli {

namespace {

// Prints the explanations of the failures and answers the worst status.
int Report(const std::vector<std::pair<int, std::string>> &failures) {
    int status = kExitOk;
    for (const auto &[code, text] : failures) {
        std::fprintf(stderr, "dazaraz: %s\n", text.c_str());
        status = Worse(status, code);
    }
    return status;
}

std::string TypeLetters(std::uint32_t type) {
    std::string letters;
    for (int shift : {0, 8}) {
        const unsigned c = (type >> shift) & 0xFF;
        if (c >= 0x20 && c < 0x7F) {
            letters += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            letters += hex;
        }
    }
    return letters;
}

}  // namespace

Host::Host(const CommonOptions &options, bool hold) {
    if (hold) log.Hold();
    if (options.quiet) log.Quiet();
    if (!options.logFile.empty()) log.ToFile(options.logFile);
    driver = Driver::Load(options.driverPath, log);
}

PortSettings ConnectOptions::Settings() const {
    CheckPortName(port);
    PortSettings settings;
    settings.port = port;
    settings.line = ParseLineText(line);
    settings.timeoutMs = timeoutMs;
    return settings;
}

int RunInfo(const CommonOptions &common) {
    Host host(common);
    const DriverInfo &info = host.driver->Info();
    std::string banner = info.banner;
    if (!banner.empty() && banner.front() == '\b') banner.erase(0, 1);
    std::printf("driver       %s\n", info.path.c_str());
    std::printf("name         %s\n", info.name.c_str());
    std::printf("data size    %u bytes per instance\n", static_cast<unsigned>(info.dataSize));
    std::printf("default line %s (%s)\n", FormatLine(info.defaultLine).c_str(), DescribeLine(info.defaultLine).c_str());
    std::printf("info values  %u %u %u\n", static_cast<unsigned>(info.valueA), static_cast<unsigned>(info.valueB),
                static_cast<unsigned>(info.valueC));
    std::printf("banner\n%s\n", Cp437ToUtf8(banner).c_str());
    return kExitOk;
}

int RunParse(const CommonOptions &common, const std::vector<std::string> &texts, const std::string &kindText) {
    const bool kindGiven = !kindText.empty();
    const std::uint32_t givenKind = kindGiven ? ParseKind(kindText) : 0;
    Host host(common);
    std::vector<std::pair<int, std::string>> failures;
    for (const auto &text : texts) {
        const std::uint32_t kind = kindGiven ? givenKind : KindForText(text);
        TagAddress address{};
        host.log.Mark();
        const std::uint32_t result = host.driver->Parse(text, kind, &address);
        if (result == KIV_DONE) {
            std::printf("%s Reserved=%u Type=%s Address=0x%04X Bit=%d Width=%u (kind %s)\n", text.c_str(),
                        static_cast<unsigned>(address.Reserved), TypeLetters(address.Type).c_str(),
                        static_cast<unsigned>(address.Address), static_cast<int>(address.Bit),
                        static_cast<unsigned>(address.Width), KindName(kind).c_str());
            continue;
        }
        std::string why;
        for (const auto &line : host.log.Captured()) why = line.text;
        failures.emplace_back(result == KIV_REFUSED ? kExitRefused : kExitFailed,
                              "tag '" + text + "' (kind " + KindName(kind) + ") refused by the driver" +
                                  (why.empty() ? "" : ": " + why));
    }
    std::fflush(stdout);
    return Report(failures);
}

int RunRead(const CommonOptions &common, const ConnectOptions &connect, const TagOptions &options) {
    const PortSettings settings = connect.Settings();
    const auto texts = CollectTags(options.tags, options.tagFile);
    Host host(common);
    auto tags = ParseTags(*host.driver, texts, options.bit, options.count);
    std::vector<std::pair<int, std::string>> failures;
    {
        Instance instance(*host.driver, connect.instance);
        instance.ColdStart(settings);
        for (auto &tag : tags) {
            const Outcome outcome = instance.Read(tag);
            if (outcome.result == KIV_DONE) {
                std::printf("%s %s\n", tag.text.c_str(), tag.FormatValue().c_str());
                std::fflush(stdout);
            } else {
                failures.emplace_back(outcome.result == KIV_REFUSED ? kExitRefused : kExitFailed,
                                      DescribeFailure(tag.text, "read", outcome));
            }
        }
        const Outcome end = instance.End();
        if (end.result != KIV_DONE) failures.emplace_back(kExitFailed, "ending the driver: " + ExplainOutcome(end));
    }
    return Report(failures);
}

int RunWrite(const CommonOptions &common, const ConnectOptions &connect, const std::vector<std::string> &assignments) {
    const PortSettings settings = connect.Settings();
    std::vector<std::string> texts;
    std::vector<std::uint16_t> values;
    for (const auto &assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError("'" + assignment + "': give TAG=VALUE, e.g. WM0150=4660 or WM0150=0x1234");
        texts.push_back(assignment.substr(0, equals));
        values.push_back(ParseValue(assignment.substr(equals + 1)));
    }
    Host host(common);
    auto tags = ParseTags(*host.driver, texts, -1, 1);
    std::vector<std::pair<int, std::string>> failures;
    {
        Instance instance(*host.driver, connect.instance);
        instance.ColdStart(settings);
        for (std::size_t i = 0; i < tags.size(); ++i) {
            const Outcome outcome = instance.Write(tags[i], values[i]);
            if (outcome.result == KIV_DONE) {
                Tag written = tags[i];
                written.cell.Value = values[i];
                std::printf("%s written %s\n", written.text.c_str(), written.FormatValue().c_str());
                std::fflush(stdout);
            } else {
                failures.emplace_back(outcome.result == KIV_REFUSED ? kExitRefused : kExitFailed,
                                      DescribeFailure(tags[i].text, "write", outcome));
            }
        }
        const Outcome end = instance.End();
        if (end.result != KIV_DONE) failures.emplace_back(kExitFailed, "ending the driver: " + ExplainOutcome(end));
    }
    return Report(failures);
}

}  // namespace dazaraz::cli
