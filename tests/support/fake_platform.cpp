#include "fake_platform.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace fake {

World &world() {
    static World w;
    return w;
}

void Reset() { world() = World{}; }

Port &AddPort(const std::string &name) {
    Port &p = world().ports[name];
    p = Port{};
    p.line.BaudRate = 1200;
    p.line.ByteSize = 8;
    p.line.XonLim = 2048;
    p.line.XoffLim = 512;
    p.line.XonChar = 0x11;
    p.line.XoffChar = 0x13;
    p.line.EofChar = 0x1A;
    p.line.EvtChar = 0x7E;
    p.line.fTXContinueOnXoff = 1;
    p.line.fOutX = 1;
    p.line.fInX = 1;
    p.line.fNull = 1;
    p.line.fAbortOnError = 1;
    p.line.fErrorChar = 1;
    p.line.ErrorChar = '?';
    p.timeouts = PlatTimeouts{50, 10, 5000, 10, 5000};
    return p;
}

Port *Find(PortHandle handle) {
    auto it = world().handles.find(handle);
    return it == world().handles.end() ? nullptr : &world().ports.at(it->second);
}

Port &PortOf(PortHandle handle) {
    auto it = world().handles.find(handle);
    if (it == world().handles.end()) throw std::logic_error("fake: unknown handle");
    return world().ports.at(it->second);
}

std::string Journal() {
    std::string out;
    for (const auto &e : world().journal) {
        if (!out.empty()) out += "; ";
        out += e;
    }
    return out;
}

void ClearJournal() { world().journal.clear(); }

std::vector<uint8_t> Bytes(const std::string &text) { return std::vector<uint8_t>(text.begin(), text.end()); }

void Port::Arrive(const std::vector<uint8_t> &bytes, uint64_t delayMs) {
    for (uint8_t b : bytes) rx.emplace_back(world().now + delayMs, b);
}

void Port::Arrive(const std::string &text, uint64_t delayMs) { Arrive(Bytes(text), delayMs); }

static void Note(const std::string &entry) { world().journal.push_back(entry); }

} // namespace fake

using fake::Note;
using fake::world;

bool PlatOpen(const char *name, PortHandle *handle) {
    Note(std::string("Open ") + name);
    auto it = world().ports.find(name);
    if (it == world().ports.end() || !it->second.openable || it->second.isOpen) return false;
    it->second.isOpen = true;
    PortHandle h = world().nextHandle++;
    world().handles[h] = name;
    *handle = h;
    return true;
}

bool PlatClose(PortHandle handle) {
    Note("Close");
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (p.failClose) return false;
    p.isOpen = false;
    world().handles.erase(handle);
    return true;
}

bool PlatGetLine(PortHandle handle, PlatLine *line) {
    Note("GetLine");
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial || p.failGetLine) return false;
    *line = p.line;
    return true;
}

bool PlatSetLine(PortHandle handle, const PlatLine *line) {
    Note("SetLine");
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial || p.failSetLine) return false;
    p.line = *line;
    return true;
}

bool PlatGetTimeouts(PortHandle handle, PlatTimeouts *timeouts) {
    Note("GetTimeouts");
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial || p.failGetTimeouts) return false;
    *timeouts = p.timeouts;
    return true;
}

bool PlatSetTimeouts(PortHandle handle, const PlatTimeouts *t) {
    Note("SetTimeouts " + std::to_string(t->ReadIntervalTimeout) + "," + std::to_string(t->ReadTotalTimeoutMultiplier) + "," +
         std::to_string(t->ReadTotalTimeoutConstant) + "," + std::to_string(t->WriteTotalTimeoutMultiplier) + "," +
         std::to_string(t->WriteTotalTimeoutConstant));
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial || p.failSetTimeouts) return false;
    p.timeouts = *t;
    p.setTimeoutsCalls++;
    return true;
}

bool PlatSetupQueues(PortHandle handle, uint32_t inBytes, uint32_t outBytes) {
    Note("SetupQueues " + std::to_string(inBytes) + "," + std::to_string(outBytes));
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial) return false;
    p.queueIn = inBytes;
    p.queueOut = outBytes;
    return true;
}

bool PlatClearError(PortHandle handle, uint32_t *waiting) {
    Note("ClearError");
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial || p.failClearError) return false;
    uint32_t n = 0;
    for (const auto &e : p.rx)
        if (e.first <= world().now) n++;
    if (waiting) *waiting = n;
    return true;
}

bool PlatRead(PortHandle handle, void *buffer, uint32_t count, uint32_t *received) {
    Note("Read " + std::to_string(count));
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    *received = 0;
    if (p.failRead) return false;
    if (p.failReadAfter >= 0 && p.readCalls >= p.failReadAfter) return false;
    p.readCalls++;
    if (!p.serial) return true; // a null device: no input, no waiting
    uint64_t deadline = world().now + p.timeouts.ReadTotalTimeoutConstant;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    uint32_t got = 0;
    while (got < count && !p.rx.empty() && p.rx.front().first <= deadline) {
        world().now = std::max(world().now, p.rx.front().first);
        out[got++] = p.rx.front().second;
        p.rx.pop_front();
    }
    if (got < count) world().now = std::max(world().now, deadline);
    *received = got;
    return true;
}

bool PlatWrite(PortHandle handle, const void *buffer, uint32_t count, uint32_t *written) {
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    Note("Write " + std::string(reinterpret_cast<const char *>(in), count));
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (p.failWrite) return false;
    uint32_t n = count;
    if (p.writeLimit >= 0 && n > static_cast<uint32_t>(p.writeLimit)) n = static_cast<uint32_t>(p.writeLimit);
    std::vector<uint8_t> frame(in, in + n);
    p.tx.insert(p.tx.end(), frame.begin(), frame.end());
    *written = n;
    if (p.onWrite) p.onWrite(frame);
    return true;
}

int PlatEscape(PortHandle handle, int function) {
    Note("Escape " + std::to_string(function));
    fake::Port *found = fake::Find(handle);
    if (found == nullptr) return {};
    fake::Port &p = *found;
    if (!p.serial || p.failEscape) return 0;
    if (function == PLAT_SETRTS) p.rts = true;
    else if (function == PLAT_CLRRTS) p.rts = false;
    else return 0;
    return 1;
}

void PlatSleep(uint32_t milliseconds) {
    Note("Sleep " + std::to_string(milliseconds));
    uint64_t advance = milliseconds;
    if (!world().sleepAdvances.empty()) {
        advance = world().sleepAdvances.front();
        world().sleepAdvances.pop_front();
    }
    world().now += advance;
    world().sleptMs += milliseconds;
}

uint64_t PlatMillis() {
    world().millisCalls++;
    return world().now;
}
