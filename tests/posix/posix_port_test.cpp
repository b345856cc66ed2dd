// The port operations on the real Linux platform, against pseudo-terminals
// (and the null port), measured with the real clock.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <chrono>
#include <thread>

#include "pty.h"
#include "serial/platform/posix_line.h"
#include "serial/port.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class PosixPort : public ::testing::Test {
protected:
    itest::Pty pty;
    LineParams line{9600, 7, 0, 2};

    PortHandle Open(const std::string &name) {
        PortHandle h = 0;
        EXPECT_EQ(OpenPort(name.c_str(), &line, 0x0303, &h), PORT_OK) << name;
        return h;
    }
};

TEST_F(PosixPort, OpensByPathWithExclusiveAccess) {
    PortHandle h = Open(pty.Link());
    ASSERT_NE(h, 0u);
    const int fd = static_cast<int>(h);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);

    // A second open, from this process or another, fails while the port is open.
    PortHandle second = 0;
    EXPECT_EQ(OpenPort(pty.Link().c_str(), &line, 0x0303, &second), PORT_OPEN_FAILED);
    EXPECT_EQ(OpenPort(pty.SlavePath().c_str(), &line, 0x0303, &second), PORT_OPEN_FAILED);
    const int other = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);

    EXPECT_EQ(ClosePort(h), PORT_OK);
    EXPECT_EQ(ClosePort(h), PORT_CALL_FAILED); // no longer a port of ours
    PortHandle again = Open(pty.Link());
    EXPECT_NE(again, 0u);
    ClosePort(again);
}

TEST_F(PosixPort, MissingPortsFailWithCodeOne) {
    PortHandle h = 0;
    EXPECT_EQ(OpenPort("ttyNOSUCH9", &line, 0x0303, &h), PORT_OPEN_FAILED);
    EXPECT_EQ(OpenPort("/nonexistent/port", &line, 0x0303, &h), PORT_OPEN_FAILED);
    EXPECT_EQ(OpenPort("", &line, 0x0303, &h), PORT_OPEN_FAILED);
}

TEST_F(PosixPort, NameWithoutSlashIsADeviceUnderDev) {
    // "null" opens /dev/null as a serial port, unlike "NUL": it opens, and
    // then its line settings cannot be read.
    PortHandle h = 0;
    const int code = OpenPort("null", &line, 0x0303, &h);
    EXPECT_EQ(code, PORT_GET_STATE_FAILED);
}

TEST_F(PosixPort, HandleIsNeverZero) {
    const int saved = dup(0);
    close(0);
    PortHandle h = 0;
    const int code = OpenPort(pty.Link().c_str(), &line, 0x0303, &h);
    dup2(saved, 0);
    close(saved);
    ASSERT_EQ(code, PORT_OK);
    EXPECT_NE(h, 0u);
    ClosePort(h);
}

TEST_F(PosixPort, NullPortBehavesAsADeviceWithoutSerialCalls) {
    PortHandle h = Open("NUL");
    ASSERT_NE(h, 0u);
    EXPECT_EQ(SetReadTimeout(h, 10), 0u);
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    const uint8_t frame[] = "\x02" "0012C3\r";
    uint32_t written = 0;
    EXPECT_EQ(WriteBytes(h, frame, 8, &written), PORT_OK);
    EXPECT_EQ(written, 8u);
    uint8_t buffer[10];
    uint16_t got = 9;
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    EXPECT_LT(MsSince(start), 100);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(PlatEscape(h, PLAT_SETRTS), 0);
    // Two instances may share the null port.
    PortHandle second = Open("NUL");
    EXPECT_NE(second, 0u);
    EXPECT_EQ(ClosePort(second), PORT_OK);
    EXPECT_EQ(ClosePort(h), PORT_OK);

    // Only the exact name is the null port.
    PortHandle lower = 0;
    EXPECT_NE(OpenPort("nul", &line, 0x0303, &lower), PORT_OK);
}

TEST_F(PosixPort, LineSettingsReachTheTerminal) {
    struct Case {
        LineParams line;
        int code;
    } cases[] = {
        {{9600, 7, 0, 2}, PORT_OK},
        {{14400, 8, 2, 1}, PORT_OK}, // a rate without a B-constant
        {{19200, 8, 0, 3}, PORT_OK},
        {{1200, 5, 0, 4}, PORT_OK},
        {{9600, 8, 1, 0}, PORT_SET_STATE_FAILED}, // one and a half stop bits
        {{9600, 9, 0, 0}, PORT_SET_STATE_FAILED},
        {{9600, 8, 0, 5}, PORT_SET_STATE_FAILED},
        {{0, 8, 0, 0}, PORT_SET_STATE_FAILED},
    };
    for (const Case &c : cases) {
        PortHandle h = 0;
        ASSERT_EQ(OpenPort(pty.Link().c_str(), &c.line, 0x0303, &h), c.code) << c.line.BaudRate << "," << c.line.ByteSize;
        if (c.code != PORT_OK) continue; // and no port is left open:
        DzLine back{};
        ASSERT_EQ(DzGetLine(static_cast<int>(h), &back), 0);
        EXPECT_EQ(back.baud, c.line.BaudRate);
        termios t{};
        ASSERT_EQ(tcgetattr(static_cast<int>(h), &t), 0);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.line.StopBits == 2);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u); // raw
        EXPECT_TRUE(t.c_cflag & CLOCAL);
        // A pseudo-terminal carries 8-bit bytes: it forces 8 data bits and no
        // parity, so those two fields are not read back here.
        EXPECT_EQ(ClosePort(h), PORT_OK);
    }
    // After the refused settings no port was left open.
    PortHandle h = Open(pty.Link());
    EXPECT_NE(h, 0u);
    ClosePort(h);
}

TEST_F(PosixPort, ReadWaitsForTheTimeoutAndGathersBursts) {
    PortHandle h = Open(pty.Link());
    EXPECT_EQ(SetReadTimeout(h, 20), 100u); // 1000 ms after the open
    uint8_t buffer[16];
    uint16_t got = 0;

    auto start = Clock::now();
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 195);
    EXPECT_LT(elapsed, 400);
    EXPECT_EQ(got, 0);

    // Two bursts 120 ms apart make one complete reply.
    std::thread peer([this] {
        pty.Send("\x02" "0012");
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        pty.Send("34C3\r");
    });
    start = Clock::now();
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_OK);
    peer.join();
    EXPECT_EQ(got, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 10), "\x02" "001234C3\r");
    EXPECT_LT(MsSince(start), 190);

    // A reply that stops part way: the bytes that came, after one time-out.
    pty.Send("\x02" "00");
    start = Clock::now();
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    EXPECT_EQ(got, 3);
    EXPECT_GE(MsSince(start), 195);
    ClosePort(h);
}

TEST_F(PosixPort, ZeroTimeoutTakesOnlyWhatHasArrived) {
    PortHandle h = Open(pty.Link());
    SetReadTimeout(h, 0);
    uint8_t buffer[8];
    uint16_t got = 0;
    auto start = Clock::now();
    EXPECT_EQ(ReadBytes(h, buffer, 4, &got), PORT_CALL_FAILED);
    EXPECT_LT(MsSince(start), 50);
    pty.Send("abcd");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ReadBytes(h, buffer, 4, &got), PORT_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 4), "abcd");
    ClosePort(h);
}

TEST_F(PosixPort, PurgeDiscardsStaleInputAndRestoresTheTimeout) {
    PortHandle h = Open(pty.Link());
    SetReadTimeout(h, 30);
    EXPECT_EQ(PurgeInput(h), PORT_OK); // nothing waits: at once
    pty.Send(std::string(700, 'z'));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto start = Clock::now();
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 45); // the last read ends on the 50 ms purge time-out
    EXPECT_LT(elapsed, 200);
    EXPECT_EQ(SetReadTimeout(h, 30), 30u);
    pty.Send("new");
    uint8_t buffer[3];
    uint16_t got = 0;
    EXPECT_EQ(ReadBytes(h, buffer, 3, &got), PORT_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 3), "new");
    ClosePort(h);
}

TEST_F(PosixPort, WritePutsEveryByteOnTheLine) {
    PortHandle h = Open(pty.Link());
    const std::string frame = "\x02" "0032000002015001517" "4\r";
    uint32_t written = 0;
    EXPECT_EQ(WriteBytes(h, reinterpret_cast<const uint8_t *>(frame.data()), static_cast<uint32_t>(frame.size()), &written),
              PORT_OK);
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(pty.Receive(200, frame.size()), frame);
    ClosePort(h);
}

TEST_F(PosixPort, RtsCallsFailOnAPseudoTerminal) {
    PortHandle h = Open(pty.Link());
    EXPECT_EQ(PlatEscape(h, PLAT_SETRTS), 0);
    EXPECT_EQ(PlatEscape(h, PLAT_CLRRTS), 0);
    uint32_t waiting = 99;
    pty.Send("xy");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(PlatClearError(h, &waiting));
    EXPECT_EQ(waiting, 2u);
    ClosePort(h);
}

TEST(PosixClock, MillisecondClockHasMillisecondResolution) {
    const uint64_t a = PlatMillis();
    PlatSleep(3);
    const uint64_t b = PlatMillis();
    EXPECT_GE(b - a, 3u);
    EXPECT_LT(b - a, 30u);
}

} // namespace
