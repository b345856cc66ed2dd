// Requests and replies on the wire: acknowledgements, reads from memory,
// writes into memory, refusals, the CPU start rule and the request log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "slave_port.h"

namespace {

using namespace simtest;
using dazaraz::sim::Options;
using dazaraz::sim::Printable;
using dazaraz::sim::RequestRecord;
using dazaraz::sim::Simulator;

TEST(Exchange, ReadsAnswerFromMemoryWithExactFrames) {
    Bench b;
    b.sim.SetWord(0x0150, 0x1234);
    b.sim.SetByte(0x00A0, 0x80);
    b.sim.SetByte(0x0010, 0x5A);
    b.sim.SetByte(0x0200, 0xC3);
    const struct {
        const char *what;
        std::string request, reply;
    } steps[] = {
        {"CPU start", kCpuStart, kCpuStartAck},
        {"set-up of a word", kSetupWord0150, kSetupAck},
        {"fetch of the word, high byte first", kFetchWord0150, kFetchReply1234},
        {"set-up of a bit", kSetupBit00A0, kSetupAck},
        {"fetch of the bit's byte", kFetchBit00A0, kStx + "000033" "80" "8E\r"},
        {"set-up of two unrelated addresses", kStx + "003200000200100200" "6A\r", kSetupAck},
        {"fetch of both", kStx + "003300000200100200" "6B\r", kStx + "000033" "5AC3" "12\r"},
    };
    for (const auto &step : steps) EXPECT_EQ(Printable(b.Transact(step.request)), Printable(step.reply)) << step.what;
    EXPECT_TRUE(b.sim.CpuStarted());
}

TEST(Exchange, SetUpStaysForRepeatedFetchesUntilReplaced) {
    Bench b;
    b.sim.SetWord(0x0150, 0x1234);
    ASSERT_EQ(b.Transact(kSetupWord0150), kSetupAck);
    EXPECT_EQ(b.Transact(kFetchWord0150), kFetchReply1234);
    b.sim.SetWord(0x0150, 0xABCD);
    // A retried fetch sees the memory as it is now.
    EXPECT_EQ(b.Transact(kFetchWord0150), kStx + "000033" "ABCD" "30\r");
    // The data follow the remembered set-up, not the fetch frame's own fields.
    ASSERT_EQ(b.Transact(kSetupBit00A0), kSetupAck);
    EXPECT_EQ(b.Transact(kFetchWord0150), kStx + "000033" "00" "86\r");
}

TEST(Exchange, WritesChangeMemory) {
    Bench b;
    b.sim.SetByte(0x009F, 0x11);
    b.sim.SetByte(0x00A1, 0x22);
    EXPECT_EQ(b.Transact(kBitWrite00A0), kBitWriteAck);
    EXPECT_EQ(b.sim.Byte(0x00A0), 0x80);
    EXPECT_EQ(b.sim.Byte(0x009F), 0x11);
    EXPECT_EQ(b.sim.Byte(0x00A1), 0x22);

    EXPECT_EQ(b.Transact(kWordWrite0150), kWordWriteAck);
    EXPECT_EQ(b.sim.Byte(0x0150), 0x12);
    EXPECT_EQ(b.sim.Byte(0x0151), 0x34);
    ASSERT_EQ(b.Transact(kSetupWord0150), kSetupAck);
    EXPECT_EQ(b.Transact(kFetchWord0150), kFetchReply1234);

    // The word at the last address wraps round to address 0.
    EXPECT_EQ(b.Transact(kStx + "0041FFFFABCD" "E7\r"), kWordWriteAck);
    EXPECT_EQ(b.sim.Byte(0xFFFF), 0xAB);
    EXPECT_EQ(b.sim.Byte(0x0000), 0xCD);
    EXPECT_EQ(b.sim.Word(0xFFFF), 0xABCD);
}

TEST(Exchange, BadRequestsAreRefusedWithNak) {
    const struct {
        const char *what;
        std::string request, reply;
    } cases[] = {
        {"wrong checksum", kStx + "0012C4\r", kNak + "000012" "23\r"},
        {"checksum in lower case", kStx + "003200000100A0" "b7\r", kNak + "000032" "25\r"},
        {"station 01", kStx + "0112C4\r", kNak + "000112" "24\r"},
        {"unknown command", kStx + "0099D2\r", kNak + "000099" "32\r"},
        {"set-up count 000003", kStx + "003200000301500151" "75\r", kNak + "000032" "25\r"},
        {"address not upper-case hexadecimal", kStx + "00320000010g50" "E2\r", kNak + "000032" "25\r"},
        {"bit write without its data byte", kStx + "004000A0" "95\r", kNak + "000040" "24\r"},
        {"CPU start with fields", kStx + "0012ZZ" "77\r", kNak + "000012" "23\r"},
        {"frame too short", kStx + "00\r", kNak + "0000?0" "2F\r"},
        {"fetch without set-up", kFetchBit00A0, kNak + "000033" "26\r"},
    };
    for (const auto &c : cases) {
        Bench b;
        EXPECT_EQ(Printable(b.Transact(c.request)), Printable(c.reply)) << c.what;
        const auto log = b.sim.Requests();
        ASSERT_EQ(log.size(), 1u) << c.what;
        EXPECT_FALSE(log[0].valid) << c.what;
        EXPECT_FALSE(log[0].problem.empty()) << c.what;
        EXPECT_FALSE(b.sim.CpuStarted()) << c.what;
    }
}

TEST(Exchange, RefusedWriteLeavesMemoryAlone) {
    Bench b;
    b.sim.SetByte(0x00A0, 0x11);
    EXPECT_EQ(b.Transact(kStx + "004000A080" "FE\r"), kNak + "000040" "24\r");
    EXPECT_EQ(b.sim.Byte(0x00A0), 0x11);
}

TEST(Exchange, BytesOutsideFramesAreDropped) {
    Bench b;
    // Noise, a frame cut short by a new STX, then a good request.
    b.port->Send("zz\x15\r");
    b.port->Send(kStx + "0032000");
    EXPECT_EQ(b.Transact(kCpuStart), kCpuStartAck);
    const auto log = b.sim.Requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].raw, kCpuStart);
}

TEST(Exchange, RequiredCpuStartGatesReadsAndWrites) {
    Options o = Bench::Unpaced();
    o.requireCpuStart = true;
    Bench b(o);
    EXPECT_EQ(b.Transact(kSetupWord0150), kNak + "000032" "25\r");
    EXPECT_EQ(b.Transact(kBitWrite00A0), kNak + "000040" "24\r");
    EXPECT_EQ(b.sim.Byte(0x00A0), 0);
    EXPECT_EQ(b.sim.Requests().back().problem, "CPU not started");

    EXPECT_EQ(b.Transact(kCpuStart), kCpuStartAck);
    EXPECT_TRUE(b.sim.CpuStarted());
    EXPECT_EQ(b.Transact(kSetupWord0150), kSetupAck);
    EXPECT_EQ(b.Transact(kBitWrite00A0), kBitWriteAck);

    // A power cycle forgets the start and the set-up.
    b.sim.ResetCpu();
    EXPECT_FALSE(b.sim.CpuStarted());
    EXPECT_EQ(b.Transact(kFetchWord0150), kNak + "000033" "26\r");
    EXPECT_EQ(b.Transact(kCpuStart), kCpuStartAck);
    EXPECT_EQ(b.Transact(kFetchWord0150), kNak + "000033" "26\r");
    EXPECT_EQ(b.sim.Requests().back().problem, "fetch without set-up");
}

TEST(Exchange, WithoutTheRequirementReadsWorkBeforeCpuStart) {
    Bench b;
    EXPECT_EQ(b.Transact(kSetupWord0150), kSetupAck);
    EXPECT_FALSE(b.sim.CpuStarted());
}

TEST(Log, RecordsEveryRequestWithArrivalAndReply) {
    std::mutex seenMutex;
    std::vector<RequestRecord> seen;
    Options o = Bench::Unpaced();
    o.observer = [&](const RequestRecord &r) {
        std::lock_guard lock(seenMutex);
        seen.push_back(r);
    };
    Bench b(o);
    const std::string garbled = kStx + "00ZZ" "00\r";
    const std::string requests[] = {kCpuStart, garbled, kSetupWord0150};
    std::vector<std::pair<Clock::time_point, Clock::time_point>> windows;
    std::vector<std::string> replies;
    for (const std::string &r : requests) {
        const auto before = Clock::now();
        replies.push_back(b.Transact(r));
        windows.push_back({before, Clock::now()});
    }
    const auto log = b.sim.Requests();
    ASSERT_EQ(log.size(), 3u);
    const int commands[] = {12, -1, 32};
    const bool valid[] = {true, false, true};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log[i].raw, requests[i]);
        EXPECT_EQ(log[i].command, commands[i]);
        EXPECT_EQ(log[i].valid, valid[i]);
        EXPECT_EQ(log[i].reply, replies[i]);
        EXPECT_GE(log[i].arrival, windows[i].first);
        EXPECT_LE(log[i].arrival, log[i].replied);
        EXPECT_LE(log[i].replied, windows[i].second);
    }
    {
        std::lock_guard lock(seenMutex);
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[1].raw, garbled);
    }
    b.sim.ClearRequests();
    EXPECT_TRUE(b.sim.Requests().empty());
    EXPECT_FALSE(b.sim.WaitForRequests(1, 50ms));
}

TEST(Pty, SurvivesThePortBeingClosedAndReopened) {
    Bench b;
    EXPECT_EQ(b.Transact(kCpuStart), kCpuStartAck);
    b.port.reset();
    b.port = std::make_unique<SlavePort>(b.sim.SlavePath());
    EXPECT_EQ(b.Transact(kCpuStart), kCpuStartAck);
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/dazaraz-sim-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

TEST(Pty, LinkPointsToTheSlaveWhileRunning) {
    TempDir dir;
    const std::string link = dir / "plc";
    std::filesystem::create_symlink("/nonexistent", link);  // a stale link is replaced
    Options o = Bench::Unpaced();
    o.link = link;
    Simulator sim(o);
    sim.Start();
    EXPECT_EQ(sim.LinkPath(), link);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.SlavePath());
    {
        SlavePort port(link);
        port.Send(kCpuStart);
        EXPECT_EQ(port.Read(kCpuStartAck.size()), kCpuStartAck);
    }
    sim.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(sim.SlavePath().empty());

    std::ofstream(link) << "not a link";
    EXPECT_THROW(sim.Start(), std::system_error);
    EXPECT_FALSE(sim.Running());
}

TEST(Pty, RestartsOnANewPtyKeepingMemory) {
    Bench b;
    b.sim.SetWord(0x0150, 0x1234);
    b.port.reset();
    b.sim.Stop();
    EXPECT_FALSE(b.sim.Running());
    b.sim.Start();
    b.port = std::make_unique<SlavePort>(b.sim.SlavePath());
    ASSERT_EQ(b.Transact(kSetupWord0150), kSetupAck);
    EXPECT_EQ(b.Transact(kFetchWord0150), kFetchReply1234);
}

}  // namespace
