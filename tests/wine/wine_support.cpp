#include "wine_support.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using dazaraz::sim::Fault;
using dazaraz::sim::Simulator;

namespace winetest {

namespace {

// The Wine loader for programs of the given width, or why there is none.
std::string WineLoader(int bits, std::string *why) {
    const std::vector<const char *> candidates =
        bits == 64 ? std::vector<const char *>{"/usr/lib/wine/wine64", "/usr/bin/wine64"}
                   : std::vector<const char *>{"/usr/lib/wine/wine"};
    for (const char *path : candidates) {
        if (access(path, X_OK) != 0) continue;
        // The loader must run here: 32-bit programs need the kernel's 32-bit
        // support, which some kernels leave switched off (ia32_emulation=off).
        const Output probe = Spawn({path, "--version"}, "/tmp", {});
        if (probe.problem.empty() && probe.status == 0) return path;
        std::string error = !probe.problem.empty() ? probe.problem : probe.err;
        while (!error.empty() && error.back() == '\n') error.pop_back();
        std::replace(error.begin(), error.end(), '\n', ' ');
        *why = std::string(path) + " cannot run on this machine (" + (error.empty() ? "no answer" : error) + ")";
        if (bits == 32) *why += "; 32-bit programs need the kernel's IA-32 emulation (ia32_emulation)";
        return "";
    }
    *why = bits == 64 ? "the 64-bit Wine loader is not installed (Debian: wine64)"
                      : "the 32-bit Wine loader is not installed (Debian: wine32:i386)";
    return "";
}

} // namespace

bool ReadArguments(int argc, char **argv, const char *program, const char *synopsis, Arguments *args,
                   const std::function<bool(const Arguments &)> &known) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s %s\n", program, synopsis);
        return false;
    }
    args->name = argv[1];
    args->bits = std::atoi(argv[2]);
    args->windowsBin = argv[3];
    args->native = argv[4];
    args->prefix = argv[5];
    args->port = std::atoi(argv[6]);
    args->workDir = argv[7];
    if ((args->bits != 32 && args->bits != 64) || args->port < 1 || args->port > 9 || !known(*args)) {
        std::fprintf(stderr, "%s: bad arguments\n", program);
        return false;
    }
    return true;
}

bool FindWine(int bits, const std::string &prefix, Wine *wine) {
    std::string why;
    wine->loader = WineLoader(bits, &why);
    if (wine->loader.empty()) {
        std::printf("SKIP: %s\n", why.c_str());
        return false;
    }
    const std::string server = access("/usr/lib/wine/wineserver64", X_OK) == 0 ? "/usr/lib/wine/wineserver64"
                                                                                : "/usr/bin/wineserver";
    wine->env = {
        {"WINEPREFIX", prefix},   {"WINELOADER", wine->loader}, {"WINESERVER", server},
        {"WINEDEBUG", "-all"},    {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"},
    };
    return true;
}

Output Spawn(const std::vector<std::string> &argv, const std::string &dir, const Environment &env) {
    Output result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        result.problem = "pipe failed";
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        const int nullFd = open("/dev/null", O_RDONLY);
        if (nullFd >= 0) dup2(nullFd, 0);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        for (const auto &[k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        dprintf(2, "cannot run %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        result.problem = "fork failed";
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kProgramTimeoutSeconds);
    int fds[2] = {outPipe[0], errPipe[0]};
    std::string *into[2] = {&result.out, &result.err};
    bool timedOut = false;
    while (fds[0] >= 0 || fds[1] >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i], buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0) close(fd);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (timedOut) {
        result.problem = argv[0] + " did not finish within " + std::to_string(kProgramTimeoutSeconds) + " s";
    } else if (!WIFEXITED(status)) {
        result.signal = WTERMSIG(status);
        result.problem = argv[0] + " ended by signal " + std::to_string(result.signal);
    } else {
        result.status = WEXITSTATUS(status);
    }
    return result;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void PrepareDirectory(const std::string &dir, const std::map<std::string, std::string> &files) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto &[name, text] : files) std::ofstream(dir + "/" + name, std::ios::binary) << text;
}

std::string ShortLink(const std::string &tag, int port) {
    return ("/tmp/" + tag + std::to_string(port) + std::to_string(getpid() % 1000)).substr(0, 11);
}

void Word(Memory &bytes, uint16_t address, uint16_t value) {
    bytes[address] = static_cast<uint8_t>(value >> 8);
    bytes[static_cast<uint16_t>(address + 1)] = static_cast<uint8_t>(value);
}

std::unique_ptr<Simulator> StartSimulator(const dazaraz::sim::Options &options, const Memory &bytes,
                                          const std::vector<Fault> &faults, std::string *error) {
    auto sim = std::make_unique<Simulator>(options);
    for (const auto &[address, value] : bytes) sim->SetByte(address, value);
    for (const Fault &f : faults) sim->InjectFault(f);
    try {
        sim->Start();
    } catch (const std::exception &e) {
        *error = std::string("simulator: ") + e.what();
        return nullptr;
    }
    return sim;
}

std::vector<std::string> Frames(const Simulator &sim) {
    std::vector<std::string> frames;
    for (const auto &r : sim.Requests())
        frames.push_back(dazaraz::sim::Printable(r.raw) + " -> " + dazaraz::sim::Printable(r.reply));
    return frames;
}

void ReadBytes(const Simulator &sim, const Memory &which, Memory *memory) {
    for (const auto &[address, value] : which) (*memory)[address] = sim.Byte(address);
}

void Print(const std::string &title, const std::vector<std::string> &lines) {
    std::printf("---- %s (%zu lines)\n", title.c_str(), lines.size());
    for (const std::string &l : lines) std::printf("  %s\n", l.c_str());
}

bool BothRan(const std::string &windowsProblem, const std::string &linuxProblem) {
    bool ok = true;
    for (const auto &[which, problem] : {std::pair{"Windows", &windowsProblem}, std::pair{"Linux", &linuxProblem}}) {
        if (!problem->empty()) {
            std::printf("FAIL: %s run: %s\n", which, problem->c_str());
            ok = false;
        }
    }
    return ok;
}

bool Same(const char *what, const std::vector<std::string> &wine, const std::vector<std::string> &native) {
    const size_t n = std::max(wine.size(), native.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string a = i < wine.size() ? wine[i] : "(nothing)";
        const std::string b = i < native.size() ? native[i] : "(nothing)";
        if (a != b) {
            std::printf("FAIL: %s differ at line %zu:\n  Windows: %s\n  Linux:   %s\n", what, i + 1, a.c_str(),
                        b.c_str());
            return false;
        }
    }
    return true;
}

bool BytesAsExpected(const Memory &expected, const Memory &memory) {
    bool ok = true;
    for (const auto &[address, value] : expected) {
        const auto it = memory.find(address);
        if (it == memory.end() || it->second != value) {
            std::printf("FAIL: controller byte %04X is %02X after the Windows run, expected %02X\n", address,
                        it == memory.end() ? 0 : it->second, value);
            ok = false;
        }
    }
    return ok;
}

} // namespace winetest
