// transaction_test.cpp - SendRecvLoop: attempts, retry lines, and the NAK,
// length, checksum and acceptance tests, on the scripted fake platform.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "entry/driver_data.h"
#include "fake_platform.h"
#include "driver_fixture.h"
#include "log_capture.h"
#include "protocol/frames.h"
#include "protocol/transaction.h"

namespace {

const std::string Stx(1, '\x02');

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

unsigned Sum(const std::string &bytes) {
    unsigned sum = 0;
    for (unsigned char c : bytes) sum += c;
    return sum & 0xFF;
}

// A reply as the controller frames it: first byte, the body (two unused
// characters, station, command, data), the checksum of the body, last byte.
std::string Reply(const std::string &body, char first = '\x02', char last = '\r') {
    return std::string(1, first) + body + Hex2(Sum(body)) + std::string(1, last);
}

// The word set-up request for WM0150 (22 bytes) and its acknowledgement.
const std::string SetupFrame = Stx + "0032000002015001517" "4\r";
const std::string Ack = Reply("000032");

// What the fake controller does with one attempt.
struct Step {
    bool sendFails = false;  // the write takes no byte
    std::string reply;       // bytes that arrive after the write
};

Step Answer(const std::string &reply) { return Step{false, reply}; }
Step NoReply() { return Step{false, ""}; }
Step SendFails() { return Step{true, ""}; }

class Transaction : public DriverOnFakePort {
protected:
    void SetUp() override {
        DriverOnFakePort::SetUp();
        tag = TagRecord{};
        tag.AddressText = "WM0150";
        block = CallBlock{};
        block.Data = &data;
        block.Function = 5;
        block.Params = &tag;
        data.Current = &block;
        SetFrame(SetupFrame);
        data.ReplyLength = ACK_REPLY_LENGTH;
    }

    // Scripts one step per attempt: a write that fails takes no byte, every
    // other write is answered by the step's reply.
    void Script(const std::vector<Step> &steps) {
        script = steps;
        next = 0;
        Arm();
        port->onWrite = [this](const std::vector<uint8_t> &) {
            ASSERT_LT(next, script.size()) << "more attempts than scripted";
            port->Arrive(script[next].reply);
            next++;
            Arm();
        };
    }

    void Arm() { port->writeLimit = next < script.size() && script[next].sendFails ? 0 : -1; }

    std::string Received() const { return std::string(recvBuffer.begin(), recvBuffer.begin() + data.ReplyLength); }

    TagRecord tag;
    CallBlock block;
    std::vector<Step> script;
    size_t next = 0;
};

const LogLine Retry1{8, "ZIROD> SendRecvLoop() 'WM0150', Retry 1, TLen 22"};
const LogLine Retry2{8, "ZIROD> SendRecvLoop() 'WM0150', Retry 2, TLen 22"};
const LogLine SendError{8, "ZIROD> SendRecvLoop() Send request error"};
const LogLine Unsent{8, "ZIROD> Send() Unable to send message."};
const LogLine ReadError{8, "ZIROD> SendRecvLoop() Read reply error"};
const LogLine NothingReplied{8, "ZIROD> Receive() Nothing replied (7)"};
const LogLine Nak{8, "ZIROD> SendRecvLoop() NAK received"};
const LogLine WrongReply{8, "ZIROD> SendRecvLoop() Wrong reply"};

TEST_F(Transaction, ReplyAcceptedOnTheFirstAttemptEndsTheExchange) {
    Script({Answer(Ack)});
    EXPECT_EQ(0, SendRecvLoop(&data));
    EXPECT_TRUE(Logged().empty()) << LogText();
    EXPECT_EQ(10, data.ReplyLength);
    EXPECT_EQ(Ack, Received());
    EXPECT_EQ(fake::Bytes(SetupFrame), port->tx);
}

struct LoopCase {
    const char *name;
    std::vector<Step> steps;
    uint16_t result;
    std::vector<LogLine> log;
};

TEST_F(Transaction, EveryAttemptRunsItsTestsAndTheLastOneDecides) {
    const std::string nakReply = "\x15" + std::string("000032") + "FF\r"; // refused before its checksum is looked at
    const std::string badSum = Stx + "000032" + "00\r";
    const std::vector<LoopCase> cases = {
        {"three send failures", {SendFails(), SendFails(), SendFails()}, 2,
         {Unsent, SendError, Retry1, Unsent, SendError, Retry2, Unsent, SendError}},
        {"three times no reply", {NoReply(), NoReply(), NoReply()}, 2,
         {NothingReplied, ReadError, Retry1, NothingReplied, ReadError, Retry2, NothingReplied, ReadError}},
        {"three NAKs", {Answer(nakReply), Answer(nakReply), Answer(nakReply)}, 1, {Nak, Retry1, Nak, Retry2, Nak}},
        {"a lone NAK where ten bytes are expected is no complete reply", {Answer("\x15"), Answer("\x15"), Answer("\x15")}, 2,
         {NothingReplied, ReadError, Retry1, NothingReplied, ReadError, Retry2, NothingReplied, ReadError}},
        {"checksum error, then two send failures", {Answer(badSum), SendFails(), SendFails()}, 2,
         {{8, "ZIROD> SendRecvLoop() CheckSum error (00 <> 25)"}, Retry1, Unsent, SendError, Retry2, Unsent, SendError}},
        {"send failure, then two NAKs", {SendFails(), Answer(nakReply), Answer(nakReply)}, 1,
         {Unsent, SendError, Retry1, Nak, Retry2, Nak}},
        {"NAK, no reply, accepted", {Answer(nakReply), NoReply(), Answer(Ack)}, 0,
         {Nak, Retry1, NothingReplied, ReadError, Retry2}},
        {"wrong reply, then accepted", {Answer(Reply("000099", 'X', 'Y')), Answer(Ack)}, 0, {WrongReply, Retry1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Script(c.steps);
        EXPECT_EQ(c.result, SendRecvLoop(&data));
        EXPECT_EQ(c.log, Logged()) << LogText();
        EXPECT_EQ(c.steps.size(), next);
    }
}

TEST_F(Transaction, RetriesResendTheSameBytesAndNameTheRequestLength) {
    SetFrame(Stx + "0012C3\r");
    Script({NoReply(), NoReply(), NoReply()});
    EXPECT_EQ(2, SendRecvLoop(&data));
    EXPECT_EQ(fake::Bytes(Stx + "0012C3\r" + Stx + "0012C3\r" + Stx + "0012C3\r"), port->tx);
    ASSERT_EQ(8u, Logged().size()) << LogText();
    EXPECT_EQ("ZIROD> SendRecvLoop() 'WM0150', Retry 1, TLen 8", Logged()[2].text);
    EXPECT_EQ("ZIROD> SendRecvLoop() 'WM0150', Retry 2, TLen 8", Logged()[5].text);
}

TEST_F(Transaction, RetryLineNamesAnEmptyTagWhenTheOperationHasNone) {
    TagRecord noText{};
    CallBlock noParams{};
    CallBlock withoutText{};
    withoutText.Params = &noText;
    for (CallBlock *current : {static_cast<CallBlock *>(nullptr), &noParams, &withoutText}) {
        SetUp();
        data.Current = current;
        Script({NoReply(), Answer(Ack)});
        EXPECT_EQ(0, SendRecvLoop(&data));
        ASSERT_EQ(3u, Logged().size()) << LogText();
        EXPECT_EQ("ZIROD> SendRecvLoop() '', Retry 1, TLen 22", Logged()[2].text);
    }
}

TEST_F(Transaction, EachAttemptReceivesWithTheLengthExpectedOnEntry) {
    // Up to the CR: a refused reply of 12 bytes must not make the retry
    // expect exactly 12 bytes.
    data.ReplyLength = 0;
    const std::string longBad = Stx + "000032ABCD" + "00\r";
    Script({Answer(longBad), Answer(Ack)});
    EXPECT_EQ(0, SendRecvLoop(&data));
    EXPECT_EQ(10, data.ReplyLength);
    EXPECT_EQ(Ack, Received());
    ASSERT_EQ(2u, Logged().size()) << LogText();
}

struct ReplyCase {
    const char *name;
    std::string reply;
    uint16_t expected;  // ReplyLength on entry
    uint16_t result;
    std::vector<LogLine> log; // of the one attempt
};

// One attempt's verdict on one reply. Refused replies are scripted three
// times, so the verdict shows on every attempt.
class ReplyTests : public Transaction {
protected:
    void Run(const std::vector<ReplyCase> &cases) {
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            SetUp();
            data.ReplyLength = c.expected;
            std::vector<LogLine> expected = c.log;
            if (c.result == 0) {
                Script({Answer(c.reply)});
            } else {
                Script({Answer(c.reply), Answer(c.reply), Answer(c.reply)});
                std::vector<LogLine> three = c.log;
                three.push_back(Retry1);
                three.insert(three.end(), c.log.begin(), c.log.end());
                three.push_back(Retry2);
                three.insert(three.end(), c.log.begin(), c.log.end());
                expected = three;
            }
            EXPECT_EQ(c.result, SendRecvLoop(&data));
            EXPECT_EQ(expected, Logged()) << LogText();
            if (c.result == 0) {
                EXPECT_EQ(c.reply, Received());
            }
        }
    }
};

// A body whose checksum is the given value, made so by its first unused character.
std::string BodyWithSum(unsigned sum) {
    std::string body = "?00032";
    body[0] = static_cast<char>((sum - Sum(body.substr(1))) & 0xFF);
    return body;
}

TEST_F(ReplyTests, LengthAndChecksumTests) {
    const std::string body = "000032";
    const std::string computed = Hex2(Sum(body));
    const std::string sum05 = BodyWithSum(0x05);
    const std::vector<ReplyCase> cases = {
        {"three bytes up to the CR are too short", "AB\r", 0, 1, {{8, "ZIROD> SendRecvLoop() Wrong length for message reply (3)"}}},
        {"four bytes up to the CR pass the length test", std::string("\x02\x00" "0\r", 4), 0, 1,
         {{8, "ZIROD> SendRecvLoop() CheckSum error (100 <> 00)"}}},
        {"wrong checksum shows received then computed", Stx + body + "94\r", 10, 1,
         {{8, "ZIROD> SendRecvLoop() CheckSum error (94 <> " + computed + ")"}}},
        {"lower-case digits are accepted", Reply(BodyWithSum(0xAB)).substr(0, 7) + "ab\r", 10, 0, {}},
        {"non-hexadecimal checksum characters are never accepted", Stx + body + "G3\r", 10, 1,
         {{8, "ZIROD> SendRecvLoop() CheckSum error (100 <> " + computed + ")"}}},
        {"a single digit after a blank is no checksum", Stx + sum05 + " 5\r", 10, 1,
         {{8, "ZIROD> SendRecvLoop() CheckSum error (100 <> 05)"}}},
        {"a single digit before a blank is no checksum", Stx + sum05 + "5 \r", 10, 1,
         {{8, "ZIROD> SendRecvLoop() CheckSum error (100 <> 05)"}}},
        {"a sign is no digit", Stx + sum05 + "+5\r", 10, 1, {{8, "ZIROD> SendRecvLoop() CheckSum error (100 <> 05)"}}},
        {"the same reply with two digits is accepted", Stx + sum05 + "05\r", 10, 0, {}},
        {"a NAK reply is refused before its length and checksum", "\x15" "\r", 0, 1, {Nak}},
    };
    Run(cases);
}

TEST_F(ReplyTests, AcceptanceNeedsAnyOneOfItsConditions) {
    // Every reply here carries a correct checksum; 'X' and 'Y' stand for a
    // first byte that is no STX and a last byte that is no CR.
    const std::vector<ReplyCase> cases = {
        {"STX first, even without the echo", Reply("000099"), 10, 0, {}},
        {"CR last without STX", Reply("000032", 'X'), 10, 0, {}},
        {"byte 1 NUL", Reply(std::string("\0" "00099", 6), 'X', 'Y'), 10, 0, {}},
        {"byte 2 NUL", Reply(std::string("0\0" "0099", 6), 'X', 'Y'), 10, 0, {}},
        {"station and command echoed", Reply("000032", 'X', 'Y'), 10, 0, {}},
        {"none of them", Reply("000033", 'X', 'Y'), 10, 1, {WrongReply}},
        {"station differs", Reply("000132", 'X', 'Y'), 10, 1, {WrongReply}},
        {"echo with data behind it", Reply("0000321234", 'X', 'Y'), 14, 0, {}},
    };
    Run(cases);
}

} // namespace
