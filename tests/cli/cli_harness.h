// cli_harness.h - running the dazaraz program as a subprocess against the
// controller simulator on a pseudo-terminal.
#ifndef DAZARAZ_CLI_HARNESS_H
#define DAZARAZ_CLI_HARNESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dazaraz/sim.h"

extern char **environ;

namespace clitest {

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The last line of a text (the explanation of a failure on standard error).
inline std::string LastLine(const std::string &text) {
    const auto lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

// The program running with its output in pipes and its standard input on
// /dev/null.
class Process {
public:
    Process(const std::vector<std::string> &args, const std::string &cwd) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<std::string> full{DAZARAZ_CLI_PROGRAM};
        full.insert(full.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : full) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, DAZARAZ_CLI_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) throw std::runtime_error("posix_spawn failed");
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // Waits until standard output holds a line containing text; false on time-out.
    bool WaitForOutput(const std::string &text, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (result_.out.find(text) == std::string::npos) {
            if (!Pump(deadline)) return result_.out.find(text) != std::string::npos;
        }
        return true;
    }

    void Signal(int signal) { kill(pid_, signal); }

    // Reads everything until the program ends; kills it after the time-out.
    Result Wait(int timeoutMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Pump(deadline)) {
        }
        if (out_ >= 0 || err_ >= 0) kill(pid_, SIGKILL);  // timed out
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return result_;
    }

    const Result &SoFar() const { return result_; }

private:
    // One round of reading; false when both pipes are closed or time is up.
    bool Pump(std::chrono::steady_clock::time_point deadline) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        if (poll(fds, 2, static_cast<int>(left)) <= 0) return false;
        Drain(fds[0], out_, result_.out);
        Drain(fds[1], err_, result_.err);
        return true;
    }
    static void Drain(const pollfd &p, int &fd, std::string &into) {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    Result result_;
};

// A directory of its own for each test: the driver reads its initialisation
// file from the current directory.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/dzcli.XXXXXX";
        if (!mkdtemp(name)) throw std::runtime_error("mkdtemp");
        path_ = name;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string &Path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// "/tmp/dz" and four characters that name nothing yet: 11 characters, the
// most a port name may hold.
inline std::string FreeShortName() { return dazaraz::sim::FreeShortLinkPath(); }

inline bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace clitest

#endif
