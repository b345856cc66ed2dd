// dazaraz - a command-line host of the driver: loads libdazaraz.so (DAZARAZ.dll
// on Windows), calls KivMain, and shows what the controller answers.
//
// Exit statuses: 0 success, 1 refused by the driver, 2 failed, 64 usage error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <functional>

#include "commands.h"
#include "failure.h"
#if defined(_WIN32)
#include "terminal.h"
#endif

using namespace dazaraz::cli;

namespace {

const char kFooter[] =
    "Exit status: 0 success, 1 refused by the driver (bad tag, read-only area, NAK), "
    "2 failed (port, no reply, driver not found), 64 usage error.";

void AddCommon(CLI::App *command, CommonOptions &common) {
    command->add_option("--driver", common.driverPath, "Driver library to load (default: the one installed beside dazaraz)")
        ->type_name("PATH");
    auto *log = command->add_option("--log", common.logFile, "Append the driver's log lines to FILE instead of standard error")
                    ->type_name("FILE");
    auto *quiet = command->add_flag("--quiet,-q", common.quiet, "Hide the driver's log lines");
    log->excludes(quiet);
}

void AddConnect(CLI::App *command, ConnectOptions &connect) {
    command->add_option("--port,-p", connect.port,
#if defined(_WIN32)
                        "Serial port: COM1 to COM9, \\\\.\\COM10 and up; at most 11 characters")
#else
                        "Serial port: a name with '/' is a path (/dev/ttyS0, /tmp/em2), others are devices "
                        "under /dev (ttyUSB0); at most 11 characters")
#endif
        ->type_name("PORT")
        ->required();
    command->add_option("--line", connect.line, "Line settings BAUD,FRAME, e.g. 9600,7E1 or 19200,8N1")
        ->type_name("BAUD,FRAME")
        ->capture_default_str();
    command->add_option("--timeout", connect.timeoutMs, "Reply time-out in milliseconds")
        ->type_name("MS")
        ->capture_default_str()
        ->check(CLI::Range(0u, 600000u));
    command->add_option("--instance", connect.instance,
                        "Instance number; chooses the initialisation file ZIRODnn.INT in the current directory")
        ->type_name("N")
        ->capture_default_str();
}

void AddTags(CLI::App *command, TagOptions &tags, bool wordOptions) {
    command->add_option("TAG", tags.tags, "Address texts, e.g. BX0010 WM0150 TC0400");
    command->add_option("--tags", tags.tagFile, "File of address texts, one per line, '#' starts a comment")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    if (wordOptions) {
        command->add_option("--bit", tags.bit, "Read only bit N (0-15) of word tags")
            ->type_name("N")
            ->check(CLI::Range(0, 15));
        command->add_option("--count", tags.count, "Count field of the tag records (values per read)")
            ->type_name("N")
            ->capture_default_str();
    }
}

}  // namespace

int main(int argc, char **argv) {
#if defined(_WIN32)
    ConsoleOutput console;
#endif
    CLI::App app("dazaraz - command-line host of the EM II serial driver", "dazaraz");
    // Options start with '-' everywhere: a value such as /tmp/tags is a value.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.footer(kFooter);
    app.set_help_all_flag("--help-all", "Help on every command");
    app.set_version_flag("--version", DAZARAZ_CLI_VERSION);

    CommonOptions common;
    ConnectOptions connect;
    TagOptions tags;
    PollOptions poll;
    std::vector<std::string> texts;
    std::string kind;
    std::function<int()> run;

    auto *info = app.add_subcommand("info", "Show the driver's name, work-area size, default line and banner");
    AddCommon(info, common);
    info->callback([&] { run = [&] { return RunInfo(common); }; });

    auto *parse = app.add_subcommand("parse", "Show how the driver parses address texts");
    AddCommon(parse, common);
    parse->add_option("TEXT", texts, "Address texts, e.g. WM0150 bx0010")->required();
    parse->add_option("--kind", kind, "Tag kind: analog, digital, string or a number (default: B digital, W and T analog)")
        ->type_name("KIND");
    parse->callback([&] { run = [&] { return RunParse(common, texts, kind); }; });

    auto *read = app.add_subcommand("read", "Cold-start the driver on a port, read tags once, end");
    AddCommon(read, common);
    AddConnect(read, connect);
    AddTags(read, tags, true);
    read->callback([&] { run = [&] { return RunRead(common, connect, tags); }; });

    auto *write = app.add_subcommand("write", "Cold-start the driver on a port, write values, end");
    AddCommon(write, common);
    AddConnect(write, connect);
    write->add_option("TAG=VALUE", texts, "Assignments, e.g. WM0150=4660 WM0151=0x00FF BM0170=1 (only Y and M areas)")
        ->required();
    write->callback([&] { run = [&] { return RunWrite(common, connect, texts); }; });

    auto *pollCommand = app.add_subcommand("poll", "Read tags in rounds; a live table on a terminal, then a summary");
    AddCommon(pollCommand, common);
    AddConnect(pollCommand, connect);
    AddTags(pollCommand, tags, true);
    pollCommand->add_option("--interval", poll.intervalMs, "Milliseconds from the start of one round to the next")
        ->type_name("MS")
        ->capture_default_str()
        ->check(CLI::Range(0u, 86400000u));
    pollCommand->add_option("--times", poll.times, "Stop after N rounds (default: until Ctrl-C)")->type_name("N");
    pollCommand->callback([&] { run = [&] { return RunPoll(common, connect, tags, poll); }; });

#if DAZARAZ_CLI_SIMULATOR
    SimOptions simOptions;
    auto *sim = app.add_subcommand("sim", "Run the controller simulator on a pseudo-terminal until Ctrl-C");
    sim->add_option("--link", simOptions.link, "Make a symbolic link PATH to the pseudo-terminal; use a short path "
                                               "such as /tmp/em2 as the driver's port name")
        ->type_name("PATH");
    sim->add_option("--line", simOptions.line, "Pace replies at this line speed, e.g. 9600,7E1; 0 = unpaced")
        ->type_name("BAUD,FRAME")
        ->capture_default_str();
    sim->add_option("--memory", simOptions.memoryFile,
                    "Initial memory: lines 'ADDRESS VALUE' in hexadecimal; 1-2 digits set a byte, 3-4 digits a word "
                    "(high byte at ADDRESS); '#' starts a comment")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    sim->add_flag("--verbose", simOptions.verbose, "Write every request and reply to standard error");
    sim->callback([&] { run = [&] { return RunSim(simOptions); }; });

    DemoOptions demoOptions;
    auto *demo = app.add_subcommand("demo", "Read and write a built-in simulated controller; no hardware needed");
    AddCommon(demo, common);
    demo->add_flag("--verbose", demoOptions.verbose, "Show every driver line, not only those of steps that went wrong");
    demo->callback([&] { run = [&] { return RunDemo(common, demoOptions); }; });
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "dazaraz: %s\nRun 'dazaraz --help' or 'dazaraz COMMAND --help' for the options.\n", e.what());
        return kExitUsage;
    }

    try {
        return run ? run() : kExitUsage;
    } catch (const Failure &f) {
        std::fflush(stdout);
        std::fprintf(stderr, "dazaraz: %s\n", f.what());
        return f.Status();
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "dazaraz: %s\n", e.what());
        return kExitFailed;
    }
}
