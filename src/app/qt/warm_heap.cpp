#include "app/qt/warm_heap.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace app {

std::jthread WarmHeap(size_t bytes) {
#if defined(__linux__) && defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    // Blocks up to twice this size are carved from the heap rather than mapped on their own
    // (this one too), and free space at its top is kept up to four times it.
    if (bytes == 0 || bytes > (size_t(1) << 24) || !mallopt(M_MMAP_THRESHOLD, int(bytes * 2)) ||
        !mallopt(M_TRIM_THRESHOLD, int(bytes * 4)))
        return {};
    void* block = std::malloc(bytes);
    if (!block) return {};
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(block) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(block) + bytes) & ~(page - 1);
    std::free(block);  // the space stays in the heap
    if (end <= first) return {};
    return std::jthread([first, end] {
        // Maps the pages as a write would, without writing: what the main thread has put
        // there meanwhile is left as it is. Kernels before 5.14 refuse, and nothing is done.
        madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
    });
#else
    (void)bytes;
    return {};
#endif
}

}  // namespace app
