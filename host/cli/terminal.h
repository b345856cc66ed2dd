// terminal.h - whether a stream is a terminal.
#ifndef DAZARAZ_CLI_TERMINAL_H
#define DAZARAZ_CLI_TERMINAL_H

#include <cstdio>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace dazaraz::cli {

#if defined(_WIN32)
// A console that takes escape sequences (console_win32.cpp). A redirected
// stream, NUL, a console without escape sequences and Wine's console (which
// shows them as text) are not terminals.
bool IsTerminal(std::FILE *stream);

// While it lives: the console shows UTF-8 text and takes escape sequences;
// the console's previous settings come back when it is destroyed.
class ConsoleOutput {
public:
    ConsoleOutput();
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput &) = delete;
    ConsoleOutput &operator=(const ConsoleOutput &) = delete;

private:
    unsigned previousCodePage_ = 0;  // 0: not changed
    unsigned long previousModes_[2] = {0, 0};
    bool modeChanged_[2] = {false, false};
};
#else
inline bool IsTerminal(std::FILE *stream) { return isatty(fileno(stream)) != 0; }
#endif

}  // namespace dazaraz::cli

#endif
