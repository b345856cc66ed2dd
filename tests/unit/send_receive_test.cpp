// send_receive_test.cpp - Send with the gap and RTS turnaround, Receive in
// exact and terminator mode, on the scripted fake platform.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "entry/driver_data.h"
#include "fake_platform.h"
#include "driver_fixture.h"
#include "log_capture.h"
#include "serial/send_receive.h"

namespace {

struct ReceiveCase {
    const char *name;
    std::string incoming;
    uint16_t replyLength; // on entry
    uint16_t answer;
    uint16_t lengthAfter;
    std::vector<LogLine> log;
    std::string stored;   // the first bytes of RecvBuffer afterwards
    size_t leftWaiting;   // bytes still in the port
};

class SendReceive : public DriverOnFakePort {
protected:
    void SetUp() override {
        DriverOnFakePort::SetUp();
        fake::ClearJournal();
    }

    std::string Received(size_t count) const { return std::string(recvBuffer.begin(), recvBuffer.begin() + count); }

    // Each case on a fresh port: the bytes arrive, Receive runs once.
    void RunReceiveCases(const std::vector<ReceiveCase> &cases) {
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            SetUp();
            port->Arrive(c.incoming);
            data.ReplyLength = c.replyLength;
            EXPECT_EQ(c.answer, Receive(&data, '\r'));
            EXPECT_EQ(c.lengthAfter, data.ReplyLength);
            EXPECT_EQ(c.log, Logged()) << LogText();
            EXPECT_EQ(c.stored, Received(c.stored.size()));
            EXPECT_EQ(c.leftWaiting, port->rx.size());
        }
    }

};

const std::string CpuStartFrame = std::string("\x02") + "0012C3\r";

// ---- Send ---------------------------------------------------------------

TEST_F(SendReceive, SendWaitsRaisesRtsPurgesWritesPausesAndLowersRtsInThatOrder) {
    SetFrame(CpuStartFrame);
    EXPECT_EQ(0, Send(&data));
    EXPECT_EQ("Sleep 10; Escape 3; ClearError; Write " + CpuStartFrame + "; ClearError; Sleep 15; Escape 4", fake::Journal());
    EXPECT_EQ(fake::Bytes(CpuStartFrame), port->tx);
    EXPECT_FALSE(port->rts);
    EXPECT_TRUE(Logged().empty()) << LogText();
}

TEST_F(SendReceive, SendWithoutGapNeitherSleepsNorReadsTheClockBeforeRaisingRts) {
    data.IFG = 0;
    SetFrame(CpuStartFrame);
    EXPECT_EQ(0, Send(&data));
    EXPECT_EQ(0, fake::world().millisCalls);
    EXPECT_EQ("Escape 3; ClearError; Write " + CpuStartFrame + "; ClearError; Sleep 15; Escape 4", fake::Journal());
}

TEST_F(SendReceive, SendPurgesStaleInputBeforeTheWrite) {
    port->Arrive("stale reply bytes");
    SetFrame(CpuStartFrame);
    EXPECT_EQ(0, Send(&data));
    const std::string journal = fake::Journal();
    const size_t read = journal.find("Read 512");
    ASSERT_NE(std::string::npos, read) << journal;
    EXPECT_LT(read, journal.find("Write "));
    EXPECT_TRUE(port->rx.empty());
}

struct SendFailureCase {
    const char *name;
    bool failEscape;
    bool failWrite;
    int writeLimit;
    uint16_t answer;
    std::vector<LogLine> log;
};

TEST_F(SendReceive, SendFailuresAreLoggedAndRtsIsLoweredWhateverTheWriteDid) {
    const std::vector<SendFailureCase> cases = {
        {"RTS cannot be changed", true, false, -1, 0,
         {{8, "ZIROD> Send() EscapeCommFunction() failed"}, {8, "ZIROD> Send() EscapeCommFunction() failed (0)"}}},
        {"short write", false, false, 3, 2, {{8, "ZIROD> Send() Unable to send message."}}},
        {"write call fails", false, true, -1, 2, {{8, "ZIROD> Send() Unable to send message."}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        port->failEscape = c.failEscape;
        port->failWrite = c.failWrite;
        port->writeLimit = c.writeLimit;
        SetFrame(CpuStartFrame);
        EXPECT_EQ(c.answer, Send(&data));
        EXPECT_EQ(c.log, Logged()) << LogText();
        const std::string journal = fake::Journal();
        EXPECT_NE(std::string::npos, journal.find("Write ")) << journal;
        EXPECT_EQ("Sleep 15; Escape 4", journal.substr(journal.size() - 18)) << journal;
    }
}

TEST_F(SendReceive, SendRefusesALengthBeyondTheSendBufferWithoutTouchingTheLine) {
    data.SendLength = SEND_BUFFER_SIZE + 1;
    EXPECT_EQ(2, Send(&data));
    EXPECT_EQ("", fake::Journal());
    EXPECT_EQ((std::vector<LogLine>{{8, "ZIROD> Send() Unable to send message."}}), Logged()) << LogText();
}

// ---- WaitIFG ------------------------------------------------------------

struct GapCase {
    const char *name;
    std::vector<uint64_t> advances; // clock advance of each sleep; afterwards a sleep advances its length
    std::vector<std::string> messages;
    uint64_t sleptMs;
};

TEST_F(SendReceive, GapWaitSleepsAgainForEverySleepTheClockDoesNotConfirm) {
    const std::vector<GapCase> cases = {
        // 10 ms times 1001.0 is 10.01; with 1000.0 the rounding of 0.001 would give 9.99...
        {"clock shows exactly IFG", {10}, {}, 10},
        {"clock does not move twice", {0, 0}, {"ZIROD> IFG failed (0.000000ms < 10ms)", "ZIROD> IFG failed (0.000000ms < 10ms)"}, 30},
        {"clock one ms short", {9}, {"ZIROD> IFG failed (9.009000ms < 10ms)"}, 20},
        {"gap measured from the start of the wait", {4, 3}, {"ZIROD> IFG failed (4.004000ms < 10ms)", "ZIROD> IFG failed (7.007000ms < 10ms)"}, 30},
        {"long sleep", {250}, {}, 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake::world().sleepAdvances.assign(c.advances.begin(), c.advances.end());
        WaitIFG(&data);
        std::vector<LogLine> expected;
        for (const auto &m : c.messages) expected.push_back({8, m});
        EXPECT_EQ(expected, Logged()) << LogText();
        EXPECT_EQ(c.sleptMs, fake::world().sleptMs);
    }
}

TEST_F(SendReceive, ClockHelpersWorkInSeconds) {
    fake::world().now = 12345;
    double start = 0;
    EXPECT_DOUBLE_EQ(12.345, StartClock(&start));
    EXPECT_DOUBLE_EQ(12.345, start);
    fake::world().now = 12845;
    EXPECT_NEAR(0.5, ElapsedSeconds(start), 1e-9);
}

// ---- Receive, exact mode ------------------------------------------------


TEST_F(SendReceive, ReceiveExactModeTakesTheExpectedCountOrReportsNothingReplied) {
    const std::vector<ReceiveCase> cases = {
        {"whole reply", "ABCDEFGHIJ", 10, 0, 10, {}, "ABCDEFGHIJ", 0},
        {"longer reply: the rest stays for the next purge", "ABCDEFGHIJKLMN", 10, 0, 10, {}, "ABCDEFGHIJ", 4},
        {"no reply", "", 10, 2, 10, {{8, "ZIROD> Receive() Nothing replied (7)"}}, "", 0},
        {"reply stops part way", "ABCDEF", 10, 2, 10, {{8, "ZIROD> Receive() Nothing replied (7)"}}, "ABCDEF", 0},
        {"a lone NAK where ten bytes are expected", "\x15", 10, 2, 10, {{8, "ZIROD> Receive() Nothing replied (7)"}}, "\x15", 0},
        {"whole buffer", std::string(128, 'x'), 128, 0, 128, {}, std::string(128, 'x'), 0},
        {"more than the buffer holds is not read", std::string(140, 'x'), 129, 2, 129,
         {{8, "ZIROD> Receive() Reply length 129 exceeds receive buffer (128)"}}, "", 140},
    };
    RunReceiveCases(cases);
}

// ---- Receive, terminator mode -------------------------------------------

TEST_F(SendReceive, ReceiveTerminatorModeReadsUpToAndIncludingTheTerminator) {
    const std::string flood(200, 'x');
    const std::vector<ReceiveCase> cases = {
        {"lone CR", "\r", 0, 0, 1, {}, "\r", 0},
        {"four characters and CR", "ABCD\r", 0, 0, 5, {}, "ABCD\r", 0},
        {"bytes behind the CR stay in the port", "AB\rCD", 0, 0, 3, {}, "AB\r", 2},
        {"nothing comes", "", 0, 2, 0, {{8, "ZIROD> Receive() Nothing replied (7)"}}, "", 0},
        {"reply stops before its CR", "ABCD", 0, 7, 0, {}, "ABCD", 0},
        {"127 bytes and CR fill the buffer exactly", std::string(127, 'x') + "\r", 0, 0, 128, {}, std::string(127, 'x') + "\r", 0},
        // 128 bytes without CR: reading stops at the buffer's end.
        {"flood without CR", flood, 0, 7, 0, {}, std::string(128, 'x'), 72},
    };
    RunReceiveCases(cases);
}

TEST_F(SendReceive, ReceiveTerminatorModeMakesOneReadPerByteAndNoneBeyondTheBuffer) {
    port->Arrive(std::string(300, 'x'));
    data.ReplyLength = 0;
    EXPECT_EQ(7, Receive(&data, '\r'));
    EXPECT_EQ(128, port->readCalls);
}

TEST_F(SendReceive, ReceiveTerminatorIsTheCallersByte) {
    port->Arrive("AB\rCD;EF");
    data.ReplyLength = 0;
    EXPECT_EQ(0, Receive(&data, ';'));
    EXPECT_EQ(6, data.ReplyLength);
    EXPECT_EQ("AB\rCD;", Received(6));
}

} // namespace
