// wine_scenarios - runs one scenario of scenario_host twice, each time against
// a fresh controller simulator on a pseudo-terminal:
//
//   1. the Windows build under Wine: DAZARAZ.dll opens COM<n>, which the Wine
//      prefix maps (PREFIX/ports/com<n>) to the simulator's pseudo-terminal;
//   2. the Linux build: libdazaraz.so opens the pseudo-terminal directly.
//
// The test passes when both runs print the same lines (the handle number and
// the build's date and time aside), put the same frames on the line and got
// the same replies, leave the simulated controller's memory the same, and
// the Windows run shows the scenario's own expected lines. It is skipped
// (exit 77) when the Wine loader of the wanted width is not there or cannot
// run on this machine.
//
// usage: wine_scenarios SCENARIO BITS WINDOWS_BIN NATIVE_HOST PREFIX PORT WORKDIR
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "dazaraz/sim.h"

namespace fs = std::filesystem;
using dazaraz::sim::Fault;
using dazaraz::sim::Simulator;

namespace {

constexpr int kSkip = 77;
constexpr int kHostTimeoutSeconds = 120;

struct Setup {
    std::map<uint16_t, uint8_t> bytes;             // memory before the run
    std::vector<Fault> faults;
    std::string initName, initText;                // initialisation file in the host's directory
    std::vector<std::string> expected;             // lines the Windows run must print
    std::map<uint16_t, uint8_t> expectedBytes;     // memory after the run
    int cpuStarts = -1;                            // CPU start frames expected, -1: not checked
};

// What each scenario finds on the line, and what it must show.
bool SetupFor(const std::string &name, int bits, Setup *s) {
    const auto word = [&](uint16_t address, uint16_t value) {
        s->bytes[address] = static_cast<uint8_t>(value >> 8);
        s->bytes[static_cast<uint16_t>(address + 1)] = static_cast<uint8_t>(value);
    };
    word(0x0150, 0x4321);
    if (name == "info") {
        s->expected = {"64 ZIROD> GetKivInfo() exited", "= GetKivInfo 0", "name Hitachi series EM II",
                       "info A 70 B 4 C 0 DataSize " + std::to_string(bits == 32 ? 56 : 80) + " DefaultLine 9600 7 0 2"};
    } else if (name == "cold_start") {
        s->expected = {"8 ZIROD> ColdStart() Warning, no initfile found", "8 ZIROD> ColdStart() port opened",
                       "8 ZIROD> ColdStart() installation OK!", "= ColdStart 0", "8 ZIROD> EndKiv() exited, 0",
                       "= EndKiv 0", "info after end DataSize 0"};
    } else if (name == "parse") {
        s->expected = {"parsed WM0150 kind 1: Reserved 0 Type 00004D57 Address 0150 Bit -1 Width 16",
                       "parsed bx009f kind 6: Reserved 0 Type 00005842 Address 009F Bit -1 Width 1",
                       "32 ZIROD> Parse() Word time/counter address must be even in 'TC0401'",
                       "8 ZIROD> BlockRead(), Blocks not allowed ('BLOCK1')",
                       "32 ZIROD> KivMain() Function 7 not supported in this KIV"};
    } else if (name == "read_kinds") {
        s->bytes[0x0010] = 0x80;
        s->bytes[0x0011] = 0x7F;
        s->bytes[0x00A0] = 0xFF;
        s->bytes[0x0150] = 0x00;
        s->bytes[0x0151] = 0x00;
        s->bytes[0x03A0] = 0x81;
        word(0x0020, 0x1234);
        word(0x00B0, 0xBEAD);
        word(0x0160, 0x0110);
        word(0x0400, 0x0999);
        s->expected = {"value BX0010 0001", "value BX0011 0000", "value BY00A0 0001", "value BM0150 0000",
                       "value BT03A0 0001", "value WX0020 1234", "value WY00B0 BEAD", "value WM0160 0110",
                       "value TC0400 0999", "value WM0160 0000", "value WM0160 0001"};
        s->cpuStarts = 1;
    } else if (name == "writes" || name == "writes_newuse") {
        s->bytes[0x0170] = 0x5A;
        s->bytes[0x0171] = 0x33;
        s->expected = {"value WM0150 1234", "value BM0170 0001", "value BM0170 0000",
                       "8 ZIROD> BuildWriteRequest() Writing not allowed for this type (BX0010)",
                       "8 ZIROD> BuildWriteRequest() Writing not allowed for this type (TC0400)",
                       "written BM0170 0005, Type 00004D42, Function 7"};
        s->expectedBytes = {{0x0150, 0x12}, {0x0151, 0x34}, {0x00A0, 0x00}, {0x00A1, 0xFF}, {0x0171, 0x33}};
        // Without NEWUSE a bit write sends 80 or 00; with it, the byte read
        // with bit 7 changed: 5A becomes DA and then 5A again.
        s->expectedBytes[0x0170] = name == "writes" ? 0x00 : 0x5A;
        if (name == "writes_newuse") {
            s->initName = "ZIROD.INT";
            s->initText = "NEWUSE = ON\n";
            s->expected.push_back("32 ZIROD> ReadInitFile() UsageFlag = 1");
        }
    } else if (name == "naks") {
        // A refusal of the fetch as long as the data reply it stands for, so
        // that the driver reads it whole and sees the NAK.
        s->faults.push_back(Fault::PaddedNak().Only(33).Times(3));
        s->expected = {"8 ZIROD> SendRecvLoop() NAK received", "= SingleRead 1", "value WM0150 BEEF",
                       "value WM0150 4321"};
    } else if (name == "silent") {
        s->faults.push_back(Fault::Silence().Persistent());
        s->expected = {"8 ZIROD> DoRead() CPU start failed", "= SingleRead 2", "8 ZIROD> DoWrite() CPU start failed",
                       "= SingleWrite 2"};
    } else if (name == "warm_start") {
        s->expected = {"8 ZIROD> WarmStart()", "= WarmStart 0", "value WM0150 4321"};
        s->cpuStarts = 2;
    } else if (name == "close_reopen") {
        s->expected = {"= CloseCom 0", "= SingleRead 1", "8 ZIROD> ReOpenCom() port opened", "= ReOpenCom 0",
                       "8 ZIROD> ChangeKivParams() port opened", "= ChangeKivParams 0",
                       "8 ZIROD> ChangeKivParams() open new COM port failed", "= ChangeKivParams 2",
                       "value WM0150 4321"};
    } else if (name == "init_file") {
        s->bytes[0x0170] = 0x5A;
        s->initName = "ZIROD3.INT";
        s->initText = "rtscts=on\ndebug = on\n   IFG=25\n\nbogus line\nNEWUSE = YES\nnewuse = on\n";
        s->expected = {"32 ZIROD> ReadInitFile() RTSCTSflag = 1", "32 ZIROD> ReadInitFile() DebugFlag = 1",
                       "8 ZIROD> ReadInitFile() IFG = 25", "32 ZIROD> ReadIntFile() illegal line 5 in 'ZIROD3.INT'",
                       "32 ZIROD> ReadInitFile() UsageFlag = 0", "32 ZIROD> ReadInitFile() UsageFlag = 1",
                       "8 ZIROD> DoRead() calling StoreData()",
                       "8 ZIROD> BuildWriteReq() WORD read succesful for bit write", "value WM0150 4321"};
        s->expectedBytes = {{0x0170, 0xDA}};
    } else {
        return false;
    }
    return true;
}

struct Run {
    std::vector<std::string> lines;       // normalised output of the host
    std::vector<std::string> frames;      // request and reply of each exchange
    std::map<uint16_t, uint8_t> memory;   // the bytes the scenario touches, afterwards
    std::string error;                    // why the run itself failed
};

std::vector<std::string> Normalise(const std::string &out) {
    static const std::regex handle(R"(^8 ZIROD> OpenCom\(\) File handle \d+$)");
    static const std::regex version(R"(^8 ZIROD> version compiled on \w{3} [ \d]\d \d{4} at time \d\d:\d\d:\d\d$)");
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        if (std::regex_match(line, handle))
            line = "8 ZIROD> OpenCom() File handle (number)";
        else if (std::regex_match(line, version))
            line = "8 ZIROD> version compiled on (date) at time (time)";
        lines.push_back(line);
    }
    return lines;
}

// Runs argv with its output collected, in directory dir, with at most
// kHostTimeoutSeconds; answers the exit status or -1 (and says why).
int Spawn(const std::vector<std::string> &argv, const std::string &dir, const std::map<std::string, std::string> &env,
          std::string *out, std::string *error) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = "pipe failed";
        return -1;
    }
    const std::string errPath = dir + "/stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        dup2(pipeFds[1], 1);
        const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (errFd >= 0) dup2(errFd, 2);
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
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        *error = "fork failed";
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHostTimeoutSeconds);
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        out->append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream errFile(errPath);
    std::stringstream errText;
    errText << errFile.rdbuf();
    if (timedOut) {
        *error = argv[0] + " did not finish within " + std::to_string(kHostTimeoutSeconds) + " s";
        return -1;
    }
    if (!WIFEXITED(status)) {
        *error = argv[0] + " ended by signal " + std::to_string(WTERMSIG(status)) + "\n" + errText.str();
        return -1;
    }
    if (WEXITSTATUS(status) != 0)
        *error = argv[0] + " exited " + std::to_string(WEXITSTATUS(status)) + "\n" + errText.str();
    return WEXITSTATUS(status);
}

void PrepareDirectory(const std::string &dir, const Setup &setup) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (!setup.initName.empty()) std::ofstream(dir + "/" + setup.initName) << setup.initText;
}

// One run: a fresh simulator, then the host. link, when not empty, is where
// the simulator's pseudo-terminal must appear (the Wine port's link).
Run RunOnce(const std::string &scenario, const Setup &setup, const std::string &link, const std::string &dir,
            const std::function<std::vector<std::string>(const std::string &slave)> &command,
            const std::map<std::string, std::string> &env) {
    Run run;
    dazaraz::sim::Options options;
    options.requireCpuStart = true;
    options.link = link;
    Simulator sim(options);
    for (const auto &[address, value] : setup.bytes) sim.SetByte(address, value);
    for (const Fault &f : setup.faults) sim.InjectFault(f);
    try {
        sim.Start();
    } catch (const std::exception &e) {
        run.error = std::string("simulator: ") + e.what();
        return run;
    }
    PrepareDirectory(dir, setup);
    std::string out;
    Spawn(command(sim.SlavePath()), dir, env, &out, &run.error);
    sim.Stop();
    run.lines = Normalise(out);
    if (run.error.empty() && (run.lines.empty() || run.lines.back() != "end of scenario " + scenario))
        run.error = "the host did not finish the scenario";
    for (const auto &r : sim.Requests())
        run.frames.push_back(dazaraz::sim::Printable(r.raw) + " -> " + dazaraz::sim::Printable(r.reply));
    for (const auto &[address, value] : setup.bytes) run.memory[address] = sim.Byte(address);
    for (const auto &[address, value] : setup.expectedBytes) run.memory[address] = sim.Byte(address);
    return run;
}

void Print(const char *title, const std::vector<std::string> &lines) {
    std::printf("---- %s (%zu lines)\n", title, lines.size());
    for (const std::string &l : lines) std::printf("  %s\n", l.c_str());
}

// Reports the first difference of two line lists; answers true when equal.
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

// The Wine loader for programs of the given width, or why there is none.
std::string WineLoader(int bits, std::string *why) {
    const char *candidates64[] = {"/usr/lib/wine/wine64", "/usr/bin/wine64"};
    const char *candidates32[] = {"/usr/lib/wine/wine"};
    const auto &list = bits == 64 ? std::vector<const char *>(std::begin(candidates64), std::end(candidates64))
                                  : std::vector<const char *>(std::begin(candidates32), std::end(candidates32));
    for (const char *path : list) {
        if (access(path, X_OK) != 0) continue;
        // The loader must run here: 32-bit programs need the kernel's 32-bit
        // support, which some kernels leave switched off (ia32_emulation=off).
        std::string out, error;
        const int rc = Spawn({path, "--version"}, "/tmp", {}, &out, &error);
        if (rc == 0) return path;
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

int main(int argc, char **argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: wine_scenarios SCENARIO BITS WINDOWS_BIN NATIVE_HOST PREFIX PORT WORKDIR\n");
        return 2;
    }
    const std::string scenario = argv[1];
    const int bits = std::atoi(argv[2]);
    const std::string windowsBin = argv[3], nativeHost = argv[4], prefix = argv[5], workDir = argv[7];
    const int port = std::atoi(argv[6]);
    Setup setup;
    if ((bits != 32 && bits != 64) || port < 1 || port > 9 || !SetupFor(scenario, bits, &setup)) {
        std::fprintf(stderr, "wine_scenarios: bad arguments\n");
        return 2;
    }
    std::string why;
    const std::string loader = WineLoader(bits, &why);
    if (loader.empty()) {
        std::printf("SKIP: %s\n", why.c_str());
        return kSkip;
    }
    const std::string server = access("/usr/lib/wine/wineserver64", X_OK) == 0 ? "/usr/lib/wine/wineserver64"
                                                                                : "/usr/bin/wineserver";
    const std::map<std::string, std::string> wineEnv = {
        {"WINEPREFIX", prefix},   {"WINELOADER", loader},     {"WINESERVER", server},
        {"WINEDEBUG", "-all"},    {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"},
    };
    const std::string portName = "COM" + std::to_string(port);
    const std::string exe = windowsBin + "/scenario_host.exe";

    const Run wine = RunOnce(
        scenario, setup, prefix + "/ports/com" + std::to_string(port), workDir + "/windows",
        [&](const std::string &) { return std::vector<std::string>{loader, exe, scenario, portName}; }, wineEnv);
    // Port names hold at most 11 characters: the Linux build opens the
    // pseudo-terminal through a short link, /tmp/wz<port><pid digits>.
    const std::string shortLink = ("/tmp/wz" + std::to_string(port) + std::to_string(getpid() % 1000)).substr(0, 11);
    const Run native = RunOnce(
        scenario, setup, shortLink, workDir + "/linux",
        [&](const std::string &) { return std::vector<std::string>{nativeHost, scenario, shortLink}; }, {});

    Print("Windows (Wine)", wine.lines);
    Print("frames (Wine)", wine.frames);
    bool ok = true;
    for (const Run *r : {&wine, &native}) {
        if (!r->error.empty()) {
            std::printf("FAIL: %s run: %s\n", r == &wine ? "Windows" : "Linux", r->error.c_str());
            ok = false;
        }
    }
    if (!ok) Print("Linux", native.lines);
    // The work area's size is the one thing that differs by pointer width.
    const auto masked = [](std::vector<std::string> lines) {
        static const std::regex dataSize(R"(DataSize \d+ )");
        for (std::string &l : lines) l = std::regex_replace(l, dataSize, "DataSize (size) ");
        return lines;
    };
    if (ok && !(Same("log and results", masked(wine.lines), masked(native.lines)) &&
                Same("frames on the line", wine.frames, native.frames))) {
        Print("Linux", native.lines);
        Print("frames (Linux)", native.frames);
        ok = false;
    }
    if (ok && wine.memory != native.memory) {
        std::printf("FAIL: the controller's memory differs after the two runs\n");
        ok = false;
    }
    for (const std::string &line : setup.expected) {
        if (std::find(wine.lines.begin(), wine.lines.end(), line) == wine.lines.end()) {
            std::printf("FAIL: the Windows run did not print \"%s\"\n", line.c_str());
            ok = false;
        }
    }
    for (const auto &[address, value] : setup.expectedBytes) {
        const auto it = wine.memory.find(address);
        if (it == wine.memory.end() || it->second != value) {
            std::printf("FAIL: controller byte %04X is %02X after the Windows run, expected %02X\n", address,
                        it == wine.memory.end() ? 0 : it->second, value);
            ok = false;
        }
    }
    if (setup.cpuStarts >= 0) {
        int starts = 0;
        for (const std::string &f : wine.frames) starts += f.rfind("<STX>0012", 0) == 0;
        if (starts != setup.cpuStarts) {
            std::printf("FAIL: %d CPU start requests on the line, expected %d\n", starts, setup.cpuStarts);
            ok = false;
        }
    }
    std::printf("%s: scenario %s, %d-bit DAZARAZ.dll under Wine and libdazaraz.so\n", ok ? "PASS" : "FAIL",
                scenario.c_str(), bits);
    return ok ? 0 : 1;
}
