// console_win32.cpp - the Windows console as the program's terminal: UTF-8
// output (the driver's banner) and escape sequences (the live table of poll).
#include "terminal.h"

#include <fcntl.h>
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

// Wine's console takes the escape-sequence mode but shows the sequences as
// text; its ntdll exports wine_get_version.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool IsTerminal(std::FILE *stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) return false;
    DWORD mode = 0;
    // GetConsoleMode fails on files, pipes and NUL (which _isatty takes for
    // a terminal).
    return GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0 &&
           (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 && !UnderWine();
}

ConsoleOutput::ConsoleOutput() {
    bool console = false;
    const bool underWine = UnderWine();
    for (int i = 0; i < 2; ++i) {
        const HANDLE handle = GetStdHandle(kStreams[i]);
        DWORD mode = 0;
        if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) continue;
        console = true;
        if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) || underWine) continue;
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
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode)) {
        // The UTF-8 text reaches the console whole and unconverted: in text
        // mode some C runtimes convert each write from the ANSI code page,
        // and an unbuffered stream writes a character's bytes one by one,
        // which the console cannot put together. The console starts a new
        // line at a bare line feed.
        _setmode(_fileno(stdout), _O_BINARY);
        std::setvbuf(stdout, nullptr, _IOFBF, 16384);
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
