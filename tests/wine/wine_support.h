// What the two Wine runners share. wine_scenarios (runner.cpp) plays the
// driver's scenarios, wine_cli (cli_runner.cpp) the cases of the command-line
// host; each runs its Windows program under Wine and its Linux twin natively,
// each time against a fresh controller simulator, and compares the two runs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dazaraz/sim.h"

namespace winetest {

using Environment = std::map<std::string, std::string>;
using Memory = std::map<uint16_t, uint8_t>;  // controller address -> byte

constexpr int kSkip = 77;  // the tests' SKIP_RETURN_CODE
constexpr int kProgramTimeoutSeconds = 120;

// The command line of both runners: NAME BITS WINDOWS_BIN NATIVE PREFIX PORT WORKDIR.
struct Arguments {
    std::string name;        // the scenario or case
    int bits = 0;            // 32 or 64
    std::string windowsBin;  // the Windows build's bin directory
    std::string native;      // the Linux program
    std::string prefix;      // the Wine prefix
    int port = 0;            // COM1 to COM9
    std::string workDir;
};

// Reads the command line of program, whose arguments after NAME are named in
// synopsis. known tells whether the runner has the named scenario or case.
// Says why on standard error and answers false when the arguments will not do.
bool ReadArguments(int argc, char **argv, const char *program, const char *synopsis, Arguments *args,
                   const std::function<bool(const Arguments &)> &known);

// The Wine loader for programs of one width, and what a program run under it
// needs in its environment.
struct Wine {
    std::string loader;
    Environment env;
};

// Finds Wine for programs of bits with prefix; prints "SKIP: " and why, and
// answers false, when its loader is not there or cannot run on this machine.
bool FindWine(int bits, const std::string &prefix, Wine *wine);

struct Output {
    int status = -1;      // the exit status, -1 when the program did not exit
    int signal = 0;       // the signal that ended it, 0 when none did
    std::string out, err;
    std::string problem;  // why the run itself failed (pipe, fork, time-out, signal)
};

// Runs argv in dir with standard input on /dev/null and env added to the
// environment (no display), both outputs collected, for at most
// kProgramTimeoutSeconds.
Output Spawn(const std::vector<std::string> &argv, const std::string &dir, const Environment &env);

// The lines of text, each without the carriage return a Windows program in
// text mode puts before its end.
std::vector<std::string> Lines(const std::string &text);

// Empties dir (making it if needed) and writes files (name -> text) there.
void PrepareDirectory(const std::string &dir, const std::map<std::string, std::string> &files);

// Port names hold at most 11 characters: the Linux programs open the
// simulator's pseudo-terminal through a short link, /tmp/<tag><port><pid digits>.
std::string ShortLink(const std::string &tag, int port);

// Sets the word at address: the high byte there, the low one at address + 1.
void Word(Memory &bytes, uint16_t address, uint16_t value);

// A simulator made with options, its memory set to bytes and faults injected,
// started; null, with *error set, when it cannot start.
std::unique_ptr<dazaraz::sim::Simulator> StartSimulator(const dazaraz::sim::Options &options, const Memory &bytes,
                                                         const std::vector<dazaraz::sim::Fault> &faults,
                                                         std::string *error);

// The request and reply of each exchange the simulator had, as "request -> reply".
std::vector<std::string> Frames(const dazaraz::sim::Simulator &sim);

// Copies the simulator's bytes at the addresses of which into memory.
void ReadBytes(const dazaraz::sim::Simulator &sim, const Memory &which, Memory *memory);

void Print(const std::string &title, const std::vector<std::string> &lines);

// Says which of the two runs failed in itself (a problem that is not empty);
// answers true when neither did.
bool BothRan(const std::string &windowsProblem, const std::string &linuxProblem);

// Reports the first difference of two line lists; answers true when equal.
bool Same(const char *what, const std::vector<std::string> &wine, const std::vector<std::string> &native);

// Reports each byte of expected that the Windows run left otherwise in
// memory; answers true when there is none.
bool BytesAsExpected(const Memory &expected, const Memory &memory);

} // namespace winetest
