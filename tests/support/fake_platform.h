// fake_platform.h - a scripted platform for the unit tests.
//
// Ports are declared by name before the driver opens them. Each keeps its
// line settings and time-outs, a queue of incoming bytes with arrival times,
// the bytes written, failure switches for every call, and RTS. A controllable
// millisecond clock moves only when the driver sleeps or waits in a read.
// Every platform call is written to a journal so that tests can assert order.
#ifndef DAZARAZ_FAKE_PLATFORM_H
#define DAZARAZ_FAKE_PLATFORM_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "serial/platform/platform.h"

namespace fake {

struct Port {
    bool serial = true;            // false: a device that is no serial port (like NUL)
    bool openable = true;          // false: the open fails (missing, busy)
    bool isOpen = false;
    PlatLine line{};               // current settings
    PlatTimeouts timeouts{};       // current time-outs
    uint32_t queueIn = 0, queueOut = 0;
    bool rts = false;

    // Incoming bytes: arrival time (ms on the fake clock) and value.
    std::deque<std::pair<uint64_t, uint8_t>> rx;
    std::vector<uint8_t> tx;       // everything written

    // Failure switches.
    bool failGetLine = false, failSetLine = false;
    bool failGetTimeouts = false, failSetTimeouts = false;
    bool failClose = false, failRead = false, failWrite = false;
    bool failClearError = false, failEscape = false;
    int failReadAfter = -1;        // >= 0: reads fail once this many have succeeded
    int writeLimit = -1;           // >= 0: a write takes at most this many bytes
    int setTimeoutsCalls = 0;
    int readCalls = 0;

    // Called after each successful write with the bytes written.
    std::function<void(const std::vector<uint8_t> &)> onWrite;

    // Queues bytes that arrive delayMs after the current fake time.
    void Arrive(const std::vector<uint8_t> &bytes, uint64_t delayMs = 0);
    void Arrive(const std::string &text, uint64_t delayMs = 0);
};

struct World {
    uint64_t now = 5000;           // ms
    std::map<std::string, Port> ports;
    std::map<PortHandle, std::string> handles;
    PortHandle nextHandle = 0x40;
    std::vector<std::string> journal;
    // Advances the clock takes on the next sleeps; empty: a sleep of n ms advances n.
    std::deque<uint64_t> sleepAdvances;
    uint64_t sleptMs = 0;
    int millisCalls = 0;
};

World &world();
void Reset();                      // a fresh world
Port &AddPort(const std::string &name);
Port &PortOf(PortHandle handle);  // throws for a handle that is not open
Port *Find(PortHandle handle);    // null for a handle that is not open
std::string Journal();             // the journal joined with "; "
void ClearJournal();
std::vector<uint8_t> Bytes(const std::string &text);

} // namespace fake

#endif
