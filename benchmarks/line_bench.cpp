// line_bench.cpp - exchanges on a line: the shared library, loaded as a host
// loads it, reads and writes a word tag of the controller simulator on a
// pseudo-terminal at 9600 bits per second (7E1).
//
// Besides the time per call, each benchmark reports:
//   ifg_ms           the gap set in the initialisation file
//   bound_ms         IFG + 15: the least cost of one exchange, since Send
//                    waits IFG before writing and 15 ms after it
//   min_exchange_ms  the shortest call, measured by the host, divided by its
//                    exchanges (2 for a read, 1 for a word write)
//   exchange_ms      the mean of the same
//   min_gap_ms       from the simulator's record: the shortest time from the
//                    end of a reply to the arrival of the next request. Send
//                    starts only after the reply is in, so this is at most
//                    the gap that Send kept, and must be at least IFG.
//   min_interval_ms  from the simulator's record: the shortest time between
//                    two requests' arrivals. Informative only: the stamps
//                    carry the simulator thread's wake-up latency, so this
//                    can fall a millisecond or two below bound_ms.
//   reply_line_ms    mean line time of the replies at 9600 7E1; it overlaps
//                    the 15 ms pause while it is shorter
//   bound_held       1 when min_exchange_ms >= bound_ms and min_gap_ms >= IFG
//   ifg_failed_lines "IFG failed" lines logged during the run
#include <benchmark/benchmark.h>

#include <dazaraz/sim.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "host_records.h"
#include "tolvex.h"

namespace {

namespace sim = dazaraz::sim;
using Clock = std::chrono::steady_clock;

constexpr uint32_t InstanceNumber = 77;
constexpr unsigned TurnaroundMs = 15;
constexpr unsigned Iterations = 20;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The log lines of the driver, through libtolvex.
struct Log {
    std::mutex mutex;
    std::vector<std::string> lines;
    static void Sink(int, const char *text, void *self) {
        Log *log = static_cast<Log *>(self);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->lines.push_back(text);
    }
    size_t Count(const char *prefix) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) {
            return l.rfind(prefix, 0) == 0;
        }));
    }
    std::string Last() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.empty() ? "" : lines.back();
    }
};


// One host session: a working directory with the initialisation file, the
// simulator, the library loaded afresh and one cold-started instance.
class Session {
public:
    explicit Session(unsigned ifg) : oldDir_(std::filesystem::current_path()) {
        tolvex_set_sink(&Log::Sink, &log_);
        dir_ = std::filesystem::temp_directory_path() / ("dazaraz-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        std::ofstream("ZIROD" + std::to_string(InstanceNumber) + ".INT") << "IFG = " << ifg << "\n";

        sim::Options options;
        options.line = sim::LineSpeed{9600, 10};
        options.link = sim::FreeShortLinkPath();
        controller_ = std::make_unique<sim::Simulator>(options);
        controller_->Start();
        controller_->SetWord(0x0150, 0x1234);

        library_ = dlopen(DAZARAZ_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library_) {
            error_ = std::string("dlopen: ") + dlerror();
            return;
        }
        kivMain_ = reinterpret_cast<KivMainFunction>(dlsym(library_, "KivMain"));
        InfoBlock info{};
        if (!kivMain_ || Call(KIV_GET_KIV_INFO, &info) != 0 || info.DataSize == 0) {
            error_ = "driver not usable (still ended from an earlier session?)";
            return;
        }
        storage_.assign(info.DataSize, 0);
        block_.Data = reinterpret_cast<DriverData *>(storage_.data());
        block_.Instance = InstanceNumber;

        ColdStartParams start{};
        std::strncpy(start.PortName, controller_->LinkPath().c_str(), sizeof start.PortName - 1);
        start.OpenAtStart = 1;
        start.ReadTimeout = 50;
        start.Line = LineParams{9600, 7, 0, 2};
        if (Call(KIV_COLD_START, &start) != 0 || log_.Count("ZIROD> ColdStart() port opened") != 1) {
            error_ = "cold start failed: " + log_.Last();
            return;
        }

        text_ = "WM0150";
        ParseRecord parse{};
        parse.AddressText = text_.c_str();
        parse.Kind = KIV_KIND_ANALOG_1;
        if (Call(KIV_SINGLE_ADDRESS_PARSER, &parse) != 0) {
            error_ = "WM0150 not accepted";
            return;
        }
        tag_.AddressText = text_.c_str();
        tag_.TagAddress = parse.TagAddress;
        tag_.Count = 1;
        tag_.ValueCell = &value_;
    }

    ~Session() {
        if (library_) {
            if (!storage_.empty()) Call(KIV_END_KIV, nullptr);
            dlclose(library_);
        }
        controller_->Stop();
        tolvex_set_sink(nullptr, nullptr);
        std::filesystem::current_path(oldDir_);
        std::filesystem::remove_all(dir_);
    }

    uint32_t Call(uint32_t function, void *params) {
        block_.Function = function;
        block_.Params = params;
        return kivMain_(&block_);
    }
    uint32_t Read() { return Call(KIV_SINGLE_READ, &tag_); }
    uint32_t Write(uint16_t value) {
        value_.Value = value;
        return Call(KIV_SINGLE_WRITE, &tag_);
    }

    const std::string &Error() const { return error_; }
    sim::Simulator &Controller() { return *controller_; }
    Log &Logged() { return log_; }
    uint16_t Value() const { return value_.Value; }

private:
    std::filesystem::path oldDir_, dir_;
    Log log_;
    std::unique_ptr<sim::Simulator> controller_;
    void *library_ = nullptr;
    KivMainFunction kivMain_ = nullptr;
    std::vector<uint8_t> storage_;
    CallBlock block_{};
    std::string text_;
    TagRecord tag_{};
    TagValue value_{};
    std::string error_;
};

// Call durations measured by the host, per exchange.
struct Calls {
    double min = 1e9, sum = 0;
    size_t count = 0;
    void Add(Clock::duration d, unsigned exchanges) {
        const double perExchange = Ms(d) / exchanges;
        min = std::min(min, perExchange);
        sum += perExchange;
        count++;
    }
};

// The counters of one run.
void ReportLine(benchmark::State &state, Session &session, unsigned ifg, const Calls &calls, size_t requests) {
    sim::Simulator &controller = session.Controller();
    if (!controller.WaitForRequests(requests, std::chrono::seconds(2))) {
        state.SkipWithError("simulator did not record every request");
        return;
    }
    const std::vector<sim::RequestRecord> record = controller.Requests();
    double minInterval = 1e9, minGap = 1e9, replyBytes = 0;
    for (size_t i = 0; i < record.size(); i++) {
        replyBytes += static_cast<double>(record[i].reply.size());
        if (i == 0) continue;
        minInterval = std::min(minInterval, Ms(record[i].arrival - record[i - 1].arrival));
        minGap = std::min(minGap, Ms(record[i].arrival - record[i - 1].replied));
    }
    const double bound = ifg + TurnaroundMs;
    const double charMs = Ms(sim::LineSpeed{9600, 10}.CharTime());
    state.counters["ifg_ms"] = ifg;
    state.counters["bound_ms"] = bound;
    state.counters["min_exchange_ms"] = calls.min;
    state.counters["exchange_ms"] = calls.count ? calls.sum / static_cast<double>(calls.count) : 0;
    state.counters["min_gap_ms"] = minGap;
    state.counters["min_interval_ms"] = minInterval;
    state.counters["reply_line_ms"] = record.empty() ? 0 : replyBytes * charMs / static_cast<double>(record.size());
    state.counters["bound_held"] = calls.min >= bound && minGap >= ifg ? 1 : 0;
    state.counters["ifg_failed_lines"] = static_cast<double>(session.Logged().Count("ZIROD> IFG failed"));
}

// One SingleRead per iteration: the set-up and the fetch exchange.
void BM_LineRead(benchmark::State &state) {
    const unsigned ifg = static_cast<unsigned>(state.range(0));
    Session session(ifg);
    if (!session.Error().empty()) {
        state.SkipWithError(session.Error().c_str());
        return;
    }
    if (session.Read() != 0) { // the first read also starts the CPU
        state.SkipWithError("first read failed");
        return;
    }
    session.Controller().ClearRequests();
    Calls calls;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const uint32_t rc = session.Read();
        calls.Add(Clock::now() - start, 2);
        if (rc != 0 || session.Value() != 0x1234) {
            state.SkipWithError("read failed");
            return;
        }
    }
    ReportLine(state, session, ifg, calls, 2 * static_cast<size_t>(state.iterations()));
}
BENCHMARK(BM_LineRead)->ArgName("ifg")->Arg(0)->Arg(10)->Arg(30)->Iterations(Iterations)->UseRealTime()->Unit(benchmark::kMillisecond);

// One SingleWrite of a word per iteration: one exchange.
void BM_LineWordWrite(benchmark::State &state) {
    const unsigned ifg = static_cast<unsigned>(state.range(0));
    Session session(ifg);
    if (!session.Error().empty()) {
        state.SkipWithError(session.Error().c_str());
        return;
    }
    if (session.Write(1) != 0) {
        state.SkipWithError("first write failed");
        return;
    }
    session.Controller().ClearRequests();
    uint16_t value = 0;
    Calls calls;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const uint32_t rc = session.Write(++value);
        calls.Add(Clock::now() - start, 1);
        if (rc != 0) {
            state.SkipWithError("write failed");
            return;
        }
    }
    if (session.Controller().Word(0x0150) != value) state.SkipWithError("last value not in the controller");
    ReportLine(state, session, ifg, calls, static_cast<size_t>(state.iterations()));
}
BENCHMARK(BM_LineWordWrite)->ArgName("ifg")->Arg(0)->Arg(10)->Arg(30)->Iterations(Iterations)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
