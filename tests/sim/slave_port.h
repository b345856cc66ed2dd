// slave_port.h - the driver's end of the simulator's pty for the tests: plain
// POSIX reads and writes on the slave, in raw mode, with time-outs.
#ifndef DAZARAZ_TESTS_SLAVE_PORT_H
#define DAZARAZ_TESTS_SLAVE_PORT_H

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dazaraz/sim.h"

namespace simtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline const std::string kStx = "\x02";
inline const std::string kNak = "\x15";

class SlavePort {
public:
    explicit SlavePort(const std::string &path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~SlavePort() { close(fd_); }
    SlavePort(const SlavePort &) = delete;
    SlavePort &operator=(const SlavePort &) = delete;

    void Send(std::string_view bytes) {
        if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("short write on the slave");
    }

    struct Chunk {
        Clock::time_point at;
        std::string bytes;
    };

    // Every read until `count` bytes have come or `deadline` has passed.
    std::vector<Chunk> ReadChunks(std::size_t count, Clock::time_point deadline) {
        std::vector<Chunk> chunks;
        std::size_t total = 0;
        while (total < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left < 0ms) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) continue;
            chunks.push_back({Clock::now(), std::string(buffer, static_cast<std::size_t>(n))});
            total += static_cast<std::size_t>(n);
        }
        return chunks;
    }

    // Up to `count` bytes within `timeout`.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
        std::string all;
        for (const Chunk &c : ReadChunks(count, Clock::now() + timeout)) all += c.bytes;
        return all;
    }

    // Everything that comes until the line has been quiet for `quiet`.
    std::string ReadUntilQuiet(std::chrono::milliseconds quiet = 30ms) {
        std::string all;
        for (;;) {
            const auto chunks = ReadChunks(1, Clock::now() + quiet);
            if (chunks.empty()) return all;
            all += chunks.front().bytes;
        }
    }

private:
    int fd_ = -1;
};

// A simulator with a port open on its slave.
struct Bench {
    explicit Bench(dazaraz::sim::Options options = Unpaced()) : sim(std::move(options)) {
        sim.Start();
        port = std::make_unique<SlavePort>(sim.SlavePath());
    }

    static dazaraz::sim::Options Unpaced() {
        dazaraz::sim::Options o;
        o.line.baud = 0;
        return o;
    }

    // Sends one complete request and answers the whole reply: everything that
    // came once the simulator had logged the request and the line fell quiet.
    std::string Transact(std::string_view request) {
        const std::size_t before = sim.Requests().size();
        port->Send(request);
        if (!sim.WaitForRequests(before + 1, 3000ms)) return "(no request logged)";
        return port->ReadUntilQuiet();
    }

    dazaraz::sim::Simulator sim;
    std::unique_ptr<SlavePort> port;
};

// Frames used throughout (STX and CR included; checksums worked out by hand).
inline const std::string kCpuStart = kStx + "0012C3\r";
inline const std::string kCpuStartAck = kStx + "000012" "23\r";
inline const std::string kSetupWord0150 = kStx + "003200000201500151" "74\r";
inline const std::string kFetchWord0150 = kStx + "003300000201500151" "75\r";
inline const std::string kSetupAck = kStx + "000032" "25\r";
inline const std::string kSetupBit00A0 = kStx + "003200000100A0" "B7\r";
inline const std::string kFetchBit00A0 = kStx + "003300000100A0" "B8\r";
inline const std::string kBitWrite00A0 = kStx + "004000A080" "FD\r";
inline const std::string kBitWriteAck = kStx + "000040" "24\r";
inline const std::string kWordWrite0150 = kStx + "004101501234" "55\r";
inline const std::string kWordWriteAck = kStx + "000041" "25\r";
// The reply to kFetchWord0150 when the word at 0x0150 is 0x1234.
inline const std::string kFetchReply1234 = kStx + "000033" "1234" "F0\r";

}  // namespace simtest

#endif
