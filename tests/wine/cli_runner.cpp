// wine_cli - runs one case of the command-line host twice, each time with a
// fresh controller simulator on a pseudo-terminal:
//
//   1. dazaraz.exe under Wine, on COM<n>, which the Wine prefix maps
//      (PREFIX/ports/com<n>) to the simulator's pseudo-terminal;
//   2. the Linux dazaraz, on a short link to the pseudo-terminal.
//
// A case passes when the Windows run exits with the expected status and
// prints the expected lines, and, for the cases that the two programs share,
// both runs print the same (times and paths masked), explain failures with
// the same "dazaraz:" lines, write the same driver log, put the same frames
// on the line and leave the controller's memory the same. The cases about
// what only Windows has (the loader, COM port names) check the Windows run
// alone. Skipped (exit 77) when the Wine loader of the wanted width is not
// there or cannot run on this machine.
//
// usage: wine_cli CASE BITS WINDOWS_BIN NATIVE_PROGRAM PREFIX PORT WORKDIR
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "dazaraz/sim.h"
#include "wine_support.h"

namespace fs = std::filesystem;
using dazaraz::sim::Fault;
using dazaraz::sim::Simulator;
using namespace winetest;

namespace {

// The arguments hold {port} where the port name goes.
struct Case {
    std::vector<std::string> args;
    bool simulator = true;                          // a controller on the port
    std::map<uint16_t, uint8_t> bytes;              // its memory before the run
    std::vector<Fault> faults;
    std::map<std::string, std::string> files;      // written to the current directory first
    int status = 0;                                 // expected exit status
    std::vector<std::string> out;                   // lines the Windows run prints, in this order
    std::string lastError;                          // regex for the last line of its standard error
    std::map<uint16_t, uint8_t> memoryAfter;        // controller bytes after the Windows run
    bool compare = true;                            // the Linux program must do the same
    std::string logFile;                            // driver log to compare, when not empty
};

std::string Escaped(const std::string &text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// The cases. bin is the Windows directory of the program as Wine names it.
bool CaseFor(const std::string &name, int port, const std::string &bin, Case *c) {
    const std::string com = "COM" + std::to_string(port);
    if (name == "info") {
        c->args = {"info", "--quiet"};
        c->simulator = false;
        c->out = {"driver       " + bin + "\\DAZARAZ.dll", "name         Hitachi series EM II",
                  "default line 9600,7E1 (9600 baud, 7 data bits, even parity, 1 stop bit)", "banner",
                  "║  ZIROD :  Hitachi series EM II (32 bit)                       ║"};
    } else if (name == "driver_missing") {
        c->args = {"info", "--driver", "C:\\no\\such\\DAZARAZ.dll"};
        c->simulator = false;
        c->compare = false;
        c->status = 2;
        c->lastError = Escaped("dazaraz: cannot load the driver (C:\\no\\such\\DAZARAZ.dll: ") + ".*\\(error 126\\)" +
                       Escaped("); give its path with --driver");
    } else if (name == "driver_without_entry") {
        c->args = {"info", "--driver", "TOLVEX.DLL"};
        c->simulator = false;
        c->compare = false;
        c->status = 2;
        c->lastError = Escaped("dazaraz: cannot load the driver (TOLVEX.DLL does not export KivMain); give its path "
                               "with --driver");
    } else if (name == "read") {
        // Tags from the command line and from a file with Windows line ends;
        // the driver's log in a file.
        c->args = {"read", "WM0150", "BX0010", "--tags", "tank.tags", "--log", "driver.log", "--port", "{port}"};
        c->files["tank.tags"] = "TC0400\r\n# output\r\nWY00A0   # valve\r\n\r\n";
        c->logFile = "driver.log";
        Word(c->bytes, 0x0150, 0x1234);
        c->bytes[0x0010] = 0x80;
        Word(c->bytes, 0x0400, 0x0BB8);
        Word(c->bytes, 0x00A0, 0xBEEF);
        c->out = {"WM0150 4660 0x1234", "BX0010 1", "TC0400 3000 0x0BB8", "WY00A0 48879 0xBEEF"};
    } else if (name == "write") {
        c->args = {"write", "WM0160=0xBEEF", "BM0170=1", "WY00A0=4660", "--quiet", "--port", "{port}"};
        c->bytes[0x0170] = 0x00;
        c->out = {"WM0160 written 48879 0xBEEF", "BM0170 written 1", "WY00A0 written 4660 0x1234"};
        c->memoryAfter = {{0x0160, 0xBE}, {0x0161, 0xEF}, {0x0170, 0x80}, {0x00A0, 0x12}, {0x00A1, 0x34}};
    } else if (name == "write_refused") {
        c->args = {"write", "WM0160=1", "BX0010=1", "--quiet", "--port", "{port}"};
        c->status = 1;
        c->out = {"WM0160 written 1 0x0001"};
        c->lastError = Escaped("dazaraz: BX0010: write refused: only the output areas Y and M can be written "
                               "(driver answered 1: ZIROD> BuildWriteRequest() Writing not allowed for this type "
                               "(BX0010))");
        c->memoryAfter = {{0x0160, 0x00}, {0x0161, 0x01}};
    } else if (name == "no_reply") {
        c->args = {"read", "WM0150", "--timeout", "200", "--quiet", "--port", "{port}"};
        c->faults.push_back(Fault::Silence().Persistent());
        c->status = 2;
        c->lastError = Escaped("dazaraz: WM0150: read failed: ") + ".*" + Escaped("(driver answered 2: ") + ".*\\)";
    } else if (name == "poll") {
        c->args = {"poll", "WM0150", "BX0010", "--times", "3", "--interval", "50", "--quiet", "--port", "{port}"};
        Word(c->bytes, 0x0150, 0x1234);
        c->bytes[0x0010] = 0x80;
        c->out = {"(time) round 1 WM0150=4660 BX0010=1", "(time) round 2 WM0150=4660 BX0010=1",
                  "(time) round 3 WM0150=4660 BX0010=1", "summary: 3 rounds in (n) s",
                  "WM0150           3       0 (n) (n) (n)", "BX0010           3       0 (n) (n) (n)"};
    } else if (name == "port_unconnected") {
        // The prefix names COM<n>, but its link leads nowhere: Wine opens
        // the name, and the port then refuses every serial call.
        c->args = {"read", "WM0150", "--quiet", "--port", com};
        c->simulator = false;
        c->compare = false;
        c->status = 2;
        c->lastError = Escaped("dazaraz: port " + com + " could not be opened: " + com +
                               " is not a serial port (it opens, but takes no line settings) (driver: ZIROD> "
                               "ColdStart() error opening COM port)");
    } else if (name == "port_high") {
        // Ports from COM10 up open only by their device name.
        c->args = {"read", "WM0150", "--quiet", "--port", "COM99"};
        c->simulator = false;
        c->compare = false;
        c->status = 2;
        c->lastError = Escaped("dazaraz: port COM99 could not be opened: COM99 does not exist (ports above COM9 are "
                               "named \\\\.\\COM99) (driver: ZIROD> ColdStart() error opening COM port)");
    } else {
        return false;
    }
    return true;
}

// What differs between any two runs: times of day, durations, the driver's
// path, the port's handle number and the build's date.
std::vector<std::string> Masked(const std::vector<std::string> &lines, int bits) {
    static const std::vector<std::pair<std::regex, std::string>> masks = {
        {std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )"), "(stamp) "},
        {std::regex(R"(^\d\d:\d\d:\d\d\.\d{3} )"), "(time) "},
        {std::regex(R"( +\d+\.\d+)"), " (n)"},
        {std::regex(R"(^driver {7}.*)"), "driver       (path)"},
        {std::regex(R"(File handle \d+$)"), "File handle (number)"},
        {std::regex(R"(version compiled on .*)"), "version compiled on (date)"},
    };
    // The work area is the one thing that differs by pointer width.
    static const std::regex dataSize(R"(^data size +\d+)");
    std::vector<std::string> masked;
    for (std::string line : lines) {
        for (const auto &[pattern, replacement] : masks) line = std::regex_replace(line, pattern, replacement);
        if (bits == 32) line = std::regex_replace(line, dataSize, "data size    (n)");
        masked.push_back(line);
    }
    return masked;
}

std::vector<std::string> Explanations(const std::string &err) {
    std::vector<std::string> lines;
    for (const std::string &line : Lines(err))
        if (line.rfind("dazaraz:", 0) == 0) lines.push_back(line);
    return lines;
}

struct Run {
    Output output;
    std::vector<std::string> log;         // the driver's log file, when asked for
    std::vector<std::string> frames;      // request and reply of each exchange
    std::map<uint16_t, uint8_t> memory;   // the bytes the case sets or checks, afterwards
};

// One run: a fresh simulator on link (when the case has one), the case's
// files in dir, then the program.
Run RunOnce(const Case &c, const std::string &link, const std::string &dir, const std::vector<std::string> &command,
            const Environment &env) {
    Run run;
    PrepareDirectory(dir, c.files);
    std::unique_ptr<Simulator> sim;
    if (c.simulator) {
        dazaraz::sim::Options options;
        options.line.baud = 0;  // replies at once: the case is about the program, not the line
        options.requireCpuStart = true;
        options.link = link;
        sim = StartSimulator(options, c.bytes, c.faults, &run.output.problem);
        if (!sim) return run;
    }
    run.output = Spawn(command, dir, env);
    if (sim) {
        sim->Stop();
        run.frames = Frames(*sim);
        ReadBytes(*sim, c.bytes, &run.memory);
        ReadBytes(*sim, c.memoryAfter, &run.memory);
    }
    if (!c.logFile.empty()) {
        std::ifstream in(dir + "/" + c.logFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        run.log = Lines(text.str());
    }
    return run;
}

// Wine's name of a directory of this machine: drive Z: is the root.
std::string WineName(const std::string &path) {
    std::string name = "Z:" + fs::absolute(path).lexically_normal().string();
    std::replace(name.begin(), name.end(), '/', '\\');
    while (name.size() > 3 && name.back() == '\\') name.pop_back();
    return name;
}

std::vector<std::string> WithPort(std::vector<std::string> args, const std::string &port) {
    for (std::string &a : args)
        if (a == "{port}") a = port;
    return args;
}

// The lines of want appear in this order, each as printed or masked.
bool Contains(const std::vector<std::string> &lines, int bits, const std::vector<std::string> &want) {
    const std::vector<std::string> masked = Masked(lines, bits);
    std::size_t at = 0;
    for (const std::string &w : want) {
        while (at < lines.size() && lines[at] != w && masked[at] != w) ++at;
        if (at == lines.size()) {
            std::printf("FAIL: the Windows run did not print \"%s\" (in this order)\n", w.c_str());
            return false;
        }
        ++at;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Arguments args;
    Case c;
    if (!ReadArguments(argc, argv, "wine_cli", "CASE BITS WINDOWS_BIN NATIVE_PROGRAM PREFIX PORT WORKDIR", &args,
                       [&](const Arguments &a) { return CaseFor(a.name, a.port, WineName(a.windowsBin), &c); }))
        return 2;
    const std::string &name = args.name, &prefix = args.prefix;
    const int bits = args.bits, port = args.port;
    Wine tools;
    if (!FindWine(bits, prefix, &tools)) return kSkip;
    if (name == "port_high" && fs::exists(fs::symlink_status(prefix + "/dosdevices/com99"))) {
        std::printf("SKIP: the Wine prefix maps COM99 to a device of this machine\n");
        return kSkip;
    }

    // The port's link must not point at anything while no simulator is on it.
    const std::string link = prefix + "/ports/com" + std::to_string(port);
    std::error_code ignored;
    fs::remove(link, ignored);

    std::vector<std::string> wineCommand{tools.loader, args.windowsBin + "/dazaraz.exe"};
    for (const std::string &a : WithPort(c.args, "COM" + std::to_string(port))) wineCommand.push_back(a);
    const Run wine = RunOnce(c, link, args.workDir + "/windows", wineCommand, tools.env);

    Run native;
    if (c.compare) {
        // The Linux program opens the pseudo-terminal through a short link, /tmp/wc...
        const std::string shortLink = ShortLink("wc", port);
        std::vector<std::string> nativeCommand{args.native};
        for (const std::string &a : WithPort(c.args, shortLink)) nativeCommand.push_back(a);
        native = RunOnce(c, shortLink, args.workDir + "/linux", nativeCommand, {});
    }

    const auto wineOut = Lines(wine.output.out);
    Print("dazaraz.exe " + name + ": standard output", wineOut);
    Print("standard error", Lines(wine.output.err));
    bool ok = BothRan(wine.output.problem, native.output.problem);
    if (ok && wine.output.status != c.status) {
        std::printf("FAIL: dazaraz.exe exited %d, expected %d\n", wine.output.status, c.status);
        ok = false;
    }
    if (ok && c.compare) {
        if (native.output.status != wine.output.status) {
            std::printf("FAIL: the Linux program exited %d, dazaraz.exe %d\n", native.output.status,
                        wine.output.status);
            ok = false;
        }
        ok = Same("standard output", Masked(wineOut, bits), Masked(Lines(native.output.out), bits)) && ok;
        ok = Same("explanations on standard error", Explanations(wine.output.err), Explanations(native.output.err)) &&
             ok;
        ok = Same("driver logs", Masked(wine.log, bits), Masked(native.log, bits)) && ok;
        ok = Same("frames on the line", wine.frames, native.frames) && ok;
        if (wine.memory != native.memory) {
            std::printf("FAIL: the controller's memory differs after the two runs\n");
            ok = false;
        }
        if (!ok) {
            Print("Linux: standard output", Lines(native.output.out));
            Print("Linux: standard error", Lines(native.output.err));
        }
    }
    ok = Contains(wineOut, bits, c.out) && ok;
    if (!c.lastError.empty()) {
        const auto errLines = Lines(wine.output.err);
        const std::string last = errLines.empty() ? "(nothing)" : errLines.back();
        if (!std::regex_match(last, std::regex(c.lastError))) {
            std::printf("FAIL: the last line on standard error is\n  %s\nnot like\n  %s\n", last.c_str(),
                        c.lastError.c_str());
            ok = false;
        }
    }
    if (!c.logFile.empty() && wine.log.empty()) {
        std::printf("FAIL: dazaraz.exe wrote no driver log to %s\n", c.logFile.c_str());
        ok = false;
    }
    ok = BytesAsExpected(c.memoryAfter, wine.memory) && ok;
    std::printf("%s: dazaraz.exe %s, %d-bit, under Wine%s\n", ok ? "PASS" : "FAIL", name.c_str(), bits,
                c.compare ? " and the Linux dazaraz" : "");
    return ok ? 0 : 1;
}
