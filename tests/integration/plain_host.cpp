// A host that neither links libtolvex nor defines err: loading the driver
// brings libtolvex in, and the driver's lines must go there (to standard
// error by default) rather than to the C library's err(3), which would end
// the process.
#include <dlfcn.h>

#include <cstdio>

#include "host_records.h"

int main(int argc, char **argv) {
    if (argc < 2) return 64;
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto kivMain = reinterpret_cast<KivMainFunction>(dlsym(library, "KivMain"));
    CallBlock block{};
    block.Function = 99;
    const uint32_t result = kivMain(&block);
    fflush(stderr);
    printf("host goes on after result %u\n", result);
    return 0;
}
