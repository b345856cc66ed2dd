// parse_test.cpp - function 3 (SingleAddressParser) through the real shared
// library, before any cold start: the host (driver_host.h) loads
// libdazaraz.so, looks up KivMain and receives the log through libtolvex's
// sink. Parsing must touch no DriverData, so the instance's storage keeps the
// pattern the host filled it with.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver_host.h"

namespace {

constexpr uint8_t StoragePattern = 0xA5; // what itest::Instance fills its storage with
constexpr uint32_t WordPattern = 0xA5A5A5A5u;

constexpr uint32_t TypeOf(char first, char second) {
    return static_cast<uint8_t>(first) | (static_cast<uint32_t>(static_cast<uint8_t>(second)) << 8);
}

ParseRecord Record(const char *text, uint32_t kind) {
    ParseRecord record;
    std::memset(&record, 0, sizeof record);
    record.AddressText = text;
    record.Kind = kind;
    record.TagAddress =
        TagAddress{WordPattern, WordPattern, WordPattern, static_cast<int32_t>(WordPattern), WordPattern};
    return record;
}

class ParseThroughKivMain : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(driver.DataSize(), 0u) << "GetKivInfo answered no DataSize: driver ended?";
        log.Take(); // the GetKivInfo line of the host's loading
        // A wrong function number is still reported: the driver is not ended.
        CallBlock probe{};
        probe.Function = 17;
        ASSERT_EQ(uint32_t{KIV_FAILED}, driver.Call(probe));
        ASSERT_EQ(1u, log.Take().size());
    }

    uint32_t Parse(ParseRecord &record) { return instance.Call(KIV_SINGLE_ADDRESS_PARSER, &record); }

    void ExpectStorageUntouched() {
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(instance.Block().Data);
        const size_t size = driver.DataSize() + 64; // all that itest::Instance provides
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(StoragePattern, bytes[i]) << "DriverData byte " << i;
        EXPECT_TRUE(instance.TailIntact());
        EXPECT_EQ(3u, instance.Block().Instance);
        EXPECT_EQ(uint32_t{KIV_SINGLE_ADDRESS_PARSER}, instance.Block().Function);
    }

    itest::LogSink log;
    itest::Driver driver;
    itest::Instance instance{driver, 3};
};

} // namespace

TEST_F(ParseThroughKivMain, AcceptedAddressesBeforeColdStart) {
    ParseRecord bit = Record("bx0010", KIV_KIND_DIGITAL);
    EXPECT_EQ(uint32_t{KIV_DONE}, Parse(bit));
    EXPECT_EQ(0u, bit.TagAddress.Reserved);
    EXPECT_EQ(TypeOf('B', 'X'), bit.TagAddress.Type);
    EXPECT_EQ(0x0010u, bit.TagAddress.Address);
    EXPECT_EQ(-1, bit.TagAddress.Bit);
    EXPECT_EQ(1u, bit.TagAddress.Width);

    ParseRecord word = Record("WM0150", KIV_KIND_ANALOG_1);
    EXPECT_EQ(uint32_t{KIV_DONE}, Parse(word));
    EXPECT_EQ(0u, word.TagAddress.Reserved);
    EXPECT_EQ(TypeOf('W', 'M'), word.TagAddress.Type);
    EXPECT_EQ(0x0150u, word.TagAddress.Address);
    EXPECT_EQ(-1, word.TagAddress.Bit);
    EXPECT_EQ(16u, word.TagAddress.Width);

    ParseRecord timer = Record("TC057E", KIV_KIND_ANALOG_0);
    EXPECT_EQ(uint32_t{KIV_DONE}, Parse(timer));
    EXPECT_EQ(TypeOf('T', 'C'), timer.TagAddress.Type);
    EXPECT_EQ(0x057Eu, timer.TagAddress.Address);
    EXPECT_EQ(16u, timer.TagAddress.Width);

    EXPECT_TRUE(log.Take().empty());
    ExpectStorageUntouched();
}

TEST_F(ParseThroughKivMain, RefusalsLogOneCategory32LineEach) {
    ParseRecord even = Record("TC0401", KIV_KIND_ANALOG_0);
    EXPECT_EQ(uint32_t{KIV_REFUSED}, Parse(even));
    ParseRecord range = Record("bm0360", KIV_KIND_DIGITAL);
    EXPECT_EQ(uint32_t{KIV_REFUSED}, Parse(range));
    ParseRecord kind = Record("BX0000", KIV_KIND_STRING);
    EXPECT_EQ(uint32_t{KIV_REFUSED}, Parse(kind));
    const std::string longText = "BX" + std::string(31, '0');
    ParseRecord tooLong = Record(longText.c_str(), KIV_KIND_DIGITAL);
    EXPECT_EQ(uint32_t{KIV_REFUSED}, Parse(tooLong));
    ParseRecord noText = Record(nullptr, KIV_KIND_DIGITAL);
    EXPECT_EQ(uint32_t{KIV_REFUSED}, Parse(noText));

    const std::vector<itest::Line> expected{
        {32, "ZIROD> Parse() Word time/counter address must be even in 'TC0401'"},
        {32, "ZIROD> Parse() internal output address must be < 0140H and > 035FH in 'bm0360'"},
        {32, "ZIROD> SingleParse() no STRING tags allowed gate 'BX0000'"},
        {32, "ZIROD> Parse() Tag address string '" + longText + "' too long ( > 32)"},
        {32, "ZIROD> Parse() Illegal tag addr in ''"},
    };
    EXPECT_EQ(expected, log.Take());
    // The too-long text and the missing text leave the TagAddress untouched.
    EXPECT_EQ(WordPattern, tooLong.TagAddress.Type);
    EXPECT_EQ(WordPattern, noText.TagAddress.Type);
    ExpectStorageUntouched();
}

TEST_F(ParseThroughKivMain, NeedsNoWorkAreaAtAll) {
    CallBlock block{};
    block.Data = nullptr;
    block.Function = KIV_SINGLE_ADDRESS_PARSER;
    ParseRecord record = Record("WY00A0", KIV_KIND_ANALOG_2);
    block.Params = &record;
    EXPECT_EQ(uint32_t{KIV_DONE}, driver.Call(block));
    EXPECT_EQ(0x00A0u, record.TagAddress.Address);
    block.Params = nullptr;
    EXPECT_EQ(uint32_t{KIV_REFUSED}, driver.Call(block));
    EXPECT_EQ((std::vector<itest::Line>{{32, "ZIROD> Parse() Illegal tag addr in ''"}}), log.Take());
}
