// The entry point, the lifecycle handlers and the initialisation file, on
// the scripted platform, through KivMain as a host calls them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <unistd.h>

#include "entry/driver_data.h"
#include "entry/kiv_main.h"
#include "entry/lifecycle.h"
#include "entry/memory.h"
#include "fake_platform.h"
#include "log_capture.h"

namespace {

namespace fs = std::filesystem;

// Counts the driver's heap blocks and can refuse the n-th allocation.
int liveBlocks = 0;
int allocations = 0;
int failAllocation = -1; // 1-based number of the allocation to refuse
std::set<void *> blocks;

void *CountingAllocate(size_t size) {
    ++allocations;
    if (allocations == failAllocation) return nullptr;
    void *p = malloc(size);
    blocks.insert(p);
    ++liveBlocks;
    return p;
}

void CountingRelease(void *p) {
    if (p == nullptr) return;
    EXPECT_EQ(blocks.erase(p), 1u) << "released a block the driver does not hold";
    --liveBlocks;
    free(p);
}

class Lifecycle : public ::testing::Test {
protected:
    DriverData data;
    CallBlock block{};
    ColdStartParams cold{};
    fs::path oldDir, dir;

    void SetUp() override {
        fake::Reset();
        ClearLog();
        DriverEnded.store(false);
        ForgetStartedInstances();
        liveBlocks = allocations = 0;
        failAllocation = -1;
        blocks.clear();
        AllocateBlock = CountingAllocate;
        ReleaseBlock = CountingRelease;
        memset(&data, 0xA5, sizeof data); // the host's storage holds anything before the cold start
        block.Data = &data;
        block.Instance = 3;
        strcpy(cold.PortName, "COM1");
        cold.OpenAtStart = 1;
        cold.ReadTimeout = 50;
        cold.Line = LineParams{9600, 7, 0, 2};
        // Each test reads initialisation files from a directory of its own.
        oldDir = fs::current_path();
        dir = fs::temp_directory_path() / ("dazaraz-unit-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
    }

    void TearDown() override {
        fs::current_path(oldDir);
        fs::remove_all(dir);
        // Leave no buffers behind; the next test starts a fresh instance.
        for (void *p : blocks) free(p);
        blocks.clear();
        AllocateBlock = malloc;
        ReleaseBlock = free;
        DriverEnded.store(false);
    }

    void WriteFile(const std::string &name, const std::string &text) { std::ofstream(name, std::ios::binary) << text; }

    uint32_t Call(uint32_t function, void *params = nullptr) {
        block.Function = function;
        block.Params = params;
        return KivMain(&block);
    }

    uint32_t ColdStartNow() { return Call(KIV_COLD_START, &cold); }

    // The log without the version line, which carries the build's date.
    std::vector<LogLine> LogAfterVersion() {
        std::vector<LogLine> lines = Logged();
        EXPECT_FALSE(lines.empty());
        if (!lines.empty()) {
            EXPECT_TRUE(std::regex_match(lines[0].text,
                                         std::regex(R"(ZIROD> version compiled on [A-Z][a-z]{2} [ 0-9]\d \d{4} at time \d\d:\d\d:\d\d)")))
                << lines[0].text;
            EXPECT_EQ(lines[0].category, 8);
            lines.erase(lines.begin());
        }
        return lines;
    }
};

TEST_F(Lifecycle, FunctionNumbersWithoutHandler) {
    struct Case {
        uint32_t function;
        std::string message;
    } cases[] = {
        {0, "ZIROD> KivMain() Function -1 not supported in this KIV"},
        {8, "ZIROD> KivMain() Function 7 not supported in this KIV"},
        {9, "ZIROD> KivMain() Function 8 not supported in this KIV"},
        {16, "ZIROD> KivMain() Function 15 not supported in this KIV"},
        {17, "ZIROD> KivMain() Wrong function number 16"},
        {0xFFFFFFFFu, "ZIROD> KivMain() Wrong function number -2"},
    };
    for (const Case &c : cases) {
        ClearLog();
        EXPECT_EQ(Call(c.function), 2u) << c.function;
        EXPECT_EQ(Logged(), (std::vector<LogLine>{{32, c.message}})) << c.function;
    }
}

TEST_F(Lifecycle, BlockFunctionsRefuse) {
    block.Data = nullptr;
    block.Params = reinterpret_cast<void *>(0x10); // not followed by function 4
    block.Function = KIV_BLOCK_ADDRESS_PARSER;
    EXPECT_EQ(KivMain(&block), 1u);
    EXPECT_TRUE(Logged().empty());

    BlockRecord record{"Block 7"};
    EXPECT_EQ(Call(KIV_BLOCK_READ, &record), 1u);
    EXPECT_EQ(Call(KIV_BLOCK_WRITE, &record), 1u);
    EXPECT_EQ(Call(KIV_BLOCK_READ, nullptr), 1u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> BlockRead(), Blocks not allowed ('Block 7')"},
                                              {8, "ZIROD> BlockWrite(), Blocks not allowed ('Block 7')"},
                                              {8, "ZIROD> BlockRead(), Blocks not allowed ('')"}}));
}

TEST_F(Lifecycle, MissingRecordsAreRefusedNotFollowed) {
    EXPECT_EQ(KivMain(nullptr), 2u);
    EXPECT_EQ(Call(KIV_COLD_START, nullptr), 2u);
    block.Data = nullptr;
    EXPECT_EQ(Call(KIV_WARM_START), 2u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{32, "ZIROD> KivMain() no call block"},
                                              {32, "ZIROD> KivMain() Function 1 called without its record"},
                                              {32, "ZIROD> KivMain() Function 2 called without its record"}}));
}

TEST_F(Lifecycle, GetKivInfoDescribesTheDriverBeforeAnyColdStart) {
    block.Data = nullptr; // not read
    InfoBlock info;
    memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(Call(KIV_GET_KIV_INFO, &info), 0u);
    EXPECT_EQ(info.InfoValueA, 70u);
    EXPECT_STREQ(info.DriverName, "Hitachi series EM II");
    EXPECT_EQ(info.DataSize, sizeof(DriverData));
    EXPECT_EQ(info.InfoValueB, 4u);
    EXPECT_EQ(info.DefaultLine.BaudRate, 9600);
    EXPECT_EQ(info.DefaultLine.ByteSize, 7);
    EXPECT_EQ(info.DefaultLine.StopBits, 0);
    EXPECT_EQ(info.DefaultLine.Parity, 2);
    EXPECT_EQ(info.InfoValueC, 0u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{64, "ZIROD> GetKivInfo() exited"}}));

    const std::string banner(info.Banner);
    ASSERT_EQ(banner.size(), 199u);
    const std::string top = "\xC9" + std::string(63, '\xCD') + "\xBB";
    const std::string middle = "\xBA" "  ZIROD :  Hitachi series EM II (32 bit)" + std::string(23, ' ') + "\xBA";
    const std::string bottom = "\xC8" + std::string(63, '\xCD') + "\xBC";
    EXPECT_EQ(banner, "\x08\n" + top + "\n" + middle + "\n" + bottom);
    EXPECT_EQ(middle.size(), 65u);
}

TEST_F(Lifecycle, ColdStartOpensThePortAndLogsInOrder) {
    fake::AddPort("COM1");
    EXPECT_EQ(ColdStartNow(), 0u);
    EXPECT_EQ(LogAfterVersion(), (std::vector<LogLine>{{8, "ZIROD> ColdStart() Warning, no initfile found"},
                                                        {8, "ZIROD> OpenCom() File handle 64"},
                                                        {8, "ZIROD> ColdStart() port opened"},
                                                        {8, "ZIROD> ColdStart() installation OK!"}}));
    EXPECT_EQ(data.ComHandle, 0x40u);
    EXPECT_STREQ(data.ComName, "COM1");
    EXPECT_EQ(data.ComParams.BaudRate, 9600);
    EXPECT_EQ(data.ComParams.Parity, 2);
    EXPECT_EQ(data.ComFlags, 0x0303);
    EXPECT_EQ(data.ReadTimeout, 50u);
    EXPECT_EQ(data.IFG, 10);
    EXPECT_EQ(data.RTSCTSflag | data.CpuStarted | data.UsageFlag | data.DebugFlag, 0);
    EXPECT_EQ(data.SendLength, 0);
    EXPECT_EQ(data.ReplyLength, 0);
    EXPECT_EQ(liveBlocks, 2);
    EXPECT_EQ(fake::world().ports["COM1"].timeouts.ReadTotalTimeoutConstant, 500u);
}

TEST_F(Lifecycle, ColdStartWithoutOpenTouchesNoPortFields) {
    cold.OpenAtStart = 0;
    EXPECT_EQ(ColdStartNow(), 0u);
    EXPECT_EQ(LogAfterVersion(), (std::vector<LogLine>{{8, "ZIROD> ColdStart() Warning, no initfile found"},
                                                        {8, "ZIROD> ColdStart() installation OK!"}}));
    EXPECT_EQ(data.ComHandle, 0u);
    EXPECT_EQ(static_cast<uint8_t>(data.ComName[0]), 0xA5);
    EXPECT_EQ(data.ComFlags, 0xA5A5);
    EXPECT_TRUE(fake::world().journal.empty());
}

TEST_F(Lifecycle, ColdStartThatCannotOpenStillAnswersZero) {
    EXPECT_EQ(ColdStartNow(), 0u); // no port COM1 exists
    EXPECT_EQ(LogAfterVersion(), (std::vector<LogLine>{{8, "ZIROD> ColdStart() Warning, no initfile found"},
                                                        {32, "ZIROD> OpenCom() failed"},
                                                        {32, "ZIROD> ColdStart() error opening COM port"},
                                                        {8, "ZIROD> ColdStart() installation OK!"}}));
    EXPECT_EQ(data.ComHandle, 0u);

    // The stored name and settings let a later reopen succeed.
    fake::AddPort("COM1");
    ClearLog();
    EXPECT_EQ(Call(KIV_RE_OPEN_COM), 0u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> OpenCom() File handle 64"},
                                              {8, "ZIROD> ReOpenCom() port opened"},
                                              {8, "ZIROD> ReOpenCom() exited 0"}}));
    EXPECT_EQ(fake::world().ports["COM1"].timeouts.ReadTotalTimeoutConstant, 500u);
}

TEST_F(Lifecycle, ColdStartWithoutMemory) {
    failAllocation = 1;
    WriteFile("ZIROD.INT", "DEBUG = ON\n");
    EXPECT_EQ(ColdStartNow(), 2u);
    EXPECT_EQ(LogAfterVersion(), (std::vector<LogLine>{{32, "ZIROD> AllocateBuffers() Error send buffer"}}));
    EXPECT_EQ(data.DebugFlag, 0); // the file was not read
    EXPECT_EQ(data.IFG, 10);

    ClearLog();
    allocations = 0;
    failAllocation = 2;
    EXPECT_EQ(ColdStartNow(), 2u);
    EXPECT_EQ(LogAfterVersion(), (std::vector<LogLine>{{32, "ZIROD> AllocateBuffers() Error receive buffer"}}));
    EXPECT_NE(data.SendBuffer, nullptr);
    EXPECT_EQ(liveBlocks, 1);
    EXPECT_TRUE(fake::world().journal.empty());

    // The end releases the send buffer that was obtained.
    EXPECT_EQ(Call(KIV_END_KIV), 0u);
    EXPECT_EQ(liveBlocks, 0);
}

TEST_F(Lifecycle, SecondColdStartReleasesWhatTheFirstHeld) {
    fake::AddPort("COM1");
    ASSERT_EQ(ColdStartNow(), 0u);
    ASSERT_NE(data.ComHandle, 0u);
    ClearLog();
    // The port is opened for exclusive use: without letting go of the first
    // handle the second cold start could not open it.
    EXPECT_EQ(ColdStartNow(), 0u);
    EXPECT_EQ(LogAfterVersion(), (std::vector<LogLine>{{8, "ZIROD> ColdStart() Warning, no initfile found"},
                                                        {8, "ZIROD> OpenCom() File handle 65"},
                                                        {8, "ZIROD> ColdStart() port opened"},
                                                        {8, "ZIROD> ColdStart() installation OK!"}}));
    EXPECT_EQ(liveBlocks, 2);
    EXPECT_EQ(fake::world().handles.size(), 1u);
}

TEST_F(Lifecycle, WarmStartPurgesAnOpenPortAndForgetsTheCpuStart) {
    fake::AddPort("COM1");
    ASSERT_EQ(ColdStartNow(), 0u);
    data.CpuStarted = 1;
    fake::ClearJournal();
    ClearLog();
    EXPECT_EQ(Call(KIV_WARM_START), 0u);
    EXPECT_EQ(data.CpuStarted, 0);
    EXPECT_EQ(fake::Journal(), "ClearError");
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> WarmStart()"}}));

    ASSERT_EQ(Call(KIV_CLOSE_COM), 0u);
    fake::ClearJournal();
    data.CpuStarted = 1;
    EXPECT_EQ(Call(KIV_WARM_START), 0u);
    EXPECT_EQ(data.CpuStarted, 0);
    EXPECT_TRUE(fake::world().journal.empty());
}

TEST_F(Lifecycle, CloseCom) {
    fake::AddPort("COM1");
    ASSERT_EQ(ColdStartNow(), 0u);
    ClearLog();
    fake::world().ports["COM1"].failClose = true;
    EXPECT_EQ(Call(KIV_CLOSE_COM), 2u);
    EXPECT_EQ(data.ComHandle, 0x40u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> CloseCom() exited 2"}}));

    ClearLog();
    fake::world().ports["COM1"].failClose = false;
    EXPECT_EQ(Call(KIV_CLOSE_COM), 0u);
    EXPECT_EQ(data.ComHandle, 0u);
    EXPECT_EQ(Call(KIV_CLOSE_COM), 0u); // nothing open: nothing to do
    EXPECT_TRUE(Logged().empty());
    EXPECT_FALSE(fake::world().ports["COM1"].isOpen);
}

TEST_F(Lifecycle, ReOpenComOfAnOpenExclusivePortFails) {
    fake::AddPort("COM1");
    ASSERT_EQ(ColdStartNow(), 0u);
    ClearLog();
    EXPECT_EQ(Call(KIV_RE_OPEN_COM), 2u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{32, "ZIROD> OpenCom() failed"},
                                              {32, "ZIROD> ReOpenCom() open COM port failed, exited 2"}}));
    EXPECT_EQ(data.ComHandle, 0x40u);
}

TEST_F(Lifecycle, ChangeKivParamsKeepsTimeoutAndLineWhenNotGiven) {
    fake::AddPort("COM1");
    fake::AddPort("COM2");
    ASSERT_EQ(ColdStartNow(), 0u);
    ClearLog();
    ChangeParams change{};
    strcpy(change.PortName, "COM2");
    change.ReadTimeout = 0xFFFFFFFFu;
    change.Line = LineParams{0, 8, 2, 0};
    EXPECT_EQ(Call(KIV_CHANGE_KIV_PARAMS, &change), 0u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> OpenCom() File handle 65"},
                                              {8, "ZIROD> ChangeKivParams() port opened"}}));
    EXPECT_FALSE(fake::world().ports["COM1"].isOpen);
    EXPECT_STREQ(data.ComName, "COM2");
    EXPECT_EQ(data.ReadTimeout, 50u);
    EXPECT_EQ(data.ComParams.BaudRate, 9600);
    EXPECT_EQ(data.ComParams.ByteSize, 7);
    EXPECT_EQ(fake::world().ports["COM2"].line.ByteSize, 7);
    EXPECT_EQ(fake::world().ports["COM2"].timeouts.ReadTotalTimeoutConstant, 500u);

    // New settings and time-out; the port cannot be opened.
    ClearLog();
    memcpy(change.PortName, "ABCDEFGHIJKL", 12); // twelve characters, no terminator
    change.ReadTimeout = 7;
    change.Line = LineParams{19200, 8, 0, 0};
    EXPECT_EQ(Call(KIV_CHANGE_KIV_PARAMS, &change), 2u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{32, "ZIROD> OpenCom() failed"},
                                              {8, "ZIROD> ChangeKivParams() open new COM port failed"}}));
    EXPECT_STREQ(data.ComName, "ABCDEFGHIJK");
    EXPECT_EQ(data.ReadTimeout, 7u);
    EXPECT_EQ(data.ComParams.BaudRate, 19200);
    EXPECT_EQ(data.ComHandle, 0u);
    EXPECT_FALSE(fake::world().ports["COM2"].isOpen);
    EXPECT_NE(fake::Journal().find("Open ABCDEFGHIJK"), std::string::npos);
    EXPECT_EQ(fake::Journal().find("ABCDEFGHIJKL"), std::string::npos);
}

TEST_F(Lifecycle, EndKivEndsEveryInstance) {
    fake::AddPort("COM1");
    ASSERT_EQ(ColdStartNow(), 0u);
    ClearLog();
    EXPECT_EQ(Call(KIV_END_KIV), 0u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> EndKiv() exited, 0"}}));
    EXPECT_EQ(liveBlocks, 0);
    EXPECT_FALSE(fake::world().ports["COM1"].isOpen);

    // From now on every call of every instance answers 0 and does nothing.
    ClearLog();
    DriverData other;
    memset(&other, 0x5A, sizeof other);
    CallBlock otherBlock{&other, KIV_COLD_START, 4, 0, &cold};
    EXPECT_EQ(KivMain(&otherBlock), 0u);
    InfoBlock info;
    memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(Call(KIV_GET_KIV_INFO, &info), 0u);
    EXPECT_EQ(info.InfoValueA, 0xEEEEEEEEu);
    EXPECT_EQ(Call(99), 0u);
    EXPECT_EQ(KivMain(nullptr), 0u);
    EXPECT_TRUE(Logged().empty());
    EXPECT_EQ(other.ReadTimeout, 0x5A5A5A5Au);
}

TEST_F(Lifecycle, EndKivPassesOnAFailedClose) {
    fake::AddPort("COM1");
    ASSERT_EQ(ColdStartNow(), 0u);
    fake::world().ports["COM1"].failClose = true;
    ClearLog();
    EXPECT_EQ(Call(KIV_END_KIV), 2u);
    EXPECT_EQ(Logged(), (std::vector<LogLine>{{8, "ZIROD> CloseCom() exited 2"}, {8, "ZIROD> EndKiv() exited, 2"}}));
    EXPECT_TRUE(DriverEnded.load());
}

// ---- The initialisation file ----

struct InitCase {
    const char *what;
    uint32_t instance;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<LogLine> lines; // between the version line and the closing line
    int rtscts, usage, debug, ifg;
};

class InitFile : public Lifecycle, public ::testing::WithParamInterface<InitCase> {};

TEST_P(InitFile, SettingsAndMessages) {
    const InitCase &c = GetParam();
    for (const auto &f : c.files) WriteFile(f.first, f.second);
    cold.OpenAtStart = 0;
    block.Instance = c.instance;
    ASSERT_EQ(ColdStartNow(), 0u);
    std::vector<LogLine> lines = LogAfterVersion();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), (LogLine{8, "ZIROD> ColdStart() installation OK!"}));
    lines.pop_back();
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(data.RTSCTSflag, c.rtscts);
    EXPECT_EQ(data.UsageFlag, c.usage);
    EXPECT_EQ(data.DebugFlag, c.debug);
    EXPECT_EQ(data.IFG, c.ifg);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InitFile,
    ::testing::Values(
        InitCase{"no file", 3, {}, {{8, "ZIROD> ColdStart() Warning, no initfile found"}}, 0, 0, 0, 10},
        InitCase{"example file",
                 1,
                 {{"ZIROD01.INT", "RTSCTS = OFF\nNEWUSE = ON\nDEBUG = ON\nIFG = 20\n"}},
                 {{32, "ZIROD> ReadInitFile() RTSCTSflag = 0"},
                  {32, "ZIROD> ReadInitFile() UsageFlag = 1"},
                  {32, "ZIROD> ReadInitFile() DebugFlag = 1"},
                  {8, "ZIROD> ReadInitFile() IFG = 20"}},
                 0, 1, 1, 20},
        InitCase{"lower case, no blanks, indented IFG",
                 3,
                 {{"ZIROD03.INT", "rtscts=on\ndebug = off\n   IFG=25\n"}},
                 {{32, "ZIROD> ReadInitFile() RTSCTSflag = 1"},
                  {32, "ZIROD> ReadInitFile() DebugFlag = 0"},
                  {8, "ZIROD> ReadInitFile() IFG = 25"}},
                 1, 0, 0, 25},
        InitCase{"only the second pattern exists",
                 3,
                 {{"ZIROD3.INT", "NEWUSE = ON\nnonsense\n"}, {"ZIROD.INT", "DEBUG = ON\n"}},
                 {{32, "ZIROD> ReadInitFile() UsageFlag = 1"}, {32, "ZIROD> ReadIntFile() illegal line 2 in 'ZIROD3.INT'"}},
                 0, 1, 0, 10},
        InitCase{"instance 12 falls back to the base name",
                 12,
                 {{"ZIROD.INT", "IFG = 0\n"}, {"ZIROD3.INT", "DEBUG = ON\n"}},
                 {{8, "ZIROD> ReadInitFile() IFG = 0"}},
                 0, 0, 0, 0},
        InitCase{"the first pattern wins",
                 12,
                 {{"ZIROD12.INT", "DEBUG = ON\n"}, {"ZIROD.INT", "NEWUSE = ON\n"}},
                 {{32, "ZIROD> ReadInitFile() DebugFlag = 1"}},
                 0, 0, 1, 10},
        InitCase{"words other than ON and OFF",
                 3,
                 {{"ZIROD.INT", "DEBUG = YES\nNEWUSE = ONLINE\nRTSCTS = OFFLINE\nDEBUG = 1\n"}},
                 {{32, "ZIROD> ReadInitFile() DebugFlag = 0"},
                  {32, "ZIROD> ReadInitFile() UsageFlag = 1"},
                  {32, "ZIROD> ReadInitFile() RTSCTSflag = 0"},
                  {32, "ZIROD> ReadInitFile() DebugFlag = 0"}},
                 0, 1, 0, 10},
        InitCase{"lines that are no setting; empty lines count",
                 3,
                 {{"ZIROD.INT", "DEBUG =\n DEBUG = ON\n\n   \n# comment\nIFG = x\nDEBUG = ON trailing\n"}},
                 {{32, "ZIROD> ReadIntFile() illegal line 1 in 'ZIROD.INT'"},
                  {32, "ZIROD> ReadIntFile() illegal line 2 in 'ZIROD.INT'"},
                  {32, "ZIROD> ReadIntFile() illegal line 4 in 'ZIROD.INT'"},
                  {32, "ZIROD> ReadIntFile() illegal line 5 in 'ZIROD.INT'"},
                  {32, "ZIROD> ReadIntFile() illegal line 6 in 'ZIROD.INT'"},
                  {32, "ZIROD> ReadInitFile() DebugFlag = 1"}},
                 0, 0, 1, 10},
        InitCase{"later lines override; CR LF line ends; IFG above 16 bits",
                 3,
                 {{"ZIROD.INT", "NEWUSE = ON\r\nNEWUSE = OFF\r\n\r\nIFG = 65561\r\nbad\r\n"}},
                 {{32, "ZIROD> ReadInitFile() UsageFlag = 1"},
                  {32, "ZIROD> ReadInitFile() UsageFlag = 0"},
                  {8, "ZIROD> ReadInitFile() IFG = 65561"},
                  {32, "ZIROD> ReadIntFile() illegal line 5 in 'ZIROD.INT'"}},
                 0, 0, 0, 25},
        InitCase{"a line longer than 255 characters reads as two",
                 3,
                 {{"ZIROD.INT", std::string(255, 'x') + "DEBUG = ON\nIFG = 5\n"}},
                 {{32, "ZIROD> ReadIntFile() illegal line 1 in 'ZIROD.INT'"},
                  {32, "ZIROD> ReadInitFile() DebugFlag = 1"},
                  {8, "ZIROD> ReadInitFile() IFG = 5"}},
                 0, 0, 1, 5}),
    [](const ::testing::TestParamInfo<InitCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(Lifecycle, RtsCtsFlagStillEndsInInstallationOk) {
    WriteFile("ZIROD.INT", "RTSCTS = ON\n");
    fake::AddPort("COM1");
    EXPECT_EQ(ColdStartNow(), 0u);
    EXPECT_EQ(Logged().back(), (LogLine{8, "ZIROD> ColdStart() installation OK!"}));
    EXPECT_EQ(data.RTSCTSflag, 1);
}

} // namespace
