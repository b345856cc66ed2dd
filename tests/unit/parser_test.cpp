// parser_test.cpp - the tag address parser, called directly.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "address/parser.h"
#include "entry/log.h"
#include "log_capture.h"

namespace {

constexpr uint32_t Pattern = 0xA5A5A5A5u;

constexpr uint32_t TypeOf(char first, char second) {
    return static_cast<uint8_t>(first) | (static_cast<uint32_t>(static_cast<uint8_t>(second)) << 8);
}

// The five words of a TagAddress; nullopt: the word must still hold Pattern.
struct Words {
    std::optional<uint32_t> Reserved, Type, Address;
    std::optional<int32_t> Bit;
    std::optional<uint32_t> Width;
};

const Words Untouched{};

// Every word written, forming the address of the given letters.
Words Full(char first, char second, uint32_t address) {
    return Words{0u, TypeOf(first, second), address, -1, first == 'B' ? 1u : 16u};
}
// Refused by the scan: Reserved, Bit and Type only.
Words UpToType(uint32_t type) { return Words{0u, type, std::nullopt, -1, std::nullopt}; }
// Refused by the letter pair: Reserved, Bit, Type and Address.
Words UpToAddress(char first, char second, uint32_t address) {
    return Words{0u, TypeOf(first, second), address, -1, std::nullopt};
}

struct Row {
    std::string text;
    uint32_t kind;
    uint16_t result;
    std::string message; // empty: nothing logged; otherwise one category-32 line
    Words words;
};

std::string Refusal(const char *format, const std::string &text) {
    char line[512];
    std::snprintf(line, sizeof line, format, text.c_str());
    return line;
}

const std::string Zeros30(30, '0');
const std::string Text32 = "BX" + Zeros30;
const std::string Text33 = "BX" + Zeros30 + "0";

std::vector<Row> Table() {
    const char *illegalType = "ZIROD> Parse() Illegal type in tag '%s'";
    const char *invalidLength = "ZIROD> Parse() Address name has invalid length ('%s')";
    const char *digital = "ZIROD> SingleParse() tag '%s' should be DIGITAL";
    const char *analog = "ZIROD> SingleParse() tag '%s' should be analog";
    return {
        // Accepted.
        {"BX0000", 6, 0, "", Full('B', 'X', 0x0000)},
        {"bx009f", 6, 0, "", Full('B', 'X', 0x009F)},
        {"WM0150", 1, 0, "", Full('W', 'M', 0x0150)},
        {"TC0400", 0, 0, "", Full('T', 'C', 0x0400)},
        {"BT03FF", 6, 0, "", Full('B', 'T', 0x03FF)},
        {"BY00A0", 6, 0, "", Full('B', 'Y', 0x00A0)},
        {"WY013F", 2, 0, "", Full('W', 'Y', 0x013F)},
        {"WM035F", 0, 0, "", Full('W', 'M', 0x035F)},
        {"TC057E", 1, 0, "", Full('T', 'C', 0x057E)},
        {"bT03a0", 6, 0, "", Full('B', 'T', 0x03A0)},
        // Kind tests of SingleParse: all five words form a valid address.
        {"BX0000", 7, 1, Refusal("ZIROD> SingleParse() no STRING tags allowed gate '%s'", "BX0000"),
         Full('B', 'X', 0x0000)},
        {"WM0150", 7, 1, Refusal("ZIROD> SingleParse() no STRING tags allowed gate '%s'", "WM0150"),
         Full('W', 'M', 0x0150)},
        {"BY00A0", 2, 1, Refusal(digital, "BY00A0"), Full('B', 'Y', 0x00A0)},
        {"bm0140", 0, 1, Refusal(digital, "bm0140"), Full('B', 'M', 0x0140)},
        {"WY013F", 6, 1, Refusal(analog, "WY013F"), Full('W', 'Y', 0x013F)},
        {"WY013F", 3, 1, Refusal(analog, "WY013F"), Full('W', 'Y', 0x013F)},
        {"TC0400", 6, 1, Refusal(analog, "TC0400"), Full('T', 'C', 0x0400)},
        // Area ranges (all five words written before the refusal).
        {"BX00A0", 6, 1, Refusal("ZIROD> Parse() external input addresss must be < 009FH in '%s'", "BX00A0"),
         Full('B', 'X', 0x00A0)},
        {"WY009F", 1, 1,
         Refusal("ZIROD> Parse() external output address must be < 00A0H and > 013FH in '%s'", "WY009F"),
         Full('W', 'Y', 0x009F)},
        {"BY0140", 6, 1,
         Refusal("ZIROD> Parse() external output address must be < 00A0H and > 013FH in '%s'", "BY0140"),
         Full('B', 'Y', 0x0140)},
        {"BM0360", 6, 1,
         Refusal("ZIROD> Parse() internal output address must be < 0140H and > 035FH in '%s'", "BM0360"),
         Full('B', 'M', 0x0360)},
        {"wm013f", 1, 1,
         Refusal("ZIROD> Parse() internal output address must be < 0140H and > 035FH in '%s'", "wm013f"),
         Full('W', 'M', 0x013F)},
        {"BT039F", 6, 1,
         Refusal("ZIROD> Parse() Bit timer/counter address must be < 03A0H and > 03FFH in '%s'", "BT039F"),
         Full('B', 'T', 0x039F)},
        {"BT0400", 6, 1,
         Refusal("ZIROD> Parse() Bit timer/counter address must be < 03A0H and > 03FFH in '%s'", "BT0400"),
         Full('B', 'T', 0x0400)},
        {"TC0401", 0, 1, Refusal("ZIROD> Parse() Word time/counter address must be even in '%s'", "TC0401"),
         Full('T', 'C', 0x0401)},
        {"TC0580", 0, 1,
         Refusal("ZIROD> Parse() Word time/counter address must be < 0400H and > 057EH in '%s'", "TC0580"),
         Full('T', 'C', 0x0580)},
        // Range before even: an odd address out of range gets the range message.
        {"TC03FF", 0, 1,
         Refusal("ZIROD> Parse() Word time/counter address must be < 0400H and > 057EH in '%s'", "TC03FF"),
         Full('T', 'C', 0x03FF)},
        // Letter pairs: Reserved, Bit, Type and Address written, Width not.
        {"WC0400", 0, 1, Refusal(illegalType, "WC0400"), UpToAddress('W', 'C', 0x0400)},
        {"WT03A0", 0, 1, Refusal(illegalType, "WT03A0"), UpToAddress('W', 'T', 0x03A0)},
        {"BC0400", 6, 1, Refusal(illegalType, "BC0400"), UpToAddress('B', 'C', 0x0400)},
        {"TM0150", 0, 1, Refusal(illegalType, "TM0150"), UpToAddress('T', 'M', 0x0150)},
        {"tx0000", 0, 1, Refusal(illegalType, "tx0000"), UpToAddress('T', 'X', 0x0000)},
        // Character check: nothing written.
        {"AX0000", 6, 1, Refusal("ZIROD> Parse() Illegal character 1 in '%s'", "AX0000"), Untouched},
        {"BA0000", 6, 1, Refusal("ZIROD> Parse() Illegal character 2 in '%s'", "BA0000"), Untouched},
        {"BX00G0", 6, 1, Refusal("ZIROD> Parse() Illegal character 5 in '%s'", "BX00G0"), Untouched},
        {"BX0000Z", 6, 1, Refusal("ZIROD> Parse() Illegal character 7 in '%s'", "BX0000Z"), Untouched},
        {"BX 000", 6, 1, Refusal("ZIROD> Parse() Illegal character 3 in '%s'", "BX 000"), Untouched},
        {"BX00\xE1" "0", 6, 1, Refusal("ZIROD> Parse() Illegal character 5 in '%s'", "BX00\xE1" "0"), Untouched},
        {"A", 6, 1, Refusal("ZIROD> Parse() Illegal character 1 in '%s'", "A"), Untouched},
        // Total length: all five written.
        {"BX00000", 6, 1, Refusal(invalidLength, "BX00000"), Full('B', 'X', 0x0000)},
        {"BX00000Z", 6, 1, Refusal(invalidLength, "BX00000Z"), Full('B', 'X', 0x0000)},
        {"BX1", 6, 1, Refusal(invalidLength, "BX1"), Full('B', 'X', 0x0001)},
        {"BX12", 6, 1, Refusal(invalidLength, "BX12"), Full('B', 'X', 0x0012)},
        {"WM01500", 1, 1, Refusal(invalidLength, "WM01500"), Full('W', 'M', 0x0150)},
        {Text32, 6, 1, Refusal(invalidLength, Text32), Full('B', 'X', 0x0000)},
        // Range before length.
        {"WY1", 1, 1,
         Refusal("ZIROD> Parse() external output address must be < 00A0H and > 013FH in '%s'", "WY1"),
         Full('W', 'Y', 0x0001)},
        // Scan: nothing to scan; Reserved, Bit and Type written.
        {"BX", 6, 1, Refusal("ZIROD> Parse() Illegal tag addr in '%s'", "BX"), UpToType(TypeOf('B', 'X'))},
        {"wm", 1, 1, Refusal("ZIROD> Parse() Illegal tag addr in '%s'", "wm"), UpToType(TypeOf('W', 'M'))},
        // Implementer's choice: fewer than two characters are refused at the
        // scan with the illegal tag addr message; Type holds what there is.
        {"B", 6, 1, Refusal("ZIROD> Parse() Illegal tag addr in '%s'", "B"), UpToType('B')},
        {"t", 0, 1, Refusal("ZIROD> Parse() Illegal tag addr in '%s'", "t"), UpToType('T')},
        {"", 6, 1, Refusal("ZIROD> Parse() Illegal tag addr in '%s'", ""), UpToType(0)},
        // Length limit: 33 characters, nothing written.
        {Text33, 6, 1,
         [] {
             char line[512];
             std::snprintf(line, sizeof line, "ZIROD> Parse() Tag address string '%s' too long ( > %d)",
                           Text33.c_str(), 32);
             return std::string(line);
         }(),
         Untouched},
        {Text33 + "ZZZZ", 6, 1,
         [] {
             char line[512];
             std::snprintf(line, sizeof line, "ZIROD> Parse() Tag address string '%s' too long ( > %d)",
                           (Text33 + "ZZZZ").c_str(), 32);
             return std::string(line);
         }(),
         Untouched},
    };
}

ParseRecord PrefilledRecord(const char *text, uint32_t kind) {
    ParseRecord record;
    std::memset(&record, 0x5A, sizeof record);
    record.AddressText = text;
    record.Kind = kind;
    record.TagAddress.Reserved = Pattern;
    record.TagAddress.Type = Pattern;
    record.TagAddress.Address = Pattern;
    record.TagAddress.Bit = static_cast<int32_t>(Pattern);
    record.TagAddress.Width = Pattern;
    return record;
}

template <typename T> void ExpectWord(const char *name, const std::optional<T> &expected, T actual) {
    SCOPED_TRACE(name);
    if (expected.has_value())
        EXPECT_EQ(*expected, actual);
    else
        EXPECT_EQ(static_cast<T>(Pattern), actual) << "a refusal wrote this word too early";
}

} // namespace

TEST(Parser, TableOfAddressTextsAndKinds) {
    for (const Row &row : Table()) {
        SCOPED_TRACE("text '" + row.text + "' kind " + std::to_string(row.kind));
        // The text in a heap block of exactly its size, so that a read past
        // its terminator shows under the address sanitizer.
        std::vector<char> text(row.text.begin(), row.text.end());
        text.push_back('\0');
        text.shrink_to_fit();
        ParseRecord record = PrefilledRecord(text.data(), row.kind);
        CallBlock block{};
        block.Data = nullptr; // parsing must not touch DriverData
        block.Function = KIV_SINGLE_ADDRESS_PARSER;
        block.Params = &record;

        ClearLog();
        EXPECT_EQ(row.result, SingleParse(&block));
        if (row.message.empty()) {
            EXPECT_TRUE(Logged().empty()) << LogText();
        } else {
            ASSERT_EQ(1u, Logged().size()) << LogText();
            EXPECT_EQ(LOG_REFUSED, Logged()[0].category);
            EXPECT_EQ(row.message, Logged()[0].text);
        }
        ExpectWord("Reserved", row.words.Reserved, record.TagAddress.Reserved);
        ExpectWord("Type", row.words.Type, record.TagAddress.Type);
        ExpectWord("Address", row.words.Address, record.TagAddress.Address);
        ExpectWord("Bit", row.words.Bit, record.TagAddress.Bit);
        ExpectWord("Width", row.words.Width, record.TagAddress.Width);
        // The text and the fields the parser only reads stay as they were.
        EXPECT_EQ(row.text, std::string(text.data()));
        EXPECT_EQ(text.data(), record.AddressText);
        EXPECT_EQ(row.kind, record.Kind);
        EXPECT_EQ(0x5A5A5A5Au, record.Unused4);
        EXPECT_EQ(0x5A5A5A5Au, record.Unused12);
    }
}

TEST(Parser, NullAddressTextIsRefusedWithoutWriting) {
    ParseRecord record = PrefilledRecord(nullptr, KIV_KIND_DIGITAL);
    CallBlock block{};
    block.Function = KIV_SINGLE_ADDRESS_PARSER;
    block.Params = &record;
    ClearLog();
    EXPECT_EQ(KIV_REFUSED, SingleParse(&block));
    ASSERT_EQ(1u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> Parse() Illegal tag addr in ''"}), Logged()[0]);
    EXPECT_EQ(Pattern, record.TagAddress.Reserved);
    EXPECT_EQ(Pattern, record.TagAddress.Type);
    EXPECT_EQ(Pattern, record.TagAddress.Address);
    EXPECT_EQ(static_cast<int32_t>(Pattern), record.TagAddress.Bit);
    EXPECT_EQ(Pattern, record.TagAddress.Width);
}

TEST(Parser, NullParamsIsRefused) {
    CallBlock block{};
    block.Function = KIV_SINGLE_ADDRESS_PARSER;
    block.Params = nullptr;
    ClearLog();
    EXPECT_EQ(KIV_REFUSED, SingleParse(&block));
    ASSERT_EQ(1u, Logged().size()) << LogText();
    EXPECT_EQ((LogLine{LOG_REFUSED, "ZIROD> Parse() Illegal tag addr in ''"}), Logged()[0]);
}

TEST(Parser, LeavesDriverDataUntouched) {
    alignas(8) std::array<uint8_t, 128> data;
    data.fill(0xC3);
    ParseRecord record = PrefilledRecord("WM0150", KIV_KIND_ANALOG_1);
    CallBlock block{};
    block.Data = reinterpret_cast<DriverData *>(data.data());
    block.Function = KIV_SINGLE_ADDRESS_PARSER;
    block.Instance = 3;
    block.Params = &record;
    ClearLog();
    EXPECT_EQ(KIV_DONE, SingleParse(&block));
    record.AddressText = "TC0401";
    EXPECT_EQ(KIV_REFUSED, SingleParse(&block));
    for (uint8_t b : data) ASSERT_EQ(0xC3, b);
    EXPECT_EQ(reinterpret_cast<DriverData *>(data.data()), block.Data);
    EXPECT_EQ(uint32_t{KIV_SINGLE_ADDRESS_PARSER}, block.Function);
    EXPECT_EQ(3u, block.Instance);
}

TEST(Parser, RepeatedParseStartsAfresh) {
    ParseRecord record = PrefilledRecord("BX0010", KIV_KIND_DIGITAL);
    CallBlock block{};
    block.Params = &record;
    ClearLog();
    ASSERT_EQ(KIV_DONE, SingleParse(&block));
    record.AddressText = "WM0150";
    record.Kind = KIV_KIND_ANALOG_0;
    ASSERT_EQ(KIV_DONE, SingleParse(&block));
    EXPECT_EQ(TypeOf('W', 'M'), record.TagAddress.Type);
    EXPECT_EQ(0x0150u, record.TagAddress.Address);
    EXPECT_EQ(16u, record.TagAddress.Width);
    EXPECT_TRUE(Logged().empty()) << LogText();
}

TEST(Parser, ParseAloneDoesNotTestTheKind) {
    ParseRecord record = PrefilledRecord("BX0000", KIV_KIND_STRING);
    CallBlock block{};
    block.Params = &record;
    ClearLog();
    EXPECT_EQ(KIV_DONE, Parse(&block));
    EXPECT_TRUE(Logged().empty()) << LogText();
    EXPECT_EQ(TypeOf('B', 'X'), record.TagAddress.Type);
}
