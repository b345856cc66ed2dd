// Line settings, memory files and printable bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "dazaraz/sim.h"

namespace {

using namespace dazaraz::sim;
using namespace std::chrono_literals;

TEST(LineSpec, CountsBitsPerCharacter) {
    const struct {
        const char *text;
        unsigned baud, bits;
    } good[] = {
        {"9600,7E1", 9600, 10}, {"19200,8N1", 19200, 10}, {"9600,8E2", 9600, 12}, {"1200,7o2", 1200, 11},
        {"300,5S1", 300, 8},    {"4800", 4800, 10},       {"0", 0, 10},
    };
    for (const auto &g : good) {
        LineSpeed line{1, 1};
        ASSERT_TRUE(ParseLine(g.text, &line)) << g.text;
        EXPECT_EQ(line.baud, g.baud) << g.text;
        EXPECT_EQ(line.bitsPerChar, g.bits) << g.text;
    }
    for (const char *bad : {"", "fast", "-9600", "9600,", "9600,7E", "9600,9E1", "9600,4N1", "9600,7X1", "9600,7E3",
                            "9600,7E1,", "96 00,7E1", "99999999999"}) {
        LineSpeed line{1, 1};
        std::string error;
        EXPECT_FALSE(ParseLine(bad, &line, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(line.baud, 1u) << bad;
    }
}

TEST(LineSpec, CharacterTime) {
    EXPECT_EQ((LineSpeed{9600, 10}).CharTime(), 1041666ns);
    EXPECT_EQ((LineSpeed{0, 10}).CharTime(), 0ns);
}

TEST(MemoryFile, SetsBytesAndWords) {
    Simulator sim;
    std::istringstream in(
        "# initial values\n"
        "0150 12\n"
        "0x0151 0x3   # a byte of one digit\n"
        "\n"
        "   00a0 1234\n"
        "FFFF 0ABC\n"
        "10 123\n");
    std::string error;
    ASSERT_TRUE(LoadMemory(in, sim, &error)) << error;
    EXPECT_EQ(sim.Byte(0x0150), 0x12);
    EXPECT_EQ(sim.Byte(0x0151), 0x03);
    EXPECT_EQ(sim.Word(0x00A0), 0x1234);
    EXPECT_EQ(sim.Byte(0xFFFF), 0x0A);
    EXPECT_EQ(sim.Byte(0x0000), 0xBC);
    EXPECT_EQ(sim.Word(0x0010), 0x0123);
}

TEST(MemoryFile, BadLineAppliesNothing) {
    const struct {
        const char *text, *message;
    } cases[] = {
        {"0150 12\n0151\n", "line 2: "},
        {"0150 12\n\n10000 12\n", "line 3: "},
        {"0150 12345\n", "line 1: "},
        {"0150 zz\n", "line 1: "},
        {"0150 12 13\n", "line 1: "},
        {"0x 12\n", "line 1: "},
    };
    for (const auto &c : cases) {
        Simulator sim;
        std::istringstream in(c.text);
        std::string error;
        EXPECT_FALSE(LoadMemory(in, sim, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.text << " -> " << error;
        EXPECT_EQ(sim.Byte(0x0150), 0) << c.text;
    }
}

TEST(MemoryFile, FromAFile) {
    char path[] = "/tmp/dazaraz-sim-memory-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "0150 ABCD\n";
    Simulator sim;
    std::string error;
    EXPECT_TRUE(LoadMemoryFile(path, sim, &error)) << error;
    EXPECT_EQ(sim.Word(0x0150), 0xABCD);
    unlink(path);
    EXPECT_FALSE(LoadMemoryFile(path, sim, &error));
    EXPECT_NE(error.find(path), std::string::npos);
}

TEST(PrintableBytes, NamesControlCharacters) {
    EXPECT_EQ(Printable(std::string("\x02" "0012C3\r\x15\x00\xFF", 11)), "<STX>0012C3<CR><NAK><NUL><xFF>");
}

}  // namespace
