// The read, write and poll commands against the simulated controller: what
// they print, what lands in the controller's memory, and their exit statuses.
#include <fstream>
#include <regex>

#include "cli_fixture.h"

namespace clitest {
namespace {

class ReadWrite : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        sim->SetByte(0x0010, 0x80);  // BX0010: bit 7 set
        sim->SetByte(0x0011, 0x7F);  // BX0011: bit 7 clear, the rest set
        sim->SetWord(0x0150, 0x1234);
        sim->SetWord(0x0400, 3000);
        sim->SetByte(0x03A0, 0xC0);  // BT03A0
    }
};

struct ReadCase {
    std::vector<std::string> args;
    std::string expected;  // standard output
};

TEST_F(ReadWrite, ReadPrintsEveryKindOfTag) {
    const ReadCase cases[] = {
        {{"BX0010"}, "BX0010 1\n"},
        {{"BX0011"}, "BX0011 0\n"},
        {{"BT03A0"}, "BT03A0 1\n"},
        {{"WM0150"}, "WM0150 4660 0x1234\n"},
        {{"wm0150"}, "wm0150 4660 0x1234\n"},
        {{"WM0150", "--bit", "4"}, "WM0150 1\n"},
        {{"WM0150", "--bit", "0"}, "WM0150 0\n"},
        {{"WM0150", "--bit", "12"}, "WM0150 1\n"},
        {{"TC0400"}, "TC0400 3000 0x0BB8\n"},
        // --bit applies to word tags only; the bit tag keeps its own bit.
        {{"BX0010", "TC0400", "--bit", "3"}, "BX0010 1\nTC0400 1\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"read"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunOnPort(args);
        EXPECT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
        EXPECT_EQ(r.out, c.expected) << c.args[0];
        EXPECT_EQ(r.err, "") << c.args[0];
    }
}

TEST_F(ReadWrite, ReadTakesTagsFromAFileAfterTheCommandLine) {
    std::ofstream(dir.File("tags.txt")) << "# tank\n"
                                           "WM0150   # level\n"
                                           "\n"
                                           "   BX0010\n";
    const Result r = RunOnPort({"read", "TC0400", "--tags", dir.File("tags.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "TC0400 3000 0x0BB8\nWM0150 4660 0x1234\nBX0010 1\n");
}

TEST_F(ReadWrite, WriteLandsInTheControllersMemory) {
    sim->SetByte(0x0171, 0xFF);
    const Result r = RunOnPort({"write", "WM0160=0xBEEF", "WY00A0=4660", "BM0170=1", "BM0171=0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "WM0160 written 48879 0xBEEF\nWY00A0 written 4660 0x1234\nBM0170 written 1\nBM0171 written 0\n");
    EXPECT_EQ(sim->Word(0x0160), 0xBEEF);
    EXPECT_EQ(sim->Word(0x00A0), 4660);
    EXPECT_EQ(sim->Byte(0x0170), 0x80);  // a bit is bit 7 of its byte
    EXPECT_EQ(sim->Byte(0x0171), 0x00);

    // And the driver reads back what it wrote.
    const Result back = RunOnPort({"read", "WM0160", "BM0170", "BM0171"});
    EXPECT_EQ(back.out, "WM0160 48879 0xBEEF\nBM0170 1\nBM0171 0\n");
}

TEST_F(ReadWrite, WriteToAReadOnlyAreaIsRefusedWithoutSendingIt) {
    for (const char *assignment : {"BX0010=1", "WX0010=5", "TC0400=7", "BT03A0=0"}) {
        sim->ClearRequests();
        const Result r = RunOnPort({"write", assignment});
        EXPECT_EQ(r.status, 1) << assignment;
        EXPECT_EQ(r.out, "") << assignment;
        EXPECT_NE(LastLine(r.err).find("only the output areas Y and M can be written"), std::string::npos) << r.err;
        EXPECT_NE(LastLine(r.err).find("Writing not allowed for this type"), std::string::npos) << r.err;
        EXPECT_EQ(Seen(40) + Seen(41), 0u) << assignment;
    }
    EXPECT_EQ(sim->Byte(0x0010), 0x80);
    EXPECT_EQ(sim->Word(0x0400), 3000);
}

TEST_F(ReadWrite, AFailedTagDoesNotStopTheOthers) {
    // The first read's set-up is refused three times; the second read goes through.
    sim->InjectFault(dazaraz::sim::Fault::Nak().Only(32).Times(3));
    const Result r = RunOnPort({"read", "WM0150", "TC0400"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "TC0400 3000 0x0BB8\n");
    EXPECT_EQ(LastLine(r.err).rfind("dazaraz: WM0150: read refused: the controller refused the request (NAK)", 0), 0u)
        << r.err;
}

TEST_F(ReadWrite, PollPrintsOneLinePerRoundAndASummary) {
    const Result r = RunOnPort({"poll", "WM0150", "BX0010", "--interval", "30", "--times", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    const std::regex round(R"(\d\d:\d\d:\d\d\.\d{3} round (\d) WM0150=4660 BX0010=1)");
    for (int i = 0; i < 3; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, round)) << lines[i];
        EXPECT_EQ(m[1], std::to_string(i + 1));
    }
    EXPECT_EQ(lines[3].rfind("summary: 3 rounds in ", 0), 0u) << lines[3];
    const std::regex summary(R"((\w+) +(\d+) +(\d+) +([\d.]+) +([\d.]+) +([\d.]+))");
    for (int i = 0; i < 2; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[5 + i], m, summary)) << lines[5 + i];
        EXPECT_EQ(m[1], i == 0 ? "WM0150" : "BX0010");
        EXPECT_EQ(m[2], "3");
        EXPECT_EQ(m[3], "0");
        const double low = std::stod(m[4]), median = std::stod(m[5]), high = std::stod(m[6]);
        EXPECT_GT(low, 0);
        EXPECT_LE(low, median);
        EXPECT_LE(median, high);
    }
}

TEST_F(ReadWrite, PollCountsFailuresAndEndsWithTheLastOne) {
    sim->InjectFault(dazaraz::sim::Fault::Nak().Only(32).Persistent());
    const Result r = RunOnPort({"poll", "WM0150", "--interval", "0", "--times", "2"});
    EXPECT_EQ(r.status, 1);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_NE(lines[0].find("round 1 WM0150=failed(1)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("round 2 WM0150=failed(1)"), std::string::npos) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(WM0150 +2 +2 +- +- +-)"))) << lines[4];
    EXPECT_EQ(LastLine(r.err).rfind("dazaraz: 2 of 2 reads failed; the last: WM0150: read refused:", 0), 0u) << r.err;
}

TEST_F(ReadWrite, CtrlCEndsAPollAfterTheReadWithASummaryAndEndKiv) {
    Process poll({"poll", "WM0150", "--interval", "20", "--port", port}, dir.Path());
    ASSERT_TRUE(poll.WaitForOutput("round 2 ", 10000)) << poll.SoFar().out << poll.SoFar().err;
    poll.Signal(SIGINT);
    const Result r = poll.Wait(10000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" (interrupted)\n"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\nWM0150 +\d+ +0 +[\d.]+)"))) << r.out;
    // The driver was ended, its port closed: EndKiv's line is the last one.
    EXPECT_NE(LastLine(r.err).find("ZIROD> EndKiv() exited, 0"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace clitest
