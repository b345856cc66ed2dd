// cli_fixture.h - a simulated controller on a short link, a directory to run
// the program in, and the program's runs.
#ifndef DAZARAZ_CLI_FIXTURE_H
#define DAZARAZ_CLI_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "cli_harness.h"

namespace clitest {

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dazaraz::sim::Options options;
        options.line.baud = 0;  // replies at once: the tests are about the program, not the line
        options.link = FreeShortName();
        sim = std::make_unique<dazaraz::sim::Simulator>(options);
        sim->Start();
        port = sim->LinkPath();
    }

    Result Run(const std::vector<std::string> &args, int timeoutMs = 30000) {
        Process process(args, dir.Path());
        return process.Wait(timeoutMs);
    }

    // A command on the simulator's port, with a short time-out and the
    // driver's log hidden, so that standard error holds only the program's
    // own explanations.
    Result RunOnPort(std::vector<std::string> args) {
        for (const char *extra : {"--timeout", "200", "--quiet"}) args.push_back(extra);
        args.push_back("--port");
        args.push_back(port);
        return Run(args);
    }

    // Requests the simulator has seen with the given command.
    std::size_t Seen(int command) const {
        std::size_t n = 0;
        for (const auto &r : sim->Requests()) n += r.command == command;
        return n;
    }

    TempDir dir;
    std::unique_ptr<dazaraz::sim::Simulator> sim;
    std::string port;
};

}  // namespace clitest

#endif
