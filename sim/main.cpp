// dazaraz-sim - one simulated controller on a pseudo-terminal.
//
// Prints the slave path (and the link, when asked for one) on the first line
// of standard output, then answers requests until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "dazaraz/sim.h"

namespace {

const char kUsage[] =
    "usage: dazaraz-sim [options]\n"
    "  --link PATH           make a symbolic link PATH to the pty slave\n"
    "  --line BAUD[,FRAME]   pace replies at this line speed, e.g. 9600,7E1 (default);\n"
    "                        FRAME is data bits, parity N/O/E/M/S, stop bits; 0 = unpaced\n"
    "  --memory FILE         initial memory: lines 'ADDR VALUE' in hexadecimal; a VALUE of\n"
    "                        1-2 digits is a byte, 3-4 digits a word (high byte at ADDR);\n"
    "                        '#' starts a comment\n"
    "  --require-cpu-start   refuse reads and writes until a CPU start is received\n"
    "  --verbose             write every request and reply to standard error\n";

int Usage(const char *problem) {
    std::fprintf(stderr, "dazaraz-sim: %s\n%s", problem, kUsage);
    return 2;
}

void Trace(const dazaraz::sim::RequestRecord &r) {
    using namespace std::chrono;
    static const auto origin = steady_clock::now();
    const double ms = duration<double, std::milli>(r.arrival - origin).count();
    const std::string status = r.valid ? "ok" : "refused: " + r.problem;
    std::fprintf(stderr, "%10.3f ms  rx %s  (command %d, %s)\n%10s     tx %s\n", ms,
                 dazaraz::sim::Printable(r.raw).c_str(), r.command, status.c_str(), "",
                 r.reply.empty() ? "(nothing)" : dazaraz::sim::Printable(r.reply).c_str());
}

}  // namespace

int main(int argc, char **argv) {
    dazaraz::sim::Options options;
    std::string memoryFile;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--link" || arg == "--line" || arg == "--memory") {
            const char *v = value();
            if (!v) return Usage((std::string(arg) + " needs a value").c_str());
            if (arg == "--link") {
                options.link = v;
            } else if (arg == "--memory") {
                memoryFile = v;
            } else if (std::string error; !dazaraz::sim::ParseLine(v, &options.line, &error)) {
                return Usage(error.c_str());
            }
        } else if (arg == "--require-cpu-start") {
            options.requireCpuStart = true;
        } else if (arg == "--verbose") {
            options.observer = Trace;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            return Usage(("unknown argument '" + std::string(arg) + "'").c_str());
        }
    }

    // The signals are taken by sigwait below; block them before the
    // simulator's thread starts so that it inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    dazaraz::sim::Simulator sim(options);
    if (std::string error; !memoryFile.empty() && !dazaraz::sim::LoadMemoryFile(memoryFile, sim, &error)) {
        std::fprintf(stderr, "dazaraz-sim: %s\n", error.c_str());
        return 1;
    }
    try {
        sim.Start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dazaraz-sim: %s\n", e.what());
        return 1;
    }
    if (options.link.empty())
        std::printf("%s\n", sim.SlavePath().c_str());
    else
        std::printf("%s %s\n", sim.SlavePath().c_str(), sim.LinkPath().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    sim.Stop();
    return 0;
}
