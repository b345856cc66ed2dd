// read_write_test.cpp - SingleRead and SingleWrite against a scripted
// controller on the fake platform: the frames on the line, the values stored,
// the results and the log lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "entry/driver_data.h"
#include "fake_platform.h"
#include "driver_fixture.h"
#include "log_capture.h"
#include "protocol/frames.h"
#include "protocol/read_write.h"

namespace {

const std::string Stx(1, '\x02');

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

unsigned Sum(const std::string &bytes) {
    unsigned sum = 0;
    for (unsigned char c : bytes) sum += c;
    return sum & 0xFF;
}

// STX, the characters, their checksum, CR.
std::string Framed(const std::string &body) { return Stx + body + Hex2(Sum(body)) + "\r"; }

std::string Repeat(const std::string &text, unsigned times) {
    std::string out;
    for (unsigned i = 0; i < times; i++) out += text;
    return out;
}

constexpr uint32_t TypeOf(char first, char second) {
    return static_cast<uint8_t>(first) | (static_cast<uint32_t>(static_cast<uint8_t>(second)) << 8);
}

const std::string CpuStartFrame = Stx + "0012C3\r";

// A controller on the fake port: it checks each request's checksum, echoes
// station and command in a ten-byte acknowledgement, and answers a fetch
// request with fetchData. Commands in nak are answered with a NAK reply,
// commands in silent not at all.
struct Controller {
    std::string fetchData = "1234";
    std::set<std::string> nak, silent;
    std::vector<std::string> frames;         // requests in order
    std::vector<uint16_t> replyLengths;      // ReplyLength when each request went out
    std::vector<uint32_t> types, functions;  // the tag's Type and the call's Function then
};

class ReadWrite : public DriverOnFakePort {
protected:
    void SetUp() override {
        DriverOnFakePort::SetUp();
        value = TagValue{0, 0xBEEF};
        SetTag("WM0150");
        block = CallBlock{};
        block.Data = &data;
        block.Function = KIV_SINGLE_READ;
        block.Params = &tag;
        controller = Controller{};
        port->onWrite = [this](const std::vector<uint8_t> &bytes) { Answer(std::string(bytes.begin(), bytes.end())); };
        fake::ClearJournal();
    }

    // A tag as the parser leaves it: type letters, hexadecimal address, Bit -1.
    void SetTag(const char *text) {
        tag = TagRecord{};
        tag.AddressText = text;
        const uint32_t address = static_cast<uint32_t>(std::stoul(std::string(text + 2), nullptr, 16));
        tag.TagAddress = TagAddress{0, TypeOf(text[0], text[1]), address, -1, text[0] == 'B' ? 1u : 16u};
        tag.Count = 1;
        tag.ValueCell = &value;
    }

    void Answer(const std::string &frame) {
        controller.frames.push_back(frame);
        controller.replyLengths.push_back(data.ReplyLength);
        controller.types.push_back(tag.TagAddress.Type);
        controller.functions.push_back(block.Function);
        ASSERT_GE(frame.size(), 8u);
        const std::string body = frame.substr(1, frame.size() - 4);
        EXPECT_EQ(Hex2(Sum(body)), frame.substr(frame.size() - 3, 2)) << "request checksum of " << frame;
        const std::string command = frame.substr(3, 2);
        if (controller.silent.count(command)) return;
        if (controller.nak.count(command)) {
            // As long as the reply expected, so that it is read whole.
            std::string reply = "\x15" "0000" + command;
            reply.resize(data.ReplyLength > 10 ? data.ReplyLength - 3 : 7, '0');
            port->Arrive(reply + "00\r");
            return;
        }
        port->Arrive(Framed("0000" + command + (command == "33" ? controller.fetchData : "")));
    }

    uint16_t Read() {
        block.Function = KIV_SINGLE_READ;
        return SingleRead(&block);
    }

    uint16_t Write(uint16_t newValue) {
        block.Function = KIV_SINGLE_WRITE;
        value.Value = newValue;
        return SingleWrite(&block);
    }

    TagRecord tag;
    TagValue value;
    CallBlock block;
    Controller controller;
};

// ---- Reads --------------------------------------------------------------

TEST_F(ReadWrite, FirstReadStartsTheCpuThenSetsUpAndFetchesLaterReadsDoNot) {
    controller.fetchData = "1234";
    EXPECT_EQ(0, Read());
    EXPECT_EQ((std::vector<std::string>{CpuStartFrame, Stx + "00320000020150015174\r", Stx + "00330000020150015175\r"}),
              controller.frames);
    EXPECT_EQ((std::vector<uint16_t>{10, 10, 14}), controller.replyLengths);
    EXPECT_EQ(1, data.CpuStarted);
    EXPECT_EQ(&block, data.Current);
    EXPECT_EQ(0x1234, value.Value);
    EXPECT_TRUE(Logged().empty()) << LogText();

    controller = Controller{};
    controller.fetchData = "ABCD";
    EXPECT_EQ(0, Read());
    EXPECT_EQ((std::vector<std::string>{Stx + "00320000020150015174\r", Stx + "00330000020150015175\r"}), controller.frames);
    EXPECT_EQ(0xABCD, value.Value);
}

struct FrameCase {
    const char *tag;
    std::string setup, fetch;
    uint16_t fetchLength;
};

TEST_F(ReadWrite, SetUpAndFetchFramesByTagType) {
    const std::vector<FrameCase> cases = {
        {"BY00A0", Stx + "0032000001" "00A0" "B7\r", Stx + "0033000001" "00A0" "B8\r", 12},
        {"WM0150", Stx + "0032000002" "0150" "0151" "74\r", Stx + "0033000002" "0150" "0151" "75\r", 14},
        {"TC0400", Framed("0032000002" "0400" "0401"), Framed("0033000002" "0400" "0401"), 14},
        {"BX0010", Framed("0032000001" "0010"), Framed("0033000001" "0010"), 12},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        SetUp();
        SetTag(c.tag);
        data.CpuStarted = 1;
        controller.fetchData = c.tag[0] == 'B' ? "80" : "1234";
        EXPECT_EQ(0, Read());
        EXPECT_EQ((std::vector<std::string>{c.setup, c.fetch}), controller.frames);
        EXPECT_EQ((std::vector<uint16_t>{10, c.fetchLength}), controller.replyLengths);
    }
}

struct ValueCase {
    const char *tag;
    int32_t bit;
    std::string data;
    uint16_t value;
};

TEST_F(ReadWrite, ValuesOfBitTagsWordTagsAndSingleBitsOfWords) {
    const std::vector<ValueCase> cases = {
        {"BM0150", -1, "80", 1}, {"BM0150", -1, "FF", 1}, {"BM0150", -1, "7F", 0}, {"BM0150", -1, "00", 0},
        {"BM0150", -1, "c0", 1},   // lower-case data digits convert too
        {"WM0150", -1, "1234", 0x1234}, {"WM0150", -1, "0000", 0}, {"WM0150", -1, "FFFF", 0xFFFF},
        {"TC0400", -1, "00FF", 0x00FF},
        {"WM0150", 4, "1234", 1}, {"WM0150", 0, "1234", 0}, {"WM0150", 12, "1234", 1}, {"WM0150", 15, "8000", 1},
        {"WM0150", 20, "FFFF", 0},  // bits 16 to 31 of a 16-bit value read 0
        {"WM0150", 36, "1234", 1},  // the count is taken modulo 32: bit 4
        {"TC0400", 2, "0004", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.tag) + " bit " + std::to_string(c.bit) + " data " + c.data);
        SetUp();
        SetTag(c.tag);
        tag.TagAddress.Bit = c.bit;
        data.CpuStarted = 1;
        controller.fetchData = c.data;
        EXPECT_EQ(0, Read());
        EXPECT_EQ(c.value, value.Value);
    }
}

TEST_F(ReadWrite, DataThatIsNoHexadecimalNumberLeavesTheValueBeforeItsReduction) {
    SetTag("WM0150");
    data.CpuStarted = 1;
    controller.fetchData = "ZZZZ";
    value.Value = 0x0777;
    EXPECT_EQ(0, Read());
    EXPECT_EQ(0x0777, value.Value);

    SetTag("BM0150");
    controller.fetchData = "G0";
    value.Value = 0x0090;
    EXPECT_EQ(0, Read());
    EXPECT_EQ(1, value.Value);
}

TEST_F(ReadWrite, DebugLineBeforeStoringOnlyWithDebugFlag) {
    data.CpuStarted = 1;
    data.DebugFlag = 1;
    EXPECT_EQ(0, Read());
    EXPECT_EQ((std::vector<LogLine>{{8, "ZIROD> DoRead() calling StoreData()"}}), Logged()) << LogText();
}

// The two checksum characters of the set-up frame grow by one in place, with
// a carry from the last into the first. (Set-up frames of four-digit
// addresses never have the checksums 39 and 3F; the next test has them.)
TEST_F(ReadWrite, FetchChecksumIsTheSetUpChecksumRaisedByOne) {
    for (unsigned checksum : {0xAEu, 0xAFu, 0x9Fu, 0xEFu, 0xFFu, 0x08u}) {
        SCOPED_TRACE(Hex2(checksum));
        // Find a bit tag, else a word tag, whose set-up request has this checksum.
        std::string text;
        char body[32];
        for (int a = 0; a <= 0xFFFE && text.empty(); a++) {
            std::snprintf(body, sizeof body, "0032000001%04X", a);
            if (Sum(body) == checksum) text = "BM" + std::string(body + 10);
        }
        for (int a = 0; a <= 0xFFFE && text.empty(); a++) {
            std::snprintf(body, sizeof body, "0032000002%04X%04X", a, a + 1);
            if (Sum(body) == checksum) text = "WM" + std::string(body + 10, 4);
        }
        ASSERT_FALSE(text.empty());
        SetUp();
        SetTag(text.c_str());
        data.CpuStarted = 1;
        controller.fetchData = text[0] == 'B' ? "00" : "0000";
        EXPECT_EQ(0, Read());
        ASSERT_EQ(2u, controller.frames.size());
        const std::string &setup = controller.frames[0], &fetch = controller.frames[1];
        EXPECT_EQ(Hex2(checksum), setup.substr(setup.size() - 3, 2));
        EXPECT_EQ(Hex2(checksum + 1), fetch.substr(fetch.size() - 3, 2));
        EXPECT_EQ(setup.size(), fetch.size());
    }
}

TEST_F(ReadWrite, ChecksumCharactersAreRaisedByTheirCharacterCodes) {
    // Characters that never stand there are still raised by a fixed rule:
    // anything below 9 grows by one, anything between 9 and A or above F
    // counts as F.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"39", "3A"}, {"3F", "40"}, {"AE", "AF"}, {"FF", "00"}, {"09", "0A"}, {"9F", "A0"}, {"EF", "F0"},
        {"0 ", "0!"}, {"0:", "10"}, {"0a", "10"}, {"a0", "a1"}, {"aF", "00"}, {":F", "00"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        const std::string setup = Stx + "0032000001" "00A0" + c.first + "\r";
        std::memcpy(data.SendBuffer, setup.data(), setup.size());
        data.SendLength = static_cast<uint16_t>(setup.size());
        MakeFetchRequest(&data);
        EXPECT_EQ(Stx + "0033000001" "00A0" + c.second + "\r", std::string(sendBuffer.begin(), sendBuffer.begin() + 18));
        EXPECT_EQ(18, data.SendLength);
    }
}

struct CountCase {
    const char *tag;
    uint32_t count;
    bool accepted;
    uint16_t fetchLength;
};

TEST_F(ReadWrite, CountScalesTheFetchReplyWithinTheReceiveBuffer) {
    const std::vector<CountCase> cases = {
        {"BM0150", 1, true, 12},  {"BM0150", 3, true, 16},   {"BM0150", 59, true, 128}, {"BM0150", 60, false, 0},
        {"WM0150", 3, true, 22},  {"WM0150", 29, true, 126}, {"WM0150", 30, false, 0},  {"TC0400", 30, false, 0},
        {"WM0150", 0, false, 0},  {"BM0150", 0, false, 0},   {"WM0150", 0x40000001u, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.tag) + " Count " + std::to_string(c.count));
        SetUp();
        SetTag(c.tag);
        tag.Count = c.count;
        const bool bit = c.tag[0] == 'B';
        controller.fetchData = Repeat(bit ? "80" : "1234", c.count > 59 ? 0 : c.count);
        if (c.accepted) {
            EXPECT_EQ(0, Read());
            ASSERT_EQ(3u, controller.replyLengths.size());
            EXPECT_EQ(c.fetchLength, controller.replyLengths[2]);
            EXPECT_EQ(bit ? 1 : 0x1234, value.Value);
        } else {
            EXPECT_EQ(1, Read());
            EXPECT_EQ("", fake::Journal()) << "nothing may be sent";
            const std::string text = std::string("'") + c.tag + "'";
            EXPECT_EQ((std::vector<LogLine>{
                          {8, "ZIROD> DoRead() Count " + std::to_string(c.count) + " out of range for tag " + text},
                          {8, "ZIROD> SingleRead(), rc=1 for tag " + text}}),
                      Logged())
                << LogText();
            EXPECT_EQ(0xBEEF, value.Value);
        }
    }
}

TEST_F(ReadWrite, ReadWithoutOpenPortIsRefusedSilentlyBeforeTheHandlersLine) {
    data.ComHandle = 0;
    EXPECT_EQ(1, Read());
    EXPECT_EQ((std::vector<LogLine>{{8, "ZIROD> SingleRead(), rc=1 for tag 'WM0150'"}}), Logged()) << LogText();
    EXPECT_EQ("", fake::Journal());
    EXPECT_EQ(nullptr, data.Current);
}

struct ReadFailureCase {
    const char *name;
    std::set<std::string> nak, silent;
    uint8_t cpuStarted;
    uint16_t result;
    std::vector<std::string> commands; // the commands sent, in order
    std::vector<LogLine> tail;         // the last log lines
    uint8_t cpuStartedAfter;
};

TEST_F(ReadWrite, FailedExchangesEndTheReadWithTheirResultAndStoreNothing) {
    const LogLine cpuFailed{8, "ZIROD> DoRead() CPU start failed"};
    const std::vector<ReadFailureCase> cases = {
        {"CPU start refused", {"12"}, {}, 0, 1, {"12", "12", "12"},
         {{8, "ZIROD> SendRecvLoop() 'WM0150', Retry 2, TLen 8"}, {8, "ZIROD> SendRecvLoop() NAK received"}, cpuFailed,
          {8, "ZIROD> SingleRead(), rc=1 for tag 'WM0150'"}},
         0},
        {"CPU start unanswered", {}, {"12"}, 0, 2, {"12", "12", "12"},
         {{8, "ZIROD> SendRecvLoop() Read reply error"}, cpuFailed, {8, "ZIROD> SingleRead(), rc=2 for tag 'WM0150'"}}, 0},
        {"set-up refused: no fetch", {"32"}, {}, 1, 1, {"32", "32", "32"},
         {{8, "ZIROD> SendRecvLoop() NAK received"}, {8, "ZIROD> SingleRead(), rc=1 for tag 'WM0150'"}}, 1},
        {"fetch unanswered", {}, {"33"}, 0, 2, {"12", "32", "33", "33", "33"},
         {{8, "ZIROD> SendRecvLoop() 'WM0150', Retry 2, TLen 22"}, {8, "ZIROD> Receive() Nothing replied (7)"},
          {8, "ZIROD> SendRecvLoop() Read reply error"}, {8, "ZIROD> SingleRead(), rc=2 for tag 'WM0150'"}},
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        data.CpuStarted = c.cpuStarted;
        controller.nak = c.nak;
        controller.silent = c.silent;
        EXPECT_EQ(c.result, Read());
        std::vector<std::string> commands;
        for (const auto &f : controller.frames) commands.push_back(f.substr(3, 2));
        EXPECT_EQ(c.commands, commands);
        ASSERT_GE(Logged().size(), c.tail.size()) << LogText();
        EXPECT_EQ(c.tail, std::vector<LogLine>(Logged().end() - static_cast<long>(c.tail.size()), Logged().end())) << LogText();
        EXPECT_EQ(c.cpuStartedAfter, data.CpuStarted);
        EXPECT_EQ(0xBEEF, value.Value);
    }
}

TEST_F(ReadWrite, FailedCpuStartIsTriedAgainByTheNextRead) {
    controller.nak = {"12"};
    EXPECT_EQ(1, Read());
    controller = Controller{};
    EXPECT_EQ(0, Read());
    EXPECT_EQ("12", controller.frames.at(0).substr(3, 2));
    EXPECT_EQ(1, data.CpuStarted);
}

// ---- Writes -------------------------------------------------------------

struct WriteCase {
    const char *tag;
    uint16_t value;
    std::string frame;
};

TEST_F(ReadWrite, WordWritesAndBitWritesWithTheFixedDataByte) {
    const std::vector<WriteCase> cases = {
        {"WY00A0", 0x00FF, Framed("0041" "00A0" "00FF")},
        {"WM0150", 0x1234, Stx + "0041" "0150" "1234" "55\r"},
        {"BY00A0", 5, Framed("0040" "00A0" "80")},
        {"BM00A0", 1, Stx + "0040" "00A0" "80" "FD\r"},
        {"BM00A0", 0, Framed("0040" "00A0" "00")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        SetUp();
        SetTag(c.tag);
        EXPECT_EQ(0, Write(c.value));
        EXPECT_EQ((std::vector<std::string>{CpuStartFrame, c.frame}), controller.frames);
        EXPECT_EQ((std::vector<uint16_t>{10, 10}), controller.replyLengths);
        EXPECT_EQ(c.value, value.Value);
        EXPECT_TRUE(Logged().empty()) << LogText();
    }
}

struct ReadModifyWriteCase {
    uint16_t value;
    std::string word;
    std::string dataByte;
};

TEST_F(ReadWrite, BitWriteWithUsageFlagReadsTheWordAndChangesOnlyBit7OfItsHighByte) {
    const std::vector<ReadModifyWriteCase> cases = {
        {1, "5A3C", "DA"}, {0, "5A3C", "5A"}, {0, "DA3C", "5A"}, {1, "DAFF", "DA"}, {7, "0000", "80"}, {0, "FFFF", "7F"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " over " + c.word);
        SetUp();
        SetTag("BY00A0");
        data.CpuStarted = 1;
        data.UsageFlag = 1;
        data.DebugFlag = 1;
        controller.fetchData = c.word;
        EXPECT_EQ(0, Write(c.value));
        EXPECT_EQ((std::vector<std::string>{Framed("0032000002" "00A0" "00A1"), Framed("0033000002" "00A0" "00A1"),
                                            Framed("0040" "00A0" + c.dataByte)}),
                  controller.frames);
        EXPECT_EQ((std::vector<uint16_t>{10, 14, 10}), controller.replyLengths);
        // The nested read poses as a word read of function 5; the write is the host's again.
        const uint32_t byWord = TypeOf('W', 'Y'), byBit = TypeOf('B', 'Y');
        EXPECT_EQ((std::vector<uint32_t>{byWord, byWord, byBit}), controller.types);
        EXPECT_EQ((std::vector<uint32_t>{5, 5, 7}), controller.functions);
        EXPECT_EQ(c.value, value.Value);
        EXPECT_EQ(byBit, tag.TagAddress.Type);
        EXPECT_EQ(7u, block.Function);
        EXPECT_EQ((std::vector<LogLine>{{8, "ZIROD> DoRead() calling StoreData()"},
                                        {8, "ZIROD> BuildWriteReq() WORD read succesful for bit write"}}),
                  Logged())
            << LogText();
    }
}

TEST_F(ReadWrite, FailedWordReadOfABitWriteEndsTheWriteAndRestoresTheCall) {
    SetTag("BM0150");
    data.CpuStarted = 1;
    data.UsageFlag = 1;
    controller.nak = {"33"};
    tag.TagAddress.Type |= 0xAB0000u; // upper bits the host may have left
    EXPECT_EQ(1, Write(1));
    std::vector<std::string> commands;
    for (const auto &f : controller.frames) commands.push_back(f.substr(3, 2));
    EXPECT_EQ((std::vector<std::string>{"32", "33", "33", "33"}), commands);
    ASSERT_GE(Logged().size(), 4u) << LogText();
    EXPECT_EQ((std::vector<LogLine>{{8, "ZIROD> SendRecvLoop() NAK received"},
                                    {8, "ZIROD> SingleRead(), rc=1 for tag 'BM0150'"},
                                    {8, "ZIROD> BuildWriteReq() WORD read for bit write, rc=1"},
                                    {8, "ZIROD> SingleWrite() , rc=1 for tag 'BM0150'"}}),
              std::vector<LogLine>(Logged().end() - 4, Logged().end()))
        << LogText();
    EXPECT_EQ(1, value.Value);
    EXPECT_EQ(TypeOf('B', 'M'), tag.TagAddress.Type);
    EXPECT_EQ(7u, block.Function);
}

TEST_F(ReadWrite, BitWriteWithUsageFlagStartsTheCpuBeforeItsWordRead) {
    SetTag("BY00A0");
    data.UsageFlag = 1;
    controller.fetchData = "5A00";
    EXPECT_EQ(0, Write(1));
    ASSERT_EQ(4u, controller.frames.size());
    EXPECT_EQ(CpuStartFrame, controller.frames[0]);
    EXPECT_EQ(Framed("0040" "00A0" "DA"), controller.frames[3]);
}

TEST_F(ReadWrite, WritesOutsideTheOutputAreasAreRefusedBeforeAnythingIsSent) {
    for (const char *text : {"BX0010", "WX0010", "TC0400", "BT03A0"}) {
        for (bool open : {true, false}) {
            SCOPED_TRACE(std::string(text) + (open ? " port open" : " port closed"));
            SetUp();
            if (!open) data.ComHandle = 0;
            SetTag(text);
            EXPECT_EQ(1, Write(1));
            EXPECT_EQ((std::vector<LogLine>{
                          {8, std::string("ZIROD> BuildWriteRequest() Writing not allowed for this type (") + text + ")"},
                          {8, std::string("ZIROD> SingleWrite() , rc=1 for tag '") + text + "'"}}),
                      Logged())
                << LogText();
            EXPECT_EQ("", fake::Journal());
            EXPECT_EQ(0, data.CpuStarted);
        }
    }
}

struct WriteFailureCase {
    const char *name;
    std::set<std::string> nak, silent;
    uint8_t cpuStarted;
    uint16_t result;
    std::vector<LogLine> tail;
};

TEST_F(ReadWrite, WriteResultsOfClosedPortFailedCpuStartAndRefusedWrite) {
    const std::vector<WriteFailureCase> cases = {
        {"CPU start unanswered", {}, {"12"}, 0, 2,
         {{8, "ZIROD> SendRecvLoop() Read reply error"}, {8, "ZIROD> DoWrite() CPU start failed"},
          {8, "ZIROD> SingleWrite() , rc=2 for tag 'WM0150'"}}},
        {"write refused", {"41"}, {}, 1, 1,
         {{8, "ZIROD> SendRecvLoop() NAK received"}, {8, "ZIROD> SingleWrite() , rc=1 for tag 'WM0150'"}}},
        {"write unanswered", {}, {"41"}, 1, 2,
         {{8, "ZIROD> SendRecvLoop() Read reply error"}, {8, "ZIROD> SingleWrite() , rc=2 for tag 'WM0150'"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        data.CpuStarted = c.cpuStarted;
        controller.nak = c.nak;
        controller.silent = c.silent;
        EXPECT_EQ(c.result, Write(0x1234));
        ASSERT_GE(Logged().size(), c.tail.size()) << LogText();
        EXPECT_EQ(c.tail, std::vector<LogLine>(Logged().end() - static_cast<long>(c.tail.size()), Logged().end())) << LogText();
    }

    SetUp();
    data.ComHandle = 0;
    EXPECT_EQ(1, Write(0x1234));
    EXPECT_EQ((std::vector<LogLine>{{8, "ZIROD> SingleWrite() , rc=1 for tag 'WM0150'"}}), Logged()) << LogText();
    EXPECT_EQ("", fake::Journal());
}

// ---- Internal errors and incomplete calls -------------------------------

TEST_F(ReadWrite, BuilderInternalErrorEndsTheOperationWithTwoAndNothingSent) {
    struct Case {
        const char *name;
        uint32_t type;
        bool write;
    };
    for (const Case &c : {Case{"read of an unknown type letter", TypeOf('Q', 'M'), false},
                          Case{"write of a timer word in an output area", TypeOf('T', 'Y'), true}}) {
        SCOPED_TRACE(c.name);
        SetUp();
        data.CpuStarted = 1;
        tag.TagAddress.Type = c.type;
        EXPECT_EQ(2, c.write ? Write(1) : Read());
        EXPECT_EQ((std::vector<LogLine>{{32, "ZIROD> BuilReadRequest() Internal driver error ('WM0150')"},
                                        {8, std::string(c.write ? "ZIROD> SingleWrite() , rc=2" : "ZIROD> SingleRead(), rc=2") +
                                                " for tag 'WM0150'"}}),
                  Logged())
            << LogText();
        EXPECT_EQ("", fake::Journal());
    }
}

TEST_F(ReadWrite, StoreDataRefusesAnyFunctionButRead) {
    const uint8_t chars[] = {'0', '0', '4', '2'};
    block.Function = KIV_SINGLE_WRITE;
    EXPECT_EQ(2, StoreData(&block, chars));
    EXPECT_EQ((std::vector<LogLine>{{32, "ZIROD> StoreData() Internal driver error 'WM0150'"}}), Logged()) << LogText();
    EXPECT_EQ(0xBEEF, value.Value);

    block.Function = KIV_SINGLE_READ;
    EXPECT_EQ(0, StoreData(&block, chars));
    EXPECT_EQ(0x42, value.Value);
}

TEST_F(ReadWrite, IncompleteCallsAreRefusedWithoutTouchingTheLine) {
    struct Case {
        const char *name;
        bool noRecord, noCell, noData;
        const char *readLine;
        const char *writeLine;
        const char *tagText;
    };
    const std::vector<Case> cases = {
        {"no tag record", true, false, false, "ZIROD> DoRead() No tag record", "ZIROD> DoWrite() No tag record", ""},
        {"no value cell", false, true, false, "ZIROD> DoRead() No value cell for tag 'WM0150'",
         "ZIROD> DoWrite() No value cell for tag 'WM0150'", "WM0150"},
        {"no driver data", false, false, true, "ZIROD> DoRead() No driver data for tag 'WM0150'",
         "ZIROD> DoWrite() No driver data for tag 'WM0150'", "WM0150"},
    };
    for (const auto &c : cases) {
        for (bool write : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (write ? " write" : " read"));
            SetUp();
            if (c.noRecord) block.Params = nullptr;
            if (c.noCell) tag.ValueCell = nullptr;
            if (c.noData) block.Data = nullptr;
            EXPECT_EQ(1, write ? Write(1) : Read());
            const std::string handler = write ? "ZIROD> SingleWrite() , rc=1 for tag '" : "ZIROD> SingleRead(), rc=1 for tag '";
            EXPECT_EQ((std::vector<LogLine>{{8, write ? c.writeLine : c.readLine}, {8, handler + c.tagText + "'"}}), Logged())
                << LogText();
            EXPECT_EQ("", fake::Journal());
        }
    }
}

} // namespace
