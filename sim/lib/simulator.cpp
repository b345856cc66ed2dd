// simulator.cpp - the controller: memory, request handling, faults, pacing.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "dazaraz/sim.h"
#include "protocol.h"
#include "pty.h"

namespace dazaraz::sim {

using Clock = std::chrono::steady_clock;

Fault Fault::Truncate(std::size_t keep) {
    Fault f = Of(FaultKind::Truncate);
    f.size = keep;
    return f;
}

Fault Fault::Extra(std::string bytes) {
    Fault f = Of(FaultKind::ExtraBytes);
    f.extra = std::move(bytes);
    return f;
}

Fault Fault::Bursts(std::size_t piece, std::chrono::milliseconds pause) {
    Fault f = Of(FaultKind::Bursts);
    f.size = piece;
    f.delay = pause;
    return f;
}

Fault Fault::DelayReply(std::chrono::milliseconds delay) {
    Fault f = Of(FaultKind::DelayReply);
    f.delay = delay;
    return f;
}

Fault Fault::DelayBytes(std::chrono::milliseconds delay) {
    Fault f = Of(FaultKind::DelayBytes);
    f.delay = delay;
    return f;
}

namespace {

// How a reply goes out, from the timing faults.
struct Timing {
    std::chrono::milliseconds before{0};  // before the first byte
    std::chrono::milliseconds between{0}; // added between bytes
    std::size_t piece = 0;                // bytes per burst, 0: no bursts
    std::chrono::milliseconds pause{0};   // between bursts
};

}  // namespace

struct Simulator::Impl {
    explicit Impl(Options o) : options(std::move(o)) {}

    const Options options;

    // Start and Stop, one at a time; the thread and the pty belong to them.
    std::mutex lifecycle;
    detail::Pty pty;
    int wake[2] = {-1, -1};
    std::thread thread;

    // Everything below is shared with the thread.
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    bool running = false;
    bool stopping = false;
    std::string slavePath;
    std::string linkPath;
    std::array<std::uint8_t, 0x10000> memory{};
    bool cpuStarted = false;
    std::vector<std::uint16_t> setup;  // addresses of the last set-up, empty: none
    std::vector<Fault> faults;
    std::vector<RequestRecord> log;

    void Run();
    void Handle(const std::string &frame, Clock::time_point arrival);
    std::string Answer(const detail::Request &request, RequestRecord &record, Timing &timing);
    void Send(const std::string &reply, const Timing &timing);
    bool WaitUntil(Clock::time_point when);
    bool Write(std::string_view bytes);
    void MakeLink(const std::string &target);
    void RemoveLink();
};

void Simulator::Impl::Run() {
    detail::FrameAssembler assembler;
    std::vector<std::string> frames;
    char buffer[512];
    for (;;) {
        pollfd fds[2] = {{pty.Master(), POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(pty.Master(), buffer, sizeof buffer);
            if (n > 0) {
                const auto arrival = Clock::now();
                frames.clear();
                assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), frames);
                for (const std::string &frame : frames) Handle(frame, arrival);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        }
        // Hang-up or error on the master (not expected while the slave is held
        // open): wait a little rather than spin.
        pollfd stop{wake[0], POLLIN, 0};
        if (poll(&stop, 1, 10) > 0) return;
    }
}

// Decides the reply under the lock: state checks, the request's effect, and
// the faults that change the reply's content. Fills in timing for Send.
std::string Simulator::Impl::Answer(const detail::Request &request, RequestRecord &record, Timing &timing) {
    std::vector<Fault> hits;
    for (auto it = faults.begin(); it != faults.end();) {
        if (it->command == 0 || it->command == request.command) {
            hits.push_back(*it);
            if (it->times > 0 && --it->times == 0) {
                it = faults.erase(it);
                continue;
            }
        }
        ++it;
    }
    auto has = [&](FaultKind kind) {
        return std::any_of(hits.begin(), hits.end(), [kind](const Fault &f) { return f.kind == kind; });
    };

    record.valid = request.valid;
    record.problem = request.problem;
    if (record.valid && options.requireCpuStart && !cpuStarted && request.command != 12) {
        record.valid = false;
        record.problem = "CPU not started";
    }
    if (record.valid && request.command == 33 && setup.empty()) {
        record.valid = false;
        record.problem = "fetch without set-up";
    }

    const bool refused = !record.valid || has(FaultKind::Nak) || has(FaultKind::PaddedNak);
    const std::string echo = has(FaultKind::WrongEcho) ? std::string("9999") : request.echo;
    std::string reply;
    if (refused) {
        std::string padding;
        if (has(FaultKind::PaddedNak) && request.command == 33) {
            const std::size_t values = request.addresses.empty() ? setup.size() : request.addresses.size();
            padding.assign(2 * values, '0');
        }
        reply = detail::MakeReply(detail::kNak, echo, padding);
    } else {
        std::string data;
        switch (request.command) {
        case 12:
            cpuStarted = true;
            break;
        case 32:
            setup = request.addresses;
            break;
        case 33:
            for (std::uint16_t a : setup) data += detail::Hex2(memory[a]);
            break;
        case 40:
            memory[request.address] = static_cast<std::uint8_t>(request.value);
            break;
        case 41:
            memory[request.address] = static_cast<std::uint8_t>(request.value >> 8);
            memory[static_cast<std::uint16_t>(request.address + 1)] = static_cast<std::uint8_t>(request.value);
            break;
        }
        reply = detail::MakeReply(detail::kStx, echo, data);
    }

    // The checksum stands just before the CR of the frame as built.
    const std::size_t sumAt = reply.size() - 3;
    if (has(FaultKind::WrongChecksum)) {
        const unsigned sum = static_cast<unsigned>(std::stoul(reply.substr(sumAt, 2), nullptr, 16));
        reply.replace(sumAt, 2, detail::Hex2(sum + 1));
    }
    if (has(FaultKind::LowerCaseChecksum))
        for (std::size_t i = sumAt; i < sumAt + 2; ++i)
            reply[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(reply[i])));
    if (has(FaultKind::NoStx)) reply.front() = '?';
    if (has(FaultKind::NoCr)) reply.back() = '?';
    for (const Fault &f : hits)
        if (f.kind == FaultKind::ExtraBytes) reply += f.extra;
    for (const Fault &f : hits) {
        switch (f.kind) {
        case FaultKind::Truncate: reply.resize(std::min(reply.size(), f.size)); break;
        case FaultKind::DelayReply: timing.before += f.delay; break;
        case FaultKind::DelayBytes: timing.between += f.delay; break;
        case FaultKind::Bursts:
            timing.piece = f.size;
            timing.pause = f.delay;
            break;
        default: break;
        }
    }
    if (has(FaultKind::Silence)) reply.clear();
    return reply;
}

void Simulator::Impl::Handle(const std::string &frame, Clock::time_point arrival) {
    const detail::Request request = detail::Decode(frame);
    RequestRecord record;
    record.arrival = arrival;
    record.raw = frame;
    record.command = request.command;
    Timing timing;
    {
        std::lock_guard lock(mu);
        record.reply = Answer(request, record, timing);
    }
    Send(record.reply, timing);
    record.replied = Clock::now();
    {
        std::lock_guard lock(mu);
        log.push_back(record);
    }
    cv.notify_all();
    if (options.observer) options.observer(record);
}

// Byte i leaves when it would have arrived over the line: after i + 1
// character times, plus the delays of the timing faults.
void Simulator::Impl::Send(const std::string &reply, const Timing &timing) {
    const auto start = Clock::now();
    const auto charTime = options.line.CharTime();
    auto due = [&](std::size_t i) {
        auto t = start + timing.before + charTime * (i + 1) + timing.between * i;
        if (timing.piece > 0) t += timing.pause * (i / timing.piece);
        return t;
    };
    std::size_t i = 0;
    while (i < reply.size()) {
        if (!WaitUntil(due(i))) return;
        const auto now = Clock::now();
        std::size_t j = i + 1;
        while (j < reply.size() && due(j) <= now) ++j;
        if (!Write(std::string_view(reply).substr(i, j - i))) return;
        i = j;
    }
}

// Sleeps until `when`; false when the simulator is being stopped.
// The clock is checked again after every wake-up: a timed wait may end a
// little early, and the pacing must never be faster than the line.
bool Simulator::Impl::WaitUntil(Clock::time_point when) {
    std::unique_lock lock(mu);
    while (!stopping) {
        if (Clock::now() >= when) return true;
        cv.wait_until(lock, when);
    }
    return false;
}

bool Simulator::Impl::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(pty.Master(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        // The slave's input queue is full: wait for room or for Stop.
        pollfd fds[2] = {{pty.Master(), POLLOUT, 0}, {wake[0], POLLIN, 0}};
        if (poll(fds, 2, 100) > 0 && fds[1].revents != 0) return false;
    }
    return true;
}

void Simulator::Impl::MakeLink(const std::string &target) {
    const std::string &path = options.link;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            throw std::system_error(EEXIST, std::generic_category(), "link " + path + " exists and is no link");
        if (unlink(path.c_str()) != 0) throw std::system_error(errno, std::generic_category(), "unlink " + path);
    }
    if (symlink(target.c_str(), path.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), "symlink " + path);
}

// Removes the link unless someone else has put theirs there meanwhile.
void Simulator::Impl::RemoveLink() {
    if (options.link.empty()) return;
    char target[256];
    const ssize_t n = readlink(options.link.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == pty.SlavePath()) unlink(options.link.c_str());
}

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { Stop(); }

void Simulator::Start() {
    Impl &d = *impl_;
    std::lock_guard lifecycle(d.lifecycle);
    if (d.thread.joinable()) return;
    d.pty.Open();
    try {
        if (pipe2(d.wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
        if (!d.options.link.empty()) d.MakeLink(d.pty.SlavePath());
    } catch (...) {
        for (int &fd : d.wake)
            if (fd >= 0) close(fd), fd = -1;
        d.pty.Close();
        throw;
    }
    {
        std::lock_guard lock(d.mu);
        d.stopping = false;
        d.running = true;
        d.slavePath = d.pty.SlavePath();
        d.linkPath = d.options.link;
    }
    d.thread = std::thread([&d] { d.Run(); });
}

void Simulator::Stop() {
    Impl &d = *impl_;
    std::lock_guard lifecycle(d.lifecycle);
    if (!d.thread.joinable()) return;
    {
        std::lock_guard lock(d.mu);
        d.stopping = true;
    }
    d.cv.notify_all();
    const char wake = 1;
    [[maybe_unused]] ssize_t n = write(d.wake[1], &wake, 1);
    d.thread.join();
    d.RemoveLink();
    d.pty.Close();
    for (int &fd : d.wake) close(fd), fd = -1;
    std::lock_guard lock(d.mu);
    d.running = false;
    d.slavePath.clear();
    d.linkPath.clear();
}

bool Simulator::Running() const {
    std::lock_guard lock(impl_->mu);
    return impl_->running;
}

std::string Simulator::SlavePath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->slavePath;
}

std::string Simulator::LinkPath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->linkPath;
}

void Simulator::SetByte(std::uint16_t address, std::uint8_t value) {
    std::lock_guard lock(impl_->mu);
    impl_->memory[address] = value;
}

std::uint8_t Simulator::Byte(std::uint16_t address) const {
    std::lock_guard lock(impl_->mu);
    return impl_->memory[address];
}

void Simulator::SetWord(std::uint16_t address, std::uint16_t value) {
    std::lock_guard lock(impl_->mu);
    impl_->memory[address] = static_cast<std::uint8_t>(value >> 8);
    impl_->memory[static_cast<std::uint16_t>(address + 1)] = static_cast<std::uint8_t>(value);
}

std::uint16_t Simulator::Word(std::uint16_t address) const {
    std::lock_guard lock(impl_->mu);
    return static_cast<std::uint16_t>(impl_->memory[address] << 8 |
                                      impl_->memory[static_cast<std::uint16_t>(address + 1)]);
}

void Simulator::InjectFault(const Fault &fault) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.push_back(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard lock(impl_->mu);
    impl_->faults.clear();
}

std::size_t Simulator::ActiveFaults() const {
    std::lock_guard lock(impl_->mu);
    return impl_->faults.size();
}

bool Simulator::CpuStarted() const {
    std::lock_guard lock(impl_->mu);
    return impl_->cpuStarted;
}

void Simulator::ResetCpu() {
    std::lock_guard lock(impl_->mu);
    impl_->cpuStarted = false;
    impl_->setup.clear();
}

std::vector<RequestRecord> Simulator::Requests() const {
    std::lock_guard lock(impl_->mu);
    return impl_->log;
}

void Simulator::ClearRequests() {
    std::lock_guard lock(impl_->mu);
    impl_->log.clear();
}

bool Simulator::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [&] { return impl_->log.size() >= n; });
}

}  // namespace dazaraz::sim
