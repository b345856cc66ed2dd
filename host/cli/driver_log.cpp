// driver_log.cpp - the sink for the driver's log lines.
#include "driver_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "failure.h"
#include "tolvex.h"

namespace dazaraz::cli {

std::string FormatLogLine(const LogLine &line) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(line.when);
    const auto ms = duration_cast<milliseconds>(line.when.time_since_epoch()).count() % 1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%s.%03d [%d] ", stamp, static_cast<int>(ms), line.category);
    return prefix + line.text;
}

DriverLog::DriverLog() { tolvex_set_sink(&DriverLog::Receive, this); }

DriverLog::~DriverLog() {
    tolvex_set_sink(nullptr, nullptr);
    if (file_) std::fclose(file_);
}

void DriverLog::ToFile(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "a");
    if (f == nullptr) throw Failure(kExitFailed, "cannot open the log file " + path + ": " + std::strerror(errno));
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = f;
    quiet_ = false;
}

void DriverLog::Quiet() {
    std::lock_guard<std::mutex> lock(mutex_);
    quiet_ = true;
}

bool DriverLog::ToStandardError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !quiet_ && file_ == nullptr;
}

void DriverLog::Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
}

std::vector<LogLine> DriverLog::Release() {
    std::vector<LogLine> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        lines.swap(heldLines_);
    }
    for (const auto &line : lines) Write(line);
    return lines;
}

std::vector<LogLine> DriverLog::TakeHeld() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LogLine> lines;
    lines.swap(heldLines_);
    return lines;
}

void DriverLog::Mark() {
    std::lock_guard<std::mutex> lock(mutex_);
    captured_.clear();
}

std::vector<LogLine> DriverLog::Captured() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return captured_;
}

void DriverLog::Write(const LogLine &line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quiet_) return;
    std::FILE *out = file_ ? file_ : stderr;
    std::fprintf(out, "%s\n", FormatLogLine(line).c_str());
    std::fflush(out);
}

void DriverLog::Receive(int category, const char *text, void *self) {
    static_cast<DriverLog *>(self)->Add(LogLine{std::chrono::system_clock::now(), category, text ? text : ""});
}

void DriverLog::Add(LogLine line) {
    bool write = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        captured_.push_back(line);
        if (held_)
            heldLines_.push_back(line);
        else
            write = true;
    }
    if (write) Write(line);
}

}  // namespace dazaraz::cli
