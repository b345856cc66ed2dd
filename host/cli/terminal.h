// terminal.h - whether a stream is a terminal.
#ifndef DAZARAZ_CLI_TERMINAL_H
#define DAZARAZ_CLI_TERMINAL_H

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace dazaraz::cli {

inline bool IsTerminal(std::FILE *stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace dazaraz::cli

#endif
