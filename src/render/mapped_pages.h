// Memory straight from the system for the render layer's large blocks (the
// z-buffer's record chunks, the hair polygon queue's blocks), given back to
// it when freed rather than kept by the heap.
#pragma once

#include <sys/mman.h>

#include <cstddef>

namespace render_pages {

// bytes of zeroed memory with all its pages mapped at once: the caller
// fills it from its start right away, and one call that maps every page
// costs far less than a page fault each. Null when no memory is left.
inline void* map_populated(std::size_t bytes) {
#ifdef MAP_POPULATE
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE;
#else
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS;
#endif
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, kFlags, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Gives back what map_populated(bytes) returned.
inline void unmap(void* p, std::size_t bytes) {
    if (p != nullptr) munmap(p, bytes);
}

}  // namespace render_pages
