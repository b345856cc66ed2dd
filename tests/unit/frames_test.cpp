// frames_test.cpp - request frames and the checksum.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "address/parser.h"
#include "entry/driver_data.h"
#include "entry/log.h"
#include "log_capture.h"
#include "protocol/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t Fill = 0xEE;

constexpr uint32_t TypeOf(char first, char second) {
    return static_cast<uint8_t>(first) | (static_cast<uint32_t>(static_cast<uint8_t>(second)) << 8);
}

// "\x02" + text + "\r" as bytes.
Bytes Frame(const std::string &text) {
    Bytes b{STX};
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(CR);
    return b;
}

std::string Hex(const Bytes &bytes) {
    std::string out;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X ", unsigned{b});
        out += two;
    }
    return out;
}

class Frames : public ::testing::Test {
protected:
    void SetUp() override {
        send.fill(Fill);
        recv.fill(Fill);
        std::memset(&data, 0, sizeof data);
        data.SendBuffer = send.data();
        data.RecvBuffer = recv.data();
        data.SendLength = 0x7777;
        data.ReplyLength = 0x6666;
        value.Unused0 = 0;
        value.Value = 0;
        tag = TagRecord{};
        tag.AddressText = "WM0150";
        tag.TagAddress = TagAddress{0, TypeOf('W', 'M'), 0x0150, -1, 16};
        tag.Count = 1;
        tag.ValueCell = &value;
        block = CallBlock{};
        block.Data = &data;
        block.Function = KIV_SINGLE_READ;
        block.Params = &tag;
        ClearLog();
    }

    // Also refills SendBuffer, so that each frame shows what it wrote.
    void SetTag(const char *text, char first, char second, uint32_t address) {
        send.fill(Fill);
        tag.AddressText = text;
        tag.TagAddress = TagAddress{0, TypeOf(first, second), address, -1, first == 'B' ? 1u : 16u};
    }

    // The frame in SendBuffer as SendLength counts it.
    Bytes Sent() const { return Bytes(send.begin(), send.begin() + data.SendLength); }

    // The frame is followed by the formatting's NUL, and nothing else is written.
    void ExpectFrame(const Bytes &expected) {
        ASSERT_EQ(expected.size(), data.SendLength);
        EXPECT_EQ(Hex(expected), Hex(Sent()));
        EXPECT_EQ(0, send[data.SendLength]) << "NUL after the CR";
        for (size_t i = data.SendLength + 1; i < send.size(); ++i) EXPECT_EQ(Fill, send[i]) << "byte " << i;
        for (uint8_t b : Sent()) EXPECT_FALSE(b >= 'a' && b <= 'f') << "lower-case hex digit";
        EXPECT_EQ(0x6666, data.ReplyLength) << "the builders leave ReplyLength to their callers";
    }

    std::array<uint8_t, SEND_BUFFER_SIZE> send{};
    std::array<uint8_t, RECV_BUFFER_SIZE> recv{};
    DriverData data{};
    TagValue value{};
    TagRecord tag{};
    CallBlock block{};
};

// The worked frames of the protocol, byte for byte.
const Bytes CpuStartFrame{0x02, 0x30, 0x30, 0x31, 0x32, 0x43, 0x33, 0x0D};
const Bytes BitSetupFrame{0x02, 0x30, 0x30, 0x33, 0x32, 0x30, 0x30, 0x30, 0x30,
                          0x30, 0x31, 0x30, 0x30, 0x41, 0x30, 0x42, 0x37, 0x0D};
const Bytes WordSetupFrame{0x02, 0x30, 0x30, 0x33, 0x32, 0x30, 0x30, 0x30, 0x30, 0x30, 0x32,
                           0x30, 0x31, 0x35, 0x30, 0x30, 0x31, 0x35, 0x31, 0x37, 0x34, 0x0D};
const Bytes FetchFrame{0x02, 0x30, 0x30, 0x33, 0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x32,
                       0x30, 0x31, 0x35, 0x30, 0x30, 0x31, 0x35, 0x31, 0x37, 0x35, 0x0D};
const Bytes BitWriteFrame{0x02, 0x30, 0x30, 0x34, 0x30, 0x30, 0x30, 0x41, 0x30, 0x38, 0x30, 0x46, 0x44, 0x0D};
const Bytes WordWriteFrame{0x02, 0x30, 0x30, 0x34, 0x31, 0x30, 0x31, 0x35,
                           0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x35, 0x0D};

} // namespace

TEST(CheckSum, ZeroBytesGiveZero) {
    EXPECT_EQ(0, CheckSum(nullptr, 0));
    const uint8_t some[] = {0xFF};
    EXPECT_EQ(0, CheckSum(some, 0));
}

TEST(CheckSum, KeepsTheLowEightBits) {
    const uint8_t twoFF[] = {0xFF, 0xFF};
    EXPECT_EQ(0xFE, CheckSum(twoFF, 2));
    const uint8_t cpuStart[] = {'0', '0', '1', '2'};
    EXPECT_EQ(0xC3, CheckSum(cpuStart, 4));
    const std::vector<uint8_t> many(300, 0x01);
    EXPECT_EQ(300 % 256, CheckSum(many.data(), 300));
    const std::vector<uint8_t> exact(256, 0x01);
    EXPECT_EQ(0, CheckSum(exact.data(), 256));
    const std::vector<uint8_t> big(65535, 0xFF); // the largest count
    EXPECT_EQ((65535u * 0xFFu) & 0xFFu, CheckSum(big.data(), 65535));
}

TEST(CheckSum, OfWorkedFrames) {
    EXPECT_EQ(0xB7, CheckSum(BitSetupFrame.data() + 1, 14));
    EXPECT_EQ(0x74, CheckSum(WordSetupFrame.data() + 1, 18));
    EXPECT_EQ(0x75, CheckSum(FetchFrame.data() + 1, 18));
    EXPECT_EQ(0xFD, CheckSum(BitWriteFrame.data() + 1, 10));
    EXPECT_EQ(0x55, CheckSum(WordWriteFrame.data() + 1, 12));
}

TEST_F(Frames, CpuStartRequest) {
    BuildCpuStartRequest(&data);
    ExpectFrame(CpuStartFrame);
    EXPECT_EQ(8, data.SendLength);
    EXPECT_TRUE(Logged().empty()) << LogText();
}

TEST_F(Frames, AppendCheckSumClosesAFrame) {
    send[0] = STX;
    std::memcpy(send.data() + 1, "0012", 4);
    data.SendLength = 5;
    AppendCheckSum(&data);
    ExpectFrame(CpuStartFrame);
}

TEST_F(Frames, AppendCheckSumRefusesALengthWithoutRoom) {
    data.SendLength = SEND_BUFFER_SIZE - 3; // two digits and CR would fit, the NUL not
    AppendCheckSum(&data);
    EXPECT_EQ(0, data.SendLength);
    for (uint8_t b : send) EXPECT_EQ(Fill, b);
    data.SendLength = 0;
    AppendCheckSum(&data);
    EXPECT_EQ(0, data.SendLength);
    for (uint8_t b : send) EXPECT_EQ(Fill, b);
}

TEST_F(Frames, BitSetupRequest) {
    SetTag("BY00A0", 'B', 'Y', 0x00A0);
    EXPECT_TRUE(BuildReadRequest(&block));
    ExpectFrame(BitSetupFrame);
    EXPECT_EQ(18, data.SendLength);
    EXPECT_TRUE(Logged().empty()) << LogText();
}

TEST_F(Frames, WordSetupRequest) {
    SetTag("WM0150", 'W', 'M', 0x0150);
    EXPECT_TRUE(BuildReadRequest(&block));
    ExpectFrame(WordSetupFrame);
    EXPECT_EQ(22, data.SendLength);
}

TEST_F(Frames, TimerCounterTagIsReadAsWord) {
    SetTag("TC0400", 'T', 'C', 0x0400);
    EXPECT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("003200000204000401" "70"));
}

TEST_F(Frames, FetchFrameIsTheSetupFrameWithCommand33AndItsChecksum) {
    // The in-place change belongs to the read sequence; here: the worked
    // fetch frame is the built set-up frame with command 33 and the
    // checksum of that changed frame, which is the set-up checksum plus one.
    SetTag("WM0150", 'W', 'M', 0x0150);
    ASSERT_TRUE(BuildReadRequest(&block));
    Bytes fetch = Sent();
    ASSERT_EQ('2', fetch[4]);
    fetch[4] = '3';
    const uint16_t sum = CheckSum(fetch.data() + 1, static_cast<uint16_t>(fetch.size() - 4));
    EXPECT_EQ((CheckSum(send.data() + 1, 18) + 1) & 0xFF, sum);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02X", unsigned{sum});
    fetch[fetch.size() - 3] = static_cast<uint8_t>(digits[0]);
    fetch[fetch.size() - 2] = static_cast<uint8_t>(digits[1]);
    EXPECT_EQ(Hex(FetchFrame), Hex(fetch));
}

TEST_F(Frames, BitWriteRequest) {
    SetTag("BY00A0", 'B', 'Y', 0x00A0);
    value.Value = 0x1234; // not used for a bit tag
    EXPECT_TRUE(BuildWriteReq(&block, 0x80));
    ExpectFrame(BitWriteFrame);
    EXPECT_EQ(14, data.SendLength);
    EXPECT_TRUE(Logged().empty()) << LogText();
}

TEST_F(Frames, BitWriteOfZeroByte) {
    SetTag("BM0150", 'B', 'M', 0x0150);
    EXPECT_TRUE(BuildWriteReq(&block, 0x00));
    ExpectFrame(Frame("0040015000" "EA"));
    EXPECT_TRUE(BuildWriteReq(&block, 0xFF));
    ExpectFrame(Frame("00400150FF" "16"));
}

TEST_F(Frames, WordWriteRequest) {
    SetTag("WM0150", 'W', 'M', 0x0150);
    value.Value = 0x1234;
    EXPECT_TRUE(BuildWriteReq(&block, 0x80)); // the data byte is not used for a W tag
    ExpectFrame(WordWriteFrame);
    EXPECT_EQ(16, data.SendLength);
    EXPECT_EQ(0x1234, value.Value);
}

TEST_F(Frames, WordWriteDigitsAreFixedWidthUpperCase) {
    SetTag("WY00A0", 'W', 'Y', 0x00A0);
    value.Value = 0x00FF;
    ASSERT_TRUE(BuildWriteReq(&block, 0));
    ExpectFrame(Frame("004100A000FF" "82"));
    value.Value = 0;
    ASSERT_TRUE(BuildWriteReq(&block, 0));
    ExpectFrame(Frame("004100A00000" "56"));
    value.Value = 0xABCD;
    ASSERT_TRUE(BuildWriteReq(&block, 0));
    ExpectFrame(Frame("004100A0ABCD" "A0"));
}

TEST_F(Frames, HighestAcceptedAddressesKeepFourDigits) {
    SetTag("WM035F", 'W', 'M', 0x035F);
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("0032000002035F0360" "8E"));
    EXPECT_EQ(22, data.SendLength);
    SetTag("TC057E", 'T', 'C', 0x057E);
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("0032000002057E057F" "AA"));
    EXPECT_EQ(22, data.SendLength);
}

TEST_F(Frames, ParsedAddressBuildsItsFrame) {
    ParseRecord record{};
    record.AddressText = "wm0150";
    record.Kind = KIV_KIND_ANALOG_1;
    CallBlock parse{};
    parse.Params = &record;
    ASSERT_EQ(KIV_DONE, SingleParse(&parse));
    tag.AddressText = record.AddressText;
    tag.TagAddress = record.TagAddress;
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(WordSetupFrame);
}

TEST_F(Frames, AddressesAreMaskedToSixteenBits) {
    // Words the parser never writes: the frame still has four digits per address.
    SetTag("WM????", 'W', 'M', 0xFFFF);
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("0032000002FFFF0000" "BF"));
    SetTag("WM????", 'W', 'M', 0x12345);
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("003200000223452346" "84"));
    SetTag("BM????", 'B', 'M', 0xFFFFFFFF);
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("0032000001FFFF" "FE"));
    SetTag("WM????", 'W', 'M', 0xFFFFFFFF);
    ASSERT_TRUE(BuildReadRequest(&block));
    ExpectFrame(Frame("0032000002FFFF0000" "BF"));
    value.Value = 0;
    SetTag("WM????", 'W', 'M', 0xA5A5A5A5);
    ASSERT_TRUE(BuildWriteReq(&block, 0));
    ExpectFrame(Frame("0041A5A50000" "71"));
}

TEST_F(Frames, ReadBuilderInternalError) {
    SetTag("BX0010", 'B', 'X', 0x0010);
    ASSERT_TRUE(BuildReadRequest(&block));
    ASSERT_EQ(18, data.SendLength);
    SetTag("XX0010", 'X', 'X', 0x0010);
    ClearLog();
    EXPECT_FALSE(BuildReadRequest(&block));
    EXPECT_EQ(0, data.SendLength);
    ASSERT_EQ(1u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('XX0010')"}), Logged()[0]);
    // Lower-case letters are not the parser's either.
    tag.TagAddress.Type = TypeOf('w', 'M');
    ClearLog();
    EXPECT_FALSE(BuildReadRequest(&block));
    EXPECT_EQ(0, data.SendLength);
    EXPECT_EQ(1u, Logged().size()) << LogText();
}

TEST_F(Frames, WriteBuilderInternalError) {
    SetTag("WM0150", 'W', 'M', 0x0150);
    ASSERT_TRUE(BuildWriteReq(&block, 0));
    ASSERT_EQ(16, data.SendLength);
    SetTag("XM0150", 'X', 'M', 0x0150);
    ClearLog();
    EXPECT_FALSE(BuildWriteReq(&block, 0x80));
    EXPECT_EQ(0, data.SendLength);
    ASSERT_EQ(1u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('XM0150')"}), Logged()[0]);
    // T tags are read, never written.
    SetTag("TC0400", 'T', 'C', 0x0400);
    ClearLog();
    EXPECT_FALSE(BuildWriteReq(&block, 0));
    EXPECT_EQ(0, data.SendLength);
    ASSERT_EQ(1u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('TC0400')"}), Logged()[0]);
}

TEST_F(Frames, WordWriteWithoutValueCellIsAnInternalError) {
    SetTag("WM0150", 'W', 'M', 0x0150);
    tag.ValueCell = nullptr;
    EXPECT_FALSE(BuildWriteReq(&block, 0));
    EXPECT_EQ(0, data.SendLength);
    ASSERT_EQ(1u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('WM0150')"}), Logged()[0]);
}

TEST_F(Frames, MissingRecordsAreAnInternalError) {
    block.Params = nullptr;
    EXPECT_FALSE(BuildReadRequest(&block));
    EXPECT_EQ(0, data.SendLength);
    data.SendLength = 0x7777;
    EXPECT_FALSE(BuildWriteReq(&block, 0));
    EXPECT_EQ(0, data.SendLength);
    block.Params = &tag;
    data.SendBuffer = nullptr;
    EXPECT_FALSE(BuildReadRequest(&block));
    EXPECT_EQ(0, data.SendLength);
    ASSERT_EQ(3u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('')"}), Logged()[0]);
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> BuilReadRequest() Internal driver error ('WM0150')"}), Logged()[2]);
}
