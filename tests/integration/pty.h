// pty.h - pseudo-terminal pairs for tests: the driver opens the slave side
// by a short link name, the test talks on the master side.
#ifndef DAZARAZ_TEST_PTY_H
#define DAZARAZ_TEST_PTY_H

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>

namespace itest {

// A pseudo-terminal pair. The driver opens the slave by a short link name
// (port names hold at most 11 characters); the test talks on the master.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slavePath_ = ptsname(master_);
        // Hold the slave open so that the line does not hang up between the
        // driver's closes and opens.
        holder_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        tcgetattr(holder_, &t);
        cfmakeraw(&t);
        tcsetattr(holder_, TCSANOW, &t);
        // "/tmp/dz" and four random characters: 11 characters in all.
        static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100 && link_.empty(); ++attempt) {
            std::string name = "/tmp/dz";
            for (int i = 0; i < 4; ++i) name += chars[static_cast<unsigned>(random() ^ getpid() ^ attempt) % 36];
            if (symlink(slavePath_.c_str(), name.c_str()) == 0) link_ = name;
        }
        if (link_.empty()) throw std::runtime_error("no link name for the pseudo-terminal");
    }
    ~Pty() {
        unlink(link_.c_str());
        close(holder_);
        close(master_);
    }
    const std::string &Link() const { return link_; }       // 11 characters
    const std::string &SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    void Send(const std::string &bytes) const {
        if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("pty write");
    }
    // Everything that arrives on the master within the time given.
    std::string Receive(int waitMs, size_t atMost = 4096) const {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (out.size() < atMost) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
            char buf[256];
            const ssize_t n = read(master_, buf, std::min(sizeof buf, atMost - out.size()));
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int master_ = -1, holder_ = -1;
    std::string slavePath_, link_;
};

} // namespace itest

#endif
