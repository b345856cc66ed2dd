// poll.cpp - reading tags in rounds, with a live table on a terminal and a
// summary of reads, failures and latencies at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <thread>

#include "commands.h"
#include "failure.h"
#include "settings.h"
#include "stop_signals.h"
#include "terminal.h"

namespace dazaraz::cli {

namespace {

using Clock = std::chrono::steady_clock;

struct TagStats {
    std::uint64_t reads = 0;
    std::uint64_t failures = 0;
    std::vector<double> latencies;  // of the reads that succeeded, ms
    bool haveValue = false;
    std::string value;
    Clock::time_point lastGood{};
    std::uint32_t lastResult = KIV_DONE;
};

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string TimeOfDay() {
    const std::string stamp = FormatLogLine(LogLine{std::chrono::system_clock::now(), 0, ""});
    return stamp.substr(11, 12);  // hh:mm:ss.mmm
}

// The live table: drawn over itself on every round.
class Table {
public:
    explicit Table(std::string heading) : heading_(std::move(heading)) {}

    void Draw(unsigned round, const std::vector<Tag> &tags, const std::vector<TagStats> &stats,
              const std::deque<std::string> &recentLog) {
        if (drawn_ > 0) std::printf("\x1b[%uA", drawn_);
        std::printf("\r\x1b[J");
        drawn_ = 0;
        Line("%s, round %u (Ctrl-C stops)", heading_.c_str(), round);
        Line("%-10s %-14s %9s %7s %7s %8s  %s", "TAG", "VALUE", "AGE", "READS", "FAILS", "LAST ms", "STATE");
        const auto now = Clock::now();
        for (std::size_t i = 0; i < tags.size(); ++i) {
            const TagStats &s = stats[i];
            const std::string age =
                s.haveValue ? Milliseconds(std::chrono::duration<double>(now - s.lastGood).count()) + " s" : "-";
            const std::string last = s.latencies.empty() ? "-" : Milliseconds(s.latencies.back());
            const std::string state = s.lastResult == KIV_DONE ? "ok" : "failed (" + std::to_string(s.lastResult) + ")";
            Line("%-10s %-14s %9s %7llu %7llu %8s  %s", tags[i].text.c_str(), s.haveValue ? s.value.c_str() : "-",
                 age.c_str(), static_cast<unsigned long long>(s.reads), static_cast<unsigned long long>(s.failures),
                 last.c_str(), state.c_str());
        }
        if (!recentLog.empty()) {
            Line("recent driver log:");
            for (const auto &line : recentLog) Line("  %s", line.c_str());
        }
        std::fflush(stdout);
    }

private:
    template <typename... Args>
    void Line(const char *format, Args... args) {
        std::printf(format, args...);
        std::printf("\x1b[K\n");
        ++drawn_;
    }

    std::string heading_;
    unsigned drawn_ = 0;
};

}  // namespace

int RunPoll(const CommonOptions &common, const ConnectOptions &connect, const TagOptions &options,
            const PollOptions &poll) {
    const PortSettings settings = connect.Settings();
    const auto texts = CollectTags(options.tags, options.tagFile);
    Host host(common);
    auto tags = ParseTags(*host.driver, texts, options.bit, options.count);
    std::vector<TagStats> stats(tags.size());

    const bool live = IsTerminal(stdout);
    // Driver lines would scroll the table away: on a terminal they are shown
    // under it instead.
    const bool holdLog = live && host.log.ToStandardError() && IsTerminal(stderr);
    Table table("dazaraz poll " + settings.port + " " + FormatLine(settings.line) + " every " +
                std::to_string(poll.intervalMs) + " ms");
    std::deque<std::string> recentLog;

    Instance instance(*host.driver, connect.instance);
    instance.ColdStart(settings);
    StopSignals signals;
    if (holdLog) host.log.Hold();

    const auto started = Clock::now();
    auto next = started;
    unsigned round = 0;
    Outcome lastFailure;
    std::string lastFailureTag;
    while (!signals.Requested() && (poll.times == 0 || round < poll.times)) {
        ++round;
        std::string line = TimeOfDay() + " round " + std::to_string(round);
        for (std::size_t i = 0; i < tags.size() && !signals.Requested(); ++i) {
            const Outcome outcome = instance.Read(tags[i]);
            TagStats &s = stats[i];
            ++s.reads;
            s.lastResult = outcome.result;
            if (outcome.result == KIV_DONE) {
                s.latencies.push_back(outcome.milliseconds);
                s.haveValue = true;
                s.value = tags[i].FormatValue();
                s.lastGood = Clock::now();
                line += " " + tags[i].text + "=" + std::to_string(tags[i].cell.Value);
            } else {
                ++s.failures;
                lastFailure = outcome;
                lastFailureTag = tags[i].text;
                line += " " + tags[i].text + "=failed(" + std::to_string(outcome.result) + ")";
            }
        }
        if (live) {
            for (const auto &held : host.log.TakeHeld()) {
                recentLog.push_back(FormatLogLine(held));
                if (recentLog.size() > 5) recentLog.pop_front();
            }
            table.Draw(round, tags, stats, recentLog);
        } else {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
        if (poll.times != 0 && round >= poll.times) break;
        // Rounds start on a fixed schedule; one that overran starts the next at once.
        next += std::chrono::milliseconds(poll.intervalMs);
        const auto now = Clock::now();
        if (next < now) next = now;
        while (!signals.Requested() && Clock::now() < next)
            std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(20)));
    }
    if (holdLog) host.log.Release();

    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::uint64_t reads = 0, failures = 0;
    std::printf("summary: %u round%s in %.2f s%s\n", round, round == 1 ? "" : "s", seconds,
                signals.Requested() ? " (interrupted)" : "");
    std::printf("%-10s %7s %7s %8s %10s %8s\n", "TAG", "READS", "FAILS", "MIN ms", "MEDIAN ms", "MAX ms");
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const TagStats &s = stats[i];
        reads += s.reads;
        failures += s.failures;
        const bool any = !s.latencies.empty();
        const auto [low, high] = any ? std::minmax_element(s.latencies.begin(), s.latencies.end())
                                     : std::make_pair(s.latencies.end(), s.latencies.end());
        std::printf("%-10s %7llu %7llu %8s %10s %8s\n", tags[i].text.c_str(), static_cast<unsigned long long>(s.reads),
                    static_cast<unsigned long long>(s.failures), any ? Milliseconds(*low).c_str() : "-",
                    any ? Milliseconds(Median(s.latencies)).c_str() : "-", any ? Milliseconds(*high).c_str() : "-");
    }
    std::fflush(stdout);

    const Outcome end = instance.End();
    int status = kExitOk;
    if (failures > 0) {
        status = lastFailure.result == KIV_REFUSED ? kExitRefused : kExitFailed;
        std::fprintf(stderr, "dazaraz: %llu of %llu reads failed; the last: %s\n",
                     static_cast<unsigned long long>(failures), static_cast<unsigned long long>(reads),
                     DescribeFailure(lastFailureTag, "read", lastFailure).c_str());
    }
    if (end.result != KIV_DONE) {
        std::fprintf(stderr, "dazaraz: ending the driver: %s\n", ExplainOutcome(end).c_str());
        status = kExitFailed;
    }
    return status;
}

}  // namespace dazaraz::cli
