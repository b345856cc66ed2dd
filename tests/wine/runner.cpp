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
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "dazaraz/sim.h"
#include "wine_support.h"

using dazaraz::sim::Fault;
using namespace winetest;

namespace {

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
    const auto word = [&](uint16_t address, uint16_t value) { Word(s->bytes, address, value); };
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
    for (std::string line : Lines(out)) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        if (std::regex_match(line, handle))
            line = "8 ZIROD> OpenCom() File handle (number)";
        else if (std::regex_match(line, version))
            line = "8 ZIROD> version compiled on (date) at time (time)";
        lines.push_back(line);
    }
    return lines;
}

// Why the host's run failed, or "" when it did not.
std::string Failure(const std::string &program, const Output &output) {
    if (output.signal != 0) return output.problem + "\n" + output.err;
    if (!output.problem.empty()) return output.problem;
    if (output.status != 0) return program + " exited " + std::to_string(output.status) + "\n" + output.err;
    return "";
}

// One run: a fresh simulator, then the host. link, when not empty, is where
// the simulator's pseudo-terminal must appear (the Wine port's link).
Run RunOnce(const std::string &scenario, const Setup &setup, const std::string &link, const std::string &dir,
            const std::vector<std::string> &command, const Environment &env) {
    Run run;
    dazaraz::sim::Options options;
    options.requireCpuStart = true;
    options.link = link;
    const auto sim = StartSimulator(options, setup.bytes, setup.faults, &run.error);
    if (!sim) return run;
    std::map<std::string, std::string> files;
    if (!setup.initName.empty()) files[setup.initName] = setup.initText;
    PrepareDirectory(dir, files);
    const Output output = Spawn(command, dir, env);
    std::ofstream(dir + "/stderr.txt") << output.err;  // to look at after a failure
    run.error = Failure(command[0], output);
    sim->Stop();
    run.lines = Normalise(output.out);
    if (run.error.empty() && (run.lines.empty() || run.lines.back() != "end of scenario " + scenario))
        run.error = "the host did not finish the scenario";
    run.frames = Frames(*sim);
    ReadBytes(*sim, setup.bytes, &run.memory);
    ReadBytes(*sim, setup.expectedBytes, &run.memory);
    return run;
}

} // namespace

int main(int argc, char **argv) {
    Arguments args;
    Setup setup;
    if (!ReadArguments(argc, argv, "wine_scenarios", "SCENARIO BITS WINDOWS_BIN NATIVE_HOST PREFIX PORT WORKDIR", &args,
                       [&](const Arguments &a) { return SetupFor(a.name, a.bits, &setup); }))
        return 2;
    const std::string &scenario = args.name;
    Wine tools;
    if (!FindWine(args.bits, args.prefix, &tools)) return kSkip;
    const std::string portName = "COM" + std::to_string(args.port);
    const std::string exe = args.windowsBin + "/scenario_host.exe";

    const Run wine = RunOnce(scenario, setup, args.prefix + "/ports/com" + std::to_string(args.port),
                             args.workDir + "/windows", {tools.loader, exe, scenario, portName}, tools.env);
    // The Linux build opens the pseudo-terminal through a short link, /tmp/wz...
    const std::string shortLink = ShortLink("wz", args.port);
    const Run native =
        RunOnce(scenario, setup, shortLink, args.workDir + "/linux", {args.native, scenario, shortLink}, {});

    Print("Windows (Wine)", wine.lines);
    Print("frames (Wine)", wine.frames);
    bool ok = BothRan(wine.error, native.error);
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
    ok = BytesAsExpected(setup.expectedBytes, wine.memory) && ok;
    if (setup.cpuStarts >= 0) {
        int starts = 0;
        for (const std::string &f : wine.frames) starts += f.rfind("<STX>0012", 0) == 0;
        if (starts != setup.cpuStarts) {
            std::printf("FAIL: %d CPU start requests on the line, expected %d\n", starts, setup.cpuStarts);
            ok = false;
        }
    }
    std::printf("%s: scenario %s, %d-bit DAZARAZ.dll under Wine and libdazaraz.so\n", ok ? "PASS" : "FAIL",
                scenario.c_str(), args.bits);
    return ok ? 0 : 1;
}
