// The commands that describe the driver (info, parse), where the driver's log
// goes, and the simulator commands (sim, demo).
#include <fstream>
#include <regex>

#include "cli_fixture.h"

namespace clitest {
namespace {

class Host : public CliTest {};

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST_F(Host, InfoShowsTheDriverAndItsBannerInUtf8) {
    const Result r = Run({"info", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("name         Hitachi series EM II\n"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(data size    [1-9]\d* bytes per instance\n)"))) << r.out;
    EXPECT_NE(r.out.find("default line 9600,7E1 (9600 baud, 7 data bits, even parity, 1 stop bit)\n"), std::string::npos);
    // The three framed lines of code page 437, as UTF-8, without the backspace.
    const std::string banner = "╔" + Repeat("═", 63) + "╗\n" +
                               "║  ZIROD :  Hitachi series EM II (32 bit)" + std::string(23, ' ') + "║\n" +
                               "╚" + Repeat("═", 63) + "╝\n";
    EXPECT_NE(r.out.find(banner), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\b'), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(Host, ADriverThatCannotBeLoadedFails) {
    std::ofstream(dir.File("libfake.so")) << "not a library";
    for (const std::string &path : {dir.File("libfake.so"), dir.File("missing.so")}) {
        const Result r = Run({"info", "--driver", path});
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_EQ(LastLine(r.err).rfind("dazaraz: cannot load the driver (" + path, 0), 0u) << r.err;
    }
}

TEST_F(Host, ParseShowsTheWordsOrTheDriversRefusal) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *out;
        const char *err;  // last line
    } const cases[] = {
        {{"WM0150"}, 0, "WM0150 Reserved=0 Type=WM Address=0x0150 Bit=-1 Width=16 (kind analog 0)\n", ""},
        {{"bx009f"}, 0, "bx009f Reserved=0 Type=BX Address=0x009F Bit=-1 Width=1 (kind digital 6)\n", ""},
        {{"TC0400", "BT03FF"}, 0,
         "TC0400 Reserved=0 Type=TC Address=0x0400 Bit=-1 Width=16 (kind analog 0)\n"
         "BT03FF Reserved=0 Type=BT Address=0x03FF Bit=-1 Width=1 (kind digital 6)\n",
         ""},
        {{"WM0150", "--kind", "2"}, 0, "WM0150 Reserved=0 Type=WM Address=0x0150 Bit=-1 Width=16 (kind analog 2)\n", ""},
        {{"TC0400", "--kind", "digital"}, 1, "",
         "dazaraz: tag 'TC0400' (kind digital 6) refused by the driver: ZIROD> SingleParse() tag 'TC0400' should be analog"},
        {{"BY00A0", "--kind", "analog"}, 1, "",
         "dazaraz: tag 'BY00A0' (kind analog 0) refused by the driver: ZIROD> SingleParse() tag 'BY00A0' should be DIGITAL"},
        {{"BX0000", "--kind", "string"}, 1, "",
         "dazaraz: tag 'BX0000' (kind string 7) refused by the driver: "
         "ZIROD> SingleParse() no STRING tags allowed gate 'BX0000'"},
        {{"WM0150", "WT03A0"}, 1, "WM0150 Reserved=0 Type=WM Address=0x0150 Bit=-1 Width=16 (kind analog 0)\n",
         "dazaraz: tag 'WT03A0' (kind analog 0) refused by the driver: ZIROD> Parse() Illegal type in tag 'WT03A0'"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"parse", "--quiet"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = Run(args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(LastLine(r.err), c.err) << c.args[0];
    }
}

TEST_F(Host, TheDriversLogGoesWhereItIsSent) {
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[8\] ZIROD> ColdStart\(\) port opened)");
    const std::string logFile = dir.File("driver.log");

    const Result plain = Run({"read", "WM0150", "--port", port});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(std::regex_search(plain.err, stamped)) << plain.err;
    EXPECT_NE(plain.err.find("[64] ZIROD> GetKivInfo() exited"), std::string::npos);

    const Result toFile = Run({"read", "WM0150", "--port", port, "--log", logFile});
    EXPECT_EQ(toFile.status, 0);
    EXPECT_EQ(toFile.err, "");
    std::ifstream in(logFile);
    const std::string logged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(std::regex_search(logged, stamped)) << logged;
    EXPECT_NE(logged.find("ZIROD> EndKiv() exited, 0"), std::string::npos);

    const Result quiet = Run({"read", "WM0150", "--port", port, "--quiet"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, plain.out);
}

TEST_F(Host, SimServesTheDriverOnItsLinkUntilCtrlC) {
    std::ofstream(dir.File("memory.txt")) << "# tank\n0150 0x2A2B\n0010 80\n";
    const std::string link = FreeShortName();
    Process simulator({"sim", "--link", link, "--memory", dir.File("memory.txt"), "--line", "19200,8N1"}, dir.Path());
    ASSERT_TRUE(simulator.WaitForOutput("Ctrl-C stops", 10000)) << simulator.SoFar().err;
    EXPECT_EQ(Lines(simulator.SoFar().out).front(), "port " + link);
    EXPECT_TRUE(Exists(link));

    const Result r = Run({"read", "WM0150", "BX0010", "--quiet", "--line", "19200,8N1", "--port", link});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "WM0150 10795 0x2A2B\nBX0010 1\n");

    simulator.Signal(SIGINT);
    EXPECT_EQ(simulator.Wait(10000).status, 0);
    EXPECT_FALSE(Exists(link));
}

TEST_F(Host, SimRefusesABadMemoryFile) {
    std::ofstream(dir.File("memory.txt")) << "0150 1234\n0151 nonsense\n";
    const Result r = Run({"sim", "--link", FreeShortName(), "--memory", dir.File("memory.txt")});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(LastLine(r.err).find("line 2"), std::string::npos) << r.err;
}

TEST_F(Host, DemoRunsEveryStepOnItsOwnSimulatorAndCleansUp) {
    const Result r = Run({"demo"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("All 10 steps gave what was expected."), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
    // Only the driver's lines of a failed step are shown.
    EXPECT_EQ(r.err, "");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(port name (/tmp/dz\w{4}),)"))) << r.out;
    EXPECT_FALSE(Exists(m[1]));
}

TEST_F(Host, CtrlCEndsTheDemoAfterTheStepAndRemovesItsLink) {
    Process demo({"demo"}, dir.Path());
    ASSERT_TRUE(demo.WaitForOutput("cold start", 10000)) << demo.SoFar().out << demo.SoFar().err;
    demo.Signal(SIGINT);
    const Result r = demo.Wait(10000);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(LastLine(r.err), "dazaraz: demo interrupted");
    EXPECT_NE(r.out.find("end the driver           done"), std::string::npos) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(port name (/tmp/dz\w{4}),)"))) << r.out;
    EXPECT_FALSE(Exists(m[1]));
}

}  // namespace
}  // namespace clitest
