// demo.cpp - the driver against the simulator, in one process, with no
// hardware: read every kind of tag, write a word and a bit and read them
// back, and say for every step whether it gave what was expected.

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <functional>
#include <string>

#include "commands.h"
#include "dazaraz/sim.h"
#include "failure.h"
#include "settings.h"
#include "stop_signals.h"

namespace dazaraz::cli {

namespace {


std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

struct StepResult {
    std::string got;
    Outcome outcome;
};

class Demo {
public:
    Demo(Host &host, sim::Simulator &simulator, bool verbose)
        : host_(host), sim_(simulator), instance_(*host.driver, 1), verbose_(verbose) {}

    // Runs one step: prints its line and, when it did not give what was
    // expected, the driver's lines of the step.
    bool Step(const std::string &action, const std::string &what, const std::string &expected,
              const std::function<StepResult()> &run) {
        StepResult result;
        std::string failure;
        try {
            result = run();
        } catch (const Failure &f) {
            failure = f.what();
            status_ = Worse(status_, f.Status());
        }
        const bool ok = failure.empty() && result.got == expected;
        if (failure.empty() && !ok) status_ = Worse(status_, result.outcome.result == KIV_REFUSED ? kExitRefused : kExitFailed);
        const std::string got = failure.empty() ? result.got : "error";
        std::printf("  %-4s %-20s %-24s %-18s %6.1f ms\n", ok ? "ok" : "FAIL", action.c_str(), what.c_str(),
                    got.c_str(), result.outcome.milliseconds);
        if (!ok) {
            std::printf("       expected: %s\n", expected.c_str());
            if (!failure.empty())
                std::printf("       %s\n", failure.c_str());
            else if (result.outcome.result != KIV_DONE)
                std::printf("       %s\n", ExplainOutcome(result.outcome).c_str());
        }
        std::fflush(stdout);
        // The driver's lines of the step: all of them with --verbose, else
        // only those of a step that went wrong.
        const auto lines = host_.log.TakeHeld();
        if (verbose_ || !ok)
            for (const auto &line : lines) host_.log.Write(line);
        ++steps_;
        if (!ok) ++failed_;
        return ok;
    }

    StepResult Read(const std::string &text, int bit = -1) {
        Tag tag = ParseOne(text, bit);
        StepResult result;
        result.outcome = instance_.Read(tag);
        result.got = result.outcome.result == KIV_DONE ? tag.FormatValue() : "result " + std::to_string(result.outcome.result);
        return result;
    }

    // A write, then what landed in the simulator's memory at the address.
    StepResult Write(const std::string &text, std::uint16_t value) {
        Tag tag = ParseOne(text, -1);
        StepResult result;
        result.outcome = instance_.Write(tag, value);
        if (result.outcome.result != KIV_DONE) {
            result.got = "result " + std::to_string(result.outcome.result);
            return result;
        }
        const auto address = static_cast<std::uint16_t>(tag.address.Address);
        result.got = tag.FirstLetter() == 'B' ? "memory byte " + Hex(sim_.Byte(address), 2)
                                              : "memory word " + Hex(sim_.Word(address), 4);
        return result;
    }

    Instance &Driver() { return instance_; }
    int Status() const { return status_; }
    int Steps() const { return steps_; }
    int Failed() const { return failed_; }

private:
    Tag ParseOne(const std::string &text, int bit) {
        auto tags = ParseTags(*host_.driver, {text}, bit, 1);
        return tags.front();
    }

    Host &host_;
    sim::Simulator &sim_;
    Instance instance_;
    bool verbose_;
    int status_ = kExitOk;
    int steps_ = 0;
    int failed_ = 0;
};

}  // namespace

int RunDemo(const CommonOptions &common, const DemoOptions &options) {
    Host host(common, true);

    const std::string lineText = "9600,7E1";
    sim::Options simOptions;
    sim::ParseLine(lineText, &simOptions.line);
    try {
        simOptions.link = sim::FreeShortLinkPath();
    } catch (const std::runtime_error &) {
        throw Failure(kExitFailed, "no free name /tmp/dzXXXX for the simulator's link");
    }
    sim::Simulator simulator(simOptions);
    simulator.SetByte(0x0010, 0x80);   // BX0010: bit 7 of the byte is the bit
    simulator.SetWord(0x0150, 0x1234);
    simulator.SetWord(0x0400, 3000);   // a timer/counter value
    // From here on Ctrl-C ends the demo cleanly, so that the link goes away.
    StopSignals signals;
    try {
        simulator.Start();
    } catch (const std::exception &e) {
        throw Failure(kExitFailed, std::string("cannot start the simulator: ") + e.what());
    }
    const std::string port = simulator.LinkPath();

    std::printf("dazaraz demo: the driver reads and writes a simulated controller, no hardware needed\n");
    std::printf("  driver      %s (%s)\n", host.driver->Info().path.c_str(), host.driver->Info().name.c_str());
    std::printf("  controller  simulated on %s, port name %s, %s\n", simulator.SlavePath().c_str(), port.c_str(),
                lineText.c_str());
    std::printf("  memory      BX0010 byte 0x80, WM0150 word 0x1234, TC0400 word 0x0BB8 (3000)\n\n");
    std::fflush(stdout);

    Demo demo(host, simulator, options.verbose);
    PortSettings settings;
    settings.port = port;
    settings.line = ParseLineText(lineText);
    std::printf("  %-4s %-20s %-24s %-18s %9s\n", "", "step", "what", "result", "time");
    const bool started = demo.Step("cold start", "open port " + port, "port opened", [&] {
        return StepResult{"port opened", demo.Driver().ColdStart(settings)};
    });
    struct Step {
        const char *action;
        const char *what;
        const char *expected;
        std::function<StepResult()> run;
    };
    const Step steps[] = {
        {"read  BX0010", "a bit (external input)", "1", [&] { return demo.Read("BX0010"); }},
        {"read  WM0150", "a word (internal output)", "4660 0x1234", [&] { return demo.Read("WM0150"); }},
        {"read  WM0150 --bit 4", "bit 4 of that word", "1", [&] { return demo.Read("WM0150", 4); }},
        {"read  TC0400", "a timer/counter word", "3000 0x0BB8", [&] { return demo.Read("TC0400"); }},
        {"write WM0160=0xBEEF", "a word", "memory word 0xBEEF", [&] { return demo.Write("WM0160", 0xBEEF); }},
        {"read  WM0160", "the word back", "48879 0xBEEF", [&] { return demo.Read("WM0160"); }},
        {"write BM0170=1", "a bit (bit 7 of a byte)", "memory byte 0x80", [&] { return demo.Write("BM0170", 1); }},
        {"read  BM0170", "the bit back", "1", [&] { return demo.Read("BM0170"); }},
    };
    for (const auto &step : steps) {
        if (!started || signals.Requested()) break;
        demo.Step(step.action, step.what, step.expected, step.run);
    }
    demo.Step("end", "end the driver", "done", [&] {
        Outcome end = demo.Driver().End();
        return StepResult{end.result == KIV_DONE ? "done" : "result " + std::to_string(end.result), end};
    });
    host.log.Release();
    simulator.Stop();

    if (signals.Requested()) throw Failure(kExitFailed, "demo interrupted");
    if (demo.Failed() > 0)
        throw Failure(demo.Status() == kExitOk ? kExitFailed : demo.Status(),
                      "demo: " + std::to_string(demo.Failed()) + " of " + std::to_string(demo.Steps()) +
                          " steps did not give what was expected");
    std::printf("\nA read is two exchanges on the line (set-up, fetch), a write one; the first after the\n"
                "cold start also starts the controller's CPU. All %d steps gave what was expected.\n",
                demo.Steps());
    return kExitOk;
}

}  // namespace dazaraz::cli
