// A host that defines and exports its own err (linked with -rdynamic): the
// driver's lines must reach it, not libtolvex and never the C library's
// err(3), which would end the process.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>

#include "host_records.h"

extern "C" __attribute__((visibility("default"))) void err(int category, const char *format, ...) {
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    printf("own err %d %s\n", category, text);
}

int main(int argc, char **argv) {
    if (argc < 2) return 64;
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto kivMain = reinterpret_cast<KivMainFunction>(dlsym(library, "KivMain"));
    InfoBlock info{};
    CallBlock block{};
    block.Function = KIV_GET_KIV_INFO;
    block.Params = &info;
    const uint32_t result = kivMain(&block);
    printf("host goes on after result %u\n", result);
    return 0;
}
