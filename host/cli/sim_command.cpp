// sim_command.cpp - the controller simulator on a pseudo-terminal, for
// trying the driver (or another host) without hardware.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>

#include "commands.h"
#include "dazaraz/sim.h"
#include "failure.h"
#include "settings.h"

namespace dazaraz::cli {

namespace {

void Trace(const sim::RequestRecord &r) {
    const std::string status = r.valid ? "ok" : "refused: " + r.problem;
    std::fprintf(stderr, "rx %s  (command %d, %s)\ntx %s\n", sim::Printable(r.raw).c_str(), r.command, status.c_str(),
                 r.reply.empty() ? "(nothing)" : sim::Printable(r.reply).c_str());
}

}  // namespace

int RunSim(const SimOptions &options) {
    sim::Options simOptions;
    if (std::string error; !sim::ParseLine(options.line, &simOptions.line, &error))
        throw UsageError("line settings '" + options.line + "': " + error);
    simOptions.link = options.link;
    if (options.verbose) simOptions.observer = Trace;

    // The signals are taken by sigwait below; they are blocked before the
    // simulator's thread starts so that it inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    sim::Simulator simulator(simOptions);
    if (std::string error; !options.memoryFile.empty() && !sim::LoadMemoryFile(options.memoryFile, simulator, &error))
        throw UsageError("memory file " + options.memoryFile + ": " + error);
    try {
        simulator.Start();
    } catch (const std::exception &e) {
        throw Failure(kExitFailed, std::string("cannot start the simulator: ") + e.what());
    }
    const std::string port = options.link.empty() ? simulator.SlavePath() : simulator.LinkPath();
    std::printf("port %s\n", port.c_str());
    std::printf("pty  %s\n", simulator.SlavePath().c_str());
    std::printf("line %s%s\n", options.line.c_str(), simOptions.line.baud == 0 ? " (replies not paced)" : "");
    if (port.size() > kMaxPortName)
        std::printf("note: '%s' is longer than the %zu characters a port name may have; "
                    "give --link with a short path, e.g. --link /tmp/em2\n",
                    port.c_str(), kMaxPortName);
    std::printf("Give the driver the port %s (e.g. dazaraz read WM0150 --port %s). Ctrl-C stops.\n", port.c_str(),
                port.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    simulator.Stop();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return kExitOk;
}

}  // namespace dazaraz::cli
