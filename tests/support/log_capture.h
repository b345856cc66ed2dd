// log_capture.h - the unit tests' own err: every line the driver logs, in order.
#ifndef DAZARAZ_LOG_CAPTURE_H
#define DAZARAZ_LOG_CAPTURE_H

#include <iosfwd>
#include <string>
#include <vector>

struct LogLine {
    int category;
    std::string text;
    bool operator==(const LogLine &o) const { return category == o.category && text == o.text; }
};

// How gtest shows a line in a failed comparison.
void PrintTo(const LogLine &line, std::ostream *os);

std::vector<LogLine> &Logged();
void ClearLog();
// "category text" lines joined with "\n", for readable failure output.
std::string LogText();

#endif
