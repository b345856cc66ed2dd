// driver_fixture.h - a work area on an open fake port, for the tests of the
// send path, the transaction loop and the read and write operations.
#ifndef DAZARAZ_DRIVER_FIXTURE_H
#define DAZARAZ_DRIVER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "entry/driver_data.h"
#include "fake_platform.h"
#include "log_capture.h"

// The buffers live on the heap with exactly the driver's sizes, so that the
// sanitizer sees any byte stored beyond them. The port "COM1" is open with a
// read time-out of 1000 ms; IFG has its default.
class DriverOnFakePort : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        ClearLog();
        port = &fake::AddPort("COM1");
        port->timeouts.ReadTotalTimeoutConstant = 1000;
        std::memset(&data, 0, sizeof data);
        ASSERT_TRUE(PlatOpen("COM1", &data.ComHandle));
        data.SendBuffer = sendBuffer.data();
        data.RecvBuffer = recvBuffer.data();
        data.IFG = DEFAULT_IFG_MS;
    }

    // Puts a finished request into the send buffer.
    void SetFrame(const std::string &frame) {
        std::memcpy(data.SendBuffer, frame.data(), frame.size());
        data.SendLength = static_cast<uint16_t>(frame.size());
    }

    fake::Port *port = nullptr;
    DriverData data;
    std::vector<uint8_t> sendBuffer = std::vector<uint8_t>(SEND_BUFFER_SIZE);
    std::vector<uint8_t> recvBuffer = std::vector<uint8_t>(RECV_BUFFER_SIZE);
};

#endif
