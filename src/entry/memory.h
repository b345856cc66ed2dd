// memory.h - where the cold start gets its two buffers. Tests replace the
// allocator to reach the out-of-memory paths.
#ifndef DAZARAZ_MEMORY_H
#define DAZARAZ_MEMORY_H

#include <stddef.h>

extern void *(*AllocateBlock)(size_t size);
extern void (*ReleaseBlock)(void *block);

#endif
