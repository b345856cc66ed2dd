// driver_host.h - a small host for the integration tests: loads the real
// shared library, provides each instance's storage, collects the log lines
// through libtolvex, and makes pseudo-terminals for the driver to open.
#ifndef DAZARAZ_DRIVER_HOST_H
#define DAZARAZ_DRIVER_HOST_H

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "host_records.h"
#include "pty.h"
#include "tolvex.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace itest {

// EndKiv ends the whole driver but releases only the buffers of the instance
// that calls it: the buffers of every other instance stay allocated until
// the process ends. Tests that run several instances make those allocations
// inside this scope so that the leak checker does not report them.
class OtherInstanceBuffers {
public:
#if defined(__SANITIZE_ADDRESS__)
    OtherInstanceBuffers() { __lsan_disable(); }
    ~OtherInstanceBuffers() { __lsan_enable(); }
#else
    OtherInstanceBuffers() {}
    ~OtherInstanceBuffers() {}
#endif
};

struct Line {
    int category;
    std::string text;
    bool operator==(const Line &o) const { return category == o.category && text == o.text; }
};

inline std::ostream &operator<<(std::ostream &os, const Line &l) { return os << l.category << " \"" << l.text << "\""; }

// Collects the lines that reach libtolvex.
class LogSink {
public:
    LogSink() { tolvex_set_sink(&LogSink::Receive, this); }
    ~LogSink() { tolvex_set_sink(nullptr, nullptr); }
    std::vector<Line> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Line> out;
        out.swap(lines_);
        return out;
    }

private:
    static void Receive(int category, const char *text, void *self) {
        auto *sink = static_cast<LogSink *>(self);
        std::lock_guard<std::mutex> lock(sink->mutex_);
        sink->lines_.push_back(Line{category, text});
    }
    std::mutex mutex_;
    std::vector<Line> lines_;
};

// The driver library, loaded afresh for each fixture: an ended driver
// answers 0 to everything until it is loaded again.
class Driver {
public:
    Driver() {
        handle_ = dlopen(DAZARAZ_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
        kivMain_ = reinterpret_cast<KivMainFunction>(dlsym(handle_, "KivMain"));
        if (!kivMain_) throw std::runtime_error("KivMain not exported");
        InfoBlock info{};
        CallBlock block{};
        block.Function = KIV_GET_KIV_INFO;
        block.Params = &info;
        kivMain_(&block);
        dataSize_ = info.DataSize;
    }
    ~Driver() { dlclose(handle_); }
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    uint32_t Call(CallBlock &block) { return kivMain_(&block); }
    uint32_t DataSize() const { return dataSize_; }

private:
    void *handle_ = nullptr;
    KivMainFunction kivMain_ = nullptr;
    uint32_t dataSize_ = 0;
};

// One instance: its storage (as large as the driver announced) and call block.
class Instance {
public:
    Instance(Driver &driver, uint32_t number) : driver_(driver), storage_(driver.DataSize() + 64, 0xA5) {
        block_.Data = reinterpret_cast<DriverData *>(storage_.data());
        block_.Instance = number;
    }
    uint32_t Call(uint32_t function, void *params = nullptr) {
        block_.Function = function;
        block_.Params = params;
        return driver_.Call(block_);
    }
    uint32_t ColdStart(const std::string &port, uint32_t readTimeout = 50, LineParams line = {9600, 7, 0, 2},
                       bool open = true) {
        ColdStartParams p{};
        strncpy(p.PortName, port.c_str(), sizeof p.PortName - 1);
        p.OpenAtStart = open ? 1 : 0;
        p.ReadTimeout = readTimeout;
        p.Line = line;
        return Call(KIV_COLD_START, &p);
    }
    CallBlock &Block() { return block_; }
    // Bytes past the announced size must stay untouched.
    bool TailIntact() const {
        for (size_t i = driver_.DataSize(); i < storage_.size(); ++i)
            if (storage_[i] != 0xA5) return false;
        return true;
    }

private:
    Driver &driver_;
    std::vector<uint8_t> storage_;
    CallBlock block_{};
};

} // namespace itest

#endif
