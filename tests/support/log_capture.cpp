#include "log_capture.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>

std::vector<LogLine> &Logged() {
    static std::vector<LogLine> lines;
    return lines;
}

void ClearLog() { Logged().clear(); }

std::string LogText() {
    std::string out;
    for (const auto &l : Logged()) out += std::to_string(l.category) + " " + l.text + "\n";
    return out;
}

// gtest prints LogLine values through this.
void PrintTo(const LogLine &l, std::ostream *os) { *os << l.category << " \"" << l.text << "\""; }

extern "C" void err(int category, const char *format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    Logged().push_back(LogLine{category, text});
}
