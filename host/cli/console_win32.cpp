// console_win32.cpp - the Windows console as the program's terminal: UTF-8
// output (the driver's banner) and escape sequences (the live table of poll).
#include "terminal.h"

#include <io.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace dazaraz::cli {

namespace {

const DWORD kStreams[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

}  // namespace

bool IsTerminal(std::FILE *stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) return false;
    DWORD mode = 0;
    // GetConsoleMode fails on files, pipes and NUL (which _isatty takes for
    // a terminal).
    return GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0 &&
           (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

ConsoleOutput::ConsoleOutput() {
    bool console = false;
    for (int i = 0; i < 2; ++i) {
        const HANDLE handle = GetStdHandle(kStreams[i]);
        DWORD mode = 0;
        if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) continue;
        console = true;
        if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) continue;
        // Consoles older than Windows 10 refuse the mode; poll then prints
        // one line per round.
        if (SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
            previousModes_[i] = mode;
            modeChanged_[i] = true;
        }
    }
    if (console) {
        const UINT codePage = GetConsoleOutputCP();
        if (codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) previousCodePage_ = codePage;
    }
}

ConsoleOutput::~ConsoleOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i)
        if (modeChanged_[i]) SetConsoleMode(GetStdHandle(kStreams[i]), previousModes_[i]);
    if (previousCodePage_ != 0) SetConsoleOutputCP(previousCodePage_);
}

}  // namespace dazaraz::cli
