// driver_log.h - where the driver's log lines go.
//
// The driver reports through err in libtolvex; this program registers a sink
// there. Each line is written with a time stamp and its category, to
// standard error, to a file, or nowhere. Lines can be held back for a while
// (the live table of poll, the demo) and every line since a mark is kept so
// that a command can explain a result with the driver's own words.
#ifndef DAZARAZ_CLI_DRIVER_LOG_H
#define DAZARAZ_CLI_DRIVER_LOG_H

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace dazaraz::cli {

struct LogLine {
    std::chrono::system_clock::time_point when;
    int category = 0;
    std::string text;
};

// "2026-12-11 12:21:27.123 [8] ZIROD> ColdStart() port opened"
std::string FormatLogLine(const LogLine &line);

class DriverLog {
public:
    DriverLog();   // registers with libtolvex; lines go to standard error
    ~DriverLog();  // unregisters
    DriverLog(const DriverLog &) = delete;
    DriverLog &operator=(const DriverLog &) = delete;

    // Appends the lines to a file instead; throws Failure when it cannot be opened.
    void ToFile(const std::string &path);
    void Quiet();  // drops the lines (they are still captured)
    bool ToStandardError() const;

    // While held, lines are kept instead of written; Release writes them.
    void Hold();
    std::vector<LogLine> Release();
    // Drops the held lines without writing them, answering them.
    std::vector<LogLine> TakeHeld();

    // Keeps every line from now on (until the next Mark) for Captured.
    void Mark();
    std::vector<LogLine> Captured() const;

    void Write(const LogLine &line);

private:
    static void Receive(int category, const char *text, void *self);
    void Add(LogLine line);

    mutable std::mutex mutex_;
    std::FILE *file_ = nullptr;  // null with quiet_ or standard error
    bool quiet_ = false;
    bool held_ = false;
    std::vector<LogLine> heldLines_;
    std::vector<LogLine> captured_;
};

}  // namespace dazaraz::cli

#endif
