// Reads and writes through the real shared library against the controller
// simulator on a pseudo-terminal: the frames on the line, the values, the
// simulator's memory, and the log lines of every fault.
#include <gtest/gtest.h>

#include <dazaraz/sim.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "driver_host.h"

namespace {

using itest::Line;
using namespace std::chrono_literals;
namespace sim = dazaraz::sim;


// A tag as a host keeps it: its text, its parsed address, its value cell.
struct Tag {
    std::string text;
    TagValue value{};
    TagRecord record{};
};

class ReadWrite : public ::testing::Test {
protected:
    itest::LogSink log;
    itest::Driver driver;
    itest::Instance instance{driver, 41};
    std::unique_ptr<sim::Simulator> controller;
    std::filesystem::path oldDir, dir;

    void SetUp() override {
        oldDir = std::filesystem::current_path();
        dir = std::filesystem::temp_directory_path() / ("dazaraz-rw-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        sim::Options options;
        options.line = sim::LineSpeed{9600, 10};
        options.requireCpuStart = true;
        options.link = sim::FreeShortLinkPath();
        controller = std::make_unique<sim::Simulator>(options);
        controller->Start();
    }

    void TearDown() override {
        controller->Stop();
        std::filesystem::current_path(oldDir);
        std::filesystem::remove_all(dir);
    }

    void InitFile(const std::string &text) { std::ofstream("ZIROD41.INT") << text; }

    void ColdStart(uint32_t readTimeout = 30) {
        ASSERT_EQ(instance.ColdStart(controller->LinkPath(), readTimeout), 0u);
        auto lines = log.Take();
        ASSERT_GE(lines.size(), 3u);
        ASSERT_EQ(lines[lines.size() - 2], (Line{8, "ZIROD> ColdStart() port opened"}));
    }

    void Parse(Tag &tag, const std::string &text, int32_t bit = -1) {
        tag.text = text;
        ParseRecord p{};
        p.AddressText = tag.text.c_str();
        p.Kind = text[0] == 'B' ? KIV_KIND_DIGITAL : KIV_KIND_ANALOG_1;
        ASSERT_EQ(instance.Call(KIV_SINGLE_ADDRESS_PARSER, &p), 0u) << text;
        tag.record.AddressText = tag.text.c_str();
        tag.record.TagAddress = p.TagAddress;
        tag.record.TagAddress.Bit = bit;
        tag.record.Count = 1;
        tag.record.ValueCell = &tag.value;
    }

    uint32_t Read(Tag &tag) { return instance.Call(KIV_SINGLE_READ, &tag.record); }
    uint32_t Write(Tag &tag, uint16_t value) {
        tag.value.Value = value;
        return instance.Call(KIV_SINGLE_WRITE, &tag.record);
    }

    // The frames the controller received since the last call.
    std::vector<std::string> Frames(size_t atLeast) {
        controller->WaitForRequests(atLeast, 3s);
        std::vector<std::string> out;
        for (const auto &r : controller->Requests()) out.push_back(r.raw);
        controller->ClearRequests();
        return out;
    }

    // The log without the RTS reports, which a pseudo-terminal (no modem
    // lines) makes on every frame; counts them in rtsLines.
    std::vector<Line> Lines() {
        std::vector<Line> out;
        for (auto &l : log.Take()) {
            if (l.text.rfind("ZIROD> Send() EscapeCommFunction() failed", 0) == 0)
                ++rtsLines;
            else
                out.push_back(l);
        }
        return out;
    }
    int rtsLines = 0;
};

const std::string CPU_START = "\x02" "0012C3\r";
const std::string SETUP_WM0150 = "\x02" "003200000201500151" "74\r";
const std::string FETCH_WM0150 = "\x02" "003300000201500151" "75\r";

TEST_F(ReadWrite, FirstReadStartsTheCpuThenSetUpAndFetch) {
    ColdStart();
    controller->SetWord(0x0150, 0x1234);
    Tag tag;
    Parse(tag, "WM0150");
    ASSERT_EQ(Read(tag), 0u);
    EXPECT_EQ(tag.value.Value, 0x1234);
    EXPECT_EQ(Frames(3), (std::vector<std::string>{CPU_START, SETUP_WM0150, FETCH_WM0150}));

    // Later reads send only the set-up and the fetch.
    controller->SetWord(0x0150, 0xBEEF);
    ASSERT_EQ(Read(tag), 0u);
    EXPECT_EQ(tag.value.Value, 0xBEEF);
    EXPECT_EQ(Frames(2), (std::vector<std::string>{SETUP_WM0150, FETCH_WM0150}));

    // A warm start brings the CPU start back.
    ASSERT_EQ(instance.Call(KIV_WARM_START), 0u);
    ASSERT_EQ(Read(tag), 0u);
    EXPECT_EQ(Frames(3), (std::vector<std::string>{CPU_START, SETUP_WM0150, FETCH_WM0150}));
    EXPECT_EQ(Lines(), (std::vector<Line>{{8, "ZIROD> WarmStart()"}}));
    // Every frame raised and lowered RTS, and the pseudo-terminal refused both.
    EXPECT_EQ(rtsLines, 2 * 8);
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, ValuesOfEveryTagKind) {
    ColdStart();
    controller->SetByte(0x0010, 0x80);  // BX0010: bit 7 set
    controller->SetByte(0x00A0, 0x7F);  // BY00A0: bit 7 clear
    controller->SetByte(0x03A0, 0xFF);  // BT03A0
    controller->SetWord(0x0150, 0x1234); // WM0150
    controller->SetWord(0x0400, 0x0FA0); // TC0400
    struct Case {
        const char *text;
        int32_t bit;
        uint16_t value;
    } cases[] = {
        {"BX0010", -1, 1}, {"BY00A0", -1, 0}, {"BT03A0", -1, 1}, {"WM0150", -1, 0x1234}, {"TC0400", -1, 0x0FA0},
        {"WM0150", 4, 1},  {"WM0150", 0, 0},  {"WM0150", 12, 1}, {"WM0150", 20, 0},
    };
    for (const Case &c : cases) {
        Tag tag;
        Parse(tag, c.text, c.bit);
        tag.value.Value = 0xAAAA;
        EXPECT_EQ(Read(tag), 0u) << c.text;
        EXPECT_EQ(tag.value.Value, c.value) << c.text << " bit " << c.bit;
    }
    // A TC tag is read as a word: two addresses, a 14-byte reply.
    Tag tc;
    Parse(tc, "TC0400");
    controller->ClearRequests();
    ASSERT_EQ(Read(tc), 0u);
    EXPECT_EQ(Frames(2)[0], "\x02" "003200000204000401" "70\r");
    EXPECT_EQ(Lines(), std::vector<Line>{});
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, WordAndBitWritesChangeTheControllersMemory) {
    ColdStart();
    Tag word, bit;
    Parse(word, "WY00A0");
    Parse(bit, "BM0200");
    controller->SetByte(0x0200, 0x5A);
    ASSERT_EQ(Write(word, 0x00FF), 0u);
    EXPECT_EQ(controller->Word(0x00A0), 0x00FF);
    ASSERT_EQ(Write(bit, 5), 0u);
    EXPECT_EQ(controller->Byte(0x0200), 0x80); // the fixed data byte: the other bits are lost
    ASSERT_EQ(Write(bit, 0), 0u);
    EXPECT_EQ(controller->Byte(0x0200), 0x00);
    EXPECT_EQ(Frames(4), (std::vector<std::string>{CPU_START, "\x02" "004100A000FF" "82\r", "\x02" "0040020080" "EE\r",
                                                   "\x02" "0040020000" "E6\r"}));
    EXPECT_EQ(Lines(), std::vector<Line>{});
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, BitWriteWithNewUseReadsTheWordFirst) {
    InitFile("NEWUSE = ON\nDEBUG = ON\n");
    ColdStart();
    Tag bit;
    Parse(bit, "BM0200");
    controller->SetWord(0x0200, 0x5A33);
    ASSERT_EQ(Write(bit, 1), 0u);
    EXPECT_EQ(controller->Byte(0x0200), 0xDA); // bit 7 set, the other seven kept
    EXPECT_EQ(controller->Byte(0x0201), 0x33);
    EXPECT_EQ(bit.value.Value, 1);
    EXPECT_EQ(bit.record.TagAddress.Type, static_cast<uint32_t>('B' | ('M' << 8)));
    EXPECT_EQ(instance.Block().Function, static_cast<uint32_t>(KIV_SINGLE_WRITE));
    const auto frames = Frames(4);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1], "\x02" "003200000202000201" "6C\r"); // the word read of BM0200
    EXPECT_EQ(frames[3], "\x02" "00400200DA" "0B\r");
    EXPECT_EQ(Lines(), (std::vector<Line>{{8, "ZIROD> DoRead() calling StoreData()"},
                                          {8, "ZIROD> BuildWriteReq() WORD read succesful for bit write"}}));
    ASSERT_EQ(Write(bit, 0), 0u);
    EXPECT_EQ(controller->Byte(0x0200), 0x5A);
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, RefusedWritesSendNothing) {
    ColdStart();
    for (const char *text : {"BX0010", "TC0400", "BT03A0", "WX0010"}) {
        Tag tag;
        Parse(tag, text);
        EXPECT_EQ(Write(tag, 1), 1u) << text;
        EXPECT_EQ(Lines(), (std::vector<Line>{
                               {8, std::string("ZIROD> BuildWriteRequest() Writing not allowed for this type (") + text + ")"},
                               {8, std::string("ZIROD> SingleWrite() , rc=1 for tag '") + text + "'"}}));
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(controller->Requests().empty());
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, ClosedPortRefusesReadsAndWrites) {
    ColdStart();
    ASSERT_EQ(instance.Call(KIV_CLOSE_COM), 0u);
    Tag tag;
    Parse(tag, "WM0150");
    EXPECT_EQ(Read(tag), 1u);
    EXPECT_EQ(Write(tag, 7), 1u);
    EXPECT_EQ(Lines(), (std::vector<Line>{{8, "ZIROD> SingleRead(), rc=1 for tag 'WM0150'"},
                                          {8, "ZIROD> SingleWrite() , rc=1 for tag 'WM0150'"}}));
    // Reopened, the read works and starts the CPU (the controller still had it started).
    ASSERT_EQ(instance.Call(KIV_RE_OPEN_COM), 0u);
    Lines();
    EXPECT_EQ(Read(tag), 0u);
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, ThreeNaksAreReportedAndRefused) {
    ColdStart();
    Tag tag;
    Parse(tag, "WM0150");
    ASSERT_EQ(Read(tag), 0u);
    Lines();
    controller->InjectFault(sim::Fault::PaddedNak().Only(33).Times(3));
    tag.value.Value = 0x4242;
    EXPECT_EQ(Read(tag), 1u);
    EXPECT_EQ(tag.value.Value, 0x4242); // a failed read stores nothing
    EXPECT_EQ(Lines(), (std::vector<Line>{{8, "ZIROD> SendRecvLoop() NAK received"},
                                          {8, "ZIROD> SendRecvLoop() 'WM0150', Retry 1, TLen 22"},
                                          {8, "ZIROD> SendRecvLoop() NAK received"},
                                          {8, "ZIROD> SendRecvLoop() 'WM0150', Retry 2, TLen 22"},
                                          {8, "ZIROD> SendRecvLoop() NAK received"},
                                          {8, "ZIROD> SingleRead(), rc=1 for tag 'WM0150'"}}));
    // Two NAKs and then an answer: the read succeeds on the third attempt.
    controller->InjectFault(sim::Fault::Nak().Only(32).Times(2));
    EXPECT_EQ(Read(tag), 0u);
    EXPECT_EQ(Lines(), (std::vector<Line>{{8, "ZIROD> SendRecvLoop() NAK received"},
                                          {8, "ZIROD> SendRecvLoop() 'WM0150', Retry 1, TLen 22"},
                                          {8, "ZIROD> SendRecvLoop() NAK received"},
                                          {8, "ZIROD> SendRecvLoop() 'WM0150', Retry 2, TLen 22"}}));
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, SilentControllerFailsTheCpuStart) {
    ColdStart(10);
    controller->InjectFault(sim::Fault::Silence().Persistent());
    Tag tag;
    Parse(tag, "BY00A0");
    EXPECT_EQ(Read(tag), 2u);
    std::vector<Line> expected;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            expected.push_back({8, "ZIROD> SendRecvLoop() 'BY00A0', Retry " + std::to_string(attempt) + ", TLen 8"});
        expected.push_back({8, "ZIROD> Receive() Nothing replied (7)"});
        expected.push_back({8, "ZIROD> SendRecvLoop() Read reply error"});
    }
    expected.push_back({8, "ZIROD> DoRead() CPU start failed"});
    expected.push_back({8, "ZIROD> SingleRead(), rc=2 for tag 'BY00A0'"});
    EXPECT_EQ(Lines(), expected);

    // The controller answers again: the next read starts the CPU again.
    controller->ClearFaults();
    controller->ClearRequests();
    EXPECT_EQ(Read(tag), 0u);
    EXPECT_EQ(Frames(3)[0], CPU_START);
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

TEST_F(ReadWrite, SpoiltRepliesAreReportedAndRetried) {
    ColdStart(10);
    Tag tag;
    Parse(tag, "WM0150");
    controller->SetWord(0x0150, 0x0102);
    ASSERT_EQ(Read(tag), 0u);
    Lines();
    // Wrong checksum three times: refused.
    controller->InjectFault(sim::Fault::WrongChecksum().Only(33).Times(3));
    EXPECT_EQ(Read(tag), 1u);
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].text.rfind("ZIROD> SendRecvLoop() CheckSum error (", 0), 0u);
    EXPECT_EQ(lines[5], (Line{8, "ZIROD> SingleRead(), rc=1 for tag 'WM0150'"}));

    // A checksum in lower case is accepted.
    controller->InjectFault(sim::Fault::LowerCaseChecksum().Persistent());
    EXPECT_EQ(Read(tag), 0u);
    EXPECT_EQ(tag.value.Value, 0x0102);
    controller->ClearFaults();

    // A truncated reply is no complete reply.
    controller->InjectFault(sim::Fault::Truncate(9).Only(32).Times(3));
    EXPECT_EQ(Read(tag), 2u);
    lines = Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], (Line{8, "ZIROD> Receive() Nothing replied (7)"}));
    EXPECT_EQ(lines[1], (Line{8, "ZIROD> SendRecvLoop() Read reply error"}));

    // A reply without STX but ending in CR, with a right checksum, is accepted.
    controller->InjectFault(sim::Fault::NoStx().Only(33));
    EXPECT_EQ(Read(tag), 0u);
    EXPECT_EQ(tag.value.Value, 0x0102);
    // Without STX and CR, and with a wrong echo: a wrong reply.
    controller->InjectFault(sim::Fault::NoStx().Only(32).Times(3));
    controller->InjectFault(sim::Fault::NoCr().Only(32).Times(3));
    controller->InjectFault(sim::Fault::WrongEcho().Only(32).Times(3));
    EXPECT_EQ(Read(tag), 1u);
    lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], (Line{8, "ZIROD> SendRecvLoop() Wrong reply"}));

    // Extra bytes behind a reply are purged before the next frame; bursts and
    // slow bytes within the time-out still make a whole reply.
    controller->InjectFault(sim::Fault::Extra("junk").Only(33));
    EXPECT_EQ(Read(tag), 0u);
    controller->InjectFault(sim::Fault::Bursts(4, 30ms).Only(33));
    EXPECT_EQ(Read(tag), 0u);
    controller->InjectFault(sim::Fault::DelayBytes(5ms).Only(33));
    EXPECT_EQ(Read(tag), 0u);
    EXPECT_EQ(tag.value.Value, 0x0102);
    EXPECT_EQ(Lines(), std::vector<Line>{});
    EXPECT_EQ(instance.Call(KIV_END_KIV), 0u);
}

} // namespace
