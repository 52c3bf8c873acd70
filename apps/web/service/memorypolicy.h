#pragma once
// Request bodies of up to hundreds of megabytes come and go: keep large
// buffers in their own mappings so their memory goes back to the system when
// they are freed, instead of staying with the allocator, which would raise its
// thresholds after the first one.
#include <malloc.h>

inline void returnLargeBuffersToSystem() {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024);
}
