// libtolvex: formats the driver's log lines and hands them to the host's sink.
#include "tolvex.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex sinkMutex;
TolvexSink currentSink = nullptr;
void *currentContext = nullptr;
}

extern "C" TOLVEX_API void TOLVEX_CALL tolvex_set_sink(TolvexSink sink, void *context) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    currentSink = sink;
    currentContext = context;
}

extern "C" TOLVEX_API void TOLVEX_CALL err(int category, const char *format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format ? format : "", ap);
    va_end(ap);
    TolvexSink sink;
    void *context;
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        sink = currentSink;
        context = currentContext;
    }
    if (sink)
        sink(category, text, context);
    else
        fprintf(stderr, "[%d] %s\n", category, text);
}
