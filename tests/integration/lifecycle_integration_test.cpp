// The real shared library, loaded by a host, through its lifecycle on
// pseudo-terminals and on the null port, with the lines it logs.
#include <gtest/gtest.h>

#include <regex>

#include "driver_host.h"

namespace {

using itest::Line;

class LibraryLifecycle : public ::testing::Test {
protected:
    itest::LogSink log;
    itest::Driver driver;
    itest::Instance instance{driver, 7};
    itest::Pty pty;
    std::string handleText;

    void SetUp() override { log.Take(); } // the GetKivInfo of the loading host

    // The log of a cold start, checked up to and including the port lines;
    // remembers the handle number that it reports.
    void ExpectColdStartLines(const std::vector<Line> &lines, bool opened) {
        ASSERT_GE(lines.size(), 3u);
        EXPECT_TRUE(std::regex_match(lines[0].text, std::regex(R"(ZIROD> version compiled on \w{3} [ \d]\d \d{4} at time \d\d:\d\d:\d\d)")))
            << lines[0];
        EXPECT_EQ(lines[1], (Line{8, "ZIROD> ColdStart() Warning, no initfile found"}));
        if (opened) {
            ASSERT_EQ(lines.size(), 5u);
            std::smatch m;
            ASSERT_TRUE(std::regex_match(lines[2].text, m, std::regex(R"(ZIROD> OpenCom\(\) File handle (\d+))"))) << lines[2];
            handleText = m[1];
            EXPECT_NE(handleText, "0");
            EXPECT_EQ(lines[3], (Line{8, "ZIROD> ColdStart() port opened"}));
        } else {
            ASSERT_EQ(lines.size(), 5u);
            EXPECT_EQ(lines[2], (Line{32, "ZIROD> OpenCom() failed"}));
            EXPECT_EQ(lines[3], (Line{32, "ZIROD> ColdStart() error opening COM port"}));
        }
        EXPECT_EQ(lines[4], (Line{8, "ZIROD> ColdStart() installation OK!"}));
    }
};

TEST_F(LibraryLifecycle, DescribesItself) {
    InfoBlock info{};
    EXPECT_EQ(instance.Call(KIV_GET_KIV_INFO, &info), 0u);
    EXPECT_STREQ(info.DriverName, "Hitachi series EM II");
    EXPECT_EQ(strlen(info.Banner), 199u);
    EXPECT_GE(info.DataSize, 56u);
    EXPECT_EQ(info.DefaultLine.BaudRate, 9600);
    EXPECT_EQ(log.Take(), (std::vector<Line>{{64, "ZIROD> GetKivInfo() exited"}}));
}

TEST_F(LibraryLifecycle, ColdStartWarmStartCloseReopenChangeAndEndOnAPseudoTerminal) {
    ASSERT_EQ(instance.ColdStart(pty.Link()), 0u);
    ExpectColdStartLines(log.Take(), true);

    // The port is held exclusively: a second instance cannot open it.
    itest::Instance other(driver, 8);
    {
        itest::OtherInstanceBuffers kept;
        EXPECT_EQ(other.ColdStart(pty.Link()), 0u);
    }
    ExpectColdStartLines(log.Take(), false);

    pty.Send("stale bytes");
    EXPECT_EQ(instance.Call(KIV_WARM_START), 0u);
    EXPECT_EQ(log.Take(), (std::vector<Line>{{8, "ZIROD> WarmStart()"}}));

    EXPECT_EQ(instance.Call(KIV_CLOSE_COM), 0u);
    EXPECT_TRUE(log.Take().empty());
    // Closed: the other instance can have it now, and gives it back.
    EXPECT_EQ(other.Call(KIV_RE_OPEN_COM), 0u);
    EXPECT_EQ(other.Call(KIV_CLOSE_COM), 0u);
    log.Take();

    EXPECT_EQ(instance.Call(KIV_RE_OPEN_COM), 0u);
    auto lines = log.Take();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0].text, std::regex(R"(ZIROD> OpenCom\(\) File handle \d+)")));
    EXPECT_EQ(lines[1], (Line{8, "ZIROD> ReOpenCom() port opened"}));
    EXPECT_EQ(lines[2], (Line{8, "ZIROD> ReOpenCom() exited 0"}));

    // A reopen of the open port fails: it is held by this very instance.
    EXPECT_EQ(instance.Call(KIV_RE_OPEN_COM), 2u);
    EXPECT_EQ(log.Take(), (std::vector<Line>{{32, "ZIROD> OpenCom() failed"},
                                             {32, "ZIROD> ReOpenCom() open COM port failed, exited 2"}}));

    // Change to another port, then to one that does not exist.
    itest::Pty second;
    ChangeParams change{};
    strncpy(change.PortName, second.Link().c_str(), 11);
    change.ReadTimeout = 0xFFFFFFFFu;
    EXPECT_EQ(instance.Call(KIV_CHANGE_KIV_PARAMS, &change), 0u);
    lines = log.Take();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], (Line{8, "ZIROD> ChangeKivParams() port opened"}));
    // The first port is free again.
    EXPECT_EQ(other.Call(KIV_RE_OPEN_COM), 0u);
    log.Take();

    strncpy(change.PortName, "/nonexist", 11);
    EXPECT_EQ(instance.Call(KIV_CHANGE_KIV_PARAMS, &change), 2u);
    EXPECT_EQ(log.Take(), (std::vector<Line>{{32, "ZIROD> OpenCom() failed"},
                                             {8, "ZIROD> ChangeKivParams() open new COM port failed"}}));

    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
    EXPECT_EQ(log.Take(), (std::vector<Line>{{8, "ZIROD> EndKiv() exited, 0"}}));
    // Ended: every instance's calls answer 0 and do nothing.
    EXPECT_EQ(other.Call(KIV_CLOSE_COM), 0u);
    EXPECT_EQ(instance.ColdStart(pty.Link()), 0u);
    EXPECT_TRUE(log.Take().empty());
    EXPECT_TRUE(instance.TailIntact());
    EXPECT_TRUE(other.TailIntact());
}

TEST_F(LibraryLifecycle, NullPortWorksAsAPort) {
    {
        itest::OtherInstanceBuffers kept;
        ASSERT_EQ(instance.ColdStart("NUL"), 0u);
    }
    ExpectColdStartLines(log.Take(), true);
    // Two instances may share the null port.
    itest::Instance other(driver, 8);
    EXPECT_EQ(other.ColdStart("NUL"), 0u);
    ExpectColdStartLines(log.Take(), true);
    EXPECT_EQ(instance.Call(KIV_WARM_START), 0u);
    EXPECT_EQ(instance.Call(KIV_CLOSE_COM), 0u);
    EXPECT_EQ(other.Call(KIV_END_KIV), 0u);
    auto lines = log.Take();
    EXPECT_EQ(lines.back(), (Line{8, "ZIROD> EndKiv() exited, 0"}));
}

TEST_F(LibraryLifecycle, ColdStartWithoutOpeningAndLaterReopen) {
    ASSERT_EQ(instance.ColdStart(pty.Link(), 50, {9600, 7, 0, 2}, false), 0u);
    auto lines = log.Take();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], (Line{8, "ZIROD> ColdStart() installation OK!"}));
    // Reads need an open port.
    ChangeParams change{};
    strncpy(change.PortName, pty.Link().c_str(), 11);
    change.Line = LineParams{19200, 8, 0, 0};
    EXPECT_EQ(instance.Call(KIV_CHANGE_KIV_PARAMS, &change), 0u);
    lines = log.Take();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], (Line{8, "ZIROD> ChangeKivParams() port opened"}));
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(LibraryLifecycle, SecondColdStartCanOpenThePortAgain) {
    ASSERT_EQ(instance.ColdStart(pty.Link()), 0u);
    ExpectColdStartLines(log.Take(), true);
    ASSERT_EQ(instance.ColdStart(pty.Link()), 0u);
    ExpectColdStartLines(log.Take(), true);
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(LibraryLifecycle, DispatchAnswersForEveryFunctionNumber) {
    struct Case {
        uint32_t function;
        uint32_t result;
        std::vector<Line> lines;
    } cases[] = {
        {0, 2, {{32, "ZIROD> KivMain() Function -1 not supported in this KIV"}}},
        {4, 1, {}},
        {8, 2, {{32, "ZIROD> KivMain() Function 7 not supported in this KIV"}}},
        {16, 2, {{32, "ZIROD> KivMain() Function 15 not supported in this KIV"}}},
        {17, 2, {{32, "ZIROD> KivMain() Wrong function number 16"}}},
        {0xFFFFFFFFu, 2, {{32, "ZIROD> KivMain() Wrong function number -2"}}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(instance.Call(c.function), c.result) << c.function;
        EXPECT_EQ(log.Take(), c.lines) << c.function;
    }
    BlockRecord block{"B1"};
    EXPECT_EQ(instance.Call(KIV_BLOCK_WRITE, &block), 1u);
    EXPECT_EQ(log.Take(), (std::vector<Line>{{8, "ZIROD> BlockWrite(), Blocks not allowed ('B1')"}}));
}

} // namespace
