// The port operations on the scripted platform: what they ask of the
// platform, in which order, and the codes they answer.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "serial/port.h"

namespace {

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    PortHandle OpenedPort(const std::string &name = "COM1") {
        fake::AddPort(name);
        PortHandle h = 0;
        LineParams line{9600, 7, 0, 2};
        EXPECT_EQ(OpenPort(name.c_str(), &line, 0x0303, &h), PORT_OK);
        fake::ClearJournal();
        return h;
    }
};

TEST_F(PortTest, OpenConfiguresTheLineAndKeepsWhatItDoesNotSet) {
    fake::Port &port = fake::AddPort("COM1");
    PortHandle h = 0;
    LineParams line{19200, 0x0107, 0x0102, 0x0201}; // only the low bytes count
    ASSERT_EQ(OpenPort("COM1", &line, 0x0303, &h), PORT_OK);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(fake::Journal(), "Open COM1; GetLine; SetTimeouts 0,0,1000,0,0; SetLine; SetupQueues 1200,1200");

    const PlatLine &s = port.line;
    EXPECT_EQ(s.BaudRate, 19200u);
    EXPECT_EQ(s.ByteSize, 7);
    EXPECT_EQ(s.StopBits, 2);
    EXPECT_EQ(s.Parity, 1);
    EXPECT_EQ(s.fBinary, 1);
    EXPECT_EQ(s.fParity, 1);
    EXPECT_EQ(s.fOutxCtsFlow, 0);
    EXPECT_EQ(s.fOutxDsrFlow, 0);
    EXPECT_EQ(s.fDsrSensitivity, 0);
    EXPECT_EQ(s.fOutX, 0);
    EXPECT_EQ(s.fInX, 0);
    EXPECT_EQ(s.fErrorChar, 0);
    EXPECT_EQ(s.fNull, 0);
    EXPECT_EQ(s.fAbortOnError, 0);
    EXPECT_EQ(static_cast<uint8_t>(s.ErrorChar), 0xFC);
    // Left as read from the port.
    EXPECT_EQ(s.fTXContinueOnXoff, 1);
    EXPECT_EQ(s.XonLim, 2048);
    EXPECT_EQ(s.XoffLim, 512);
    EXPECT_EQ(s.XonChar, 0x11);
    EXPECT_EQ(s.XoffChar, 0x13);
    EXPECT_EQ(s.EofChar, 0x1A);
    EXPECT_EQ(s.EvtChar, 0x7E);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(port.queueIn, 1200u);
    EXPECT_EQ(port.queueOut, 1200u);
}

TEST_F(PortTest, OpenFlagsChooseDtrAndRtsControl) {
    struct Case {
        uint16_t flags;
        uint8_t dtr, rts;
    } cases[] = {
        {0x0303, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
        {0x0000, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
        {0xA000, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE},
        {0x1100, DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE},
        {0x0001, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
        {0x0002, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
        {0x8202, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_ENABLE}, // the first matching row wins
        {0x3000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
    };
    for (const Case &c : cases) {
        fake::Reset();
        fake::Port &port = fake::AddPort("COM2");
        PortHandle h = 0;
        LineParams line{9600, 8, 0, 0};
        ASSERT_EQ(OpenPort("COM2", &line, c.flags, &h), PORT_OK);
        EXPECT_EQ(port.line.fDtrControl, c.dtr) << std::hex << c.flags;
        EXPECT_EQ(port.line.fRtsControl, c.rts) << std::hex << c.flags;
    }
}

TEST_F(PortTest, NullPortOpensWithoutAnySerialCall) {
    fake::AddPort("NUL").serial = false;
    PortHandle h = 0;
    LineParams line{9600, 7, 0, 2};
    EXPECT_EQ(OpenPort("NUL", &line, 0x0303, &h), PORT_OK);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(fake::Journal(), "Open NUL");
}

TEST_F(PortTest, FailedOpenLeavesNoPortOpen) {
    struct Case {
        const char *what;
        std::function<void(fake::Port &)> setup;
        int code;
        const char *journal;
    } cases[] = {
        {"missing or busy", [](fake::Port &p) { p.openable = false; }, PORT_OPEN_FAILED, "Open COM3"},
        {"settings unreadable", [](fake::Port &p) { p.failGetLine = true; }, PORT_GET_STATE_FAILED,
         "Open COM3; GetLine; Close"},
        {"lower-case nul is no serial port", [](fake::Port &p) { p.serial = false; }, PORT_GET_STATE_FAILED,
         "Open COM3; GetLine; Close"},
        {"time-outs refused", [](fake::Port &p) { p.failSetTimeouts = true; }, PORT_OPEN_FAILED,
         "Open COM3; GetLine; SetTimeouts 0,0,1000,0,0; Close"},
        {"settings refused", [](fake::Port &p) { p.failSetLine = true; }, PORT_SET_STATE_FAILED,
         "Open COM3; GetLine; SetTimeouts 0,0,1000,0,0; SetLine; Close"},
    };
    for (const Case &c : cases) {
        fake::Reset();
        fake::Port &port = fake::AddPort("COM3");
        c.setup(port);
        PortHandle h = 0;
        LineParams line{9600, 7, 0, 2};
        EXPECT_EQ(OpenPort("COM3", &line, 0x0303, &h), c.code) << c.what;
        EXPECT_FALSE(port.isOpen) << c.what;
        EXPECT_EQ(fake::Journal(), c.journal) << c.what;
    }
}

TEST_F(PortTest, SecondOpenOfAnOpenPortFails) {
    OpenedPort("COM4");
    PortHandle h = 0;
    LineParams line{9600, 7, 0, 2};
    EXPECT_EQ(OpenPort("COM4", &line, 0x0303, &h), PORT_OPEN_FAILED);
}

TEST_F(PortTest, CloseAnswersSevenWhenRefused) {
    PortHandle h = OpenedPort();
    fake::PortOf(h).failClose = true;
    EXPECT_EQ(ClosePort(h), PORT_CALL_FAILED);
    fake::PortOf(h).failClose = false;
    EXPECT_EQ(ClosePort(h), PORT_OK);
    EXPECT_FALSE(fake::world().ports["COM1"].isOpen);
}

TEST_F(PortTest, SetReadTimeoutAnswersThePreviousValueInUnits) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);

    // The value the port already has: nothing is written.
    EXPECT_EQ(SetReadTimeout(h, 100), 100u);
    EXPECT_EQ(fake::Journal(), "GetTimeouts");

    fake::ClearJournal();
    EXPECT_EQ(SetReadTimeout(h, 25), 100u);
    EXPECT_EQ(fake::Journal(), "GetTimeouts; SetTimeouts 0,0,250,0,0");

    port.timeouts.ReadTotalTimeoutConstant = 1005; // not a multiple of 10 ms
    EXPECT_EQ(SetReadTimeout(h, 30), 100u);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 300u);

    port.failSetTimeouts = true;
    EXPECT_EQ(SetReadTimeout(h, 40), 0u);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 300u);
    port.failGetTimeouts = true;
    EXPECT_EQ(SetReadTimeout(h, 40), 0u);
}

TEST_F(PortTest, PurgeWithNothingWaitingMakesNoRead) {
    PortHandle h = OpenedPort();
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    EXPECT_EQ(fake::Journal(), "ClearError");
}

TEST_F(PortTest, PurgeReadsWaitingBytesAtFiftyMillisecondsAndRestores) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);
    port.Arrive("stale");
    const uint64_t before = fake::world().now;
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    EXPECT_TRUE(port.rx.empty());
    EXPECT_EQ(fake::Journal(), "ClearError; GetTimeouts; SetTimeouts 0,0,50,0,0; Read 512; GetTimeouts; "
                               "SetTimeouts 0,0,1000,0,0");
    EXPECT_EQ(fake::world().now - before, 50u); // the last read ends on its time-out
}

TEST_F(PortTest, PurgeOfExactly512BytesReadsTwice) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);
    port.Arrive(std::string(512, 'x'));
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    EXPECT_EQ(port.readCalls, 2);
    EXPECT_TRUE(port.rx.empty());
}

TEST_F(PortTest, PurgeKeepsFiftyMillisecondsWhenThePreviousTimeoutWasZero) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);
    port.timeouts.ReadTotalTimeoutConstant = 0;
    port.Arrive("x");
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 50u);
}

TEST_F(PortTest, PurgeReadsEvenWhenTheErrorStateCannotBeRead) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);
    port.failClearError = true;
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    EXPECT_EQ(port.readCalls, 1);
    port.failRead = true;
    EXPECT_EQ(PurgeInput(h), PORT_OPEN_FAILED);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 1000u); // restored after the failed read
}

TEST_F(PortTest, NullPortPurgeMakesOneEmptyRead) {
    fake::AddPort("NUL").serial = false;
    PortHandle h = 0;
    LineParams line{9600, 7, 0, 2};
    ASSERT_EQ(OpenPort("NUL", &line, 0x0303, &h), PORT_OK);
    fake::ClearJournal();
    EXPECT_EQ(PurgeInput(h), PORT_OK);
    EXPECT_EQ(fake::Journal(), "ClearError; GetTimeouts; Read 512");
    uint16_t got = 99;
    uint8_t buffer[10];
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    EXPECT_EQ(got, 0);
}

TEST_F(PortTest, WriteReportsWhatThePlatformTook) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);
    const uint8_t frame[] = {2, '0', '0', '1', '2', 'C', '3', 13};
    uint32_t written = 0;
    EXPECT_EQ(WriteBytes(h, frame, 8, &written), PORT_OK);
    EXPECT_EQ(written, 8u);
    EXPECT_EQ(port.tx, std::vector<uint8_t>(frame, frame + 8));

    port.writeLimit = 5;
    EXPECT_EQ(WriteBytes(h, frame, 8, &written), PORT_SHORT_WRITE);
    EXPECT_EQ(written, 5u);

    port.failWrite = true;
    written = 77;
    EXPECT_EQ(WriteBytes(h, frame, 8, &written), PORT_CALL_FAILED);
    EXPECT_EQ(written, 77u); // not reported after a failed call
}

TEST_F(PortTest, ReadGathersBurstsAndFailsOnSilence) {
    PortHandle h = OpenedPort();
    fake::Port &port = fake::PortOf(h);
    uint8_t buffer[16] = {};
    uint16_t got = 0;

    // Two bursts, the second 800 ms after the first read ended.
    port.Arrive("\x02" "0012", 10);
    port.Arrive("34C3\r", 1800);
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_OK);
    EXPECT_EQ(got, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 10), "\x02" "001234C3\r");
    EXPECT_EQ(port.readCalls, 2);

    // Nothing comes: one time-out, nothing received.
    const uint64_t before = fake::world().now;
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(fake::world().now - before, 1000u);

    // A reply that stops part way reports what did arrive.
    port.Arrive("\x02" "00");
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    EXPECT_EQ(got, 3);

    port.failRead = true;
    EXPECT_EQ(ReadBytes(h, buffer, 10, &got), PORT_CALL_FAILED);
    EXPECT_EQ(got, 0);
}

} // namespace
