// commands.h - the commands of the dazaraz program and their options.
#ifndef DAZARAZ_CLI_COMMANDS_H
#define DAZARAZ_CLI_COMMANDS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"
#include "driver_log.h"

namespace dazaraz::cli {

// Options of every command that loads the driver.
struct CommonOptions {
    std::string driverPath;  // empty: look beside the program
    std::string logFile;     // empty: standard error
    bool quiet = false;
};

// The port of the commands that talk to a controller.
struct ConnectOptions {
    std::string port;
    std::string line = "9600,7E1";
    std::uint32_t timeoutMs = 1000;
    std::uint32_t instance = 1;

    PortSettings Settings() const;  // checks and converts; throws a usage Failure
};

struct TagOptions {
    std::vector<std::string> tags;
    std::string tagFile;
    int bit = -1;
    std::uint32_t count = 1;
};

struct PollOptions {
    std::uint32_t intervalMs = 1000;
    std::uint32_t times = 0;  // 0: until interrupted
};

// The driver's log set up as asked, and the driver loaded.
struct Host {
    // hold: keep the driver's lines back from the start (DriverLog::Hold).
    explicit Host(const CommonOptions &options, bool hold = false);
    DriverLog log;
    std::unique_ptr<Driver> driver;
};

int RunInfo(const CommonOptions &common);
int RunParse(const CommonOptions &common, const std::vector<std::string> &texts, const std::string &kind);
int RunRead(const CommonOptions &common, const ConnectOptions &connect, const TagOptions &tags);
int RunWrite(const CommonOptions &common, const ConnectOptions &connect, const std::vector<std::string> &assignments);
int RunPoll(const CommonOptions &common, const ConnectOptions &connect, const TagOptions &tags, const PollOptions &poll);

#if DAZARAZ_CLI_SIMULATOR
// The controller simulator on a pseudo-terminal (sim_command.cpp, demo.cpp).
struct SimOptions {
    std::string link;
    std::string line = "9600,7E1";
    std::string memoryFile;
    bool verbose = false;
};
int RunSim(const SimOptions &options);

struct DemoOptions {
    bool verbose = false;  // show every driver line, not only those of failed steps
};
int RunDemo(const CommonOptions &common, const DemoOptions &demo);
#endif

}  // namespace dazaraz::cli

#endif
