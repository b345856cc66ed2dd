// How the program fails: tags the driver refuses, ports it cannot open, a
// controller that is silent or refuses, and command lines that are wrong.
#include <sys/file.h>

#include <chrono>
#include <fstream>

#include "cli_fixture.h"

namespace clitest {
namespace {

using dazaraz::sim::Fault;

class Failures : public CliTest {};

TEST_F(Failures, TagsTheDriverRefusesEndWithItsMessageBeforeThePortIsTouched) {
    struct Case {
        const char *text;
        const char *message;  // the driver's
    } const cases[] = {
        {"WC0400", "ZIROD> Parse() Illegal type in tag 'WC0400'"},
        {"BX00A0", "ZIROD> Parse() external input addresss must be < 009FH in 'BX00A0'"},
        {"TC0401", "ZIROD> Parse() Word time/counter address must be even in 'TC0401'"},
        {"AX0000", "ZIROD> Parse() Illegal character 1 in 'AX0000'"},
        {"BX00000", "ZIROD> Parse() Address name has invalid length ('BX00000')"},
    };
    for (const auto &c : cases) {
        for (const char *command : {"read", "poll"}) {
            const Result r = RunOnPort({command, "WM0150", c.text});
            EXPECT_EQ(r.status, 1) << command << " " << c.text;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(LastLine(r.err), std::string("dazaraz: tag '") + c.text + "' refused by the driver: " + c.message);
        }
        const Result w = RunOnPort({"write", std::string(c.text) + "=1"});
        EXPECT_EQ(w.status, 1) << c.text;
        EXPECT_NE(LastLine(w.err).find(c.message), std::string::npos) << w.err;
    }
    EXPECT_TRUE(sim->Requests().empty());
}

TEST_F(Failures, EveryRefusedTagIsNamed) {
    const Result r = RunOnPort({"read", "WC0400", "WM0150", "TC0401"});
    EXPECT_EQ(r.status, 1);
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_NE(lines[0].find("'WC0400'"), std::string::npos);
    EXPECT_NE(lines[1].find("'TC0401'"), std::string::npos);
}

TEST_F(Failures, APortHeldByAnotherProgramCannotBeOpened) {
    // The driver opens ports for exclusive use, as another host would.
    const int holder = open(sim->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    for (const char *command : {"read", "poll"}) {
        const Result r = RunOnPort({command, "WM0150"});
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(LastLine(r.err), "dazaraz: port " + port + " could not be opened: another program holds " + port +
                                       " (the driver opens ports for exclusive use) "
                                       "(driver: ZIROD> ColdStart() error opening COM port)");
    }
    const Result w = RunOnPort({"write", "WM0150=1"});
    EXPECT_EQ(w.status, 2);
    EXPECT_NE(LastLine(w.err).find("could not be opened"), std::string::npos);
    close(holder);
    EXPECT_TRUE(sim->Requests().empty());
}

TEST_F(Failures, APortThatDoesNotExistIsNamed) {
    const std::string missing = FreeShortName();
    const Result r = Run({"read", "WM0150", "--quiet", "--port", missing});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(LastLine(r.err).find("port " + missing + " could not be opened: " + missing + " does not exist"),
              std::string::npos)
        << r.err;
    // A name without '/' is a device under /dev.
    const Result dev = Run({"read", "WM0150", "--quiet", "--port", "ttyDZ9"});
    EXPECT_NE(LastLine(dev.err).find("/dev/ttyDZ9 does not exist"), std::string::npos) << dev.err;
}

TEST_F(Failures, AControllerThatDoesNotAnswerCorrectlyIsExplained) {
    struct Case {
        Fault fault;
        int status;
        const char *explanation;
        const char *driverLine;
    } const cases[] = {
        {Fault::Silence(), 2, "no complete reply from the controller within the time-out",
         "ZIROD> SendRecvLoop() Read reply error"},
        {Fault::Nak(), 1, "the controller refused the request (NAK)", "ZIROD> SendRecvLoop() NAK received"},
        {Fault::WrongChecksum(), 1, "the controller's reply had a wrong checksum", "ZIROD> SendRecvLoop() CheckSum error"},
    };
    for (const auto &c : cases) {
        sim->ClearFaults();
        sim->InjectFault(Fault(c.fault).Persistent());
        for (const char *command : {"read", "write"}) {
            const auto started = std::chrono::steady_clock::now();
            const Result r = RunOnPort({command, command == std::string("read") ? "WM0150" : "WM0150=1"});
            const auto took = std::chrono::steady_clock::now() - started;
            EXPECT_EQ(r.status, c.status) << command << " " << c.explanation;
            EXPECT_EQ(r.out, "");
            const std::string last = LastLine(r.err);
            EXPECT_EQ(last.rfind(std::string("dazaraz: WM0150: ") + command, 0), 0u) << last;
            EXPECT_NE(last.find(c.explanation), std::string::npos) << last;
            EXPECT_NE(last.find(std::string("(driver answered ") + std::to_string(c.status) + ": " + c.driverLine),
                      std::string::npos)
                << last;
            // Three attempts of at most 200 ms each, not the default second.
            EXPECT_LT(took, std::chrono::seconds(3)) << command;
        }
    }
}

TEST_F(Failures, UsageErrorsExitWith64BeforeAnythingIsSent) {
    std::ofstream(dir.File("two.txt")) << "WM0150 WM0151\n";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"read", "WM0150"},                                        // no port
        {"read", "--port", port},                                  // no tags
        {"read", "WM0150", "--port", "/tmp/dz34567890"},           // 14 characters
        {"read", "WM0150", "--port", port, "--line", "9600,9Q1"},
        {"read", "WM0150", "--port", port, "--line", "70000,8N1"},
        {"read", "WM0150", "--port", port, "--timeout", "soon"},
        {"read", "WM0150", "--port", port, "--bit", "16"},
        {"read", "--port", port, "--tags", dir.File("missing.txt")},
        {"read", "--port", port, "--tags", dir.File("two.txt")},
        {"poll", "WM0150", "--port", port, "--interval", "-5"},
        {"write", "WM0150", "--port", port},
        {"write", "WM0150=65536", "--port", port},
        {"write", "WM0150=0xZZ", "--port", port},
        {"parse", "WM0150", "--kind", "vector"},
        {"parse"},
        {"info", "--log", dir.File("log.txt"), "--quiet"},
    };
    for (const auto &args : cases) {
        const Result r = Run(args);
        std::string shown;
        for (const auto &a : args) shown += a + " ";
        EXPECT_EQ(r.status, 64) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err.rfind("dazaraz: ", 0), 0u) << shown << "\n" << r.err;
        EXPECT_EQ(r.err.find("ZIROD>"), std::string::npos) << shown << ": the driver was not to be called";
    }
    EXPECT_TRUE(sim->Requests().empty());
}

TEST_F(Failures, HelpIsThereForEveryCommand) {
    for (const char *command : {"info", "parse", "read", "write", "poll", "sim", "demo"}) {
        const Result r = Run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_NE(r.out.find("Usage: dazaraz " + std::string(command)), std::string::npos) << r.out;
    }
    const Result top = Run({"--help"});
    EXPECT_NE(top.out.find("64 usage error"), std::string::npos) << top.out;
}

}  // namespace
}  // namespace clitest
